// The names of the multiview layouts for key images: the bundle's layouts.json, a localized name
// ("layout.<number>.short", else "layout.<number>" in the localization table) taking precedence. Event-loop
// thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A place of a layout as a part of the picture, each member a fraction of the picture's width or height.
struct PlaceRect {
  double x = 0;
  double y = 0;
  double width = 1;
  double height = 1;
};

class LayoutNames {
 public:
  // Reads {"layouts": [{"number": n, "name": "...", "places": [[x, y, width, height], ...]}, ...]}; entries
  // of another shape are skipped, and so are places that are not four numbers within the picture (at most
  // four places, place 1 first). A list that cannot be read leaves only the localized names. Never throws.
  void Load(const nlohmann::json& layouts, const nlohmann::json& localization);

  // The layout's name, or its number as decimal text when no name is known.
  std::string Name(uint32_t layout) const;

  // The layout's places as layouts.json describes them; empty for a layout it does not know (or describes
  // without places), which is drawn as four equal places.
  const std::vector<PlaceRect>& Places(uint32_t layout) const;

 private:
  std::map<uint32_t, std::string> m_names;
  std::map<uint32_t, std::vector<PlaceRect>> m_places;
};
