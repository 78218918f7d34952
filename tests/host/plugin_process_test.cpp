// End to end: the plug-in executable of this build, started the way the host starts it, against a test host.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/host/raw_host.h"
#include "tools/devhost/child_process.h"
#include "tools/devhost/dev_host_server.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char kInfo[] = R"({"application":{"language":"en"}})";

// The plug-in process with its standard streams in a file, which must stay empty.
class PluginProcess {
 public:
  PluginProcess() {
    char pattern[] = "/tmp/pnx-plugin-output-XXXXXX";
    close(mkstemp(pattern));
    outputPath_ = pattern;
  }
  ~PluginProcess() { unlink(outputPath_.c_str()); }

  // "$PORT" in args stands for port.
  bool Start(std::vector<std::string> args, const std::string& port = "") {
    for (std::string& arg : args) {
      if (arg.rfind("$PORT", 0) == 0) arg = port + arg.substr(5);
    }
    args.insert(args.begin(), PNX_PLUGIN_EXECUTABLE);
    std::string error;
    const bool started = child_.Start(args, outputPath_, error);
    EXPECT_TRUE(started) << error;
    return started;
  }
  bool Start(const std::string& port, const std::string& uuid = "U-1", const std::string& event = "regEvt") {
    return Start({"-port", port, "-pluginUUID", uuid, "-registerEvent", event, "-info", kInfo});
  }
  // The exit code, or -1 when it has not exited in time (it is killed then).
  int ExitCode(milliseconds timeout = seconds(20)) {
    if (child_.WaitForExit(timeout)) return child_.ExitCode();
    child_.Kill();
    return -1;
  }
  bool Running() { return child_.Running(); }
  std::string Output() const {
    std::ifstream file(outputPath_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

 private:
  ChildProcess child_;
  std::string outputPath_;
};

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
      {{"-port", "$PORT", "-pluginUUID", "U", "-registerEvent", "r", "-info"}, 1},
      {{"-port", "$PORT", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo, "extra"}, 1},
      {{"-port", "$PORT", "-pluginUUID", "U", "-registerEvent", "r", "-Info", kInfo}, 1},
      {{"-port", "abc", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 1},
      {{"-port", "0", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 1},
      {{"-port", "$PORT", "-pluginUUID", "", "-registerEvent", "r", "-info", kInfo}, 1},
      {{"-port", "1", "-pluginUUID", "U", "-port", "$PORT", "-info", kInfo}, 1},
      {{"-port", "70000", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 0},
      {{"-port", "-5", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 0},
      {{"-port", "65536", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 0},
      {{"-port", wrapping, "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 0},
      {{"-port", "99999999999999999999", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 0},
      {{"-port", "-99999999999999999999", "-pluginUUID", "U", "-registerEvent", "r", "-info", kInfo}, 0},
  };
  for (const auto& c : cases) {
    PluginProcess plugin;
    ASSERT_TRUE(plugin.Start(c.args, std::to_string(host.Port())));
    EXPECT_EQ(plugin.ExitCode(), c.exitCode) << c.args.size() << (c.args.empty() ? "" : c.args[1]);
    EXPECT_EQ(plugin.Output(), "");
  }
  EXPECT_FALSE(host.WaitForConnection(milliseconds(0)));
}

TEST(PluginProcess, RegistersAndExitsWithZeroWhenTheHostCloses) {
  const std::vector<std::string> cases[] = {
      {"-port", "$PORT", "-pluginUUID", "U-1", "-registerEvent", "regEvt", "-info", kInfo},
      {"-info", kInfo, "-registerEvent", "regEvt", "-pluginUUID", "U-1", "-port", "$PORT"},
      {"-port", "$PORTxyz", "-pluginUUID", "U-1", "-registerEvent", "regEvt", "-info", kInfo},
      {"-port", "$PORT", "-pluginUUID", "U-1", "-registerEvent", "regEvt", "-info", "{{"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + args[1] + " " + args.back());
    DevHostServer host;
    PluginProcess plugin;
    ASSERT_TRUE(plugin.Start(args, std::to_string(host.Port())));
    DevHostServer::Message registration;
    ASSERT_TRUE(host.NextMessage(registration, seconds(20)));
    EXPECT_EQ(registration.text, R"({"event":"regEvt","uuid":"U-1"})");
    host.Close();
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_EQ(plugin.Output(), "");
  }
}

TEST(PluginProcess, BadMessagesLeaveTheConnectionUp) {
  DevHostServer host;
  PluginProcess plugin;
  ASSERT_TRUE(plugin.Start(std::to_string(host.Port())));
  DevHostServer::Message message;
  ASSERT_TRUE(host.NextMessage(message, seconds(20)));

  std::string deep = R"({"event":"keyDown","context":"c","payload":)";
  for (int i = 0; i < 300000; ++i) deep += "{\"a\":";
  deep += "1" + std::string(300000, '}') + "}";
  const std::vector<std::string> texts = {
      "not json", "[]", R"([{"event":"keyDown"}])", "\"keyDown\"", "42", "null", "{}", R"({"event":7})",
      R"({"event":"keyDown","payload":"text","context":5,"action":[],"device":{}})",
      R"({"event":"deviceDidConnect","deviceInfo":"x"})", R"({"event":"KeyDown"})",
      R"({"event":"keyUp","context":"\udc00"})", std::string(2000000, '{'), deep,
  };
  for (const std::string& text : texts) ASSERT_TRUE(host.SendText(text));
  ASSERT_TRUE(host.SendBinary(R"({"event":"keyDown","payload":{}})"));
  ASSERT_TRUE(host.SendBinary(std::string("\xff\x00\xfe", 3)));
  for (const char* event : {"keyDown", "keyUp", "willAppear", "willDisappear", "deviceDidConnect",
                            "deviceDidDisconnect", "sendToPlugin", "applicationDidLaunch", "applicationDidTerminate",
                            "propertyInspectorDidAppear", "propertyInspectorDidDisappear", "didReceiveSettings"}) {
    ASSERT_TRUE(host.SendText(nlohmann::json({{"event", event}, {"context", "c"}, {"payload", {{"settings", {}}}}})
                                  .dump()));
  }
  // Nothing in reply, and still connected once everything has had time to arrive.
  EXPECT_FALSE(host.NextMessage(message, milliseconds(500)));
  EXPECT_TRUE(host.IsConnected());
  EXPECT_TRUE(plugin.Running());

  host.Close();
  EXPECT_EQ(plugin.ExitCode(), 0);
  EXPECT_EQ(plugin.Output(), "");
}

TEST(PluginProcess, IdentifierThatIsNotUtf8EndsTheConnectionWithoutRegistering) {
  for (const bool inUuid : {true, false}) {
    DevHostServer host;
    PluginProcess plugin;
    const std::string bad = "U-\xff\xfe";
    ASSERT_TRUE(plugin.Start(std::to_string(host.Port()), inUuid ? bad : "U-1", inUuid ? "regEvt" : bad));
    EXPECT_TRUE(host.WaitForConnection(seconds(20)));
    EXPECT_TRUE(host.WaitForDisconnect(seconds(20)));
    EXPECT_EQ(plugin.ExitCode(), 0);
    EXPECT_EQ(host.ReceivedCount(), 0u);
    EXPECT_EQ(plugin.Output(), "");
  }
}

// A host that closes during the opening handshake, or never answers it (the library allows 5 s).
TEST(PluginProcess, BrokenHandshakeEndsWithZero) {
  for (const RawHost::Mode mode :
       {RawHost::Mode::kCloseAfterRequest, RawHost::Mode::kSilent, RawHost::Mode::kSilentHoldOpen}) {
    RawHost host(mode);
    PluginProcess plugin;
    ASSERT_TRUE(plugin.Start(std::to_string(host.Port())));
    EXPECT_TRUE(host.WaitForRequest(seconds(20)));
    EXPECT_EQ(plugin.ExitCode(seconds(30)), 0);
    EXPECT_EQ(plugin.Output(), "");
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
    PluginProcess plugin;
    ASSERT_TRUE(plugin.Start(std::to_string(host.Port())));
    ASSERT_TRUE(host.WaitForEnd(seconds(20))) << c.name;
    EXPECT_EQ(plugin.ExitCode(), 0) << c.name;
    EXPECT_EQ(plugin.Output(), "") << c.name;
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
