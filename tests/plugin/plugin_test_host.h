// A host for end-to-end tests: listens on a loopback port, starts the real plug-in executable with the
// four command-line pairs and the emulator's environment, and collects what the plug-in sends.
// Threads: the WebSocket server runs on its own thread; the test thread calls everything here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/types.h>

#include <nlohmann/json.hpp>

class PluginTestHost {
 public:
  using Clock = std::chrono::steady_clock;

  PluginTestHost();
  ~PluginTestHost();

  // Starts the executable with extra environment entries ("NAME=value"). False when it could not start
  // or did not register within the time-out.
  bool Launch(const std::string& executable, const std::vector<std::string>& environment);

  void Send(const nlohmann::json& message);

  // The next received message (after the registration) for which match is true; earlier non-matching
  // ones are dropped. Null on time-out.
  nlohmann::json WaitFor(const std::function<bool(const nlohmann::json&)>& match,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  nlohmann::json WaitForEvent(const std::string& event,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  // Every message received so far and not yet taken.
  std::vector<nlohmann::json> TakeAll();
  // Raw text of the messages received so far, not yet taken (for byte-exact checks).
  std::vector<std::string> TakeAllText();

  // Waits until the plug-in has handled everything sent so far: sends an event the plug-in ignores and
  // then a "keyDown", and gives it the time it needs. Used to prove that nothing was sent.
  void Settle(std::chrono::milliseconds pause = std::chrono::milliseconds(300));

  // Closes the connection and returns the plug-in's exit code (-1 when it did not end in time, which
  // kills it; -2 when it ended by a signal).
  int CloseAndWait(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

  pid_t Pid() const { return m_pid; }
  const std::string& Registration() const { return m_registration; }

 private:
  struct Server;
  std::unique_ptr<Server> m_server;
  std::thread m_thread;
  pid_t m_pid = -1;
  std::string m_registration;

  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::deque<std::string> m_inbox;
  bool m_closed = false;
  bool m_open = false;
};

// Lines of the emulator's trace file, parsed; lines that are not JSON are skipped.
std::vector<nlohmann::json> ReadSimTrace(const std::string& path);

// Only the "set" property requests of a trace, as {id, data} pairs.
std::vector<std::pair<int, std::string>> PropertySets(const std::vector<nlohmann::json>& trace);

// A file in a fresh temporary folder of the test; removed with the folder at exit.
std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const std::string& text);
