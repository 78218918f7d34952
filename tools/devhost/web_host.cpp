// pnx-devhost's web mode. One websocketpp server on the main thread carries both the HTTP files and the
// WebSocket clients; everything that happens elsewhere (standard input closing) is posted to its event loop,
// and the plug-in process is watched from a timer on that loop.
#include "tools/devhost/web_host.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

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

// Bundle files are small; anything larger is not served rather than read into memory.
constexpr size_t kMaxServedBytes = 64 * 1024 * 1024;

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
};

bool ReadManifest(const std::string& folder, bool wine, Manifest& manifest, std::string& error) {
  std::string text;
  const std::string path = folder + "/manifest.json";
  if (!ReadWholeFile(path, kMaxServedBytes, text)) {
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
  manifest.action = string(action, "identifier");
  manifest.keyImage = string(action, "keyImage");
  manifest.inspector = string(action, "inspector");
  if (manifest.executable.empty() || manifest.action.empty()) {
    error = path + " names no " + (wine ? "windows" : "linux") + " executable or no action";
    return false;
  }
  return true;
}

class WebHost {
 public:
  WebHost(const WebHostOptions& options, const Manifest& manifest, SettingsStore& store)
      : options_(options), manifest_(manifest), store_(store) {}

  ~WebHost() {
    if (stdinWatcher_.joinable()) {
      const char wake = 0;
      [[maybe_unused]] const ssize_t n = write(wakePipe_[1], &wake, 1);
      stdinWatcher_.join();
    }
    for (int fd : wakePipe_) {
      if (fd >= 0) close(fd);
    }
  }

  int Run() {
    server_.clear_access_channels(websocketpp::log::alevel::all);
    server_.clear_error_channels(websocketpp::log::elevel::all);
    websocketpp::lib::error_code ec;
    server_.init_asio(ec);
    if (ec) return Fail("cannot start the event loop: " + ec.message());
    signals_.emplace(server_.get_io_service());
    childTimer_.emplace(server_.get_io_service());
    server_.set_reuse_addr(true);
    // A plug-in that outlives this host must not keep its port.
    server_.set_tcp_pre_bind_handler([](const auto& acceptor) {
      return SetCloseOnExec(acceptor->native_handle()) ? std::error_code()
                                                       : std::error_code(errno, std::system_category());
    });
    server_.set_http_handler([this](Hdl hdl) { OnHttp(hdl); });
    server_.set_validate_handler([this](Hdl hdl) { return OnValidate(hdl); });
    server_.set_open_handler([this](Hdl hdl) { OnOpen(hdl); });
    server_.set_close_handler([this](Hdl hdl) { OnEnd(hdl); });
    server_.set_fail_handler([this](Hdl hdl) { OnEnd(hdl); });
    server_.set_message_handler([this](Hdl hdl, Server::message_ptr msg) { OnMessage(hdl, msg); });

    const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), options_.port);
    server_.listen(endpoint, ec);
    if (ec) return Fail("cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " + ec.message());
    asio::error_code aec;
    port_ = server_.get_local_endpoint(aec).port();
    if (aec) return Fail("cannot read the listening port: " + aec.message());
    server_.start_accept(ec);
    if (ec) return Fail("cannot accept connections: " + ec.message());

    webRoot_ = ExecutableFolder() + "/web";
    token_ = NewAccessToken();
    PanelRelay::Config config;
    config.port = port_;
    config.pluginUUID = NewPluginUUID();
    config.info = MakeInfoBlock(options_.language);
    config.language = options_.language;
    config.pluginName = manifest_.name;
    config.action = manifest_.action;
    config.defaultImage = manifest_.keyImage.empty() ? "" : "/plugin/" + manifest_.keyImage;
    config.inspectorPage = "/plugin/" + manifest_.inspector;
    PanelRelay::Callbacks callbacks;
    callbacks.send = [this](PanelRelay::ClientId id, const std::string& text) { Send(id, text); };
    callbacks.close = [this](PanelRelay::ClientId id) { CloseClient(id, websocketpp::close::status::normal); };
    callbacks.warn = Warn;
    callbacks.newUUID = NewPluginUUID;
    if (StartSimControl()) {
      callbacks.simControl = [this](const nlohmann::json& message) {
        std::string error;
        if (sim_->Apply(message, error)) return true;
        Warn(error);
        return false;
      };
      callbacks.simState = [this] { return sim_->State(); };
    }
    relay_ = std::make_unique<PanelRelay>(config, store_, callbacks);

    if (!StartPlugin(config)) return 1;

    signals_->add(SIGINT);
    signals_->add(SIGTERM);
    signals_->async_wait([this](const asio::error_code& error, int) {
      if (!error) RequestStop();
    });
    WatchChild();
    if (!WatchStandardInput()) return Fail("cannot watch standard input");

    std::cout << PanelPageUrl(port_, token_) << std::endl;
    try {
      server_.run();
    } catch (const std::exception& e) {
      Warn(std::string("the event loop failed: ") + e.what());
      child_.Kill();
      return 1;
    }
    return 0;
  }

 private:
  int Fail(const std::string& line) {
    Warn(line);
    return 1;
  }

  // The native plug-in's emulator takes plug, unplug and signal changes from a control file, which the
  // child finds through its environment.
  bool StartSimControl() {
    if (options_.wine) return false;
    const char* given = std::getenv("PNX_SIM_CONTROL");
    const std::string path = given && *given ? given : ExecutableFolder() + "/devhost-sim-control.json";
    std::string devices;
    if (const char* config = std::getenv("PNX_SIM_DEVICES")) {
      if (!ReadWholeFile(config, kMaxServedBytes, devices)) devices.clear();
    }
    sim_ = std::make_unique<SimDevices>(path, devices);
    std::string error;
    if (!sim_->Save(error) || setenv("PNX_SIM_CONTROL", path.c_str(), 1) != 0) {
      Warn("no device control: " + error);
      sim_.reset();
      return false;
    }
    return true;
  }

  bool StartPlugin(const PanelRelay::Config& config) {
    // The manifest comes from the bundle; its executable must still lie inside it.
    const std::string executable = ResolveServedFile(options_.pluginFolder, manifest_.executable);
    if (executable.empty()) {
      Warn("the plug-in executable " + manifest_.executable + " is not a file inside " + options_.pluginFolder);
      return false;
    }
    PluginLaunch launch;
    launch.executable = executable;
    launch.underWine = options_.wine;
    launch.port = port_;
    launch.pluginUUID = config.pluginUUID;
    launch.info = config.info;
    std::string error;
    // Its own process group: a Ctrl+C in the terminal reaches only this host, which then closes the plug-in's
    // connection so that it ends as it would under a real host.
    child_.SetOwnProcessGroup(true);
    if (!child_.Start(PluginArguments(launch), options_.pluginOutput, error)) {
      Warn(error);
      return false;
    }
    return true;
  }

  void WatchChild() {
    childTimer_->expires_after(milliseconds(stopping_ ? 50 : 250));
    childTimer_->async_wait([this](const asio::error_code& error) {
      if (error) return;
      if (!childReported_ && !child_.Running()) {
        childReported_ = true;
        Warn("the plug-in exited with code " + std::to_string(child_.ExitCode()));
      }
      if (stopping_ && (childReported_ || std::chrono::steady_clock::now() >= stopDeadline_)) {
        if (!childReported_) {
          Warn("the plug-in did not exit within 10 s of the close; killing it");
          child_.Kill();
        }
        signals_->cancel();
        server_.stop();
        return;
      }
      WatchChild();
    });
  }

  // A thread waits on standard input (any kind of file) and posts its end to the event loop.
  bool WatchStandardInput() {
    if (pipe(wakePipe_) != 0) return false;
    stdinWatcher_ = std::thread([this] {
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
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
      asio::post(server_.get_io_service(), [this] { RequestStop(); });
    });
    return true;
  }

  void RequestStop() {
    if (stopping_) return;
    stopping_ = true;
    stopDeadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    websocketpp::lib::error_code ec;
    server_.stop_listening(ec);
    // The plug-in ends when its host connection closes normally; the pages are told the server is going.
    for (const auto& client : clients_) {
      server_.close(client.second, websocketpp::close::status::going_away, "", ec);
    }
    childTimer_->cancel();
    WatchChild();
  }

  void OnHttp(Hdl hdl) {
    const Server::connection_ptr connection = server_.get_con_from_hdl(hdl);
    if (!HostAllowed(connection->get_request_header("Host"), port_)) {
      connection->set_status(websocketpp::http::status_code::forbidden);
      return;
    }
    connection->append_header("Content-Security-Policy", ContentSecurityPolicy(port_));
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
      file = ResolveServedFile(webRoot_, "index.html");
    } else if (resource.compare(0, 7, "/panel/") == 0) {
      file = ResolveServedFile(webRoot_, resource.substr(7));
    } else if (resource.compare(0, 8, "/plugin/") == 0) {
      file = ResolveServedFile(options_.pluginFolder, resource.substr(8));
    }
    std::string body;
    if (file.empty() || !ReadWholeFile(file, kMaxServedBytes, body)) {
      connection->append_header("Content-Type", "text/plain; charset=utf-8");
      connection->set_body("not found\n");
      connection->set_status(websocketpp::http::status_code::not_found);
      return;
    }
    connection->append_header("Content-Type", ContentTypeFor(file));
    connection->set_body(std::move(body));
    connection->set_status(websocketpp::http::status_code::ok);
  }

  bool OnValidate(Hdl hdl) {
    const Server::connection_ptr connection = server_.get_con_from_hdl(hdl);
    if (stopping_ || Access(connection) == WebSocketAccess::kRefused) {
      connection->set_status(websocketpp::http::status_code::forbidden);
      return false;
    }
    return true;
  }

  WebSocketAccess Access(const Server::connection_ptr& connection) const {
    return WebSocketAccessFor(connection->get_request_header("Host"), connection->get_request_header("Origin"),
                              connection->get_resource(), port_, token_);
  }

  void OnOpen(Hdl hdl) {
    const PanelRelay::ClientId id = ++lastClient_;
    clients_[id] = hdl;
    ids_[hdl] = id;
    relay_->OnOpen(id, Access(server_.get_con_from_hdl(hdl)) == WebSocketAccess::kAny);
  }

  void OnEnd(Hdl hdl) {
    const auto found = ids_.find(hdl);
    if (found == ids_.end()) return;
    const PanelRelay::ClientId id = found->second;
    ids_.erase(found);
    clients_.erase(id);
    relay_->OnClose(id);
  }

  void OnMessage(Hdl hdl, const Server::message_ptr& msg) {
    const auto found = ids_.find(hdl);
    if (found == ids_.end() || msg->get_opcode() != websocketpp::frame::opcode::text) return;
    relay_->OnMessage(found->second, msg->get_payload());
  }

  void Send(PanelRelay::ClientId id, const std::string& text) {
    const auto found = clients_.find(id);
    if (found == clients_.end()) return;
    websocketpp::lib::error_code ec;
    server_.send(found->second, text, websocketpp::frame::opcode::text, ec);
  }

  void CloseClient(PanelRelay::ClientId id, websocketpp::close::status::value code) {
    const auto found = clients_.find(id);
    if (found == clients_.end()) return;
    websocketpp::lib::error_code ec;
    server_.close(found->second, code, "", ec);
  }

  const WebHostOptions& options_;
  const Manifest& manifest_;
  SettingsStore& store_;
  Server server_;
  std::optional<asio::signal_set> signals_;     // made once the server has its event loop
  std::optional<asio::steady_timer> childTimer_;
  uint16_t port_ = 0;
  std::string webRoot_;
  std::string token_;  // in the printed address; lets a client without an Origin register as a panel
  std::unique_ptr<SimDevices> sim_;
  std::unique_ptr<PanelRelay> relay_;
  ChildProcess child_;
  bool childReported_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point stopDeadline_;
  PanelRelay::ClientId lastClient_ = 0;
  std::map<PanelRelay::ClientId, Hdl> clients_;
  std::map<Hdl, PanelRelay::ClientId, std::owner_less<Hdl>> ids_;
  int wakePipe_[2] = {-1, -1};
  std::thread stdinWatcher_;
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
