// What each capture device should show, and the one place that writes it. Event-loop thread.
//
// Per device number, detected or not: `committed`, what the last switch press made it show (before the first
// press, what it showed when first read); the temporary layers on top of it, newest last: the inspector's edit
// (from its first edit to its close) and each held look (key down to key up); and whether it is detected.
// The device shows the top layer, or committed when there is none. Every multiview write of the plug-in comes
// from here and writes that; nothing reads a device to decide what to put back. So whenever no look is held
// and no edit is open on a device, the device (once detected) shows committed.
//
// A device may be locked: what it shows then becomes committed (its layers go) and nothing is written to it
// until it is unlocked - presses, looks and edits of it are ignored, taking an edit back writes nothing, and a
// device that comes back is read rather than written. Unlocking writes nothing either.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/device_state.h"

class DevicePort;

class DeviceDisplays {
 public:
  explicit DeviceDisplays(DevicePort& devices) : m_devices(devices) {}

  // A switch press: committed becomes `state`, the device's temporary layers go, and the device shows it.
  // With `layoutOnly` only the layout is committed and written (the press had no four sources to send).
  void Press(int32_t device, const DeviceState& state, bool layoutOnly = false);

  // A look held by `key`: the first layer on a device reads what it shows as committed first. Pressing a
  // held key again shows its settings again, in its place among the layers.
  void Look(int32_t device, const std::string& key, const DeviceState& state);
  // The look of `key` ends (released, or the key went away): the device shows what is below it.
  void EndLook(const std::string& key);

  // Reads what `device` shows, as the inspector does when a device first comes under edit: taken as committed
  // while no temporary layer is on the device. Also marks the device as one whose edit is taken back.
  void ReadForEdit(int32_t device);
  // The inspector's edit of `device`: its layer (made at the first edit) holds `state` and is shown when on top.
  void Edit(int32_t device, const DeviceState& state, bool layoutOnly = false);
  // The edit of `device` is taken back: its layer goes. When it was on top, or when the device has no layer
  // left and was read for an edit, the device is written what it should show now (sources, then layout).
  void TakeBackEdit(int32_t device);

  // Follows the detected devices after an enumeration: a device that came back is written what it should
  // show at once (committed is read from it first when only temporary layers are known).
  void FollowPresence();
  bool Present(int32_t device) const;

  // Locks or unlocks a device (see above).
  void SetLocked(int32_t device, bool locked);
  bool Locked(int32_t device) const;
  std::set<int32_t> LockedDevices() const;

  // The devices whose state was written, or that came or went, since the last call; each once.
  std::vector<int32_t> TakeChanged();

 private:
  struct Layer {
    bool edit = false;  // the inspector's edit; otherwise a look held by `key`
    std::string key;
    DeviceState state;
  };
  struct Device {
    DeviceState committed;  // stateRead false: not known yet
    std::vector<Layer> layers;
    bool present = false;
    bool readForEdit = false;
    bool locked = false;
    // A press set the committed layout while its sources were not known yet: the layout is still what the
    // device should show, with whatever sources it has.
    bool layoutPressed = false;
  };
  enum class Form { kApply, kRestore };

  Device& At(int32_t device) { return m_state[device]; }
  static const DeviceState& Shown(const Device& d) { return d.layers.empty() ? d.committed : d.layers.back().state; }
  // `state` with its layout (and sources unless layoutOnly) taken from `change`, on top of `below`.
  static DeviceState Over(const DeviceState& below, const DeviceState& change, bool layoutOnly);
  // Reads what the device shows into committed while no layer is on it (or underLayers); false when the
  // read failed.
  bool ReadCommitted(int32_t device, bool underLayers = false);
  void Write(int32_t device, Form form, bool layoutOnly = false);

  DevicePort& m_devices;
  std::map<int32_t, Device> m_state;
  std::set<int32_t> m_changed;
};
