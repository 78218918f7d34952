// The host side of every end-to-end test: the development host's server on a loopback port and the real
// plug-in executable (native, or the Windows one under wine) started with the four command-line pairs.
// One test thread uses it; the server runs its own thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/devhost/child_process.h"
#include "tools/devhost/dev_host_server.h"

class PluginTestHost {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts command (the program, or a launcher and the program) with the four pairs for this host's port;
  // its console output goes to outputPath. False when it did not start or did not connect in time.
  bool Start(std::vector<std::string> command, const std::string& outputPath, const std::string& uuid = "U-1",
             const std::string& registerEvent = "registerPlugin",
             std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Starts the native executable with extra environment entries ("NAME=value") and waits for its registration.
  bool Launch(const std::string& executable, const std::vector<std::string>& environment,
              const std::string& outputPath);

  void Send(const nlohmann::json& message);

  // The next message for which match is true; earlier ones are dropped. Null on time-out (generous: a busy
  // 2-core machine running sanitizer builds side by side is slow to start a graph).
  nlohmann::json WaitFor(const std::function<bool(const nlohmann::json&)>& match,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
  nlohmann::json WaitForEvent(const std::string& event, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // As WaitFor, the message's text as it arrived (for byte-exact checks); "" on time-out.
  std::string WaitForText(const std::function<bool(const nlohmann::json&)>& match,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // The raw text of every message received and not yet taken.
  std::vector<std::string> TakeAllText();
  std::vector<nlohmann::json> TakeAll();

  // Gives the plug-in time to handle what was sent. Only where no answered round trip can order a check: a
  // pause proves nothing on a busy machine.
  void Settle(std::chrono::milliseconds pause = std::chrono::milliseconds(300));

  // Closes the connection; the plug-in's exit code, or -1 when it did not end in time (it is then killed).
  int CloseAndWait(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

  bool Running() { return m_child.Running(); }
  // The plug-in's process id, for measuring its CPU use.
  pid_t Pid() const { return m_child.Pid(); }
  DevHostServer& Server() { return m_server; }

 private:
  DevHostServer m_server;
  ChildProcess m_child;
};

// Starts the executable against a host listening on port, with extra environment entries ("NAME=value") and
// its console output going to outputPath. False with error set when it did not start.
bool StartPlugin(ChildProcess& child, const std::string& executable, uint16_t port,
                 const std::vector<std::string>& environment, const std::string& outputPath, std::string& error);
// The exit code, or -1 after killing the process when it did not end in time.
int WaitExit(ChildProcess& process, std::chrono::milliseconds timeout);

// Host messages as unmasked WebSocket text frames, for a raw test host to send.
std::string HostTextFrames(const std::vector<nlohmann::json>& messages);

// A process's resident memory in kB, or -1 when it cannot be read.
long ResidentKilobytes(pid_t pid);

// The emulator's trace file, one parsed JSON value per line.
std::vector<nlohmann::json> ReadSimTrace(const std::string& path);

// The "set" property requests of a trace as (id, data) pairs.
std::vector<std::pair<int, std::string>> PropertySets(const std::vector<nlohmann::json>& trace);

// A path in a temporary folder of this test process, removed when the process ends.
std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const std::string& text);
std::string ReadFile(const std::string& path);
