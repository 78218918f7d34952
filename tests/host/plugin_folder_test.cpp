// Path operations, the plug-in folder search and the localization table.
#include "host/plugin_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "host/localizer.h"

namespace {

struct PathCase {
  std::string path;
  std::string last;
  std::string parent;
  bool shareRoot;
};

TEST(PathOperations, FollowWindowsConventionsForEitherSeparator) {
  const std::vector<PathCase> cases = {
      {R"(C:\Program Files\X.pxPlugin\bin\p.exe)", "p.exe", R"(C:\Program Files\X.pxPlugin\bin)", false},
      {R"(C:\dir\\\)", "dir", R"(C:\)", false},
      {R"(C:\)", R"(C:\)", R"(C:\)", false},
      {"C:", "C:", "C:/", false},  // no "\" anywhere, so "/" is the separator
      {"C:/", "C:", "C:/", false},
      {"C:/dir", "dir", R"(C:\)", false},
      {R"(\\server\share)", "share", R"(\\server\share)", true},
      {R"(\\server)", "server", R"(\\server)", true},
      {R"(\\server\share\dir)", "dir", R"(\\server\share)", false},
      {R"(\\server\share\)", "share", R"(\\server)", false},
      {"/usr/", "usr", "/", false},
      {"/", "/", "/", false},
      {"//", "/", "//", true},
      {"mixed/dir\\file", "file", "mixed/dir", false},
      {"plain", "plain", "", false},
      {"", "", "", false},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(LastPathComponent(c.path), c.last) << c.path;
    EXPECT_EQ(ParentPath(c.path), c.parent) << c.path;
    EXPECT_EQ(IsNetworkShareRoot(c.path), c.shareRoot) << c.path;
  }
}

TEST(PathOperations, JoinWritesBackslashesOnly) {
  const struct {
    const char* folder;
    const char* name;
    const char* joined;
  } cases[] = {
      {R"(C:\x.pxPlugin\)", "de.json", R"(C:\x.pxPlugin\de.json)"},
      {R"(C:\x.pxPlugin\)", R"(\de.json)", R"(C:\x.pxPlugin\de.json)"},
      {"C:/x.pxPlugin/", "/de.json", R"(C:\x.pxPlugin\de.json)"},
      {"/opt/x.pxPlugin", "/en.json", R"(\opt\x.pxPlugin\en.json)"},
      {"", "a/b", "a/b"},
      {R"(C:\x)", "", R"(C:\x\)"},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinPath(c.folder, c.name), c.joined) << c.folder << " + " << c.name;
}

TEST(FindPluginFolderFrom, NearestAncestorWithTheExactExtension) {
  const struct {
    const char* program;
    const char* folder;
  } cases[] = {
      {R"(C:\Users\u\AppData\Plugins\com.x.pxPlugin\bin\win\BrelvonMultiview.exe)",
       R"(C:\Users\u\AppData\Plugins\com.x.pxPlugin)"},
      {R"(C:\a.pxPlugin\b.pxPlugin\p.exe)", R"(C:\a.pxPlugin\b.pxPlugin)"},
      {R"(C:\Plugins\bin\BrelvonMultiview.exe)", ""},
      {R"(C:\Plugins\com.x.PXPLUGIN\p.exe)", ""},
      {R"(C:\Plugins\com.x.pxPlugin.old\p.exe)", ""},
      {R"(C:\Plugins\pxPlugin\p.exe)", ""},
      {R"(\\server\share\com.x.pxPlugin\p.exe)", R"(\\server\share\com.x.pxPlugin)"},
      {"/home/u/com.x.pxPlugin/bin/BrelvonMultiview", "/home/u/com.x.pxPlugin"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FindPluginFolderFrom(c.program), c.folder) << c.program;
}

TEST(LocalizationTable, LoadsTheLocalizationObjectOrNothing) {
  char root[] = "/tmp/pnx-localizer-XXXXXX";
  ASSERT_NE(mkdtemp(root), nullptr);
  const std::string folder = std::string(root) + "/com.x.pxPlugin";
  std::filesystem::create_directory(folder);
  std::string deep = R"({"Localization":{"a":)";
  for (int i = 0; i < 100000; ++i) deep += "[";
  const std::pair<const char*, std::string> files[] = {
      {"de", "{\"Localization\":{\"Layout\":\"Aufteilung\",\"Gr\xc3\xb6\xc3\x9f" "e\":\"x\"},\"Other\":1}"},
      {"fr", R"({"Localization":["not","an","object"]})"}, {"it", R"({"Localization":{"a":"b",}})"},
      {"es", R"([{"Localization":{"a":"b"}}])"}, {"nl", R"({"localization":{"a":"b"}})"}, {"pt", ""},
      {"da", deep + std::string(100000, ']') + "}}"},
  };
  for (const auto& [language, text] : files) std::ofstream(folder + "/" + language + ".json", std::ios::binary) << text;

  EXPECT_EQ(LoadLocalizationTable(folder, "de"),
            nlohmann::json::parse("{\"Layout\":\"Aufteilung\",\"Gr\xc3\xb6\xc3\x9f" "e\":\"x\"}"));
  // A folder written the Windows way (as JoinPath leaves it) is opened all the same.
  EXPECT_EQ(LoadLocalizationTable(folder + "/", "de")["Layout"], "Aufteilung");
  for (const char* language : {"fr", "it", "es", "nl", "pt", "da", "sv", ""}) {
    EXPECT_TRUE(LoadLocalizationTable(folder, language).is_null()) << language;
  }
  EXPECT_TRUE(LoadLocalizationTable("", "de").is_null());
  std::filesystem::remove_all(root);
}

}  // namespace
