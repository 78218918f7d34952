// What each key is and draws: its action, its settings as last written back (or as read where nothing was
// written back), and its image: a key image of its own, the drawn state of its device ("showState"), or the
// host's default; a lock key draws its device's lock. Per device, what was last read from it for the drawn keys,
// and its input names with their edit stamp (the newest copy any key carried, or an inspector's edit of
// them), which every key of that device is given. A key is drawn anew whenever its
// settings, what its device shows, its device's presence or signals change, and is sent an image only when the
// image changes. Event-loop thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/device_state.h"
#include "plugin/action_settings.h"
#include "plugin/host_port.h"
#include "plugin/layout_names.h"
#include "plugin/state_image.h"

class Keys {
 public:
  // How the settings reached the plug-in: a key image of its own is sent again when the key appears or its
  // settings change, not for a press, nor when it appears while its settings name no detected device.
  enum class Event { kAppeared, kAppearedAway, kChanged, kPressed };

  explicit Keys(HostPort& host) : m_host(host) {}

  // A key's settings after an event: `named` is the device number its "currentDevice" names (-1: none);
  // with writeBack they are sent back to the host at the next Flush. The input names its entry of that
  // device carries: with a newer stamp than known they become the device's names; with `nameEdit` (an open
  // inspector's edit) other names become the device's names under a new stamp; the device's names
  // are then written into every key of it that carries another copy.
  void Settings(const std::string& context, const std::string& action, const ActionSettings& settings,
                int32_t named, bool writeBack, Event event, bool nameEdit = false);
  void Gone(const std::string& context);

  // The device a key's settings name (-1: none or the key is not known).
  int32_t NamedDevice(const std::string& context) const;
  bool AnyDrawn() const;
  // Whether any key is drawn by the plug-in: the drawn state's keys and the lock keys.
  bool AnyImageDrawn() const;
  bool DrawsDevice(int32_t device) const;

  // Devices whose drawn keys need what the device shows read again (a key of it got its settings); each once.
  std::set<int32_t> TakeStale();
  // Devices of drawn keys where an input shown in a place now has another signal lock than when last drawn.
  std::vector<int32_t> SignalChanges(const std::vector<std::vector<bool>>& signals) const;
  // What device `device` showed when read for its drawn keys (present false: not detected; known false: the
  // read failed), with the signal locks of every device.
  void Confirmed(int32_t device, bool present, bool known, const DeviceState& shown,
                 const std::vector<std::vector<bool>>& signals);

  // The locked devices: drawn keys of them carry the lock mark, and lock keys whose "locked" differs are
  // written the device's lock.
  void Locks(const std::set<int32_t>& locked);

  // The settings the host holds for the key (as last read or written back); null for a key not known.
  const nlohmann::json* HeldSettings(const std::string& context) const;

  // Sends what changed: key images of their own (or the default back), then the settings to write back, then
  // every drawn key whose image differs from the one it was last sent.
  void Flush(const LayoutNames& names, const StateImageTexts& texts);

  // Keys whose image another owner draws (the picture keys): their drawn state is kept but not sent.
  void LeaveImagesTo(std::function<bool(const std::string&)> elsewhere) { m_elsewhere = std::move(elsewhere); }

  // What the key draws now, for tests: its drawn state (nothing when it is not drawn).
  bool DrawnImage(const std::string& context, const LayoutNames& names, StateImage& out) const;

 private:
  enum class Shows { kNothing, kIcon, kState, kLock, kDefault };
  struct Key {
    std::string action;
    int32_t device = -1;
    // The layout and sources its settings hold for that device (a device that is away: its stored entry).
    bool hasEntry = false;
    uint32_t layout = 0;
    std::vector<int32_t> sources;
    Shows shows = Shows::kNothing;
    std::string sent;  // the image it was last sent
    bool sentAny = false;
    std::string imageFirst;  // a key image of its own, or "" for the default, to be sent before the settings
    bool imageFirstPending = false;
    bool stateCleared = false;  // no longer drawn: the default back after the settings
    bool lockKey = false;
    size_t steps = 0;  // a step key's steps, and the one its next press applies
    size_t step = 0;
    nlohmann::json held;  // the settings as the host holds them, sent at Flush when settingsPending
    bool settingsPending = false;
  };
  struct Shown {
    bool present = false;
    bool known = false;
    DeviceState state;
    std::array<bool, 4> signal{};
  };

  static std::array<bool, 4> PlaceSignals(const DeviceState& shown, int32_t device,
                                          const std::vector<std::vector<bool>>& signals);
  StateImage Draw(const Key& key, const LayoutNames& names) const;
  // Gives every key of `device` that carries another copy the device's names.
  void SpreadNames(int32_t device);
  // The entry of `device` in held settings, made (with empty entries before it) where missing.
  static nlohmann::json& EntryOf(nlohmann::json& settings, int32_t device);
  // The entry of `device` in settings, or null.
  static const nlohmann::json& EntryIn(const nlohmann::json& settings, int32_t device);

  HostPort& m_host;
  std::map<std::string, Key> m_keys;
  std::map<int32_t, Shown> m_shown;
  std::set<int32_t> m_stale;
  std::function<bool(const std::string&)> m_elsewhere;
  std::map<int32_t, InputNames> m_names;
  std::set<int32_t> m_locked;
};
