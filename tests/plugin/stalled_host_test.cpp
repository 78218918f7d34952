// The real executable against a host that completes the handshake, asks for a preview and then stops reading
// its socket (a hung host): the plug-in must not queue every image for it.
#include <gtest/gtest.h>

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
  RawHost host(RawHost::Mode::kHandshakeThenStall,
               HostTextFrames({{{"event", "propertyInspectorDidAppear"}, {"action", "a"}, {"context", "P"}},
                               {{"event", "sendToPlugin"}, {"action", "a"}, {"context", "P"}, {"payload", preview}}}));
  ChildProcess child;
  std::string error;
  const std::string devices = TempPath("stalled-devices.json");
  WriteFile(devices, R"({"frame": {"width": 960, "height": 540}, "devices": [{}]})");
  ASSERT_TRUE(StartPlugin(child, PNX_PLUGIN_EXECUTABLE, host.Port(), {"PNX_SIM_DEVICES=" + devices},
                          TempPath("stalled-output.txt"), error))
      << error;
  ASSERT_TRUE(host.WaitForRequest(20s));

  // Images arrive until the socket buffers are full; once the host's side has stopped filling for a second,
  // the plug-in can send no more, and from then on it must not grow with the images it makes.
  const auto deadline = PluginTestHost::Clock::now() + 60s;
  auto stableSince = PluginTestHost::Clock::now();
  size_t unread = 0;
  while (unread == 0 || PluginTestHost::Clock::now() - stableSince < 1s) {
    ASSERT_LT(PluginTestHost::Clock::now(), deadline) << "the host's socket never filled";
    std::this_thread::sleep_for(100ms);
    const size_t now = host.UnreadBytes();
    if (now != unread) stableSince = PluginTestHost::Clock::now();
    unread = now;
  }
  const long before = ResidentKilobytes(child.Pid());
  std::this_thread::sleep_for(3s);
  const long after = ResidentKilobytes(child.Pid());
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, 24 * 1024) << "grew from " << before << " kB to " << after << " kB";
  EXPECT_TRUE(child.Running());
}

}  // namespace
