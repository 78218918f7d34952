// A WebSocket server standing in for the key-panel host: listens on 127.0.0.1, accepts one plug-in
// connection at a time and records what it receives. Its event loop runs on a thread of its own; every public
// operation may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class DevHostServer {
 public:
  struct Message {
    std::string text;
    bool binary = false;
  };
  // Called on the server's thread for each message as it arrives, before it is queued.
  using Observer = std::function<void(const Message&)>;

  // Listens on 127.0.0.1:port (0 = a free port); throws std::runtime_error when it cannot.
  explicit DevHostServer(uint16_t port = 0, Observer observer = nullptr);
  ~DevHostServer();
  DevHostServer(const DevHostServer&) = delete;
  DevHostServer& operator=(const DevHostServer&) = delete;

  uint16_t Port() const;

  // True once a connection has opened (even if it has ended since).
  bool WaitForConnection(std::chrono::milliseconds timeout);
  // True once a connection has opened and then ended (closed or failed).
  bool WaitForDisconnect(std::chrono::milliseconds timeout);
  bool IsConnected() const;

  // The next received message in arrival order, or false when none arrives in time.
  bool NextMessage(Message& out, std::chrono::milliseconds timeout);
  // Skips messages until one whose "event" member equals event; true with that message in out.
  bool WaitForEvent(const std::string& event, Message& out, std::chrono::milliseconds timeout);
  // Number of messages received so far (consumed or not).
  size_t ReceivedCount() const;

  // Sends to the current connection; false when there is none or the library refuses.
  bool SendText(const std::string& text);
  bool SendBinary(const std::string& bytes);
  // Starts the closing handshake with the given status code.
  void Close(uint16_t code = 1000);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
