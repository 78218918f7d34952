// End to end: the plug-in executable of this build, started the way the host starts it, against a test host.
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/host/raw_host.h"
#include "tests/plugin/plugin_test_host.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char kInfo[] = R"({"application":{"language":"en"}})";

// Runs the plug-in with args ("$PORT" at the start of one stands for port) while meanwhile plays the host; the
// exit code, or -1 when it did not end in time. Whatever happens, it writes nothing to the console.
int ExitCode(std::vector<std::string> args, uint16_t port, const std::function<void()>& meanwhile = {}) {
  static int run = 0;
  for (std::string& arg : args) {
    if (arg.rfind("$PORT", 0) == 0) arg = std::to_string(port) + arg.substr(5);
  }
  args.insert(args.begin(), PNX_PLUGIN_EXECUTABLE);
  const std::string output = TempPath("process-output" + std::to_string(++run) + ".txt");
  ChildProcess child;
  std::string error;
  EXPECT_TRUE(child.Start(args, output, error)) << error;
  if (meanwhile) meanwhile();
  const int code = WaitExit(child, seconds(30));
  EXPECT_EQ(ReadFile(output), "");
  return code;
}

std::vector<std::string> Usual(const std::string& port = "$PORT", const std::string& uuid = "U-1",
                               const std::string& event = "regEvt", const std::string& info = kInfo) {
  return {"-port", port, "-pluginUUID", uuid, "-registerEvent", event, "-info", info};
}

// Rejected lines exit with 1; ports outside the range (saturated, never wrapped onto a valid one) with 0.
// Neither connects.
TEST(PluginProcess, BadCommandLinesAndPortsEndAtOnce) {
  DevHostServer host;
  // 4294967296 + port would wrap to the host's port with a plain 32-bit conversion.
  const std::string wrapping = std::to_string(4294967296ull + host.Port());
  const struct {
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {{}, 1},
      {Usual("70000"), 0},
      {Usual(wrapping), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExitCode(c.args, host.Port()), c.exitCode) << (c.args.empty() ? "" : c.args[1]);
  }
  EXPECT_FALSE(host.WaitForConnection(milliseconds(0)));
}

// What the dispatch table cannot show: nesting deep enough to overflow a recursive parser's stack, binary
// frames, and every event with the least payload, through the real event loop.
TEST(PluginProcess, BadMessagesLeaveTheConnectionUp) {
  PluginTestHost host;
  ASSERT_TRUE(host.Launch(PNX_PLUGIN_EXECUTABLE, {}, TempPath("bad-messages-output.txt")));
  std::string deep = R"({"event":"keyDown","context":"c","payload":)";
  for (int i = 0; i < 300000; ++i) deep += "{\"a\":";
  deep += "1" + std::string(300000, '}') + "}";
  for (const std::string& text : {std::string(2000000, '{'), deep}) ASSERT_TRUE(host.Server().SendText(text));
  ASSERT_TRUE(host.Server().SendBinary(R"({"event":"keyDown","payload":{}})"));
  ASSERT_TRUE(host.Server().SendBinary(std::string("\xff\x00\xfe", 3)));
  for (const char* event : {"keyDown", "keyUp", "willAppear", "willDisappear", "deviceDidConnect",
                            "deviceDidDisconnect", "sendToPlugin", "applicationDidLaunch", "applicationDidTerminate",
                            "propertyInspectorDidAppear", "propertyInspectorDidDisappear", "didReceiveSettings"}) {
    host.Send({{"event", event}, {"context", "c"}, {"payload", {{"settings", {}}}}});
  }
  // Nothing in reply, and still connected: the answer to a device status request sent last is the first
  // message, and it comes after everything before it was handled.
  host.Send({{"event", "sendToPlugin"}, {"context", "SYNC"}, {"payload", {{"method", "getDeviceStatus"}}}});
  std::vector<std::string> before;
  const std::string answer = host.WaitForText([&](const nlohmann::json& m) {
    const bool found = m.value("context", "") == "SYNC";
    if (!found) before.push_back(m.dump());
    return found;
  });
  EXPECT_NE(answer, "");
  EXPECT_EQ(before, std::vector<std::string>{});
  EXPECT_TRUE(host.Server().IsConnected());
  EXPECT_EQ(host.CloseAndWait(), 0);
  EXPECT_EQ(ReadFile(TempPath("bad-messages-output.txt")), "");
}

TEST(PluginProcess, IdentifierThatIsNotUtf8EndsTheConnectionWithoutRegistering) {
  const std::string bad = "U-\xff\xfe";
  for (const auto& args : {Usual("$PORT", bad), Usual("$PORT", "U-1", bad)}) {
    DevHostServer host;
    EXPECT_EQ(ExitCode(args, host.Port(),
                       [&] {
                         EXPECT_TRUE(host.WaitForConnection(seconds(20)));
                         EXPECT_TRUE(host.WaitForDisconnect(seconds(20)));
                       }),
              0);
    EXPECT_EQ(host.ReceivedCount(), 0u);
  }
}

// A host that closes during the opening handshake, or never answers it (the library allows 5 s).
TEST(PluginProcess, BrokenHandshakeEndsWithZero) {
  for (const RawHost::Mode mode : {RawHost::Mode::kCloseAfterRequest, RawHost::Mode::kSilentHoldOpen}) {
    RawHost host(mode);
    EXPECT_EQ(ExitCode(Usual(), host.Port(), [&] { EXPECT_TRUE(host.WaitForRequest(seconds(20))); }), 0);
  }
}

TEST(PluginProcess, ProtocolViolationsCloseTheConnectionAndExitWithZero) {
  const struct {
    const char* name;
    std::string bytes;
    uint16_t closeCode;
  } cases[] = {
      {"text frame that is not UTF-8", RawHost::ServerFrame(0x1, "{\"event\":\"keyDown\",\"context\":\"\xc3(\"}"),
       1007},
      {"message above the 32 MB limit", RawHost::ServerFrameHeader(0x1, 40000000), 1009},
      {"masked server frame", std::string("\x81\x81\x01\x02\x03\x04\x7a", 7), 1002},
  };
  for (const auto& c : cases) {
    RawHost host(RawHost::Mode::kHandshakeThenSend, c.bytes);
    EXPECT_EQ(ExitCode(Usual(), host.Port(), [&] { ASSERT_TRUE(host.WaitForEnd(seconds(20))) << c.name; }), 0)
        << c.name;
    const std::vector<RawHost::Frame> frames = host.ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u) << c.name;
    EXPECT_EQ(frames[0].payload, R"({"event":"regEvt","uuid":"U-1"})");
    ASSERT_EQ(frames[1].opcode, 0x8) << c.name;
    ASSERT_GE(frames[1].payload.size(), 2u) << c.name;
    EXPECT_EQ((static_cast<uint8_t>(frames[1].payload[0]) << 8) | static_cast<uint8_t>(frames[1].payload[1]),
              c.closeCode)
        << c.name;
  }
}

}  // namespace
