// What the property inspectors want.
#include "plugin/inspectors.h"

#include <algorithm>

namespace {

// Requests kept ahead of an inspector's "propertyInspectorDidAppear".
constexpr size_t kPendingLimit = 8;

}  // namespace

Inspectors::Entry& Inspectors::At(const std::string& context) { return m_entries[context]; }

void Inspectors::Appeared(const std::string& action, const std::string& context) {
  Entry& e = At(context);
  e.action = action;
  e.open = true;
  // A second "propertyInspectorDidAppear" makes it the newest again.
  e.appeared = ++m_clock;
}

bool Inspectors::Disappeared(const std::string& context, int32_t& editDevice) {
  editDevice = -1;
  auto it = m_entries.find(context);
  if (it == m_entries.end() || !it->second.open) return false;
  editDevice = it->second.editDevice;
  m_entries.erase(it);
  return true;
}

void Inspectors::KeyGone(const std::string& context) {
  auto it = m_entries.find(context);
  if (it == m_entries.end()) return;
  if (!it->second.open) {
    m_entries.erase(it);
    return;
  }
  if (it->second.images == Images::kWanted) it->second.images = Images::kStopped;
}

void Inspectors::AskedForImages(const std::string& action, const std::string& context, int32_t width,
                                int32_t height) {
  Entry& e = At(context);
  e.action = action;
  e.images = Images::kWanted;
  e.width = width;
  e.height = height;
  e.asked = ++m_clock;
  Trim();
}

void Inspectors::SaidStop(const std::string& context) {
  // Also when it never asked: it takes no images another inspector asked for.
  Entry& e = At(context);
  e.images = Images::kStopped;
  e.asked = ++m_clock;
  Trim();
}

void Inspectors::AskedForStatus(const std::string& action, const std::string& context) {
  Entry& e = At(context);
  e.action = action;
  e.status = true;
  e.toldDevices.clear();
  e.toldSignals.clear();
  e.toldLocks.clear();
  e.asked = ++m_clock;
  Trim();
}

void Inspectors::Trim() {
  for (;;) {
    size_t pending = 0;
    auto oldest = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
      if (it->second.open) continue;
      ++pending;
      if (oldest == m_entries.end() || it->second.asked < oldest->second.asked) oldest = it;
    }
    if (pending <= kPendingLimit) return;
    m_entries.erase(oldest);
  }
}

bool Inspectors::Open(const std::string& context) const {
  auto it = m_entries.find(context);
  return it != m_entries.end() && it->second.open;
}

bool Inspectors::AnyOpen() const {
  return std::any_of(m_entries.begin(), m_entries.end(), [](const auto& entry) { return entry.second.open; });
}

bool Inspectors::AnyAsker() const {
  return std::any_of(m_entries.begin(), m_entries.end(),
                     [](const auto& entry) { return entry.second.open && entry.second.status; });
}

bool Inspectors::EditElsewhere(const std::string& context, int32_t device) const {
  for (const auto& entry : m_entries) {
    if (entry.first != context && entry.second.open && entry.second.editDevice == device) return true;
  }
  return false;
}

std::vector<int32_t> Inspectors::EditOn(const std::string& context, int32_t device) {
  Entry& e = At(context);
  std::vector<int32_t> takeBack;
  for (int32_t before : {e.editDevice, m_lastEdited}) {
    if (before < 0 || before == device || EditElsewhere(context, before)) continue;
    if (std::find(takeBack.begin(), takeBack.end(), before) == takeBack.end()) takeBack.push_back(before);
  }
  e.editDevice = device;
  m_lastEdited = device;
  return takeBack;
}

PreviewPlan Inspectors::Preview(const std::function<int32_t(const std::string&)>& deviceOf,
                                const std::function<bool(int32_t)>& present) const {
  PreviewPlan plan;
  const Entry* newest = nullptr;
  const std::string* newestContext = nullptr;
  const Entry* asker = nullptr;
  for (const auto& entry : m_entries) {
    const Entry& e = entry.second;
    if (!e.open) continue;
    if (!newest || e.appeared > newest->appeared) {
      newest = &e;
      newestContext = &entry.first;
    }
    if (e.images == Images::kWanted && (!asker || e.asked > asker->asked)) asker = &e;
  }
  if (!newest || newest->images == Images::kStopped || !asker) return plan;
  const Entry& size = newest->images == Images::kWanted ? *newest : *asker;
  plan.device = deviceOf(*newestContext);
  if (!present(plan.device)) return PreviewPlan{};
  plan.run = true;
  plan.action = newest->action;
  plan.context = *newestContext;
  plan.width = size.width;
  plan.height = size.height;
  return plan;
}

std::vector<Inspectors::Asker> Inspectors::Askers() const {
  std::vector<std::pair<uint64_t, Asker>> open;
  for (const auto& entry : m_entries) {
    if (entry.second.open && entry.second.status) open.push_back({entry.second.appeared, {entry.second.action, entry.first}});
  }
  std::sort(open.begin(), open.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Asker> askers;
  for (auto& asker : open) askers.push_back(std::move(asker.second));
  return askers;
}
