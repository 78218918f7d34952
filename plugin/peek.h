// The hold-to-look keys held down: which device each one holds, and per device what it showed before the
// first of them was pressed, so that the last release puts it back. Bookkeeping only. Event-loop thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "device/device_state.h"

class PeekHolds {
 public:
  // A press of `context` on `device`. True when no key held that device before: the caller then reads what
  // the device shows and hands it to Remember before changing it. A key pressed again while held is ignored
  // (false).
  bool Press(const std::string& context, int32_t device);
  // What `device` showed before the first press, or a lasting change made while it is held (a switch
  // press), to which the last release returns. A record whose stateRead is false (the read failed) puts
  // nothing back. Ignored for a device no key holds.
  void Remember(int32_t device, const DeviceState& before);
  bool Holds(int32_t device) const { return m_before.count(device) != 0; }

  // A release, or the key going away. True when `context` was the last key holding its device and there is
  // a state to put back: `device` and `before` then say what to write.
  bool Release(const std::string& context, int32_t& device, DeviceState& before);

 private:
  std::map<std::string, int32_t> m_held;    // context -> device
  std::map<int32_t, DeviceState> m_before;  // device -> state before the first press
};
