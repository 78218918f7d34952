// A bare TCP host on 127.0.0.1 for what a WebSocket library would refuse to do: close in the middle of the
// opening handshake, never answer it, or send frames that break the protocol. Serves one connection on a
// thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RawHost {
 public:
  enum class Mode {
    kCloseAfterRequest,  // read the upgrade request, then close the socket
    kSilent,             // read the upgrade request and never answer
    kHandshakeThenSend,  // complete the handshake, wait for the first frame, send the raw bytes, read to the end
  };
  struct Frame {
    uint8_t opcode;
    std::string payload;  // unmasked
  };

  explicit RawHost(Mode mode, std::string bytesToSend = "");
  ~RawHost();

  uint16_t Port() const { return port_; }
  bool WaitForRequest(std::chrono::milliseconds timeout);
  // Waits until the peer has closed the socket (or the mode's work is done); then the frames it sent.
  bool WaitForEnd(std::chrono::milliseconds timeout);
  std::vector<Frame> ReceivedFrames();

  // A server frame (unmasked, FIN set) with the given opcode and payload.
  static std::string ServerFrame(uint8_t opcode, const std::string& payload);
  // A server frame header announcing a payload of length bytes, without the payload.
  static std::string ServerFrameHeader(uint8_t opcode, uint64_t length);

 private:
  void Serve();
  bool ReadSome(int fd, std::string& into);  // false on end of stream, error or stop

  Mode mode_;
  std::string bytesToSend_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool gotRequest_ = false;   // guarded by mutex_
  bool ended_ = false;        // guarded by mutex_
  std::string received_;      // bytes after the request; guarded by mutex_
};
