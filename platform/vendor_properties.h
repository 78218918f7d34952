// The capture device's vendor property set: what the plug-in writes and reads, and what the emulated
// device answers. Both sides and the tests take the identifiers and sizes from here.
#pragma once

#include <array>
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

// Every property of the set: its identifier, the size of its value, and whether it can be written.
struct Property {
  DWORD id;
  unsigned bytes;
  bool writable;
};
inline constexpr Property kProperties[] = {
    {kPostLayoutRead, kLayoutBytes, false},
    {kMultiviewLayout, kLayoutBytes, true},
    {kMultiviewSources, kSourcesBytes, true},
};

// The row of `id`, or null for an identifier the set does not have.
inline const Property* FindProperty(DWORD id) {
  for (const Property& property : kProperties) {
    if (property.id == id) return &property;
  }
  return nullptr;
}

// The input numbers of the four places (place 1 first), each cut to its low four bits, as one value: place n in
// nibble n-1. `inputs` is any container with at(); at() throws std::out_of_range for fewer than four entries.
template <typename Inputs>
uint64_t PackSources(const Inputs& inputs) {
  uint64_t packed = 0;
  for (unsigned place = 0; place < 4; ++place) {
    packed |= static_cast<uint64_t>(static_cast<uint32_t>(inputs.at(place)) & 0xF) << (4 * place);
  }
  return packed;
}

// The four input numbers of a packed value, place 1 first.
inline std::array<int32_t, 4> UnpackSources(uint64_t packed) {
  return {static_cast<int32_t>(packed & 0xF), static_cast<int32_t>((packed >> 4) & 0xF),
          static_cast<int32_t>((packed >> 8) & 0xF), static_cast<int32_t>((packed >> 12) & 0xF)};
}

// A packed value as the property's bytes and back: little-endian, whatever the machine's byte order.
inline std::array<uint8_t, kSourcesBytes> SourcesToBytes(uint64_t packed) {
  std::array<uint8_t, kSourcesBytes> bytes{};
  for (unsigned i = 0; i < kSourcesBytes; ++i) bytes[i] = static_cast<uint8_t>(packed >> (8 * i));
  return bytes;
}
inline uint64_t SourcesFromBytes(const uint8_t* bytes) {
  uint64_t packed = 0;
  for (unsigned i = 0; i < kSourcesBytes; ++i) packed |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return packed;
}

}  // namespace vendor
