// A WebSocket server standing in for the key-panel host.
#include "tools/devhost/dev_host_server.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include "tools/devhost/child_process.h"

using Server = websocketpp::server<websocketpp::config::asio>;

struct DevHostServer::Impl {
  Server server;
  Observer observer;
  uint16_t port = 0;
  std::thread thread;

  mutable std::mutex mutex;
  std::condition_variable changed;
  websocketpp::connection_hdl connection;  // guarded by mutex
  bool connected = false;                  // guarded by mutex
  int connectionCount = 0;                 // guarded by mutex
  bool ended = false;                      // guarded by mutex
  std::deque<Message> queue;               // guarded by mutex
  size_t receivedCount = 0;                // guarded by mutex

  void OnOpen(websocketpp::connection_hdl hdl) {
    std::lock_guard<std::mutex> lock(mutex);
    connection = hdl;
    connected = true;
    ended = false;
    ++connectionCount;
    changed.notify_all();
  }
  void OnEnd(websocketpp::connection_hdl) {
    std::lock_guard<std::mutex> lock(mutex);
    connected = false;
    ended = true;
    changed.notify_all();
  }
  void OnMessage(websocketpp::connection_hdl, Server::message_ptr msg) {
    Message message{msg->get_payload(), msg->get_opcode() != websocketpp::frame::opcode::text};
    if (observer) observer(message);
    std::lock_guard<std::mutex> lock(mutex);
    queue.push_back(std::move(message));
    ++receivedCount;
    changed.notify_all();
  }
  bool Send(const std::string& data, websocketpp::frame::opcode::value opcode) {
    websocketpp::connection_hdl hdl;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!connected) return false;
      hdl = connection;
    }
    websocketpp::lib::error_code ec;
    server.send(hdl, data, opcode, ec);
    return !ec;
  }
};

DevHostServer::DevHostServer(uint16_t port, Observer observer) : m_impl(std::make_unique<Impl>()) {
  Impl& impl = *m_impl;
  impl.observer = std::move(observer);
  Server& server = impl.server;
  server.clear_access_channels(websocketpp::log::alevel::all);
  server.clear_error_channels(websocketpp::log::elevel::all);
  websocketpp::lib::error_code ec;
  server.init_asio(ec);
  if (ec) throw std::runtime_error("cannot start the event loop: " + ec.message());
  server.set_reuse_addr(true);
  // A plug-in that outlives this host must not keep its port.
  server.set_tcp_pre_bind_handler([](const auto& acceptor) {
    return SetCloseOnExec(acceptor->native_handle()) ? std::error_code()
                                                     : std::error_code(errno, std::system_category());
  });
  server.set_open_handler([&impl](websocketpp::connection_hdl hdl) { impl.OnOpen(hdl); });
  server.set_close_handler([&impl](websocketpp::connection_hdl hdl) { impl.OnEnd(hdl); });
  server.set_fail_handler([&impl](websocketpp::connection_hdl hdl) { impl.OnEnd(hdl); });
  server.set_message_handler(
      [&impl](websocketpp::connection_hdl hdl, Server::message_ptr msg) { impl.OnMessage(hdl, msg); });

  const asio::ip::tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
  server.listen(endpoint, ec);
  if (ec) throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ec.message());
  asio::error_code aec;
  impl.port = server.get_local_endpoint(aec).port();
  if (aec) throw std::runtime_error("cannot read the listening port: " + aec.message());
  server.start_accept(ec);
  if (ec) throw std::runtime_error("cannot accept connections: " + ec.message());
  impl.thread = std::thread([&server] {
    try {
      server.run();
    } catch (const std::exception&) {
      // A failing event loop shows as a missing connection or message to whoever waits on this server.
    }
  });
}

DevHostServer::~DevHostServer() {
  m_impl->server.stop();
  if (m_impl->thread.joinable()) m_impl->thread.join();
}

uint16_t DevHostServer::Port() const { return m_impl->port; }

bool DevHostServer::WaitForConnection(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_impl->mutex);
  return m_impl->changed.wait_for(lock, timeout, [this] { return m_impl->connectionCount > 0; });
}

bool DevHostServer::WaitForDisconnect(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_impl->mutex);
  return m_impl->changed.wait_for(lock, timeout, [this] { return m_impl->ended; });
}

bool DevHostServer::IsConnected() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->connected;
}

bool DevHostServer::NextMessage(Message& out, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_impl->mutex);
  if (!m_impl->changed.wait_for(lock, timeout, [this] { return !m_impl->queue.empty(); })) return false;
  out = std::move(m_impl->queue.front());
  m_impl->queue.pop_front();
  return true;
}

bool DevHostServer::WaitForEvent(const std::string& event, Message& out, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            std::chrono::steady_clock::now());
    if (left.count() < 0 || !NextMessage(out, left)) return false;
    if (out.binary) continue;
    const nlohmann::json parsed = nlohmann::json::parse(out.text, nullptr, false);
    if (parsed.is_object() && parsed.value("event", nlohmann::json()) == event) return true;
  }
}

size_t DevHostServer::ReceivedCount() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->receivedCount;
}

bool DevHostServer::SendText(const std::string& text) {
  return m_impl->Send(text, websocketpp::frame::opcode::text);
}

bool DevHostServer::SendBinary(const std::string& bytes) {
  return m_impl->Send(bytes, websocketpp::frame::opcode::binary);
}

void DevHostServer::Close(uint16_t code) {
  websocketpp::connection_hdl hdl;
  {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (!m_impl->connected) return;
    hdl = m_impl->connection;
  }
  // websocketpp reads the connection state on its event-loop thread without the lock close() takes, so the
  // close is run there rather than on the caller's thread.
  Impl* impl = m_impl.get();
  asio::post(impl->server.get_io_service(), [impl, hdl, code] {
    websocketpp::lib::error_code ec;
    impl->server.close(hdl, code, "", ec);
  });
}
