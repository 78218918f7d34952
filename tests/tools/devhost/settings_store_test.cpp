// The key settings file: survives a restart, is replaced atomically, and an unreadable one is kept.
#include "tools/devhost/settings_store.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "tests/plugin/plugin_test_host.h"

namespace {

std::string MakeTempFolder() {
  char base[] = "/tmp/pnx-settings-XXXXXX";
  return mkdtemp(base) ? base : "";
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

TEST(SettingsStore, SurvivesARestartAndLeavesOnlyItsFile) {
  const std::string folder = MakeTempFolder();
  const std::string path = folder + "/settings.json";
  const nlohmann::json settings = {{"currentDevice", "Brelvon <b>"}, {"toggle", true}, {"icon", ""}};
  {
    SettingsStore store(path);
    std::string warning;
    ASSERT_TRUE(store.Load(warning));
    std::string error;
    ASSERT_TRUE(store.Set("key-3", settings, error)) << error;
    ASSERT_TRUE(store.Set("key-15", {{"a", 1}}, error)) << error;
  }
  EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"settings.json"});
  SettingsStore reopened(path);
  std::string warning;
  ASSERT_TRUE(reopened.Load(warning)) << warning;
  EXPECT_EQ(reopened.Get("key-3"), settings);
  EXPECT_EQ(reopened.Get("key-15"), (nlohmann::json{{"a", 1}}));
}

TEST(SettingsStore, AnUnreadableFileIsKeptAsideByteForByte) {
  const std::string cases[] = {
      "{\"keys\": {\"key-1\": {\"a\": 1}",  // cut short
      "[]",
      "{\"keys\": {\"key-1\": 5}}",
  };
  for (const std::string& bytes : cases) {
    const std::string folder = MakeTempFolder();
    const std::string path = folder + "/settings.json";
    std::ofstream(path, std::ios::binary) << bytes;

    SettingsStore store(path);
    std::string warning;
    EXPECT_FALSE(store.Load(warning)) << bytes;
    EXPECT_NE(warning.find(".corrupt-"), std::string::npos) << warning;
    EXPECT_EQ(store.Get("key-1"), nlohmann::json::object());
    std::string error;
    ASSERT_TRUE(store.Set("key-2", {{"b", 2}}, error)) << error;

    const std::vector<std::string> entries = FolderEntries(folder);
    ASSERT_EQ(entries.size(), 2u) << bytes;
    for (const std::string& name : entries) {
      if (name == "settings.json") continue;
      EXPECT_EQ(name.rfind("settings.json.corrupt-", 0), 0u) << name;
      EXPECT_EQ(ReadFile(folder + "/" + name), bytes);
    }
  }
}

}  // namespace
