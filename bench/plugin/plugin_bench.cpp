// One forwarded preview frame at 1920x1080 -> 224x126: scaling, BMP packing and the "imageData" command,
// with the command written directly beside the generic path through JSON values.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/capture_device_manager.h"
#include "host/host_protocol.h"
#include "plugin/image_data_message.h"
#include "plugin/state_image.h"

namespace {

constexpr int32_t kSourceWidth = 1920, kSourceHeight = 1080, kWidth = 224, kHeight = 126;

std::vector<uint8_t> NoisyBytes(size_t count) {
  std::vector<uint8_t> bytes(count);
  std::mt19937 random(1);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// The generic path: a JSON value per byte, then the host link's command builder serialises it.
std::string GenericMessage(const std::string& action, const std::string& context, const std::vector<uint8_t>& bytes) {
  nlohmann::json payload;
  payload["imageData"] = nlohmann::json::array();
  for (uint8_t b : bytes) payload["imageData"].push_back(b);
  return BuildSendToPropertyInspectorMessage(action, context, payload);
}

// The plug-in's path: the payload text written directly, then the same command builder around it.
std::string DirectMessage(std::string& payload, const std::string& action, const std::string& context,
                          const std::vector<uint8_t>& bytes) {
  WriteImageDataPayload(payload, bytes.data(), bytes.size());
  return BuildSendToPropertyInspectorMessageFromText(action, context, payload);
}

const std::string kActionName = "com.brelvon.multiview.action";
const std::string kContextName = "7F0E3A2C91B54D1EA3C2D1E0F9A8B7C6";

void BM_ImageMessageGeneric(benchmark::State& state) {
  const std::vector<uint8_t> image = NoisyBytes(54 + kWidth * kHeight * 3);
  for (auto _ : state) {
    std::string text = GenericMessage(kActionName, kContextName, image);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetLabel("84726 numbers");
}
BENCHMARK(BM_ImageMessageGeneric)->Unit(benchmark::kMicrosecond);

void BM_ImageMessageDirect(benchmark::State& state) {
  const std::vector<uint8_t> image = NoisyBytes(54 + kWidth * kHeight * 3);
  std::string payload;
  for (auto _ : state) {
    std::string text = DirectMessage(payload, kActionName, kContextName, image);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetLabel("84726 numbers");
}
BENCHMARK(BM_ImageMessageDirect)->Unit(benchmark::kMicrosecond);

// The whole forwarded frame: ScaleFrameToBmp with an image-ready callback that writes the command as the
// plug-in does (direct or generic).
struct FrameSink {
  std::string payload;
  std::string text;
  bool generic = false;
  static void Ready(std::vector<uint8_t>* bytes, void* context) {
    auto* self = static_cast<FrameSink*>(context);
    if (self->generic) {
      self->text = GenericMessage(kActionName, kContextName, *bytes);
    } else {
      self->text = DirectMessage(self->payload, kActionName, kContextName, *bytes);
    }
    bytes->clear();
  }
};

void ForwardedFrame(benchmark::State& state, bool generic) {
  CaptureDeviceManager manager(0);  // every frame
  manager.SetPreviewSize(kWidth, kHeight);
  FrameSink sink;
  sink.generic = generic;
  manager.SendImagesTo(&FrameSink::Ready, &sink);
  const std::vector<uint8_t> frame = NoisyBytes(static_cast<size_t>(kSourceWidth) * kSourceHeight * 3);
  // The first frame carries its media type; the size learned from it holds for the frames after it.
  VIDEOINFOHEADER info{};
  info.bmiHeader.biWidth = kSourceWidth;
  info.bmiHeader.biHeight = kSourceHeight;
  info.bmiHeader.biBitCount = 24;
  AM_MEDIA_TYPE type{};
  type.subtype = MEDIASUBTYPE_RGB24;
  type.formattype = FORMAT_VideoInfo;
  type.cbFormat = sizeof info;
  type.pbFormat = reinterpret_cast<BYTE*>(&info);
  const AM_MEDIA_TYPE* typed = &type;
  for (auto _ : state) {
    CaptureDeviceManager::OnPreviewSample(frame.data(), static_cast<int32_t>(frame.size()), 0, 0, 0, 1, typed,
                                          &manager);
    typed = nullptr;
    benchmark::DoNotOptimize(sink.text.data());
  }
  if (sink.text.empty()) state.SkipWithError("no image was made");
}

void BM_ForwardedFrameDirect(benchmark::State& state) { ForwardedFrame(state, false); }
void BM_ForwardedFrameGeneric(benchmark::State& state) { ForwardedFrame(state, true); }
BENCHMARK(BM_ForwardedFrameDirect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ForwardedFrameGeneric)->Unit(benchmark::kMicrosecond);

// One state key image: the SVG of four places with marks and the data URL sent with "setImage".
void BM_StateImage(benchmark::State& state) {
  StateImage image;
  image.known = true;
  image.layoutName = "Four places (2\xC3\x97" "2)";
  image.inputs = {1, 2, 3, 4};
  image.signal = {true, false, true, true};
  image.live = true;
  size_t bytes = 0;
  for (auto _ : state) {
    std::string url = SvgDataUrl(StateImageSvg(image));
    bytes = url.size();
    benchmark::DoNotOptimize(url.data());
  }
  state.SetLabel(std::to_string(bytes) + " bytes");
}
BENCHMARK(BM_StateImage)->Unit(benchmark::kMicrosecond);

}  // namespace
