// A multiview state of one capture device: what it shows or should show (the vendor properties of
// platform/vendor_properties.h).
#pragma once

#include <cstdint>

struct DeviceState {
  uint32_t layout = 0;   // vendor::kMultiviewLayout
  uint64_t sources = 0;  // vendor::kMultiviewSources, as vendor::PackSources makes it
  // True when both values are known (read from the device, or set by the plug-in); a state that is not
  // known is never written to a device.
  bool stateRead = false;
};
