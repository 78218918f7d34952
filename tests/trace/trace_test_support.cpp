// Shared pieces of the trace tests.
#include "tests/trace/trace_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "trace/debug_channel_posix.h"
#include "trace/object_names_posix.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

extern char** environ;

namespace trace_test {
namespace {

std::vector<std::string> g_tempFiles;

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

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new NamesEnvironment);

}  // namespace

std::string BaseName() { return "QVTRACE_TEST_" + std::to_string(getpid()); }

bool SharedObjectExists(const std::string& suffix) {
  const std::string path = qvtrace::SharedObjectPath(qvtrace::Utf8ToWide(BaseName() + suffix).c_str());
  int fd = shm_open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

DebugCapture::DebugCapture() : socket_(qvtrace::OpenDebugMonitor(qvtrace::Utf8ToWide(BaseName()).c_str())) {
  EXPECT_GE(socket_, 0);
}

DebugCapture::~DebugCapture() {
  if (socket_ >= 0) close(socket_);
}

std::vector<std::string> DebugCapture::Lines(int quietMs) {
  std::string received;
  std::string text;
  while (socket_ >= 0 && qvtrace::ReadDebugMonitor(socket_, &text, quietMs)) received += text;
  std::vector<std::string> lines;
  std::istringstream stream(received);
  for (std::string line; std::getline(stream, line);) lines.push_back(stream.eof() ? line : line + "\n");
  return lines;
}

std::string Hex4(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04X", value);
  return text;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& text) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

std::string WithoutTime(const std::string& line) { return line.size() >= 13 ? line.substr(13) : line; }

qvtrace::ProcessCache* LockedCache() {
  TraceLock();
  return QVTRACE_GM_GetProcessCachePtr();
}

void UnlockCache() { TraceUnlock(); }

Child::Child(const std::vector<std::string>& args, bool helper, bool discardOutput) {
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  if (discardOutput) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  }
  std::vector<std::string> all;
  if (helper) {
    all.push_back(TRACE_TEST_HELPER);
    all.push_back(BaseName());
  }
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
}

Child::~Child() {
  if (pid_ > 0 && status_ == -1) {
    Kill();
    Wait();
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

bool Child::ReadLine(std::string* line, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      *line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    struct pollfd waiting = {out_, POLLIN, 0};
    if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[512];
    ssize_t n = read(out_, buffer, sizeof(buffer));
    if (n <= 0) return false;
    buffered_.append(buffer, static_cast<size_t>(n));
  }
}

void Child::Write(const std::string& text) {
  if (in_ >= 0 && write(in_, text.data(), text.size()) < 0) {
  }
}

void Child::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

int Child::Wait(int timeoutMs) {
  if (status_ != -1 || pid_ <= 0) return status_;
  for (int waited = 0; waited <= timeoutMs; waited += 5) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

void Child::Kill() {
  if (pid_ > 0 && status_ == -1) kill(pid_, SIGKILL);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool WaitForFileText(const std::string& path, const std::string& text, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 5) {
    if (ReadFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::string TempPath(const std::string& name) {
  const std::string path = "/tmp/qvtrace-test-" + std::to_string(getpid()) + "-" + name;
  unlink(path.c_str());  // a repeated test starts without the last run's file
  g_tempFiles.push_back(path);
  return path;
}

}  // namespace trace_test
