#include "tests/wine/test_host.h"

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

struct TestHost::Server {
  websocketpp::server<websocketpp::config::asio> endpoint;
  websocketpp::connection_hdl connection;  // written on the server thread under TestHost::mutex_
};

TestHost::TestHost() : server_(std::make_unique<Server>()) {}

TestHost::~TestHost() {
  if (thread_.joinable()) {
    server_->endpoint.stop();
    thread_.join();
  }
}

bool TestHost::Start() {
  auto& endpoint = server_->endpoint;
  endpoint.clear_access_channels(websocketpp::log::alevel::all);
  endpoint.clear_error_channels(websocketpp::log::elevel::all);
  websocketpp::lib::error_code ec;
  endpoint.init_asio(ec);
  if (ec) return false;
  endpoint.set_open_handler([this](websocketpp::connection_hdl hdl) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      server_->connection = hdl;
    }
    OnOpen();
  });
  endpoint.set_message_handler(
      [this](websocketpp::connection_hdl, websocketpp::server<websocketpp::config::asio>::message_ptr message) {
        if (message->get_opcode() == websocketpp::frame::opcode::text) OnMessage(message->get_payload());
      });
  endpoint.listen(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0), ec);
  if (ec) return false;
  endpoint.start_accept(ec);
  if (ec) return false;
  auto local = endpoint.get_local_endpoint(ec);
  if (ec) return false;
  port_ = local.port();
  thread_ = std::thread([this] { server_->endpoint.run(); });
  return true;
}

void TestHost::OnOpen() {
  std::lock_guard<std::mutex> lock(mutex_);
  connected_ = true;
  changed_.notify_all();
}

void TestHost::OnMessage(const std::string& text) {
  nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
  // Text that is not JSON is kept as a string so that a test can show it.
  if (parsed.is_discarded()) parsed = text;
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(std::move(parsed));
  changed_.notify_all();
}

bool TestHost::WaitConnected(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return connected_; });
}

bool TestHost::Send(const nlohmann::json& event) {
  websocketpp::connection_hdl hdl;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected_) return false;
    hdl = server_->connection;
  }
  websocketpp::lib::error_code ec;
  server_->endpoint.send(hdl, event.dump(), websocketpp::frame::opcode::text, ec);
  return !ec;
}

void TestHost::CloseConnection() {
  websocketpp::connection_hdl hdl;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hdl = server_->connection;
  }
  websocketpp::lib::error_code ec;
  server_->endpoint.close(hdl, websocketpp::close::status::normal, "", ec);
}

nlohmann::json TestHost::WaitFor(const std::function<bool(const nlohmann::json&)>& match,
                                 std::chrono::milliseconds timeout, size_t from, size_t* index) {
  std::unique_lock<std::mutex> lock(mutex_);
  size_t next = from;
  nlohmann::json found;
  changed_.wait_for(lock, timeout, [&] {
    for (; next < messages_.size(); ++next) {
      if (match(messages_[next])) {
        found = messages_[next];
        if (index) *index = next;
        return true;
      }
    }
    return false;
  });
  return found;
}

size_t TestHost::MessageCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}

std::vector<nlohmann::json> TestHost::Messages(size_t from) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (from >= messages_.size()) return {};
  return std::vector<nlohmann::json>(messages_.begin() + static_cast<long>(from), messages_.end());
}
