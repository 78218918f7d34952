// A measured run of the real plug-in process with live picture keys against the emulated device (1920x1080 at
// 60 frames per second, its time code stamped with the capture time): capture to "setImage" received, p50 and
// p95, read from the time code in each key picture; bytes per image; the process's CPU with 1 and 8 keys. Prints
// one report; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/device/test_card_reader.h"
#include "tests/plugin/host_messages.h"
#include "tests/plugin/plugin_test_host.h"
#include "tests/plugin/png_reader.h"

using nlohmann::json;

namespace {

// Time on a CPU of all the process's threads, in seconds, from the scheduler.
double RunSeconds(pid_t pid) {
  double total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* dir = opendir(tasks.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
      double run = 0;
      if (schedstat >> run) total += run / 1e9;
    }
    closedir(dir);
  }
  return total;
}

// The capture time's low 20 bits of milliseconds, read from the key picture's time code; false when unreadable.
bool CaptureMs(const PngPicture& p, uint32_t* ms) {
  constexpr int32_t kTop = 31, kWidth = 144, kHeight = 81;
  std::vector<uint8_t> bgr(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int32_t y = 0; y < kHeight; ++y) {
    const uint8_t* from = &p.rgb[(static_cast<size_t>(kTop + y) * p.width) * 3];
    uint8_t* to = &bgr[static_cast<size_t>(kHeight - 1 - y) * kWidth * 3];
    for (int32_t x = 0; x < kWidth; ++x) {
      to[x * 3] = from[x * 3 + 2];
      to[x * 3 + 1] = from[x * 3 + 1];
      to[x * 3 + 2] = from[x * 3];
    }
  }
  return test_card::ReadTimeCode(bgr.data(), kWidth, kHeight, ms);
}

struct Result {
  std::vector<double> latencies;  // ms
  size_t images = 0;
  size_t bytes = 0;
  double cpuPercent = 0;
};

// keys live picture keys on each of `devices` emulated devices (1 or 2).
Result Run(int keys, std::chrono::seconds length, int devices = 1) {
  Result result;
  PluginTestHost host;
  std::vector<std::string> environment;
  if (devices > 1) {
    const std::string config = "/tmp/picture_keys_run_devices.json";
    std::ofstream(config) << R"({"devices": [{}, {"number": 2}]})";
    environment.push_back("PNX_SIM_DEVICES=" + config);
  }
  if (!host.Launch(PNX_PLUGIN_EXECUTABLE, environment, "/dev/null")) return result;
  for (int d = 0; d < devices; ++d) {
    for (int k = 0; k < keys; ++k) {
      host.Send(WithSettings("willAppear", "KEY" + std::to_string(d) + std::to_string(k),
                             json{{"currentDevice", d == 0 ? "Brelvon" : "Brelvon 2"}, {"keyPicture", "live"},
                                  {"pictureRate", 2}}));
    }
  }
  // The first picture: the capture runs; the measured window starts there.
  host.WaitFor([](const json& m) { return m.value("event", "") == "setImage"; }, std::chrono::seconds(20));
  host.TakeAll();
  const double cpuStart = RunSeconds(host.Pid());
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < length) {
    const json m = host.WaitFor([](const json& m) { return m.value("event", "") == "setImage"; },
                                std::chrono::seconds(2));
    if (!m.is_object()) continue;
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string image = m["payload"].value("image", "");
    ++result.images;
    result.bytes += image.size();
    PngPicture p;
    uint32_t ms = 0;
    if (!ReadPngDataUrl(image, p) || p.width != 144 || !CaptureMs(p, &ms)) continue;
    result.latencies.push_back(static_cast<double>((static_cast<uint32_t>(now) - ms) & 0xFFFFF));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.cpuPercent = 100 * (RunSeconds(host.Pid()) - cpuStart) / seconds;
  host.CloseAndWait();
  return result;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

}  // namespace

int main() {
  for (const auto& run : {std::pair<int, int>{1, 1}, {8, 1}, {4, 2}}) {
    const int keys = run.first;
    const Result r = Run(keys, std::chrono::seconds(10), run.second);
    std::printf("%d device(s), %d live key(s) each at 2/s: %zu images, %.0f bytes per image (data URL), process CPU %.1f%% of a core; "
                "capture to setImage (%zu read) p50 %.0f ms, p95 %.0f ms\n",
                run.second, keys, r.images, r.images ? static_cast<double>(r.bytes) / static_cast<double>(r.images) : 0.0,
                r.cpuPercent, r.latencies.size(), Percentile(r.latencies, 0.5), Percentile(r.latencies, 0.95));
  }
  return 0;
}
