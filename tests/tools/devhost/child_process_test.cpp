// A started plug-in holds nothing of its host but the standard streams: a plug-in that outlives the host must
// not keep the host's port, and a program that some library starts must not inherit the listening socket.
#include "tools/devhost/child_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/plugin/plugin_test_host.h"
#include "tools/devhost/dev_host_server.h"

namespace {

// The descriptor of this process that listens on 127.0.0.1:port, or -1.
int ListeningDescriptor(uint16_t port) {
  DIR* folder = opendir("/proc/self/fd");
  if (!folder) return -1;
  int found = -1;
  while (dirent* entry = readdir(folder)) {
    const int fd = std::atoi(entry->d_name);
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    int listening = 0;
    socklen_t flagLength = sizeof(listening);
    if (entry->d_name[0] != '.' && getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
        getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flagLength) == 0 && listening) {
      found = fd;
    }
  }
  closedir(folder);
  return found;
}

TEST(ChildProcess, InheritsOnlyTheStandardStreams) {
  DevHostServer server;
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);  // without close-on-exec, as the event-loop library opens its sockets
  const std::string output = TempPath("descriptors.txt");
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({"/bin/sh", "-c", "ls /proc/$$/fd"}, output, error)) << error;
  ASSERT_TRUE(child.WaitForExit(std::chrono::seconds(10)));
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(ReadFile(output), "0\n1\n2\n");
}

TEST(DevHostServer, ListeningSocketIsClosedOnExec) {
  DevHostServer server;
  const int fd = ListeningDescriptor(server.Port());
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
}

}  // namespace
