#include "tests/wine/wine_session.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

WineSettings& Wine() {
  static WineSettings settings;
  return settings;
}

WineProcess::~WineProcess() {
  if (pid_ > 0) Wait(std::chrono::milliseconds(0));
}

bool WineProcess::Start(const std::string& program, const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env, const std::string& outputFile) {
  std::vector<std::string> argStrings{Wine().wine, program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    size_t eq = entry.find('=');
    // The emulator's settings come from the scenario alone, never from the caller's shell.
    if (eq == std::string::npos || entry.compare(0, 8, "PNX_SIM_") == 0) continue;
    merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : env) merged[name] = value;
  std::vector<std::string> envStrings;
  for (const auto& [name, value] : merged) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  int rc = posix_spawn(&pid_, Wine().wine.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) pid_ = -1;
  return rc == 0;
}

bool WineProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return false;
  }
  return true;
}

int WineProcess::Wait(std::chrono::milliseconds timeout) {
  auto end = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
      status_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

int RunWine(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& outputFile,
            std::chrono::milliseconds timeout) {
  WineProcess process;
  if (!process.Start(program, args, env, outputFile)) return -1;
  return process.Wait(timeout);
}

std::string WindowsPath(const std::string& linuxPath) {
  std::string path = "Z:" + linuxPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

namespace {

std::string SimDeviceDll() { return Wine().windowsBuild + "/tools/simdevice/pnx_simdevice.dll"; }

}  // namespace

bool RegisterEmulator(const std::string& config, const std::string& outputFile) {
  std::map<std::string, std::string> env;
  // An empty value would be a path; the default configuration needs the variable absent.
  if (!config.empty()) env["PNX_SIM_DEVICES"] = WindowsPath(config);
  std::vector<std::string> args{"/s", WindowsPath(SimDeviceDll())};
  return RunWine("regsvr32", args, env, outputFile) == 0;
}

bool UnregisterEmulator(const std::string& outputFile) {
  return RunWine("regsvr32", {"/s", "/u", WindowsPath(SimDeviceDll())}, {}, outputFile) == 0;
}
