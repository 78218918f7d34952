// End-to-end test host over the development host's server and child process.
#include "tests/plugin/plugin_test_host.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/host/raw_host.h"
#include "tools/devhost/plugin_launch.h"

using nlohmann::json;

bool StartPlugin(ChildProcess& child, const std::string& executable, uint16_t port,
                 const std::vector<std::string>& environment, const std::string& outputPath, std::string& error) {
  PluginLaunch launch;
  launch.executable = executable;
  launch.port = port;
  launch.pluginUUID = NewPluginUUID();
  launch.info = MakeInfoBlock("en");
  // env(1) sets the emulator's variables for the child alone and then becomes the plug-in (same pid).
  std::vector<std::string> argv = {"env"};
  argv.insert(argv.end(), environment.begin(), environment.end());
  for (const std::string& arg : PluginArguments(launch)) argv.push_back(arg);
  return child.Start(argv, outputPath, error);
}

std::string HostTextFrames(const std::vector<json>& messages) {
  std::string frames;
  for (const json& message : messages) frames += RawHost::ServerFrame(0x1, message.dump());
  return frames;
}

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

bool PluginTestHost::Start(std::vector<std::string> command, const std::string& outputPath,
                           const std::string& uuid, const std::string& registerEvent,
                           std::chrono::milliseconds timeout) {
  const std::vector<std::string> pairs = {"-port", std::to_string(m_server.Port()), "-pluginUUID", uuid,
                                          "-registerEvent", registerEvent, "-info", MakeInfoBlock("en")};
  command.insert(command.end(), pairs.begin(), pairs.end());
  std::string error;
  return m_child.Start(command, outputPath, error) && m_server.WaitForConnection(timeout);
}

bool PluginTestHost::Launch(const std::string& executable, const std::vector<std::string>& environment,
                            const std::string& outputPath) {
  std::string error;
  if (!StartPlugin(m_child, executable, m_server.Port(), environment, outputPath, error)) return false;
  DevHostServer::Message registration;
  return m_server.WaitForConnection(std::chrono::seconds(20)) &&
         m_server.NextMessage(registration, std::chrono::seconds(20));
}

void PluginTestHost::Send(const json& message) { m_server.SendText(message.dump()); }

json PluginTestHost::WaitFor(const std::function<bool(const json&)>& match, std::chrono::milliseconds timeout) {
  json found;
  WaitForText(
      [&](const json& m) {
        if (!match(m)) return false;
        found = m;
        return true;
      },
      timeout);
  return found;
}

std::string PluginTestHost::WaitForText(const std::function<bool(const json&)>& match,
                                        std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  DevHostServer::Message message;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0 || !m_server.NextMessage(message, left)) return "";
    if (match(json::parse(message.text, nullptr, false))) return message.text;
  }
}

json PluginTestHost::WaitForEvent(const std::string& event, std::chrono::milliseconds timeout) {
  return WaitFor([&](const json& m) { return m.is_object() && m.value("event", "") == event; }, timeout);
}

std::vector<std::string> PluginTestHost::TakeAllText() {
  std::vector<std::string> all;
  DevHostServer::Message message;
  while (m_server.NextMessage(message, std::chrono::milliseconds(0))) all.push_back(message.text);
  return all;
}

std::vector<json> PluginTestHost::TakeAll() {
  std::vector<json> all;
  for (const std::string& text : TakeAllText()) all.push_back(json::parse(text, nullptr, false));
  return all;
}

void PluginTestHost::Settle(std::chrono::milliseconds pause) {
  // Events are handled in order and nothing answers "keyDown", so after the pause everything sent before
  // has been handled.
  Send(json{{"event", "keyDown"}, {"context", "settle"}});
  std::this_thread::sleep_for(pause);
}

int PluginTestHost::CloseAndWait(std::chrono::milliseconds timeout) {
  m_server.Close();
  return WaitExit(m_child, timeout);
}

int WaitExit(ChildProcess& process, std::chrono::milliseconds timeout) {
  if (process.WaitForExit(timeout)) return process.ExitCode();
  process.Kill();
  return -1;
}

std::vector<json> ReadSimTrace(const std::string& path) {
  std::vector<json> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    json parsed = json::parse(line, nullptr, false);
    if (!parsed.is_discarded()) lines.push_back(std::move(parsed));
  }
  return lines;
}

std::vector<std::pair<int, std::string>> PropertySets(const std::vector<json>& trace) {
  std::vector<std::pair<int, std::string>> sets;
  for (const json& line : trace) {
    if (line.value("op", "") == "set") sets.emplace_back(line.value("id", 0), line.value("data", ""));
  }
  return sets;
}

std::string TempPath(const std::string& name) {
  struct Folder {
    std::filesystem::path path;
    Folder() {
      std::string pattern = (std::filesystem::temp_directory_path() / "pnx-plugin-test-XXXXXX").string();
      if (mkdtemp(&pattern[0])) path = pattern;
    }
    ~Folder() {
      std::error_code ec;
      if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return (folder.path / name).string();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
