// End-to-end test host: websocketpp server on loopback plus the spawned plug-in process.
#include "tests/plugin/plugin_test_host.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

extern char** environ;

using nlohmann::json;
using WsServer = websocketpp::server<websocketpp::config::asio>;

struct PluginTestHost::Server {
  WsServer endpoint;
  websocketpp::connection_hdl connection;
  uint16_t port = 0;
};

PluginTestHost::PluginTestHost() : m_server(new Server) {
  WsServer& s = m_server->endpoint;
  s.clear_access_channels(websocketpp::log::alevel::all);
  s.clear_error_channels(websocketpp::log::elevel::all);
  s.init_asio();
  s.set_reuse_addr(true);
  s.set_open_handler([this](websocketpp::connection_hdl hdl) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_server->connection = hdl;
    m_open = true;
    m_arrived.notify_all();
  });
  s.set_close_handler([this](websocketpp::connection_hdl) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_closed = true;
    m_arrived.notify_all();
  });
  s.set_message_handler([this](websocketpp::connection_hdl, WsServer::message_ptr message) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_inbox.push_back(message->get_payload());
    m_arrived.notify_all();
  });
  asio::error_code ec;
  s.listen(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0), ec);
  s.start_accept();
  m_server->port = s.get_local_endpoint(ec).port();
  m_thread = std::thread([this] { m_server->endpoint.run(); });
}

PluginTestHost::~PluginTestHost() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
  }
  asio::post(m_server->endpoint.get_io_service(), [this] {
    websocketpp::lib::error_code ec;
    m_server->endpoint.stop_listening(ec);
    m_server->endpoint.stop();
  });
  m_thread.join();
}

bool PluginTestHost::Launch(const std::string& executable, const std::vector<std::string>& environment) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    env[entry.substr(0, entry.find('='))] = entry;
  }
  for (const std::string& entry : environment) env[entry.substr(0, entry.find('='))] = entry;
  std::vector<std::string> envStrings;
  for (auto& kv : env) envStrings.push_back(kv.second);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(&s[0]);
  envp.push_back(nullptr);

  std::vector<std::string> args = {executable, "-port", std::to_string(m_server->port), "-pluginUUID",
                                   "PLUGIN-UUID-1", "-registerEvent", "registerPlugin",
                                   "-info", R"({"application":{"language":"en"}})"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  if (posix_spawn(&m_pid, executable.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
    m_pid = -1;
    return false;
  }
  std::unique_lock<std::mutex> hold(m_lock);
  if (!m_arrived.wait_for(hold, std::chrono::seconds(20), [this] { return !m_inbox.empty() || m_closed; })) {
    return false;
  }
  if (m_inbox.empty()) return false;
  m_registration = m_inbox.front();
  m_inbox.pop_front();
  return true;
}

void PluginTestHost::Send(const json& message) {
  std::string text = message.dump();
  asio::post(m_server->endpoint.get_io_service(), [this, text] {
    websocketpp::lib::error_code ec;
    m_server->endpoint.send(m_server->connection, text, websocketpp::frame::opcode::text, ec);
  });
}

json PluginTestHost::WaitFor(const std::function<bool(const json&)>& match, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::unique_lock<std::mutex> hold(m_lock);
  for (;;) {
    while (!m_inbox.empty()) {
      std::string text = std::move(m_inbox.front());
      m_inbox.pop_front();
      json message = json::parse(text, nullptr, false);
      if (match(message)) return message;
    }
    if (m_arrived.wait_until(hold, deadline) == std::cv_status::timeout && m_inbox.empty()) return json();
  }
}

json PluginTestHost::WaitForEvent(const std::string& event, std::chrono::milliseconds timeout) {
  return WaitFor([&](const json& m) { return m.is_object() && m.value("event", "") == event; }, timeout);
}

std::vector<json> PluginTestHost::TakeAll() {
  std::vector<json> all;
  for (const std::string& text : TakeAllText()) all.push_back(json::parse(text, nullptr, false));
  return all;
}

std::vector<std::string> PluginTestHost::TakeAllText() {
  std::lock_guard<std::mutex> hold(m_lock);
  std::vector<std::string> all(m_inbox.begin(), m_inbox.end());
  m_inbox.clear();
  return all;
}

void PluginTestHost::Settle(std::chrono::milliseconds pause) {
  // A "keyUp" without settings is answered by nothing, so only time can tell; events are handled in
  // order, so after the pause every earlier event has been handled too.
  Send(json{{"event", "keyDown"}, {"context", "settle"}});
  std::this_thread::sleep_for(pause);
}

int PluginTestHost::CloseAndWait(std::chrono::milliseconds timeout) {
  asio::post(m_server->endpoint.get_io_service(), [this] {
    websocketpp::lib::error_code ec;
    m_server->endpoint.close(m_server->connection, websocketpp::close::status::normal, "", ec);
  });
  if (m_pid <= 0) return -1;
  const auto deadline = Clock::now() + timeout;
  int status = 0;
  while (Clock::now() < deadline) {
    pid_t done = waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
      m_pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(m_pid, SIGKILL);
  waitpid(m_pid, nullptr, 0);
  m_pid = -1;
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
  // One folder per test process, removed when the process ends.
  struct Folder {
    std::string path;
    Folder() {
      std::string pattern = (std::filesystem::temp_directory_path() / "pnx-plugin-test-XXXXXX").string();
      const char* made = mkdtemp(&pattern[0]);
      path = made ? made : std::filesystem::temp_directory_path().string();
    }
    ~Folder() {
      std::error_code ec;
      if (path != std::filesystem::temp_directory_path().string()) std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path + "/" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
}
