// The localization table for the user's language, loaded once at start-up on the main thread.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

class Localizer {
 public:
  // Loads "<language>.json" from the plug-in folder; never throws. table stays null on any failure.
  explicit Localizer(const std::string& language);

  // The "Localization" object of the file, or null.
  nlohmann::json table;
};

// The member "Localization" of the JSON file <folder>/<language>.json when it is an object, else null. Reads
// nothing when either argument is empty. Never throws.
nlohmann::json LoadLocalizationTable(const std::string& folder, const std::string& language);

// The JSON document in the file <folder>/<name>, or null when either is empty or the file cannot be read or
// parsed (or nests too deeply). Never throws.
nlohmann::json ReadPluginFolderJson(const std::string& folder, const std::string& name);

// The process-wide localizer: created by the entry point, never destroyed. Null before that.
extern Localizer* g_localizer;
