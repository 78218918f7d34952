// The capture device's vendor property set: what the plug-in writes and reads, and what the emulated
// device answers. Both sides and the tests take the identifiers and sizes from here.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace vendor {

// {D1E5209F-68FD-4529-BEE0-5E7A1F479226}
inline constexpr GUID kPropertySet = {0xd1e5209f, 0x68fd, 0x4529, {0xbe, 0xe0, 0x5e, 0x7a, 0x1f, 0x47, 0x92, 0x26}};

// Read-only: the layout in force after a write, four bytes, little-endian.
inline constexpr DWORD kPostLayoutRead = 25;
// The multiview layout number, four bytes, little-endian.
inline constexpr DWORD kMultiviewLayout = 631;
// The inputs of the four places, eight bytes read in memory order: place 1 in the low nibble of the first byte,
// place 2 in its high nibble, places 3 and 4 likewise in the second byte; the other bytes are zero.
inline constexpr DWORD kMultiviewSources = 632;

inline constexpr unsigned kLayoutBytes = 4;
inline constexpr unsigned kSourcesBytes = 8;

}  // namespace vendor
