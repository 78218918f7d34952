// What each key is and draws.
#include "plugin/keys.h"

#include <algorithm>

#include "platform/vendor_properties.h"

void Keys::Settings(const std::string& context, const std::string& action, const ActionSettings& settings,
                    int32_t named, bool writeBack, Event event, bool nameEdit) {
  Key& key = m_keys[context];
  const int32_t before = key.device;
  key.action = action;
  key.device = named;
  key.hasEntry = false;
  key.lockKey = action == kLockAction;
  key.steps = 0;
  key.step = 0;
  const size_t slot = static_cast<size_t>(named);
  const size_t count = settings.devices.size();
  if (named >= 0 && slot < count && settings.devices[slot].present) {
    key.hasEntry = true;
    key.layout = settings.devices[slot].multiViewLayout;
    key.sources = settings.devices[slot].multiViewSources;
    if (action == kCycleAction) {
      key.steps = settings.devices[slot].steps.size();
      key.step = settings.devices[slot].step;
    }
  } else if (named >= 0) {
    // A device that is away: its entry as stored, which is what the settings keep for it.
    const nlohmann::json* stored = nullptr;
    if (slot < count && settings.devices[slot].hasStored) stored = &settings.devices[slot].stored;
    if (slot >= count && slot - count < settings.absentDevices.size()) stored = &settings.absentDevices[slot - count];
    if (stored && !stored->is_null()) {
      try {
        const DeviceSettings entry = ReadStoredEntry(*stored);
        key.hasEntry = true;
        key.layout = entry.multiViewLayout;
        key.sources = entry.multiViewSources;
        if (action == kCycleAction) {
          key.steps = entry.steps.size();
          key.step = entry.step;
        }
      } catch (const nlohmann::json::exception&) {
        // Sources of another type: the key matches nothing the device can show.
      }
    }
  }
  nlohmann::json out;
  if (writeBack && WriteActionSettings(settings, out)) {
    key.held = std::move(out);
    key.settingsPending = true;
  } else if (!key.settingsPending) {
    key.held = settings.stored;
  }

  if (named >= 0) {
    const InputNames carried = ReadInputNames(EntryIn(key.held, named));
    InputNames& known = m_names[named];
    // An open inspector's page changes names only as the user edits them (or reverts them), so other names
    // there are an edit, whatever stamp the page kept.
    if (nameEdit && carried.has && carried.names != known.names) {
      known.names = carried.names;
      known.stamp = std::max(known.stamp, carried.stamp) + 1;
      known.has = known.hasStamp = true;
    } else if (carried.has && (!known.has || carried.stamp > known.stamp)) {
      known = carried;
      known.hasStamp = true;
    }
    if (known.has) SpreadNames(named);
  }

  // A lock key draws its device's lock; a step key, and a key with "showState", the state of its device.
  const Shows drawnAs = !settings.icon.empty()    ? Shows::kNothing
                        : key.lockKey             ? Shows::kLock
                        : settings.showState || action == kCycleAction ? Shows::kState
                                                                        : Shows::kNothing;
  const bool drawn = drawnAs != Shows::kNothing;
  if (!settings.icon.empty()) {
    const bool again = event == Event::kAppeared || event == Event::kChanged;
    if (again || (event == Event::kPressed && key.sent != settings.icon)) {
      key.imageFirst = settings.icon;
      key.imageFirstPending = true;
    }
    key.shows = Shows::kIcon;
  } else if (key.shows == Shows::kIcon) {
    // Its own image went away: the default comes back, or the drawn state replaces it.
    if (!drawn) {
      key.imageFirst.clear();
      key.imageFirstPending = true;
    }
    key.shows = drawn ? drawnAs : Shows::kDefault;
  }
  if (drawn) {
    key.shows = drawnAs;
    if (named >= 0 && drawnAs == Shows::kState) m_stale.insert(named);
    // A key that appears shows the host's image until it is sent one.
    if (event == Event::kAppeared || event == Event::kAppearedAway) key.sentAny = false;
  } else if (key.shows == Shows::kState || key.shows == Shows::kLock) {
    key.shows = Shows::kDefault;
    key.stateCleared = true;
  }
  if (before >= 0 && before != named && !DrawsDevice(before)) m_shown.erase(before);
}

nlohmann::json& Keys::EntryOf(nlohmann::json& settings, int32_t device) {
  if (!settings.is_object()) settings = nlohmann::json::object();
  nlohmann::json& devices = settings["devices"];
  if (!devices.is_array()) devices = nlohmann::json::array();
  while (devices.size() <= static_cast<size_t>(device)) devices.push_back(nlohmann::json::object());
  nlohmann::json& entry = devices[static_cast<size_t>(device)];
  if (!entry.is_object()) entry = nlohmann::json::object();
  return entry;
}

const nlohmann::json& Keys::EntryIn(const nlohmann::json& settings, int32_t device) {
  static const nlohmann::json kNone;
  if (!settings.is_object()) return kNone;
  auto devices = settings.find("devices");
  if (devices == settings.end() || !devices->is_array() || static_cast<size_t>(device) >= devices->size()) return kNone;
  return (*devices)[static_cast<size_t>(device)];
}

void Keys::SpreadNames(int32_t device) {
  const InputNames& known = m_names[device];
  for (auto& item : m_keys) {
    Key& key = item.second;
    if (key.device != device) continue;
    // Only keys whose copy differs are written: one whose entry has no names yet is left alone while the
    // device has none either.
    const InputNames carried = ReadInputNames(EntryIn(key.held, device));
    if (carried.has && carried.hasStamp && carried.stamp == known.stamp && carried.names == known.names) continue;
    WriteInputNames(known, EntryOf(key.held, device));
    key.settingsPending = true;
  }
}

void Keys::Locks(const std::set<int32_t>& locked) {
  m_locked = locked;
  for (auto& item : m_keys) {
    Key& key = item.second;
    if (!key.lockKey || key.device < 0 || !key.held.is_object()) continue;
    const bool isLocked = locked.count(key.device) > 0;
    auto it = key.held.find("locked");
    const bool carried = it != key.held.end() && it->is_boolean() && it->get<bool>();
    if (carried == isLocked) continue;
    key.held["locked"] = isLocked;
    key.settingsPending = true;
  }
}

const nlohmann::json* Keys::HeldSettings(const std::string& context) const {
  auto it = m_keys.find(context);
  return it == m_keys.end() ? nullptr : &it->second.held;
}

void Keys::Gone(const std::string& context) {
  auto it = m_keys.find(context);
  if (it == m_keys.end()) return;
  const int32_t device = it->second.device;
  m_keys.erase(it);
  if (!DrawsDevice(device)) m_shown.erase(device);
}

int32_t Keys::NamedDevice(const std::string& context) const {
  auto it = m_keys.find(context);
  return it == m_keys.end() ? -1 : it->second.device;
}

bool Keys::AnyDrawn() const {
  return std::any_of(m_keys.begin(), m_keys.end(), [](const auto& entry) {
    return entry.second.shows == Shows::kState && entry.second.device >= 0;
  });
}

bool Keys::AnyImageDrawn() const {
  return std::any_of(m_keys.begin(), m_keys.end(), [](const auto& entry) {
    return entry.second.shows == Shows::kState || entry.second.shows == Shows::kLock;
  });
}

bool Keys::DrawsDevice(int32_t device) const {
  return device >= 0 && std::any_of(m_keys.begin(), m_keys.end(), [&](const auto& entry) {
           return entry.second.shows == Shows::kState && entry.second.device == device;
         });
}

std::set<int32_t> Keys::TakeStale() {
  std::set<int32_t> stale;
  stale.swap(m_stale);
  return stale;
}

std::array<bool, 4> Keys::PlaceSignals(const DeviceState& shown, int32_t device,
                                       const std::vector<std::vector<bool>>& signals) {
  std::array<bool, 4> bits{};
  const std::array<int32_t, 4> inputs = vendor::UnpackSources(shown.sources);
  const std::vector<bool>* lock =
      static_cast<size_t>(device) < signals.size() ? &signals[static_cast<size_t>(device)] : nullptr;
  for (size_t place = 0; place < bits.size(); ++place) {
    // An input the device does not have carries no signal.
    const int32_t input = inputs[place];
    bits[place] = lock && input >= 1 && static_cast<size_t>(input) <= lock->size() && (*lock)[input - 1];
  }
  return bits;
}

std::vector<int32_t> Keys::SignalChanges(const std::vector<std::vector<bool>>& signals) const {
  std::vector<int32_t> changed;
  for (const auto& entry : m_shown) {
    const Shown& memo = entry.second;
    if (memo.known && PlaceSignals(memo.state, entry.first, signals) != memo.signal) changed.push_back(entry.first);
  }
  return changed;
}

void Keys::Confirmed(int32_t device, bool present, bool known, const DeviceState& shown,
                     const std::vector<std::vector<bool>>& signals) {
  if (!DrawsDevice(device)) return;
  Shown& memo = m_shown[device];
  memo.present = present;
  memo.known = known;
  memo.state = shown;
  memo.signal = known ? PlaceSignals(shown, device, signals) : std::array<bool, 4>{};
}

StateImage Keys::Draw(const Key& key, const LayoutNames& names) const {
  StateImage image;
  auto memo = m_shown.find(key.device);
  // A key that names no device, or whose device was never read, is drawn as unknown.
  if (key.device < 0 || memo == m_shown.end()) return image;
  const Shown& shown = memo->second;
  image.connected = shown.present;
  image.known = shown.known;
  if (!shown.known) return image;
  image.layoutName = names.Name(shown.state.layout);
  image.inputs = vendor::UnpackSources(shown.state.sources);
  image.signal = shown.signal;
  // Live: the device shows this key's layout and its first four sources, as its settings hold them.
  image.live = key.hasEntry && key.layout == shown.state.layout && key.sources.size() >= 4 &&
               std::equal(image.inputs.begin(), image.inputs.end(), key.sources.begin());
  image.places = names.Places(shown.state.layout);
  auto known = m_names.find(key.device);
  for (size_t place = 0; known != m_names.end() && place < image.inputs.size(); ++place) {
    const int32_t input = image.inputs[place];
    if (input >= 1 && static_cast<size_t>(input) <= known->second.names.size()) {
      image.names[place] = known->second.names[static_cast<size_t>(input - 1)];
    }
  }
  if (key.steps > 0) image.step = std::to_string(key.step + 1) + "/" + std::to_string(key.steps);
  image.locked = m_locked.count(key.device) > 0;
  return image;
}

bool Keys::DrawnImage(const std::string& context, const LayoutNames& names, StateImage& out) const {
  auto it = m_keys.find(context);
  if (it == m_keys.end() || it->second.shows != Shows::kState) return false;
  out = Draw(it->second, names);
  return true;
}

void Keys::Flush(const LayoutNames& names, const StateImageTexts& texts) {
  for (auto& entry : m_keys) {
    Key& key = entry.second;
    if (!key.imageFirstPending) continue;
    key.imageFirstPending = false;
    m_host.SetImage(key.imageFirst, entry.first);
    key.sent = key.imageFirst;
    key.sentAny = true;
  }
  for (auto& entry : m_keys) {
    Key& key = entry.second;
    if (!key.settingsPending) continue;
    key.settingsPending = false;
    m_host.SetSettings(key.held, entry.first);
  }
  for (auto& entry : m_keys) {
    Key& key = entry.second;
    if (m_elsewhere && m_elsewhere(entry.first)) {
      // Sent again once it is this owner's again.
      key.stateCleared = false;
      key.sentAny = false;
      continue;
    }
    if (key.stateCleared) {
      key.stateCleared = false;
      m_host.SetImage("", entry.first);
      key.sent.clear();
      key.sentAny = true;
    }
    if (key.shows != Shows::kState && key.shows != Shows::kLock) continue;
    std::string image = SvgDataUrl(key.shows == Shows::kLock
                                       ? LockImageSvg(m_locked.count(key.device) > 0, texts)
                                       : StateImageSvg(Draw(key, names), texts));
    if (key.sentAny && image == key.sent) continue;
    m_host.SetImage(image, entry.first);
    key.sent = std::move(image);
    key.sentAny = true;
  }
}
