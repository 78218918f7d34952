// What each capture device should show, and its writes.
#include "plugin/device_displays.h"

#include <algorithm>

#include "plugin/action_settings.h"
#include "plugin/device_port.h"

DeviceState DeviceDisplays::Over(const DeviceState& below, const DeviceState& change, bool layoutOnly) {
  if (!layoutOnly) return DeviceState{change.layout, change.sources, true};
  DeviceState state = below;
  state.layout = change.layout;
  return state;
}

void DeviceDisplays::Press(int32_t device, const DeviceState& state, bool layoutOnly) {
  Device& d = At(device);
  if (d.locked) return;
  const bool hadLayers = !d.layers.empty();
  d.committed = Over(d.committed, state, layoutOnly);
  d.layoutPressed = true;
  d.layers.clear();
  // A layout alone replaces only the layout of what the device shows; where a look or an edit showed other
  // sources, the committed ones go back with it.
  Write(device, Form::kApply, layoutOnly && !(hadLayers && d.committed.stateRead));
}

void DeviceDisplays::Look(int32_t device, const std::string& key, const DeviceState& state) {
  // A key looks at one device at a time.
  bool elsewhere = false;
  for (const auto& entry : m_state) {
    if (entry.first == device) continue;
    for (const Layer& layer : entry.second.layers) elsewhere = elsewhere || (!layer.edit && layer.key == key);
  }
  if (elsewhere) EndLook(key);
  Device& d = At(device);
  if (d.locked) return;
  auto held = std::find_if(d.layers.begin(), d.layers.end(),
                           [&](const Layer& layer) { return !layer.edit && layer.key == key; });
  if (held != d.layers.end()) {
    held->state = Over(held->state, state, false);
    if (held + 1 == d.layers.end()) Write(device, Form::kApply);
    return;
  }
  if (d.layers.empty()) ReadCommitted(device);
  d.layers.push_back(Layer{false, key, Over(d.committed, state, false)});
  Write(device, Form::kApply);
}

void DeviceDisplays::EndLook(const std::string& key) {
  for (auto& entry : m_state) {
    std::vector<Layer>& layers = entry.second.layers;
    auto held =
        std::find_if(layers.begin(), layers.end(), [&](const Layer& layer) { return !layer.edit && layer.key == key; });
    if (held == layers.end()) continue;
    const bool top = held + 1 == layers.end();
    layers.erase(held);
    if (top) Write(entry.first, Form::kApply);
  }
}

void DeviceDisplays::ReadForEdit(int32_t device) {
  if (ReadCommitted(device)) At(device).readForEdit = true;
}

void DeviceDisplays::Edit(int32_t device, const DeviceState& state, bool layoutOnly) {
  Device& d = At(device);
  if (d.locked) return;
  auto edit = std::find_if(d.layers.begin(), d.layers.end(), [](const Layer& layer) { return layer.edit; });
  if (edit == d.layers.end()) {
    // What it goes back to at the close must be known before the edit covers it (a device under edit is read
    // as it comes under edit; one that was away then was not).
    if (d.layers.empty() && !d.committed.stateRead && d.present) ReadCommitted(device);
    d.layers.push_back(Layer{true, std::string(), Over(Shown(d), state, layoutOnly)});
    Write(device, Form::kApply, layoutOnly);
    return;
  }
  edit->state = Over(edit->state, state, layoutOnly);
  if (edit + 1 == d.layers.end()) Write(device, Form::kApply, layoutOnly);
}

void DeviceDisplays::TakeBackEdit(int32_t device) {
  Device& d = At(device);
  auto edit = std::find_if(d.layers.begin(), d.layers.end(), [](const Layer& layer) { return layer.edit; });
  if (edit != d.layers.end()) {
    const bool top = edit + 1 == d.layers.end();
    d.layers.erase(edit);
    if (top) Write(device, Form::kRestore);
    return;
  }
  // A press during the edit already cleared it; the device is put back all the same, as a device read for an
  // edit always was when the inspector closed.
  if (d.layers.empty() && d.readForEdit) Write(device, Form::kRestore);
}

void DeviceDisplays::FollowPresence() {
  for (int32_t device = 0; device < m_devices.MaxDevices(); ++device) {
    const bool present = m_devices.DeviceDetected(device);
    Device& d = At(device);
    if (d.present == present) continue;
    d.present = present;
    m_changed.insert(device);
    if (!present) continue;
    // A locked device is not written: what it shows now is what it keeps.
    if (d.locked) {
      d.layoutPressed = false;
      ReadCommitted(device, true);
      continue;
    }
    // Back after a while away (perhaps switched off meanwhile): it gets what it should show.
    if (!d.committed.stateRead && !d.layers.empty()) ReadCommitted(device, true);
    Write(device, Form::kApply, !Shown(d).stateRead && d.layers.empty() && d.layoutPressed);
  }
}

bool DeviceDisplays::Present(int32_t device) const {
  auto it = m_state.find(device);
  return it != m_state.end() && it->second.present;
}

void DeviceDisplays::SetLocked(int32_t device, bool locked) {
  Device& d = At(device);
  if (d.locked == locked) return;
  d.locked = locked;
  if (!locked) return;
  // The device keeps what it shows: closing an inspector or releasing a look puts nothing back later.
  if (!d.layers.empty()) d.committed = Shown(d);
  d.layers.clear();
  d.readForEdit = false;
}

bool DeviceDisplays::Locked(int32_t device) const {
  auto it = m_state.find(device);
  return it != m_state.end() && it->second.locked;
}

std::set<int32_t> DeviceDisplays::LockedDevices() const {
  std::set<int32_t> locked;
  for (const auto& entry : m_state) {
    if (entry.second.locked) locked.insert(entry.first);
  }
  return locked;
}

std::vector<int32_t> DeviceDisplays::TakeChanged() {
  std::vector<int32_t> changed(m_changed.begin(), m_changed.end());
  m_changed.clear();
  return changed;
}

bool DeviceDisplays::ReadCommitted(int32_t device, bool underLayers) {
  DeviceState read;
  if (!m_devices.ReadMultiviewState(device, read)) return false;
  Device& d = At(device);
  // With a layer shown the device shows that layer, not what it should go back to.
  if (d.layers.empty() || underLayers) {
    const bool keepLayout = d.layoutPressed && !d.committed.stateRead;
    const uint32_t layout = d.committed.layout;
    d.committed = read;
    if (keepLayout) d.committed.layout = layout;
  }
  return true;
}

void DeviceDisplays::Write(int32_t device, Form form, bool layoutOnly) {
  Device& d = At(device);
  if (!d.present || d.locked) return;
  const DeviceState& shown = Shown(d);
  if (layoutOnly) {
    m_devices.SetMultiviewLayout(device, shown.layout);
    m_changed.insert(device);
    return;
  }
  if (!shown.stateRead) return;
  // A state from the settings of an absent device, or one read from another device, never reaches a device
  // as an input it lacks.
  const uint64_t sources = FitPackedSources(shown.sources, m_devices.InputCount(device));
  if (form == Form::kApply) {
    m_devices.SetMultiviewLayout(device, shown.layout);
    m_devices.SetMultiviewSources(device, sources);
  } else {
    m_devices.WriteMultiviewState(device, DeviceState{shown.layout, sources, true});
  }
  m_changed.insert(device);
}
