// Starting the Windows build's programs under wine from the Linux side, for the wine scenarios. Used from
// the test thread only.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

struct WineSettings {
  std::string wine;          // the wine64 loader
  std::string windowsBuild;  // build/windows
  std::string work;          // a folder of this run (the prefix lies in it)
};

// Settings given on the runner's command line; set once by main.
WineSettings& Wine();

// A Windows process under wine with its standard output and error in files. Wine's background processes
// inherit both, so a pipe would stay open until the wineserver leaves; files do not wait.
class WineProcess {
 public:
  WineProcess() = default;
  ~WineProcess();
  WineProcess(const WineProcess&) = delete;
  WineProcess& operator=(const WineProcess&) = delete;

  // Starts `program` (a Linux path) with `args` and extra environment variables; false when it cannot start.
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env, const std::string& outputFile);
  // The exit code, or -1 after killing the process when it did not end in time.
  int Wait(std::chrono::milliseconds timeout);
  bool Running();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Runs to completion; returns the exit code (-1 on time-out) and leaves the output in `outputFile`.
int RunWine(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& outputFile,
            std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The path under which Windows programs in the prefix see a Linux file (drive Z: is the Linux root).
std::string WindowsPath(const std::string& linuxPath);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
std::vector<std::string> ReadLines(const std::string& path);

// Registers the emulated device's COM server in the prefix for configuration file `config` (a Linux
// path; empty for the emulator's default configuration); true when regsvr32 reports success.
bool RegisterEmulator(const std::string& config, const std::string& outputFile);
// Removes the registration; true on success.
bool UnregisterEmulator(const std::string& outputFile);
