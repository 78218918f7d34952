// Layout names for key images.
#include "plugin/layout_names.h"

#include <limits>

#include "host/json_members.h"

using nlohmann::json;

void LayoutNames::Load(const json& layouts, const json& localization) {
  m_names.clear();
  json list;
  if (layouts.is_object()) {
    auto it = layouts.find("layouts");
    if (it != layouts.end() && it->is_array()) list = *it;
  }
  for (const json& entry : list) {
    if (!entry.is_object()) continue;
    auto number = entry.find("number");
    auto name = entry.find("name");
    if (number == entry.end() || name == entry.end() || !name->is_string()) continue;
    if (!number->is_number_unsigned() && !number->is_number_integer()) continue;
    const int64_t value = number->get<int64_t>();
    if (value < 0 || value > std::numeric_limits<uint32_t>::max()) continue;
    const auto layout = static_cast<uint32_t>(value);
    const std::string fallback = name->get<std::string>();
    // A key has room for a short name only: "layout.<n>.short" when the language has one.
    const std::string key = "layout." + std::to_string(layout);
    m_names[layout] = ReadStringMember(localization, key + ".short", ReadStringMember(localization, key, fallback));
  }
}

std::string LayoutNames::Name(uint32_t layout) const {
  auto it = m_names.find(layout);
  return it != m_names.end() && !it->second.empty() ? it->second : std::to_string(layout);
}
