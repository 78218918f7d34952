// The localization table for the user's language.
#include "host/localizer.h"

#include <fstream>
#include <iterator>

#include "host/json_members.h"
#include "host/plugin_folder.h"

Localizer* g_localizer = nullptr;

nlohmann::json ReadPluginFolderJson(const std::string& folder, const std::string& name) {
  // An edge where failures are swallowed: a missing or broken file reads as null.
  try {
    if (folder.empty() || name.empty()) return nullptr;
    std::ifstream file(LocalFilePath(JoinPath(folder, name)), std::ios::binary);
    if (!file.is_open()) return nullptr;
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!JsonNestingWithin(text, kMaxJsonNesting)) return nullptr;
    return nlohmann::json::parse(text);
  } catch (...) {
  }
  return nullptr;
}

nlohmann::json LoadLocalizationTable(const std::string& folder, const std::string& language) {
  nlohmann::json table;
  if (language.empty()) return table;
  ReadObjectMember(ReadPluginFolderJson(folder, language + ".json"), "Localization", table);
  return table;
}

Localizer::Localizer(const std::string& language) {
  // FindPluginFolder does not throw, but keep the constructor's promise whatever it meets.
  try {
    table = LoadLocalizationTable(FindPluginFolder(), language);
  } catch (...) {
  }
}
