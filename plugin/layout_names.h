// The names of the multiview layouts for key images: the bundle's layouts.json, a localized name
// ("layout.<number>.short", else "layout.<number>" in the localization table) taking precedence. Event-loop
// thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

class LayoutNames {
 public:
  // Reads {"layouts": [{"number": n, "name": "..."}, ...]}; entries of another shape are skipped. A list
  // that cannot be read leaves only the localized names. Never throws.
  void Load(const nlohmann::json& layouts, const nlohmann::json& localization);

  // The layout's name, or its number as decimal text when no name is known.
  std::string Name(uint32_t layout) const;

 private:
  std::map<uint32_t, std::string> m_names;
};
