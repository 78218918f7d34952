// The keys that show their device's state ("showState"), and per device what was last read from it and
// drawn. Bookkeeping only: the plug-in reads the device and sends the images. Event-loop thread.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "device/device_state.h"
#include "plugin/action_settings.h"
#include "plugin/layout_names.h"
#include "plugin/state_image.h"

class StateKeys {
 public:
  // Lists, updates or drops a key after its settings were read. A key is listed while its settings ask for
  // the state, carry no "icon" (a key image wins) and name device number `device` (-1: none), detected or
  // not. True when the key was listed and no longer is (its drawn image should be taken away).
  bool Track(const std::string& context, const ActionSettings& settings, int32_t device);
  // Drops a key that went away. True when it was listed.
  bool Forget(const std::string& context);

  bool Empty() const { return m_keys.empty(); }
  bool HasDevice(int32_t device) const;

  // Records what device `device` showed (present false: it is not detected; known false: the read failed) and
  // the signal locks of its inputs (entry d of the manager's signal lists), and returns the image of every
  // listed key of that device, or only of `context` when it is not empty.
  std::vector<std::pair<std::string, StateImage>> Draw(int32_t device, bool present, bool known,
                                                       const DeviceState& shown,
                                                       const std::vector<std::vector<bool>>& signals,
                                                       const LayoutNames& names, const std::string& context);

  // Devices with listed keys on which the signal of an input in one of the four places differs from what
  // was last drawn.
  std::vector<int32_t> SignalChanges(const std::vector<std::vector<bool>>& signals) const;

 private:
  struct Key {
    int32_t device = -1;
    uint32_t layout = 0;
    std::vector<int32_t> sources;
  };
  struct Shown {
    bool known = false;
    DeviceState state;
    std::array<bool, 4> signal{};
  };

  static std::array<bool, 4> PlaceSignals(const DeviceState& shown, int32_t device,
                                          const std::vector<std::vector<bool>>& signals);

  std::map<std::string, Key> m_keys;
  std::map<int32_t, Shown> m_shown;
};
