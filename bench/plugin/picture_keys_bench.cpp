// The picture keys' cost above the capture, one simulated second at a time: every forwarded frame (one in
// seven of 60 per second) fitted for the keys from the 1920x1080 frame, handed over, and the keys that are due
// at 2 per second drawn, encoded, built into their "setImage" command and sent when changed. The picture
// changes every frame (a moving bar, as the emulator's). Reports bytes per image; percent of a core is the
// time per iteration divided by 10 ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/image_scaler.h"
#include "host/host_protocol.h"
#include "plugin/picture_keys.h"

namespace {

constexpr int32_t kSourceWidth = 1920, kSourceHeight = 1080, kFitWidth = 144, kFitHeight = 81;
constexpr int kFramesPerSecond = 60;
constexpr int kForwardEvery = 7;

// A host that builds each command as the connection would, and counts what it would send.
class CountingHost : public HostPort {
 public:
  void SetImage(const std::string& image, const std::string& context) override {
    const std::string text = BuildSetImageMessage(image, context);
    benchmark::DoNotOptimize(text.data());
    ++images;
    bytes += image.size();
  }
  void SetSettings(const nlohmann::json&, const std::string&) override {}
  void SendToPropertyInspector(const std::string&, const std::string&, const nlohmann::json&) override {}
  void StartRepeatingTimer(std::chrono::milliseconds, std::function<void()>) override {}
  void StopRepeatingTimer() override {}
  size_t images = 0;
  size_t bytes = 0;
};

// The test card's four coloured places with a bar that moves with the frame number.
std::vector<uint8_t> Frame(int number) {
  std::vector<uint8_t> frame(static_cast<size_t>(kSourceWidth) * kSourceHeight * 3);
  for (int32_t y = 0; y < kSourceHeight; ++y) {
    for (int32_t x = 0; x < kSourceWidth; ++x) {
      uint8_t* p = &frame[(static_cast<size_t>(y) * kSourceWidth + x) * 3];
      const int place = (y >= kSourceHeight / 2) * 2 + (x >= kSourceWidth / 2);
      p[0] = place == 2 || place == 3 ? 255 : 0;
      p[1] = place == 1 || place == 3 ? 255 : 0;
      p[2] = place == 0 || place == 3 ? 255 : 0;
    }
  }
  const int32_t bar = (number * 16) % kSourceWidth;
  for (int32_t y = kSourceHeight - 100; y < kSourceHeight - 60; ++y) {
    for (int32_t x = bar; x < bar + 24 && x < kSourceWidth; ++x) frame[(static_cast<size_t>(y) * kSourceWidth + x) * 3] = 128;
  }
  return frame;
}

// keys picture keys on each of `devices` devices, all "live".
void RunSeconds(benchmark::State& state, int keys, int devices) {
  CountingHost host;
  PictureKeys pictures(host);
  ActionSettings read;
  for (int d = 0; d < devices; ++d) {
    for (int k = 0; k < keys; ++k) {
      const nlohmann::json raw = {{"keyPicture", "live"}, {"pictureRate", 2}};
      pictures.Settings("KEY-" + std::to_string(d) + "-" + std::to_string(k), raw, read, d, true);
    }
  }
  // Pictures that differ from frame to frame, fitted ahead; the fitting is measured on one frame every time.
  const std::vector<uint8_t> source = Frame(0);
  constexpr int kDistinct = 16;
  std::vector<std::vector<uint8_t>> distinct;
  for (int i = 0; i < kDistinct; ++i) {
    const std::vector<uint8_t> frame = Frame(i * 7);
    distinct.emplace_back(static_cast<size_t>(kFitWidth) * kFitHeight * 3);
    ScaleImageBgr24(frame.data(), kSourceWidth * 3, kSourceWidth, kSourceHeight, distinct.back().data(),
                    kFitWidth * 3, kFitWidth, kFitHeight);
  }
  LayoutNames names;
  StateImageTexts texts;
  std::vector<uint8_t> fitted(static_cast<size_t>(kFitWidth) * kFitHeight * 3);
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  int frameNumber = 0;
  for (auto _ : state) {
    for (int f = 0; f < kFramesPerSecond / kForwardEvery; ++f) {
      now += std::chrono::microseconds(1000000 * kForwardEvery / kFramesPerSecond);
      ++frameNumber;
      for (int d = 0; d < devices; ++d) {
        // The frame path's share: fitting a bottom-up frame for the keys, top row first.
        ScaleImageBgr24(source.data() + static_cast<size_t>(kSourceWidth) * 3 * (kSourceHeight - 1), -kSourceWidth * 3,
                        kSourceWidth, kSourceHeight, fitted.data(), kFitWidth * 3, kFitWidth, kFitHeight);
        KeyFrame frame;
        frame.device = d;
        frame.width = kFitWidth;
        frame.height = kFitHeight;
        frame.pixels = distinct[static_cast<size_t>(frameNumber % kDistinct)];
        frame.captured = now;
        pictures.Frame(std::move(frame));
      }
      pictures.Flush(now, [](int32_t) { return true; }, nullptr, names, texts, {}, 0);
    }
  }
  state.counters["images_per_second"] =
      benchmark::Counter(static_cast<double>(host.images) / static_cast<double>(state.iterations()));
  state.counters["bytes_per_image"] =
      benchmark::Counter(host.images ? static_cast<double>(host.bytes) / static_cast<double>(host.images) : 0);
  state.SetLabel("one simulated second");
}

void BM_PictureKeysOneDevice(benchmark::State& state) { RunSeconds(state, static_cast<int>(state.range(0)), 1); }
BENCHMARK(BM_PictureKeysOneDevice)->Arg(1)->Arg(4)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_PictureKeysTwoDevices(benchmark::State& state) { RunSeconds(state, 4, 2); }
BENCHMARK(BM_PictureKeysTwoDevices)->Unit(benchmark::kMicrosecond);

// One encoding of a 144x144 key picture, the part that grows with the keys that differ.
void BM_KeyPictureEncode(benchmark::State& state) {
  CountingHost host;
  PictureKeys pictures(host);
  ActionSettings read;
  pictures.Settings("KEY", {{"keyPicture", "live"}, {"pictureRate", 10}}, read, 0, true);
  const std::vector<uint8_t> frames[2] = {Frame(0), Frame(40)};
  std::vector<uint8_t> fitted[2];
  for (int i = 0; i < 2; ++i) {
    fitted[i].resize(static_cast<size_t>(kFitWidth) * kFitHeight * 3);
    ScaleImageBgr24(frames[i].data(), kSourceWidth * 3, kSourceWidth, kSourceHeight, fitted[i].data(), kFitWidth * 3,
                    kFitWidth, kFitHeight);
  }
  LayoutNames names;
  StateImageTexts texts;
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  int n = 0;
  for (auto _ : state) {
    now += std::chrono::milliseconds(100);
    KeyFrame frame;
    frame.device = 0;
    frame.width = kFitWidth;
    frame.height = kFitHeight;
    frame.pixels = fitted[++n % 2];
    frame.captured = now;
    pictures.Frame(std::move(frame));
    pictures.Flush(now, [](int32_t) { return true; }, nullptr, names, texts, {}, 0);
  }
  state.counters["bytes_per_image"] =
      benchmark::Counter(host.images ? static_cast<double>(host.bytes) / static_cast<double>(host.images) : 0);
}
BENCHMARK(BM_KeyPictureEncode)->Unit(benchmark::kMicrosecond);

}  // namespace
