// Starting the Windows build's programs under wine from the Linux side, and the scenarios' files. Used from
// the test thread only.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/plugin/plugin_test_host.h"

struct WineSettings {
  std::string wine;          // the wine64 loader
  std::string windowsBuild;  // build/windows
  std::string work;          // a folder of this run (the prefix lies in it)
};

// Settings given on the runner's command line; set once by main.
WineSettings& Wine();

using Environment = std::map<std::string, std::string>;

// The command that starts `program` (a Linux path) under wine; the emulator's variables come from `env` alone,
// never from the caller's shell.
std::vector<std::string> WineCommand(const std::string& program, const Environment& env);
// Starts it with `args`. Output goes to a file: wine's background processes inherit it, so a pipe would stay
// open until the wineserver leaves.
bool StartWine(ChildProcess& process, const std::string& program, const std::vector<std::string>& args,
               const Environment& env, const std::string& outputFile);
int RunWine(const std::string& program, const std::vector<std::string>& args, const Environment& env,
            const std::string& outputFile, std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The path under which Windows programs in the prefix see a Linux file (drive Z: is the Linux root).
std::string WindowsPath(const std::string& linuxPath);

std::vector<std::string> ReadLines(const std::string& path);
// A file of the running scenario in the run's folder, and its text for a failure message.
std::string Scenario(const std::string& name);
std::string Dump(const std::string& file);

// Registers the emulated device's COM server in the prefix for configuration file `config` (a Linux
// path; empty for the emulator's default configuration); true when regsvr32 reports success.
bool RegisterEmulator(const std::string& config, const std::string& outputFile);
// Removes the registration; true on success.
bool UnregisterEmulator(const std::string& outputFile);
