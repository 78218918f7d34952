// A measured run of the real plug-in process against a host that completes the handshake, asks for the preview
// and then stops reading (a hung host UI), with the emulated device at 1920x1080, 60 frames per second. Prints
// the process's resident memory every 5 s. Usage: stalled_host_run [width height [seconds]] (default 224 126 60),
// or stalled_host_run keys N [seconds]: N live picture keys at 10 a second instead of the preview.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/host/raw_host.h"
#include "tests/plugin/plugin_test_host.h"

using nlohmann::json;

int main(int argc, char** argv) {
  const bool keys = argc > 2 && std::string(argv[1]) == "keys";
  const int width = argc > 2 && !keys ? std::atoi(argv[1]) : 224;
  const int height = argc > 2 ? std::atoi(argv[2]) : 126;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 60;
  const std::string config = TempPath("devices.json");
  WriteFile(config, R"({"frame": {"width": 1920, "height": 1080, "fps": 60}, "devices": [{}]})");
  const json preview = {{"method", "startSendingImages"}, {"imageWidth", width}, {"imageHeight", height}};
  std::vector<json> requests = {{{"event", "propertyInspectorDidAppear"}, {"action", "a"}, {"context", "P"}},
                                {{"event", "sendToPlugin"}, {"action", "a"}, {"context", "P"}, {"payload", preview}}};
  if (keys) {
    requests.clear();
    const json settings = {{"currentDevice", "Brelvon"}, {"keyPicture", "live"}, {"pictureRate", 10}};
    for (int k = 0; k < std::atoi(argv[2]); ++k) {
      requests.push_back({{"event", "willAppear"}, {"action", "a"}, {"context", "K" + std::to_string(k)},
                          {"payload", {{"settings", settings}}}});
    }
  }
  RawHost host(RawHost::Mode::kHandshakeThenStall, HostTextFrames(requests));
  ChildProcess child;
  std::string error;
  if (!StartPlugin(child, PNX_PLUGIN_EXECUTABLE, host.Port(), {"PNX_SIM_DEVICES=" + config}, "", error) ||
      !host.WaitForRequest(std::chrono::seconds(20))) {
    std::fprintf(stderr, "the plug-in did not connect: %s\n", error.c_str());
    return 1;
  }
  if (keys) {
    std::printf("%s live picture keys at 10/s, host not reading after the requests\n", argv[2]);
  } else {
    std::printf("preview %d x %d, host not reading after the request\n", width, height);
  }
  long first = -1, peak = 0, last = 0;
  for (int t = 0; t <= seconds; t += 5) {
    last = ResidentKilobytes(child.Pid());
    if (first < 0) first = last;
    if (last > peak) peak = last;
    std::printf("  %3d s: RSS %ld kB\n", t, last);
    std::fflush(stdout);
    if (t < seconds) std::this_thread::sleep_for(std::chrono::seconds(5));
  }
  std::printf("RSS at start %ld kB, peak %ld kB, end %ld kB; still running: %s\n", first, peak, last,
              child.Running() ? "yes" : "no");
  return child.Running() ? 0 : 1;
}
