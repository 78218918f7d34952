// The remembered multiview state of one capture device (vendor properties 631 and 632).
#pragma once

#include <cstdint>

struct DeviceState {
  uint32_t layout = 0;   // property 631
  uint64_t sources = 0;  // property 632: four input numbers, one per nibble, entry 1 in the lowest
  // True once both values have been read from the device; a record that was only grown to make room
  // for a higher device index, or whose reads failed, holds no state and is never written back.
  bool stateRead = false;
};
