// Layout names for key images.
#include "plugin/layout_names.h"

#include <limits>

#include "host/json_members.h"

using nlohmann::json;

namespace {

// [x, y, width, height], each a number in 0..1, the rectangle inside the picture.
bool ReadPlace(const json& value, PlaceRect& out) {
  if (!value.is_array() || value.size() != 4) return false;
  double v[4];
  for (size_t i = 0; i < 4; ++i) {
    if (!value[i].is_number()) return false;
    v[i] = value[i].get<double>();
    if (!(v[i] >= 0.0 && v[i] <= 1.0)) return false;
  }
  if (v[2] <= 0.0 || v[3] <= 0.0 || v[0] + v[2] > 1.0 + 1e-9 || v[1] + v[3] > 1.0 + 1e-9) return false;
  out = PlaceRect{v[0], v[1], v[2], v[3]};
  return true;
}

}  // namespace

void LayoutNames::Load(const json& layouts, const json& localization) {
  m_names.clear();
  m_places.clear();
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
    auto places = entry.find("places");
    if (places == entry.end() || !places->is_array() || places->empty() || places->size() > 4) continue;
    std::vector<PlaceRect> rects;
    for (const json& place : *places) {
      PlaceRect rect;
      if (!ReadPlace(place, rect)) break;
      rects.push_back(rect);
    }
    if (rects.size() == places->size()) m_places[layout] = std::move(rects);
  }
}

std::string LayoutNames::Name(uint32_t layout) const {
  auto it = m_names.find(layout);
  return it != m_names.end() && !it->second.empty() ? it->second : std::to_string(layout);
}

const std::vector<PlaceRect>& LayoutNames::Places(uint32_t layout) const {
  static const std::vector<PlaceRect> kNone;
  auto it = m_places.find(layout);
  return it != m_places.end() ? it->second : kNone;
}
