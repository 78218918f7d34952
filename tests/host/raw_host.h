// A bare TCP host on 127.0.0.1 for what a WebSocket library would refuse to do: close in the middle of the
// opening handshake, never answer it, or send frames that break the protocol. Serves one connection on a
// thread of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <websocketpp/base64/base64.hpp>
#include <websocketpp/sha1/sha1.hpp>

class RawHost {
 public:
  enum class Mode {
    kCloseAfterRequest,  // read the upgrade request, then close the socket
    kSilentHoldOpen,     // read the upgrade request, never answer, never close (a hung host)
    kHandshakeThenSend,  // complete the handshake, wait for the first frame, send the raw bytes, read to the end
    kHandshakeThenStall,  // as kHandshakeThenSend, but then stop reading until destroyed (a hung host)
  };
  struct Frame {
    uint8_t opcode;
    std::string payload;  // unmasked
  };

  explicit RawHost(Mode mode, std::string bytesToSend = "") : mode_(mode), bytesToSend_(std::move(bytesToSend)) {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listenFd_, 4) != 0 || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      if (listenFd_ >= 0) close(listenFd_);
      throw std::runtime_error("raw host: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~RawHost() {
    stop_ = true;
    thread_.join();
    close(listenFd_);
  }

  uint16_t Port() const { return port_; }
  bool WaitForRequest(std::chrono::milliseconds timeout) { return WaitUntil(gotRequest_, timeout); }
  // Bytes that have arrived on the connection and not been read (what a stalled host leaves waiting).
  size_t UnreadBytes() const {
    int count = 0;
    const int fd = connectionFd_;
    return fd >= 0 && ioctl(fd, FIONREAD, &count) == 0 && count > 0 ? static_cast<size_t>(count) : 0;
  }
  // Waits until the peer has closed the socket (or the mode's work is done); then the frames it sent.
  bool WaitForEnd(std::chrono::milliseconds timeout) { return WaitUntil(ended_, timeout); }
  std::vector<Frame> ReceivedFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ParseClientFrames(received_);
  }

  // A server frame header (unmasked, FIN set) announcing a payload of length bytes, without the payload.
  static std::string ServerFrameHeader(uint8_t opcode, uint64_t length) {
    const int extra = length < 126 ? 0 : length <= 0xFFFF ? 2 : 8;  // bytes of extended length
    std::string frame = {static_cast<char>(0x80 | opcode),
                         static_cast<char>(extra == 0 ? length : extra == 2 ? 126 : 127)};
    for (int i = extra - 1; i >= 0; --i) frame += static_cast<char>((length >> (8 * i)) & 0xFF);
    return frame;
  }
  static std::string ServerFrame(uint8_t opcode, const std::string& payload) {
    return ServerFrameHeader(opcode, payload.size()) + payload;
  }

 private:
  static std::string AcceptKey(const std::string& key) {
    const std::string text = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char hash[20];
    websocketpp::sha1::calc(text.data(), text.size(), hash);
    return websocketpp::base64_encode(hash, sizeof(hash));
  }
  static std::string HeaderValue(const std::string& request, const std::string& name) {
    const size_t at = request.find(name + ": ");
    if (at == std::string::npos) return "";
    const size_t start = at + name.size() + 2;
    return request.substr(start, request.find("\r\n", start) - start);
  }
  // Frames from the client: masked, lengths up to 64 bits. Stops at the first incomplete one.
  static std::vector<Frame> ParseClientFrames(const std::string& bytes) {
    std::vector<Frame> frames;
    size_t at = 0;
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    while (at + 2 <= bytes.size()) {
      const uint8_t opcode = byte(at) & 0x0F;
      const bool masked = byte(at + 1) & 0x80;
      uint64_t length = byte(at + 1) & 0x7F;
      size_t header = 2;
      if (length == 126 || length == 127) {
        const size_t extra = length == 126 ? 2 : 8;
        if (at + header + extra > bytes.size()) break;
        length = 0;
        for (size_t i = 0; i < extra; ++i) length = (length << 8) | byte(at + header + i);
        header += extra;
      }
      const size_t maskAt = at + header;
      if (masked) header += 4;
      if (at + header + length > bytes.size()) break;
      Frame frame{opcode, bytes.substr(at + header, length)};
      if (masked) {
        for (size_t i = 0; i < frame.payload.size(); ++i) frame.payload[i] ^= bytes[maskAt + i % 4];
      }
      frames.push_back(std::move(frame));
      at += header + length;
    }
    return frames;
  }
  bool WaitUntil(const bool& flag, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return flag; });
  }
  // False on end of stream, error or stop.
  bool ReadSome(int fd, std::string& into) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, 20);
      if (ready < 0) return false;
      if (ready == 0) continue;
      char buffer[65536];
      const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) return false;
      into.append(buffer, static_cast<size_t>(n));
      return true;
    }
    return false;
  }
  void Serve() {
    int fd = -1;
    while (!stop_ && fd < 0) {
      pollfd p{listenFd_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) fd = accept(listenFd_, nullptr, nullptr);
    }
    connectionFd_ = fd;
    std::string request;
    bool open = fd >= 0;
    while (open && request.find("\r\n\r\n") == std::string::npos) open = ReadSome(fd, request);
    if (open) {
      std::lock_guard<std::mutex> lock(mutex_);
      gotRequest_ = true;
      changed_.notify_all();
    }
    std::string after;
    if (open && mode_ == Mode::kSilentHoldOpen) {
      while (!stop_ && ReadSome(fd, after)) {
      }
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else if (open && (mode_ == Mode::kHandshakeThenSend || mode_ == Mode::kHandshakeThenStall)) {
      const std::string response =
          "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: " + AcceptKey(HeaderValue(request, "Sec-WebSocket-Key")) + "\r\n\r\n";
      send(fd, response.data(), response.size(), MSG_NOSIGNAL);
      after = request.substr(request.find("\r\n\r\n") + 4);
      while (ParseClientFrames(after).empty() && ReadSome(fd, after)) {
      }
      send(fd, bytesToSend_.data(), bytesToSend_.size(), MSG_NOSIGNAL);
      while (mode_ == Mode::kHandshakeThenStall && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      // Read until the client drops the connection (after its close frame, it waits for ours and then gives up).
      while (ReadSome(fd, after)) {
        if (!ParseClientFrames(after).empty() && ParseClientFrames(after).back().opcode == 0x8) break;
      }
    }
    connectionFd_ = -1;
    if (fd >= 0) close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    received_ = after;
    ended_ = true;
    changed_.notify_all();
  }

  Mode mode_;
  std::string bytesToSend_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connectionFd_{-1};
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool gotRequest_ = false;   // guarded by mutex_
  bool ended_ = false;        // guarded by mutex_
  std::string received_;      // bytes after the request; guarded by mutex_
};
