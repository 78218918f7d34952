// The real executable against a host that completes the handshake, asks for a preview and then stops reading
// its socket (a hung host): the plug-in must not queue every image for it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>

#include "tests/host/raw_host.h"
#include "tests/plugin/plugin_test_host.h"
#include "tools/devhost/plugin_launch.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

long ResidentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::string HostFrame(const json& message) { return RawHost::ServerFrame(0x1, message.dump()); }

TEST(StalledHost, MemoryStaysBoundedWhileTheHostDoesNotRead) {
  // 960 x 540 images: about 5.5 MB of text each, some 8 a second, which a queue would keep growing by.
  const json preview = {{"method", "startSendingImages"}, {"imageWidth", 960}, {"imageHeight", 540}};
  const std::string events =
      HostFrame({{"event", "propertyInspectorDidAppear"}, {"action", "a"}, {"context", "P"}}) +
      HostFrame({{"event", "sendToPlugin"}, {"action", "a"}, {"context", "P"}, {"payload", preview}});
  RawHost host(RawHost::Mode::kHandshakeThenStall, events);
  PluginLaunch launch;
  launch.executable = PNX_PLUGIN_EXECUTABLE;
  launch.port = host.Port();
  launch.pluginUUID = NewPluginUUID();
  launch.info = MakeInfoBlock("en");
  const std::string output = TempPath("stalled-output.txt");
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start(PluginArguments(launch), output, error)) << error;
  ASSERT_TRUE(host.WaitForRequest(20s));

  // The socket buffers fill within the first second; from then on the process must not grow with the images.
  std::this_thread::sleep_for(1500ms);
  const long before = ResidentKilobytes(child.Pid());
  std::this_thread::sleep_for(3s);
  const long after = ResidentKilobytes(child.Pid());
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, 40 * 1024) << "grew from " << before << " kB to " << after << " kB";
  EXPECT_TRUE(child.Running());
}

}  // namespace
