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
  char path[32] = "/tmp/pnx-fuzz-localizer-XXXXXX";
  const bool made = mkdtemp(path) != nullptr;
  ~TempFolder() {
    if (made) rmdir(path);
  }
};

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

  static const TempFolder folder;
  if (!folder.made) return 0;
  // The file read is always the one written here; the language only names it.
  const std::string language = in.PickValueInArray({"en", "de", "zh_CN"});
  const std::string file = std::string(folder.path) + "/" + language + ".json";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << in.ConsumeRemainingBytesAsString();
  }
  const nlohmann::json table = LoadLocalizationTable(folder.path, language);
  if (!table.is_null() && !table.is_object()) std::abort();
  std::remove(file.c_str());
  return 0;
}
