// The real executable against a host that completes the handshake, asks for a preview and then stops reading
// its socket (a hung host): the plug-in must not queue every image for it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "tests/host/raw_host.h"
#include "tests/plugin/plugin_test_host.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

TEST(StalledHost, MemoryStaysBoundedWhileTheHostDoesNotRead) {
  // 960 x 540 images: about 5.5 MB of text each, some 8 a second, which a queue would keep growing by.
  const json preview = {{"method", "startSendingImages"}, {"imageWidth", 960}, {"imageHeight", 540}};
  auto host = std::make_unique<RawHost>(
      RawHost::Mode::kHandshakeThenStall,
      HostTextFrames({{{"event", "propertyInspectorDidAppear"}, {"action", "a"}, {"context", "P"}},
                      {{"event", "sendToPlugin"}, {"action", "a"}, {"context", "P"}, {"payload", preview}}}));
  ChildProcess child;
  std::string error;
  const std::string output = TempPath("stalled-output.txt");
  const std::string devices = TempPath("stalled-devices.json");
  WriteFile(devices, R"({"frame": {"width": 960, "height": 540}, "devices": [{}]})");
  ASSERT_TRUE(StartPlugin(child, PNX_PLUGIN_EXECUTABLE, host->Port(), {"PNX_SIM_DEVICES=" + devices},
                          output, error))
      << error;
  ASSERT_TRUE(host->WaitForRequest(20s));

  // Images arrive until the socket buffers are full; from then on the plug-in can send no more, and its memory
  // must come to rest instead of growing with every image it makes. A queue of 5.5 MB images grows by tens of
  // megabytes a second.
  const auto deadline = PluginTestHost::Clock::now() + 40s;
  std::string series;
  long before = ResidentKilobytes(child.Pid());
  for (;;) {
    std::this_thread::sleep_for(2s);  // the sampling period of the growth under test
    const long after = ResidentKilobytes(child.Pid());
    ASSERT_GT(after, 0);
    series += " " + std::to_string(after / 1024);
    if (after - before < 8 * 1024) break;
    ASSERT_LT(PluginTestHost::Clock::now(), deadline) << "still growing; MB every 2 s:" << series;
    before = after;
  }
  EXPECT_GT(host->UnreadBytes(), 0u);  // images did arrive before the host stalled
  EXPECT_TRUE(child.Running());

  // The host going away ends the plug-in normally, unsent images and all.
  host.reset();
  ASSERT_TRUE(child.WaitForExit(20s));
  EXPECT_EQ(child.ExitCode(), 0);
  EXPECT_EQ(ReadFile(output), "");
}

}  // namespace
