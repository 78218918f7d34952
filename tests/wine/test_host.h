// A stand-in for the key-panel host application on the Linux side of the wine scenarios: a WebSocket server
// on the loopback address that takes one plug-in connection, records every message the plug-in sends and
// sends it events. The server runs on its own thread; every public operation is callable from the test
// thread (the recorded messages are guarded by one mutex).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

class TestHost {
 public:
  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Listens on 127.0.0.1 at a free port; false when that fails.
  bool Start();
  int port() const { return port_; }

  bool WaitConnected(std::chrono::milliseconds timeout);
  // Sends one event as compact JSON text; false when no plug-in is connected.
  bool Send(const nlohmann::json& event);
  // Closes the plug-in's connection (the plug-in then ends).
  void CloseConnection();

  // The first message at position `from` or later that satisfies `match`, waiting up to `timeout`;
  // its position goes to `index`. Null when none arrived in time.
  nlohmann::json WaitFor(const std::function<bool(const nlohmann::json&)>& match,
                         std::chrono::milliseconds timeout, size_t from = 0, size_t* index = nullptr);
  size_t MessageCount();
  std::vector<nlohmann::json> Messages(size_t from = 0);

 private:
  struct Server;
  void OnOpen();
  void OnMessage(const std::string& text);

  std::unique_ptr<Server> server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool connected_ = false;
  std::vector<nlohmann::json> messages_;
};
