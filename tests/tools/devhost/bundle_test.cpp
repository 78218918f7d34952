// The assembled plug-in folder: the executable inside it finds that folder and reads its language files there.
#include <dirent.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "host/localizer.h"
#include "host/plugin_folder.h"

namespace {

TEST(AssembledBundle, ItsExecutableReadsTheLanguageFilesOfItsFolder) {
  const std::string folder = PNX_BUNDLE_FOLDER;
  EXPECT_EQ(FindPluginFolderFrom(folder + "/BrelvonMultiview"), folder);
  std::ifstream manifest(folder + "/manifest.json");
  ASSERT_TRUE(manifest.is_open());
  const nlohmann::json parsed = nlohmann::json::parse(manifest, nullptr, false);
  EXPECT_EQ(parsed.value("identifier", ""), "com.brelvon.multiview");

  // Every language file of the sources arrives, and the localizer reads it from the assembled folder.
  int languages = 0;
  DIR* dir = opendir(PNX_BUNDLE_SOURCE);
  ASSERT_NE(dir, nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != 7 || name.compare(2, 5, ".json") != 0) continue;
    std::ifstream source(std::string(PNX_BUNDLE_SOURCE) + "/" + name);
    const nlohmann::json expected = nlohmann::json::parse(source, nullptr, false);
    ASSERT_TRUE(expected.is_object() && expected.contains("Localization")) << name;
    EXPECT_EQ(LoadLocalizationTable(folder, name.substr(0, 2)), expected["Localization"]) << name;
    ++languages;
  }
  closedir(dir);
  if (languages == 0) GTEST_SKIP() << "no language files under bundle/ yet";
}

}  // namespace
