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
  ASSERT_TRUE(StartPlugin(child, PNX_PLUGIN_EXECUTABLE, host.Port(), {}, TempPath("stalled-output.txt"), error))
      << error;
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
