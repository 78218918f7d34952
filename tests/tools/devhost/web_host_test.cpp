// pnx-devhost --web as a user starts it: one line on standard output, files and WebSocket on that port, the
// plug-in of the assembled bundle started from its manifest, and an orderly end when standard input closes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/plugin/plugin_test_host.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Everything readable from fd until it ends or the deadline passes; stops early at the first newline when
// asked to.
std::string ReadFrom(int fd, Clock::time_point deadline, bool lineOnly) {
  std::string text;
  char buffer[4096];
  while (Clock::now() < deadline) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = read(fd, buffer, lineOnly ? 1 : sizeof(buffer));
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (lineOnly && text.back() == '\n') break;
  }
  return text;
}

// One request on a fresh connection to 127.0.0.1:port: the whole answer up to the server's close, or only its
// status line (a WebSocket stays open after its handshake).
std::string Exchange(uint16_t port, const std::string& request, bool statusLineOnly = false) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    answer = ReadFrom(fd, Clock::now() + std::chrono::seconds(5), statusLineOnly);
  }
  close(fd);
  return statusLineOnly ? answer.substr(0, answer.find("\r\n")) : answer;
}

TEST(WebHost, PrintsOnlyItsUrlServesTheBundleAndEndsWithStandardInput) {
  char base[] = "/tmp/pnx-webhost-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  const std::string settingsPath = std::string(base) + "/settings.json";
  const std::string stderrPath = std::string(base) + "/stderr.txt";
  setenv("PNX_SIM_DEVICES", PNX_DEMO_DEVICES, 1);

  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string args[] = {PNX_DEVHOST_EXECUTABLE, "--web", "--settings", settingsPath, PNX_BUNDLE_FOLDER};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);

  const std::string line = ReadFrom(out[0], Clock::now() + std::chrono::seconds(20), true);
  unsigned port = 0;
  char token[33] = {};
  ASSERT_EQ(std::sscanf(line.c_str(), "http://127.0.0.1:%u/?token=%32[0-9a-f]", &port, token), 2) << line;
  EXPECT_EQ(line, "http://127.0.0.1:" + std::to_string(port) + "/?token=" + token + "\n");
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";

  const std::string answer = Exchange(static_cast<uint16_t>(port),
                                      "GET /plugin/manifest.json HTTP/1.1\r\n" + host + "\r\n");
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
  const std::string portText = std::to_string(port);
  EXPECT_NE(answer.find("Content-Security-Policy: default-src 'self'; img-src 'self' data: blob:; connect-src "
                        "'self' ws://127.0.0.1:" + portText + " ws://localhost:" + portText + ";"),
            std::string::npos)
      << answer;
  EXPECT_NE(answer.find("Content-Type: application/json"), std::string::npos);
  EXPECT_NE(answer.find("X-Content-Type-Options: nosniff"), std::string::npos);
  EXPECT_NE(answer.find("\"identifier\": \"com.brelvon.multiview\""), std::string::npos);
  EXPECT_EQ(Exchange(static_cast<uint16_t>(port),
                     "GET /plugin/%2e%2e/manifest.json HTTP/1.1\r\n" + host + "\r\n", true),
            "HTTP/1.1 404 Not Found");
  EXPECT_EQ(Exchange(static_cast<uint16_t>(port), "POST /plugin/manifest.json HTTP/1.1\r\n" + host + "\r\n", true),
            "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(Exchange(static_cast<uint16_t>(port),
                     "GET / HTTP/1.1\r\n" + host + "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                     "Origin: http://evil.example\r\n\r\n",
                     true),
            "HTTP/1.1 403 Forbidden");
  // Only this server's own names; a name rebound to 127.0.0.1 reads nothing, not even an error page.
  for (const std::string& name : {"evil.example:" + portText, std::string("127.0.0.1"), "[::1]:" + portText}) {
    const std::string refused =
        Exchange(static_cast<uint16_t>(port), "GET /plugin/manifest.json HTTP/1.1\r\nHost: " + name + "\r\n\r\n");
    EXPECT_EQ(refused.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << name << ": " << refused;
    EXPECT_EQ(refused.find("\r\n\r\n"), refused.size() - 4) << name << ": " << refused;  // no body
    EXPECT_EQ(refused.find("Content-Type"), std::string::npos) << refused;
  }

  // The plug-in, started from the manifest, answers every key's "willAppear" with its completed settings,
  // which the host stores.
  nlohmann::json stored;
  for (const auto deadline = Clock::now() + std::chrono::seconds(20); Clock::now() < deadline;
       std::this_thread::sleep_for(std::chrono::milliseconds(100))) {
    stored = nlohmann::json::parse(ReadFile(settingsPath), nullptr, false);
    if (stored.is_object() && stored["keys"].size() == 15) break;
  }
  ASSERT_TRUE(stored.is_object()) << ReadFile(stderrPath);
  EXPECT_EQ(stored["keys"].size(), 15u);
  EXPECT_EQ(stored["keys"]["key-15"]["currentDevice"], "Brelvon");

  close(in[1]);
  const std::string rest = ReadFrom(out[0], Clock::now() + std::chrono::seconds(20), false);
  close(out[0]);
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(rest, "");
  EXPECT_NE(ReadFile(stderrPath).find("the plug-in exited with code 0"), std::string::npos) << ReadFile(stderrPath);
}

}  // namespace
