// Identifiers shared by the emulated device's COM server and its Windows test programs.
#pragma once

#include "platform/com.h"

// The one class behind every registered emulator node; each instance learns its node from its property bag.
// {55AA7410-DD71-4235-9916-80314C3CA65B}
inline constexpr GUID kSimDeviceClsid = {
    0x55aa7410, 0xdd71, 0x4235, {0x99, 0x16, 0x80, 0x31, 0x4c, 0x3c, 0xa6, 0x5b}};

// Registry instance names are "pnx-sim-node-NNN" (NNN the node's position, zero-padded): the device
// enumerator lists instance keys in name order, so this keeps the configuration's node order.
inline constexpr wchar_t kSimInstancePrefix[] = L"pnx-sim-node-";

// Extra value written into each node's property bag at registration: the node's position.
inline constexpr wchar_t kSimNodeProperty[] = L"PnxSimNode";
