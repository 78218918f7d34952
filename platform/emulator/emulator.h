// The emulated Brelvon device as the platform layer and a COM server see it: the video input nodes of the
// current configuration and the source filter class that serves them. Callable from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/dshow.h"

namespace emulator {

// Class of the emulated nodes' source filter: {FFBAD6F6-4385-489B-814E-99335DA56524}.
inline const GUID CLSID_BrelvonEmulatedSource = {
    0xffbad6f6, 0x4385, 0x489b, {0x81, 0x4e, 0x99, 0x33, 0x5d, 0xa5, 0x65, 0x24}};

// Friendly names of the video input nodes of the current configuration, in enumeration order: each device's
// nodes in input order, devices in file order, then the other nodes. The configuration (PNX_SIM_DEVICES) is
// read at the first call of the process.
std::vector<std::wstring> VideoInputNodeNames();

// The run-time control file (PNX_SIM_CONTROL) that plugs and unplugs devices; empty when none is set.
std::string ControlFilePath();

// A new source filter object. It learns which node it serves from IPersistPropertyBag::Load, which reads
// "FriendlyName" from the bag, as a device moniker's bind does; until then it has no node and no formats.
HRESULT CreateSourceFilter(REFIID riid, void** ppv);

}  // namespace emulator
