// A child process started with posix_spawn.
#include "tools/devhost/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

bool SetCloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  return flags >= 0 && fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == 0;
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && !m_exited) Kill();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& outputPath,
                         std::string& error) {
  if (argv.empty()) {
    error = "no program given";
    return false;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const std::string output = outputPath.empty() ? "/dev/null" : outputPath;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // Sockets and pipes of this process (asio opens them without close-on-exec) stay here: a child that
  // outlives its host must not hold the host's port or keep its pipes open.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (m_ownProcessGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  const int rc = posix_spawnp(&m_pid, argv[0].c_str(), &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    m_pid = -1;
    error = "cannot start " + argv[0] + ": " + std::strerror(rc);
    return false;
  }
  m_exited = false;
  m_exitCode = -1;
  return true;
}

bool ChildProcess::Reap(bool block) {
  if (m_pid <= 0) return true;
  if (m_exited) return true;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(m_pid, &status, block ? 0 : WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return false;
  m_exited = true;
  if (r < 0) {
    m_exitCode = -1;
  } else if (WIFEXITED(status)) {
    m_exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    m_exitCode = 128 + WTERMSIG(status);
  }
  return true;
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Reap(false)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ChildProcess::Running() { return m_pid > 0 && !Reap(false); }

void ChildProcess::Kill() {
  if (m_pid <= 0 || Reap(false)) return;
  kill(m_pid, SIGKILL);
  Reap(true);
}
