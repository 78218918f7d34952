// Bookkeeping of the keys that show their device's state.
#include "plugin/state_keys.h"

#include "platform/vendor_properties.h"

bool StateKeys::Track(const std::string& context, const ActionSettings& settings, int32_t device) {
  const bool wanted = settings.showState && settings.icon.empty() && device >= 0;
  if (!wanted) return Forget(context);
  Key key{device, 0, {}};
  // A device that is away has no entry to compare with: its keys are not live anyway.
  const size_t slot = static_cast<size_t>(device);
  if (slot < settings.devices.size() && settings.devices[slot].present) {
    key.layout = settings.devices[slot].multiViewLayout;
    key.sources = settings.devices[slot].multiViewSources;
  }
  m_keys[context] = std::move(key);
  return false;
}

bool StateKeys::Forget(const std::string& context) {
  auto it = m_keys.find(context);
  if (it == m_keys.end()) return false;
  const int32_t device = it->second.device;
  m_keys.erase(it);
  if (!HasDevice(device)) m_shown.erase(device);
  return true;
}

bool StateKeys::HasDevice(int32_t device) const {
  for (const auto& key : m_keys) {
    if (key.second.device == device) return true;
  }
  return false;
}

std::array<bool, 4> StateKeys::PlaceSignals(const DeviceState& shown, int32_t device,
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

std::vector<std::pair<std::string, StateImage>> StateKeys::Draw(int32_t device, bool present, bool known,
                                                                const DeviceState& shown,
                                                                const std::vector<std::vector<bool>>& signals,
                                                                const LayoutNames& names,
                                                                const std::string& context) {
  std::vector<std::pair<std::string, StateImage>> images;
  if (!HasDevice(device)) return images;
  Shown& memo = m_shown[device];
  memo.known = known;
  memo.state = shown;
  memo.signal = known ? PlaceSignals(shown, device, signals) : std::array<bool, 4>{};

  StateImage image;
  image.connected = present;
  image.known = known;
  if (known) {
    image.layoutName = names.Name(shown.layout);
    image.inputs = vendor::UnpackSources(shown.sources);
    image.signal = memo.signal;
  }
  for (const auto& entry : m_keys) {
    const Key& key = entry.second;
    if (key.device != device || (!context.empty() && entry.first != context)) continue;
    // Live: the device shows this key's layout and the four sources a press of it would send.
    image.live = known && key.layout == shown.layout && key.sources.size() >= 4 &&
                 vendor::PackSources(key.sources) == shown.sources;
    images.emplace_back(entry.first, image);
  }
  return images;
}

std::vector<int32_t> StateKeys::SignalChanges(const std::vector<std::vector<bool>>& signals) const {
  std::vector<int32_t> changed;
  for (const auto& entry : m_shown) {
    const Shown& memo = entry.second;
    if (memo.known && PlaceSignals(memo.state, entry.first, signals) != memo.signal) changed.push_back(entry.first);
  }
  return changed;
}
