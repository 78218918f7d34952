// How a development host starts a plug-in: its four command-line pairs, and wine for a Windows build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PluginLaunch {
  std::string executable;
  bool underWine = false;
  uint16_t port = 0;
  std::string pluginUUID;
  std::string registerEvent = "registerPlugin";
  std::string info;
};

// A fresh random identifier in the 8-4-4-4-12 hexadecimal form.
std::string NewPluginUUID();

// The information block a host hands over: "application" with "language" and "platform".
std::string MakeInfoBlock(const std::string& language);

// The wine loader: $WINE, else wine64 or wine on PATH, else Debian's /usr/lib/wine/wine64.
std::string FindWine();

// The full argument vector: [wine] executable -port P -pluginUUID U -registerEvent E -info I.
std::vector<std::string> PluginArguments(const PluginLaunch& launch);
