// Bookkeeping of the hold-to-look keys.
#include "plugin/peek.h"

bool PeekHolds::Press(const std::string& context, int32_t device) {
  if (!m_held.emplace(context, device).second) return false;
  if (m_before.count(device)) return false;
  m_before[device] = DeviceState{};
  return true;
}

void PeekHolds::Remember(int32_t device, const DeviceState& before) {
  auto it = m_before.find(device);
  if (it != m_before.end()) it->second = before;
}

bool PeekHolds::Release(const std::string& context, int32_t& device, DeviceState& before) {
  auto held = m_held.find(context);
  if (held == m_held.end()) return false;
  const int32_t released = held->second;
  m_held.erase(held);
  for (const auto& other : m_held) {
    if (other.second == released) return false;
  }
  auto saved = m_before.find(released);
  if (saved == m_before.end()) return false;
  const DeviceState state = saved->second;
  m_before.erase(saved);
  if (!state.stateRead) return false;
  device = released;
  before = state;
  return true;
}
