// A child process started with an argument vector, its standard streams sent to a file (never inherited, so a
// lingering grandchild such as wineserver cannot hold the caller's pipes open). Not thread-safe: one owner.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Marks a descriptor so that no program started later inherits it; false when that fails (errno is set).
bool SetCloseOnExec(int fd);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills and reaps a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (searched on PATH when it has no "/"); stdin from /dev/null, stdout and stderr appended to
  // outputPath ("" = /dev/null), no other descriptor of this process. False with error set when it cannot
  // start.
  // A child in a process group of its own does not receive the terminal's Ctrl+C (set before Start).
  void SetOwnProcessGroup(bool own) { m_ownProcessGroup = own; }
  bool Start(const std::vector<std::string>& argv, const std::string& outputPath, std::string& error);

  // Waits for the exit; true once it has ended. Then ExitCode() is its code, or 128 + signal when a
  // signal ended it.
  bool WaitForExit(std::chrono::milliseconds timeout);
  bool Running();
  int ExitCode() const { return m_exitCode; }
  // Ends it with SIGKILL and reaps it.
  void Kill();
  pid_t Pid() const { return m_pid; }

 private:
  bool Reap(bool block);

  bool m_ownProcessGroup = false;
  pid_t m_pid = -1;
  bool m_exited = false;
  int m_exitCode = -1;
};
