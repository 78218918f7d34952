// pnx-devhost's web mode: the plug-in of an assembled bundle, started as a key-panel host would start it, and a
// panel page with its property inspector in a browser, all served on one loopback port.
#pragma once

#include <cstdint>
#include <string>

struct WebHostOptions {
  std::string pluginFolder;
  uint16_t port = 0;
  std::string settingsPath;  // "" = devhost-settings.json beside the executable
  bool wine = false;
  std::string language = "en";
  std::string pluginOutput;  // "" = discarded
};

// Parses the web mode's command line (argv holds "--web" somewhere); false on a usage error.
bool ParseWebHostOptions(int argc, char* argv[], WebHostOptions& options);
extern const char kWebHostUsage[];

// Serves until SIGINT, SIGTERM or the end of standard input; the exit status.
int RunWebHost(const WebHostOptions& options);
