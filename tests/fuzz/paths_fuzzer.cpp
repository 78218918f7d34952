// The path helpers of the plug-in folder search and the localization file loader.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "host/localizer.h"
#include "host/plugin_folder.h"

namespace {

// One folder per process for the localization file, removed at exit; every input writes and removes its
// file, so nothing carries over.
struct TempFolder {
  TempFolder() {
    char pattern[] = "/tmp/pnx-fuzz-localizer-XXXXXX";
    if (const char* made = mkdtemp(pattern)) path = made;
  }
  ~TempFolder() {
    if (!path.empty()) rmdir(path.c_str());
  }
  std::string path;
};

const std::string& LocalizationFolder() {
  static const TempFolder folder;
  return folder.path;
}

// A language made of the characters a language code may hold, so that the file read is always the one
// written here.
std::string LanguageFrom(const std::string& text) {
  std::string language;
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      language += c;
    }
  }
  return language.empty() ? "en" : language;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string path = in.ConsumeRandomLengthString(512);
  const std::string name = in.ConsumeRandomLengthString(64);

  LastPathComponent(path);
  ParentPath(path);
  IsNetworkShareRoot(path);
  LocalFilePath(JoinPath(path, name));
  // Must end for every path (it climbs one parent at a time until a root).
  FindPluginFolderFrom(path);

  const std::string& folder = LocalizationFolder();
  if (folder.empty()) return 0;
  const std::string language = LanguageFrom(in.ConsumeRandomLengthString(16));
  const std::string file = folder + "/" + language + ".json";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << in.ConsumeRemainingBytesAsString();
  }
  const nlohmann::json table = LoadLocalizationTable(folder, language);
  if (!table.is_null() && !table.is_object()) std::abort();
  std::remove(file.c_str());
  return 0;
}
