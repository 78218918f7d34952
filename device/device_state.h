// The remembered multiview state of one capture device (the vendor properties of platform/vendor_properties.h).
#pragma once

#include <cstdint>

struct DeviceState {
  uint32_t layout = 0;   // vendor::kMultiviewLayout
  uint64_t sources = 0;  // vendor::kMultiviewSources, as vendor::PackSources makes it
  // True once both values have been read from the device; a record that was only grown to make room
  // for a higher device index, or whose reads failed, holds no state and is never written back.
  bool stateRead = false;
};
