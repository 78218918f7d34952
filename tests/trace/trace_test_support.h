// Shared pieces of the trace tests: private object names per test process, the debugger channel reader, the
// raw view of the shared block, and child processes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "trace/process_cache.h"

namespace trace_test {

// The shared-memory name this test process uses (also handed to helper processes).
std::string BaseName();
// True while an object of that name exists (the block, or with suffix "_Mutex" the mutex).
bool SharedObjectExists(const std::string& suffix = "");

// Reads the debugger channel of this test process's names.
class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  // Everything received until nothing came for quietMs, cut into lines (line ends kept).
  std::vector<std::string> Lines(int quietMs = 100);

 private:
  int socket_;
};

// Four upper-case hex digits, as identifiers appear in trace lines.
std::string Hex4(uint32_t value);
// Lines of lines that contain text.
std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& text);
// The lines with the raw-notice time ("hh:mm:ss.mmm ") taken off.
std::string WithoutTime(const std::string& line);

// The shared block under the lock, for looking at and changing records as another process would.
qvtrace::ProcessCache* LockedCache();
void UnlockCache();

// A started helper process (tests/trace/helper) with pipes to its input and output.
class Child {
 public:
  // helper: args follow the helper program and this process's base name; discardOutput: output to /dev/null.
  explicit Child(const std::vector<std::string>& args, bool helper = true, bool discardOutput = false);
  ~Child();
  bool ReadLine(std::string* line, int timeoutMs = 5000);
  void Write(const std::string& text);
  void CloseInput();
  // Exit code, or -1 when it did not end within the time (or was killed by a signal: 128 + signal).
  int Wait(int timeoutMs = 10000);
  void Kill();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffered_;
  int status_ = -1;
};

// The whole content of a file, empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Waits up to timeoutMs for the file to contain text.
bool WaitForFileText(const std::string& path, const std::string& text, int timeoutMs = 3000);
// A temporary path of this test process, removed at the end; no file is there yet.
std::string TempPath(const std::string& name);

}  // namespace trace_test
