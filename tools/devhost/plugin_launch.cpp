// How a development host starts a plug-in.
#include "tools/devhost/plugin_launch.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include <nlohmann/json.hpp>

std::string NewPluginUUID() {
  std::random_device device;
  std::mt19937_64 generator((static_cast<uint64_t>(device()) << 32) ^ device());
  const uint64_t high = generator();
  const uint64_t low = generator();
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

std::string MakeInfoBlock(const std::string& language) {
  const nlohmann::json info = {
      {"application", {{"language", language}, {"platform", "windows"}, {"version", "6.0"}}},
      {"devices", nlohmann::json::array()},
  };
  return info.dump();
}

namespace {

bool OnPath(const std::string& name, std::string& found) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string list = path;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string dir = list.substr(start, end - start);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) {
      found = candidate;
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string FindWine() {
  const char* fromEnvironment = std::getenv("WINE");
  if (fromEnvironment && *fromEnvironment) return fromEnvironment;
  std::string found;
  if (OnPath("wine64", found) || OnPath("wine", found)) return found;
  return "/usr/lib/wine/wine64";
}

std::vector<std::string> PluginArguments(const PluginLaunch& launch) {
  std::vector<std::string> args;
  if (launch.underWine) args.push_back(FindWine());
  args.push_back(launch.executable);
  args.insert(args.end(), {"-port", std::to_string(launch.port), "-pluginUUID", launch.pluginUUID,
                           "-registerEvent", launch.registerEvent, "-info", launch.info});
  return args;
}
