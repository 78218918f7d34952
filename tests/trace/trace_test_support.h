// Shared pieces of the trace tests: private object names per test process, the debugger channel reader, child
// processes (the helper program or any other) and small text and file helpers.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "trace/debug_channel_posix.h"
#include "trace/object_names_posix.h"
#include "trace/process_cache.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

extern char** environ;

namespace trace_test {

// The shared-memory name this test process uses (also handed to helper processes).
inline std::string BaseName() { return "QVTRACE_TEST_" + std::to_string(getpid()); }

inline std::vector<std::string> g_tempFiles;

// Every test process has names of its own, so test runs meet neither each other nor a running plug-in, and
// leaves no object behind.
class NamesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { TraceSetObjectNamesForTesting(qvtrace::Utf8ToWide(BaseName()).c_str()); }
  void TearDown() override {
    TraceRemoveObjectsForTesting();
    for (const std::string& path : g_tempFiles) unlink(path.c_str());
  }
};
inline ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new NamesEnvironment);

// True while the shared block of this process's names exists.
inline bool BlockExists() {
  int fd = shm_open(qvtrace::SharedObjectPath(TraceCacheName()).c_str(), O_RDONLY, 0);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// Reads the debugger channel of this test process's names. The channel keeps only a few datagrams (two a raw
// notice) for a reader that is behind, so read often.
class DebugCapture {
 public:
  DebugCapture() : m_socket(qvtrace::OpenDebugMonitor(qvtrace::Utf8ToWide(BaseName()).c_str())) {
    EXPECT_GE(m_socket, 0);
  }
  ~DebugCapture() {
    if (m_socket >= 0) close(m_socket);
  }
  // Everything received until nothing came for quietMs, cut into lines (line ends kept).
  std::vector<std::string> Lines(int quietMs = 100) {
    std::string received;
    std::string text;
    while (m_socket >= 0 && qvtrace::ReadDebugMonitor(m_socket, &text, quietMs)) received += text;
    std::vector<std::string> lines;
    std::istringstream stream(received);
    for (std::string line; std::getline(stream, line);) lines.push_back(stream.eof() ? line : line + "\n");
    return lines;
  }
  // The raw notices received: lines with their time ("hh:mm:ss.mmm ") checked and taken off.
  std::vector<std::string> Notices() {
    std::vector<std::string> lines = Lines();
    for (std::string& line : lines) {
      EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d\d:\d\d:\d\d\.\d\d\d )"))) << line;
      line.erase(0, 13);
    }
    return lines;
  }

 private:
  int m_socket;
};

// Four upper-case hex digits, as identifiers appear in trace lines.
inline std::string Hex4(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04X", value);
  return text;
}

// Lines of lines that contain text.
inline std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& text) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

// The calling thread's record, changed under the lock as another process would change it.
template <typename Change>
void ChangeOwnThread(Change change) {
  TraceLock();
  if (qvtrace::ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), TraceCurrentThreadId(), 1, 0)) {
    change(thread);
  }
  TraceUnlock();
}

// A copy of a thread's record of this process (threadId 0: none) and the process's registration count (-1: none).
inline qvtrace::ThreadInfo Record(uint32_t threadId, int* processCount = nullptr) {
  qvtrace::ThreadInfo copy{};
  TraceLock();
  if (qvtrace::ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), threadId, 0, 0)) copy = *thread;
  const qvtrace::ProcInfo* proc = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 0, 0);
  if (processCount != nullptr) *processCount = proc != nullptr ? proc->refCount : -1;
  TraceUnlock();
  return copy;
}

#ifdef TRACE_TEST_HELPER  // given to the trace tests only
// A started program (with helper: tests/trace/helper, this process's base name, then args), with pipes to its
// input and from its output; killed at the end if still running.
class Child {
 public:
  explicit Child(std::vector<std::string> args, bool helper = true) {
    if (helper) args.insert(args.begin(), {TRACE_TEST_HELPER, BaseName()});
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    m_in = toChild[1];
    m_out = fromChild[0];
  }
  ~Child() {
    Kill();
    Wait();
    if (m_in >= 0) close(m_in);
    if (m_out >= 0) close(m_out);
  }
  // False when nothing came for timeoutMs or the output ended.
  bool ReadLine(std::string* line, int timeoutMs = 5000) {
    size_t end;
    while ((end = m_buffered.find('\n')) == std::string::npos) {
      struct pollfd waiting = {m_out, POLLIN, 0};
      char buffer[4096];
      if (poll(&waiting, 1, timeoutMs) <= 0) return false;
      const ssize_t n = read(m_out, buffer, sizeof(buffer));
      if (n <= 0) return false;
      m_buffered.append(buffer, static_cast<size_t>(n));
    }
    *line = m_buffered.substr(0, end);
    m_buffered.erase(0, end + 1);
    return true;
  }
  void Write(const std::string& text) { EXPECT_EQ(write(m_in, text.data(), text.size()), ssize_t(text.size())); }
  // Exit code (128 + signal when killed), or -1 when it did not end within the time.
  int Wait(int timeoutMs = 10000) {
    for (int waited = 0, status = 0; m_status == -1 && m_pid > 0 && waited <= timeoutMs; waited += 5) {
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    return m_status;
  }
  void Kill() {
    if (m_pid > 0 && m_status == -1) kill(m_pid, SIGKILL);
  }

 private:
  pid_t m_pid = -1;
  int m_in = -1, m_out = -1, m_status = -1;
  std::string m_buffered;
};
#endif

// The whole content of a file, empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// Waits up to timeoutMs for the file to contain text.
inline bool WaitForFileText(const std::string& path, const std::string& text, int timeoutMs = 10000) {
  for (int waited = 0; waited <= timeoutMs; waited += 5) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// A temporary path of this test process, removed at the end; no file is there yet.
inline std::string TempPath(const std::string& name) {
  const std::string path = "/tmp/qvtrace-test-" + std::to_string(getpid()) + "-" + name;
  unlink(path.c_str());  // a repeated test starts without the last run's file
  g_tempFiles.push_back(path);
  return path;
}

}  // namespace trace_test
