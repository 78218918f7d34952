#include "tests/wine/wine_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

WineSettings& Wine() {
  static WineSettings settings;
  return settings;
}

std::vector<std::string> WineCommand(const std::string& program, const Environment& env) {
  std::vector<std::string> argv{"env", "-u", "PNX_SIM_DEVICES", "-u", "PNX_SIM_TRACE"};
  for (const auto& [name, value] : env) argv.push_back(name + "=" + value);
  argv.push_back(Wine().wine);
  argv.push_back(program);
  return argv;
}

bool StartWine(ChildProcess& process, const std::string& program, const std::vector<std::string>& args,
               const Environment& env, const std::string& outputFile) {
  std::vector<std::string> argv = WineCommand(program, env);
  argv.insert(argv.end(), args.begin(), args.end());
  std::string error;
  return process.Start(argv, outputFile, error);
}

int RunWine(const std::string& program, const std::vector<std::string>& args, const Environment& env,
            const std::string& outputFile, std::chrono::milliseconds timeout) {
  ChildProcess process;
  return StartWine(process, program, args, env, outputFile) ? WaitExit(process, timeout) : -1;
}

std::string WindowsPath(const std::string& linuxPath) {
  std::string path = "Z:" + linuxPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
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

std::string Scenario(const std::string& name) {
  return Wine().work + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + name;
}

std::string Dump(const std::string& file) { return "--- " + file + ":\n" + ReadFile(file); }

namespace {

std::string SimDeviceDll() { return Wine().windowsBuild + "/tools/simdevice/pnx_simdevice.dll"; }

}  // namespace

bool RegisterEmulator(const std::string& config, const std::string& outputFile) {
  Environment env;
  // An empty value would be a path; the default configuration needs the variable absent.
  if (!config.empty()) env["PNX_SIM_DEVICES"] = WindowsPath(config);
  std::vector<std::string> args{"/s", WindowsPath(SimDeviceDll())};
  return RunWine("regsvr32", args, env, outputFile) == 0;
}

bool UnregisterEmulator(const std::string& outputFile) {
  return RunWine("regsvr32", {"/s", "/u", WindowsPath(SimDeviceDll())}, {}, outputFile) == 0;
}
