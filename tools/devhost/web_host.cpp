// pnx-devhost's web mode. One websocketpp server on the main thread carries both the HTTP files and the
// WebSocket clients; everything that happens elsewhere (standard input closing) is posted to its event loop,
// and the plug-in process is watched from a timer on that loop.
#include "tools/devhost/web_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include "tools/devhost/child_process.h"
#include "tools/devhost/http_files.h"
#include "tools/devhost/panel_relay.h"
#include "tools/devhost/plugin_launch.h"
#include "tools/devhost/settings_store.h"
#include "tools/devhost/sim_devices.h"
#include "tools/devhost/web_access.h"

namespace {

using Server = websocketpp::server<websocketpp::config::asio>;
using Hdl = websocketpp::connection_hdl;
using std::chrono::milliseconds;

// Files read whole (the manifest, the devices' configuration) are small; anything larger is refused.
constexpr size_t kMaxReadBytes = 1024 * 1024;
// Served files are streamed a chunk at a time, so only one chunk per answer waits in memory; a client that
// takes nothing of an answer for kStallLimit is dropped, so it cannot keep its descriptor either.
constexpr size_t kMaxServedBytes = 64 * 1024 * 1024;
constexpr size_t kChunkBytes = 64 * 1024;
constexpr auto kStallLimit = std::chrono::seconds(10);
// What may wait to be written to one WebSocket: a preview image is skipped while more than the first bound
// waits (the page gets a later one once it has caught up); any other message, while more than the second
// waits, closes the connection instead. So a connection holds at most about one message beyond the bound.
constexpr size_t kSkipImagesAbove = 2 * 1024 * 1024;
constexpr size_t kMaxUnsentBytes = 16 * 1024 * 1024;
// While descriptors (or memory for a socket) run out, accepting waits this long, doubling, between tries.
constexpr auto kFirstAcceptPause = milliseconds(20);
constexpr auto kLastAcceptPause = milliseconds(1000);

void Warn(const std::string& line) { std::cerr << "pnx-devhost: " << line << std::endl; }

std::string ExecutableFolder() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  const std::string text(path, static_cast<size_t>(n));
  const size_t slash = text.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : text.substr(0, slash);
}


struct Manifest {
  std::string name;
  std::string executable;  // relative to the bundle folder
  std::string action;
  std::string keyImage;
  std::string inspector;
  std::vector<PanelRelay::Config::Action> actions;  // every action with an identifier, the one above first
  std::vector<std::string> executables;  // every one the manifest names, never served
};

bool ReadManifest(const std::string& folder, bool wine, Manifest& manifest, std::string& error) {
  std::string text;
  const std::string path = folder + "/manifest.json";
  if (!ReadWholeFile(path, kMaxReadBytes, text)) {
    error = "cannot read " + path;
    return false;
  }
  const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
  const auto string = [](const nlohmann::json& object, const char* name) {
    const auto found = object.is_object() ? object.find(name) : object.end();
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
  };
  const nlohmann::json executables = document.is_object() ? document.value("executables", nlohmann::json())
                                                          : nlohmann::json();
  const nlohmann::json actions = document.is_object() ? document.value("actions", nlohmann::json())
                                                      : nlohmann::json();
  const nlohmann::json action = actions.is_array() && !actions.empty() ? actions[0] : nlohmann::json();
  manifest.name = string(document, "name");
  manifest.executable = string(executables, wine ? "windows" : "linux");
  if (executables.is_object()) {
    for (const auto& entry : executables.items()) {
      if (entry.value().is_string()) manifest.executables.push_back(entry.value().get<std::string>());
    }
  }
  manifest.action = string(action, "identifier");
  manifest.keyImage = string(action, "keyImage");
  manifest.inspector = string(action, "inspector");
  for (const nlohmann::json& each : actions.is_array() ? actions : nlohmann::json::array()) {
    const std::string identifier = string(each, "identifier");
    if (identifier.empty()) continue;
    const std::string keyImage = string(each, "keyImage");
    const std::string inspector = string(each, "inspector");
    const std::string name = string(each, "name");
    manifest.actions.push_back({identifier, name.empty() ? identifier : name,
                                keyImage.empty() ? "" : "/plugin/" + keyImage,
                                "/plugin/" + (inspector.empty() ? manifest.inspector : inspector)});
  }
  if (manifest.executable.empty() || manifest.action.empty()) {
    error = path + " names no " + (wine ? "windows" : "linux") + " executable or no action";
    return false;
  }
  return true;
}

class WebHost {
 public:
  WebHost(const WebHostOptions& options, const Manifest& manifest, SettingsStore& store)
      : m_options(options), m_manifest(manifest), m_store(store) {}

  ~WebHost() {
    if (m_stdinWatcher.joinable()) {
      const char wake = 0;
      [[maybe_unused]] const ssize_t n = write(m_wakePipe[1], &wake, 1);
      m_stdinWatcher.join();
    }
    for (int fd : m_wakePipe) {
      if (fd >= 0) close(fd);
    }
  }

  int Run() {
    m_server.clear_access_channels(websocketpp::log::alevel::all);
    m_server.clear_error_channels(websocketpp::log::elevel::all);
    websocketpp::lib::error_code ec;
    m_server.init_asio(ec);
    if (ec) return Fail("cannot start the event loop: " + ec.message());
    m_signals.emplace(m_server.get_io_service());
    m_childTimer.emplace(m_server.get_io_service());
    m_acceptTimer.emplace(m_server.get_io_service());
    m_server.set_reuse_addr(true);
    // A plug-in that outlives this host must not keep its port.
    m_server.set_tcp_pre_bind_handler([](const auto& acceptor) {
      return SetCloseOnExec(acceptor->native_handle()) ? std::error_code()
                                                       : std::error_code(errno, std::system_category());
    });
    m_server.set_http_handler([this](Hdl hdl) { OnHttp(hdl); });
    m_server.set_validate_handler([this](Hdl hdl) { return OnValidate(hdl); });
    m_server.set_open_handler([this](Hdl hdl) { OnOpen(hdl); });
    m_server.set_close_handler([this](Hdl hdl) { OnEnd(hdl); });
    m_server.set_fail_handler([this](Hdl hdl) { OnEnd(hdl); });
    m_server.set_message_handler([this](Hdl hdl, Server::message_ptr msg) { OnMessage(hdl, msg); });

    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), m_options.port);
    m_server.listen(endpoint, ec);
    if (ec) return Fail("cannot listen on 127.0.0.1:" + std::to_string(m_options.port) + ": " + ec.message());
    asio::error_code aec;
    m_port = m_server.get_local_endpoint(aec).port();
    if (aec) return Fail("cannot read the listening port: " + aec.message());
    if (!Accept()) return Fail("cannot accept connections");

    m_webRoot = ExecutableFolder() + "/web";
    m_token = NewAccessToken();
    PanelRelay::Config config;
    config.port = m_port;
    config.pluginUUID = NewPluginUUID();
    config.info = MakeInfoBlock(m_options.language);
    config.language = m_options.language;
    config.pluginName = m_manifest.name;
    config.action = m_manifest.action;
    config.defaultImage = m_manifest.keyImage.empty() ? "" : "/plugin/" + m_manifest.keyImage;
    config.inspectorPage = "/plugin/" + m_manifest.inspector;
    config.actions = m_manifest.actions;
    config.token = m_token;
    for (const std::string& executable : m_manifest.executables) {
      const std::string real = ResolveServedFile(m_options.pluginFolder, executable);
      if (!real.empty()) m_unserved.push_back(real);
    }
    PanelRelay::Callbacks callbacks;
    callbacks.send = [this](PanelRelay::ClientId id, const std::string& text) { Send(id, text, false); };
    callbacks.sendSkippable = [this](PanelRelay::ClientId id, const std::string& text) { Send(id, text, true); };
    callbacks.close = [this](PanelRelay::ClientId id) { CloseClient(id, websocketpp::close::status::normal); };
    callbacks.warn = Warn;
    callbacks.newUUID = NewPluginUUID;
    if (StartSimControl()) {
      callbacks.simControl = [this](const nlohmann::json& message) {
        std::string error;
        if (m_sim->Apply(message, error)) return true;
        Warn(error);
        return false;
      };
      callbacks.simState = [this] { return m_sim->State(); };
    }
    m_relay = std::make_unique<PanelRelay>(config, m_store, callbacks);

    if (!StartPlugin(config)) return 1;

    m_signals->add(SIGINT);
    m_signals->add(SIGTERM);
    m_signals->async_wait([this](const asio::error_code& error, int) {
      if (!error) RequestStop();
    });
    WatchChild();
    if (!WatchStandardInput()) return Fail("cannot watch standard input");

    std::cout << PanelPageUrl(m_port, m_token) << std::endl;
    try {
      m_server.run();
    } catch (const std::exception& e) {
      Warn(std::string("the event loop failed: ") + e.what());
      m_child.Kill();
      return 1;
    }
    return 0;
  }

 private:
  int Fail(const std::string& line) {
    Warn(line);
    return 1;
  }

  // websocketpp's own accept loop tries again at once after a failure, which spins while descriptors are out;
  // this one pauses, longer each time, until an accept succeeds.
  bool Accept() {
    websocketpp::lib::error_code ec;
    const Server::connection_ptr connection = m_server.get_connection();
    if (!connection) return false;
    m_server.async_accept(
        websocketpp::lib::static_pointer_cast<Server::transport_con_type>(connection),
        [this, connection](const websocketpp::lib::error_code& error) { OnAccepted(connection, error); }, ec);
    if (ec) connection->terminate(websocketpp::lib::error_code());
    return !ec;
  }

  void OnAccepted(const Server::connection_ptr& connection, const websocketpp::lib::error_code& error) {
    if (!error) {
      m_acceptPause = milliseconds(0);
      connection->start();
      Accept();
      return;
    }
    connection->terminate(error);
    if (m_stopping || !m_server.is_listening()) return;
    m_acceptPause = std::clamp(m_acceptPause * 2, kFirstAcceptPause, kLastAcceptPause);
    m_acceptTimer->expires_after(m_acceptPause);
    m_acceptTimer->async_wait([this](const asio::error_code& cancelled) {
      if (!cancelled && !m_stopping) Accept();
    });
  }

  // The native plug-in's emulator takes plug, unplug and signal changes from a control file, which the
  // child finds through its environment.
  bool StartSimControl() {
    if (m_options.wine) return false;
    const char* given = std::getenv("PNX_SIM_CONTROL");
    const std::string path = given && *given ? given : ExecutableFolder() + "/devhost-sim-control.json";
    std::string devices;
    if (const char* config = std::getenv("PNX_SIM_DEVICES")) {
      if (!ReadWholeFile(config, kMaxReadBytes, devices)) devices.clear();
    }
    m_sim = std::make_unique<SimDevices>(path, devices);
    std::string error;
    if (!m_sim->Save(error) || setenv("PNX_SIM_CONTROL", path.c_str(), 1) != 0) {
      Warn("no device control: " + error);
      m_sim.reset();
      return false;
    }
    return true;
  }

  bool StartPlugin(const PanelRelay::Config& config) {
    // The manifest comes from the bundle; its executable must still lie inside it.
    const std::string executable = ResolveServedFile(m_options.pluginFolder, m_manifest.executable);
    if (executable.empty()) {
      Warn("the plug-in executable " + m_manifest.executable + " is not a file inside " + m_options.pluginFolder);
      return false;
    }
    PluginLaunch launch;
    launch.executable = executable;
    launch.underWine = m_options.wine;
    launch.port = m_port;
    launch.pluginUUID = config.pluginUUID;
    launch.info = config.info;
    std::string error;
    // Its own process group: a Ctrl+C in the terminal reaches only this host, which then closes the plug-in's
    // connection so that it ends as it would under a real host.
    m_child.SetOwnProcessGroup(true);
    if (!m_child.Start(PluginArguments(launch), m_options.pluginOutput, error)) {
      Warn(error);
      return false;
    }
    return true;
  }

  void WatchChild() {
    m_childTimer->expires_after(milliseconds(m_stopping ? 50 : 250));
    m_childTimer->async_wait([this](const asio::error_code& error) {
      if (error) return;
      if (!m_childReported && !m_child.Running()) {
        m_childReported = true;
        Warn("the plug-in exited with code " + std::to_string(m_child.ExitCode()));
      }
      if (m_stopping && (m_childReported || std::chrono::steady_clock::now() >= m_stopDeadline)) {
        if (!m_childReported) {
          Warn("the plug-in did not exit within 10 s of the close; killing it");
          m_child.Kill();
        }
        m_signals->cancel();
        m_server.stop();
        return;
      }
      WatchChild();
    });
  }

  // A thread waits on standard input (any kind of file) and posts its end to the event loop.
  bool WatchStandardInput() {
    if (pipe(m_wakePipe) != 0) return false;
    m_stdinWatcher = std::thread([this] {
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
      char buffer[4096];
      for (;;) {
        if (poll(fds, 2, -1) < 0) {
          if (errno == EINTR) continue;
          break;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents & POLLNVAL) break;
        if (fds[0].revents == 0) continue;
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof(buffer));
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
      }
      asio::post(m_server.get_io_service(), [this] { RequestStop(); });
    });
    return true;
  }

  void RequestStop() {
    if (m_stopping) return;
    m_stopping = true;
    m_stopDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    websocketpp::lib::error_code ec;
    m_server.stop_listening(ec);
    m_acceptTimer->cancel();
    // The plug-in ends when its host connection closes normally; the pages are told the server is going.
    for (const auto& client : m_clients) {
      m_server.close(client.second, websocketpp::close::status::going_away, "", ec);
    }
    m_childTimer->cancel();
    WatchChild();
  }

  void OnHttp(Hdl hdl) {
    const Server::connection_ptr connection = m_server.get_con_from_hdl(hdl);
    if (!HostAllowed(connection->get_request_header("Host"), m_port)) {
      connection->set_status(websocketpp::http::status_code::forbidden);
      return;
    }
    connection->append_header("Content-Security-Policy", ContentSecurityPolicy(m_port));
    connection->append_header("X-Content-Type-Options", "nosniff");
    connection->append_header("Cache-Control", "no-store");
    if (connection->get_request().get_method() != "GET") {
      connection->append_header("Allow", "GET");
      connection->set_status(websocketpp::http::status_code::method_not_allowed);
      return;
    }
    std::string resource = connection->get_resource();
    resource = resource.substr(0, resource.find_first_of("?#"));
    std::string file;
    if (resource == "/") {
      file = ResolveServedFile(m_webRoot, "index.html");
    } else if (resource.compare(0, 7, "/panel/") == 0) {
      file = ResolveServedFile(m_webRoot, resource.substr(7));
    } else if (resource.compare(0, 8, "/plugin/") == 0) {
      file = ResolveServedFile(m_options.pluginFolder, resource.substr(8));
    }
    if (!file.empty() && std::find(m_unserved.begin(), m_unserved.end(), file) != m_unserved.end()) file.clear();
    const int fd = file.empty() || !IsPageFile(file) ? -1 : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
                    static_cast<unsigned long long>(info.st_size) > kMaxServedBytes)) {
      close(fd);
      NotFound(connection);
      return;
    }
    if (fd < 0) {
      NotFound(connection);
      return;
    }
    // The answer is written here a chunk at a time on the connection's own socket; websocketpp, told the
    // answer is deferred, only lets go of the connection when it is ended below.
    connection->defer_http_response();
    auto stream = std::make_shared<FileStream>(connection, fd, static_cast<uint64_t>(info.st_size),
                                               m_server.get_io_service());
    stream->chunk = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(info.st_size) +
                    "\r\nContent-Type: " + ContentTypeFor(file) +
                    "\r\nContent-Security-Policy: " + ContentSecurityPolicy(m_port) +
                    "\r\nX-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
    WriteChunk(stream);
  }

  struct FileStream {
    FileStream(Server::connection_ptr c, int f, uint64_t size, asio::io_service& service)
        : connection(std::move(c)), fd(f), remaining(size), stall(service) {}
    ~FileStream() { close(fd); }
    Server::connection_ptr connection;
    int fd;
    uint64_t remaining;
    std::string chunk;  // what is being written: the head first, then one chunk of the file at a time
    asio::steady_timer stall;
  };

  static void WriteChunk(const std::shared_ptr<FileStream>& stream) {
    if (stream->chunk.empty()) {
      if (stream->remaining == 0) return EndStream(stream);
      stream->chunk.resize(static_cast<size_t>(std::min<uint64_t>(kChunkBytes, stream->remaining)));
      const ssize_t n = read(stream->fd, stream->chunk.data(), stream->chunk.size());
      // A file that shrank meanwhile ends the answer short; the client sees the length was not met.
      if (n <= 0) return EndStream(stream);
      stream->chunk.resize(static_cast<size_t>(n));
      stream->remaining -= static_cast<uint64_t>(n);
    }
    auto& socket = stream->connection->get_raw_socket();
    stream->stall.expires_after(kStallLimit);
    stream->stall.async_wait([stream](const asio::error_code& error) {
      // A timer that ran out just as its write completed must not cancel the next write.
      asio::error_code ignored;
      if (!error && stream->stall.expiry() <= std::chrono::steady_clock::now()) {
        stream->connection->get_raw_socket().cancel(ignored);
      }
    });
    asio::async_write(socket, asio::buffer(stream->chunk), [stream](const asio::error_code& error, size_t) {
      stream->stall.cancel();
      if (error) return EndStream(stream);
      stream->chunk.clear();
      WriteChunk(stream);
    });
  }

  static void EndStream(const std::shared_ptr<FileStream>& stream) {
    stream->stall.cancel();
    stream->connection->terminate(websocketpp::error::make_error_code(websocketpp::error::http_connection_ended));
  }

  static void NotFound(const Server::connection_ptr& connection) {
    connection->append_header("Content-Type", "text/plain; charset=utf-8");
    connection->set_body("not found\n");
    connection->set_status(websocketpp::http::status_code::not_found);
  }

  bool OnValidate(Hdl hdl) {
    const Server::connection_ptr connection = m_server.get_con_from_hdl(hdl);
    if (m_stopping || Access(connection) == WebSocketAccess::kRefused) {
      connection->set_status(websocketpp::http::status_code::forbidden);
      return false;
    }
    return true;
  }

  WebSocketAccess Access(const Server::connection_ptr& connection) const {
    return WebSocketAccessFor(connection->get_request_header("Host"), connection->get_request_header("Origin"),
                              connection->get_resource(), m_port, m_token);
  }

  void OnOpen(Hdl hdl) {
    const PanelRelay::ClientId id = ++m_lastClient;
    m_clients[id] = hdl;
    m_ids[hdl] = id;
    m_relay->OnOpen(id, Access(m_server.get_con_from_hdl(hdl)) == WebSocketAccess::kAny);
  }

  void OnEnd(Hdl hdl) {
    const auto found = m_ids.find(hdl);
    if (found == m_ids.end()) return;
    const PanelRelay::ClientId id = found->second;
    m_ids.erase(found);
    m_clients.erase(id);
    m_slowClients.erase(id);
    m_relay->OnClose(id);
  }

  void OnMessage(Hdl hdl, const Server::message_ptr& msg) {
    const auto found = m_ids.find(hdl);
    if (found == m_ids.end() || msg->get_opcode() != websocketpp::frame::opcode::text) return;
    m_relay->OnMessage(found->second, msg->get_payload());
  }

  void Send(PanelRelay::ClientId id, const std::string& text, bool skippable) {
    const auto found = m_clients.find(id);
    if (found == m_clients.end()) return;
    websocketpp::lib::error_code ec;
    const Server::connection_ptr connection = m_server.get_con_from_hdl(found->second, ec);
    if (ec || !connection) return;
    const size_t unsent = connection->get_buffered_amount();
    if (skippable && unsent > kSkipImagesAbove) return;
    if (unsent > kMaxUnsentBytes) {
      if (m_slowClients.insert(id).second) {
        Warn("closing a connection that does not read what it is sent");
        m_server.close(found->second, websocketpp::close::status::policy_violation, "not reading", ec);
      }
      return;
    }
    m_server.send(found->second, text, websocketpp::frame::opcode::text, ec);
  }

  void CloseClient(PanelRelay::ClientId id, websocketpp::close::status::value code) {
    const auto found = m_clients.find(id);
    if (found == m_clients.end()) return;
    websocketpp::lib::error_code ec;
    m_server.close(found->second, code, "", ec);
  }

  const WebHostOptions& m_options;
  const Manifest& m_manifest;
  SettingsStore& m_store;
  Server m_server;
  std::optional<asio::signal_set> m_signals;     // made once the server has its event loop
  std::optional<asio::steady_timer> m_childTimer;
  std::optional<asio::steady_timer> m_acceptTimer;
  milliseconds m_acceptPause{0};
  std::vector<std::string> m_unserved;  // real paths of the plug-in's executables
  uint16_t m_port = 0;
  std::string m_webRoot;
  std::string m_token;  // in the printed address; a panel or inspector connection must carry it
  std::unique_ptr<SimDevices> m_sim;
  std::unique_ptr<PanelRelay> m_relay;
  ChildProcess m_child;
  bool m_childReported = false;
  bool m_stopping = false;
  std::chrono::steady_clock::time_point m_stopDeadline;
  PanelRelay::ClientId m_lastClient = 0;
  std::map<PanelRelay::ClientId, Hdl> m_clients;
  std::set<PanelRelay::ClientId> m_slowClients;  // being closed for not reading
  std::map<Hdl, PanelRelay::ClientId, std::owner_less<Hdl>> m_ids;
  int m_wakePipe[2] = {-1, -1};
  std::thread m_stdinWatcher;
};

}  // namespace

const char kWebHostUsage[] =
    "usage: pnx-devhost --web [--port N] [--settings FILE] [--wine] [--language CODE] [--plugin-output F]\n"
    "                   PLUGIN_FOLDER\n"
    "  Starts the plug-in of an assembled bundle (the executable its manifest.json names) and serves a panel\n"
    "  page of 15 keys and the plug-in's property inspector on 127.0.0.1. Prints the page's URL, which holds\n"
    "  this run's token, as the only line on standard output; serves until interrupted or until standard\n"
    "  input closes. The page answers as 127.0.0.1 or localhost on that port, and to no other name.\n"
    "  --settings FILE     the key settings file (default: devhost-settings.json beside pnx-devhost)\n";

bool ParseWebHostOptions(int argc, char* argv[], WebHostOptions& options) {
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--web") {
    } else if (arg == "--wine") {
      options.wine = true;
    } else if (arg == "--port" && hasValue) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (!*argv[i] || *end || value < 0 || value > 65535) return false;
      options.port = static_cast<uint16_t>(value);
    } else if (arg == "--settings" && hasValue) {
      options.settingsPath = argv[++i];
    } else if (arg == "--language" && hasValue) {
      options.language = argv[++i];
    } else if (arg == "--plugin-output" && hasValue) {
      options.pluginOutput = argv[++i];
    } else if (arg.empty() || arg[0] == '-' || !folder.empty()) {
      return false;
    } else {
      folder = arg;
    }
  }
  if (folder.empty()) return false;
  options.pluginFolder = folder;
  if (options.settingsPath.empty()) options.settingsPath = ExecutableFolder() + "/devhost-settings.json";
  return true;
}

int RunWebHost(const WebHostOptions& options) {
  Manifest manifest;
  std::string error;
  if (!ReadManifest(options.pluginFolder, options.wine, manifest, error)) {
    Warn(error);
    return 1;
  }
  SettingsStore store(options.settingsPath);
  std::string warning;
  if (!store.Load(warning)) Warn(warning);
  // A page that goes away mid-send must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  WebHost host(options, manifest, store);
  return host.Run();
}
