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

  explicit RawHost(Mode mode, std::string bytesToSend = "") : m_mode(mode), m_bytesToSend(std::move(bytesToSend)) {
    m_listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (m_listenFd < 0 || bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(m_listenFd, 4) != 0 || getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      if (m_listenFd >= 0) close(m_listenFd);
      throw std::runtime_error("raw host: cannot listen");
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~RawHost() {
    m_stop = true;
    m_thread.join();
    close(m_listenFd);
  }

  uint16_t Port() const { return m_port; }
  bool WaitForRequest(std::chrono::milliseconds timeout) { return WaitUntil(m_gotRequest, timeout); }
  // Bytes that have arrived on the connection and not been read (what a stalled host leaves waiting).
  size_t UnreadBytes() const {
    int count = 0;
    const int fd = m_connectionFd;
    return fd >= 0 && ioctl(fd, FIONREAD, &count) == 0 && count > 0 ? static_cast<size_t>(count) : 0;
  }
  // Waits until the peer has closed the socket (or the mode's work is done); then the frames it sent.
  bool WaitForEnd(std::chrono::milliseconds timeout) { return WaitUntil(m_ended, timeout); }
  std::vector<Frame> ReceivedFrames() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return ParseClientFrames(m_received);
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
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return flag; });
  }
  // False on end of stream, error or stop.
  bool ReadSome(int fd, std::string& into) {
    while (!m_stop) {
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
    while (!m_stop && fd < 0) {
      pollfd p{m_listenFd, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) fd = accept(m_listenFd, nullptr, nullptr);
    }
    m_connectionFd = fd;
    std::string request;
    bool open = fd >= 0;
    while (open && request.find("\r\n\r\n") == std::string::npos) open = ReadSome(fd, request);
    if (open) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_gotRequest = true;
      m_changed.notify_all();
    }
    std::string after;
    if (open && m_mode == Mode::kSilentHoldOpen) {
      while (!m_stop && ReadSome(fd, after)) {
      }
      while (!m_stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else if (open && (m_mode == Mode::kHandshakeThenSend || m_mode == Mode::kHandshakeThenStall)) {
      const std::string response =
          "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Accept: " + AcceptKey(HeaderValue(request, "Sec-WebSocket-Key")) + "\r\n\r\n";
      send(fd, response.data(), response.size(), MSG_NOSIGNAL);
      after = request.substr(request.find("\r\n\r\n") + 4);
      while (ParseClientFrames(after).empty() && ReadSome(fd, after)) {
      }
      send(fd, m_bytesToSend.data(), m_bytesToSend.size(), MSG_NOSIGNAL);
      while (m_mode == Mode::kHandshakeThenStall && !m_stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      // Read until the client drops the connection (after its close frame, it waits for ours and then gives up).
      while (ReadSome(fd, after)) {
        if (!ParseClientFrames(after).empty() && ParseClientFrames(after).back().opcode == 0x8) break;
      }
    }
    m_connectionFd = -1;
    if (fd >= 0) close(fd);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_received = after;
    m_ended = true;
    m_changed.notify_all();
  }

  Mode m_mode;
  std::string m_bytesToSend;
  int m_listenFd = -1;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_connectionFd{-1};
  std::thread m_thread;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_gotRequest = false;   // guarded by m_mutex
  bool m_ended = false;        // guarded by m_mutex
  std::string m_received;      // bytes after the request; guarded by m_mutex
};
