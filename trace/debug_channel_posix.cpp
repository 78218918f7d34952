// The POSIX debugger-output channel: address, reader.
#include "trace/debug_channel_posix.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "trace/trace_text.h"

namespace qvtrace {

std::string DebugChannelAddress(const wchar_t* baseName) {
  std::string address(1, '\0');
  address += WideToUtf8(baseName);
  address += "_DebugOutput_" + std::to_string(geteuid());
  return address;
}

socklen_t FillDebugChannelAddress(const std::string& address, struct sockaddr_un* out) {
  std::memset(out, 0, sizeof(*out));
  out->sun_family = AF_UNIX;
  size_t length = std::min(address.size(), sizeof(out->sun_path));
  std::memcpy(out->sun_path, address.data(), length);
  return static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + length);
}

int OpenDebugMonitor(const wchar_t* baseName) {
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on));
  // Room for bursts: a sender never waits, so a full queue loses lines.
  int size = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
  struct sockaddr_un address;
  socklen_t length = FillDebugChannelAddress(DebugChannelAddress(baseName), &address);
  if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), length) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool ReadDebugMonitor(int socket, std::string* text, int timeoutMs) {
  std::vector<char> buffer(65536);
  for (;;) {
    struct pollfd waiting = {socket, POLLIN, 0};
    int ready = poll(&waiting, 1, timeoutMs);
    if (ready <= 0) return false;
    union {
      struct cmsghdr header;
      char space[CMSG_SPACE(sizeof(struct ucred))];
    } control;
    struct iovec io = {buffer.data(), buffer.size()};
    struct msghdr message = {};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = &control;
    message.msg_controllen = sizeof(control);
    ssize_t n = recvmsg(socket, &message, 0);
    if (n < 0) return false;
    bool sameUser = false;
    for (struct cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
          c->cmsg_len >= CMSG_LEN(sizeof(struct ucred))) {
        struct ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(c), sizeof(credentials));
        sameUser = credentials.uid == geteuid();
      }
    }
    if (!sameUser) continue;
    text->assign(buffer.data(), static_cast<size_t>(n));
    return true;
  }
}

}  // namespace qvtrace
