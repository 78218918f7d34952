// The host's command line: the input split at NUL bytes into arguments after the program name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args = {"BrelvonMultiview"};
  for (size_t at = 0; size > 0 && at <= size && args.size() <= 64; at += args.back().size() + 1) {
    args.push_back(input.substr(at, input.find('\0', at) - at));
  }
  if (args.size() > 64) return 0;

  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  CommandLine line;
  const bool accepted = ParseCommandLine(static_cast<int>(args.size()), argv.data(), line);
  // An accepted line has all four values and a port that is not 0.
  if (accepted && (line.port == 0 || line.pluginUUID.empty() || line.registerEvent.empty() || line.info.empty())) {
    std::abort();
  }
  for (const std::string& arg : args) ConvertPortValue(arg.c_str());
  const std::string language = ReadLanguage(line.info);
  (void)language;
  return 0;
}
