// The localization table for the user's language.
#include "host/localizer.h"

#include <fstream>
#include <iterator>

#include "host/json_members.h"
#include "host/plugin_folder.h"

Localizer* g_localizer = nullptr;

nlohmann::json LoadLocalizationTable(const std::string& folder, const std::string& language) {
  nlohmann::json table;
  // An edge where failures are swallowed: a missing or broken file leaves the table empty.
  try {
    if (language.empty() || folder.empty()) return table;
    std::ifstream file(LocalFilePath(JoinPath(folder, language + ".json")), std::ios::binary);
    if (!file.is_open()) return table;
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!JsonNestingWithin(text, kMaxJsonNesting)) return table;
    nlohmann::json localization;
    if (ReadObjectMember(nlohmann::json::parse(text), "Localization", localization)) {
      table = std::move(localization);
    }
  } catch (...) {
  }
  return table;
}

Localizer::Localizer(const std::string& language) {
  // FindPluginFolder does not throw, but keep the constructor's promise whatever it meets.
  try {
    table = LoadLocalizationTable(FindPluginFolder(), language);
  } catch (...) {
  }
}
