// The preview frame path from the renderer's input pin on: a connection type and a few samples with fuzzed
// media types (a format change mid-stream whenever a sample carries one), format blocks, sizes and times go
// through the sink's sample step into the device manager's OnPreviewSample and ScaleFrameToBmp. Sample buffers and format blocks are heap blocks of exactly their
// stated size, so a read past either is an AddressSanitizer report.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "device/capture_device_manager.h"
#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "platform/media_type.h"
#include "tests/device/renderer/renderer_fakes.h"

using renderer_test::FakeSample;
using renderer_test::SampleTime;

namespace {

// Written out here: the POSIX layer names only the types it serves itself.
constexpr GUID kSubtypeRgb32 = {0xe436eb7e, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID kFormatVideoInfo2 = {0xf72a76a0, 0xeb0a, 0x11d0, {0xac, 0xe4, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
constexpr size_t kVideoInfoHeaderAt = 48;   // bmiHeader inside VIDEOINFOHEADER
constexpr size_t kVideoInfoHeader2At = 72;  // and inside VIDEOINFOHEADER2
constexpr size_t kVideoInfo2Bytes = kVideoInfoHeader2At + sizeof(BITMAPINFOHEADER);
constexpr int64_t kMaxSampleBytes = int64_t{1} << 20;

int32_t Dimension(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: return in.ConsumeIntegral<int32_t>();
    case 1: return -in.ConsumeIntegralInRange<int32_t>(1, 64);
    case 2: return in.ConsumeIntegralInRange<int32_t>(CaptureDeviceManager::kMaxImageSide - 1,
                                                       CaptureDeviceManager::kMaxImageSide + 1);
    default: return in.ConsumeIntegralInRange<int32_t>(1, 64);
  }
}

// A media type whose format block is exactly cbFormat bytes of task memory (or absent although it has a
// size), with a bitmap header written where the chosen format type keeps it when the block is long enough.
// Returns the bytes one frame of that header would take, for sizing samples.
int64_t FuzzedType(FuzzedDataProvider& in, MediaType& type) {
  const GUID subtypes[] = {MEDIASUBTYPE_RGB24, kSubtypeRgb32, MEDIASUBTYPE_YUY2, MEDIASUBTYPE_MJPG, GUID_NULL};
  const GUID formats[] = {FORMAT_VideoInfo, kFormatVideoInfo2, FORMAT_None, GUID_NULL};
  type->majortype = in.ConsumeIntegralInRange(0, 7) == 0 ? GUID_NULL : MEDIATYPE_Video;
  type->subtype = in.PickValueInArray(subtypes);
  type->formattype = in.PickValueInArray(formats);
  const bool second = IsEqualGUID(type->formattype, kFormatVideoInfo2) ||
                      (!IsEqualGUID(type->formattype, FORMAT_VideoInfo) && in.ConsumeBool());
  const size_t headerAt = second ? kVideoInfoHeader2At : kVideoInfoHeaderAt;

  size_t blockBytes = 0;
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: blockBytes = 0; break;
    case 1: blockBytes = sizeof(VIDEOINFOHEADER) - in.ConsumeIntegralInRange<size_t>(1, 8); break;
    case 2: blockBytes = kVideoInfo2Bytes + in.ConsumeIntegralInRange<size_t>(0, 16); break;
    case 3: blockBytes = in.ConsumeIntegralInRange<size_t>(0, 200); break;
    default: blockBytes = sizeof(VIDEOINFOHEADER) + in.ConsumeIntegralInRange<size_t>(0, 16); break;
  }
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = Dimension(in);
  header.biHeight = Dimension(in);
  header.biPlanes = 1;
  const WORD bits[] = {24, 32, 16, 12, 0};
  header.biBitCount = in.PickValueInArray(bits);
  header.biCompression = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint32_t>();
  header.biSizeImage = in.ConsumeIntegral<uint32_t>();

  if (blockBytes > 0 && in.ConsumeIntegralInRange(0, 15) != 0) {
    BYTE* block = type.AllocFormat(static_cast<ULONG>(blockBytes));
    if (!block) return 0;
    const std::vector<uint8_t> fill = in.ConsumeBytes<uint8_t>(blockBytes);
    if (!fill.empty()) std::memcpy(block, fill.data(), fill.size());
    if (blockBytes >= headerAt + sizeof header) std::memcpy(block + headerAt, &header, sizeof header);
  } else {
    // A size without a block: what a broken upstream filter may hand over.
    type->cbFormat = static_cast<ULONG>(blockBytes);
  }
  const int64_t width = header.biWidth < 0 ? -int64_t{header.biWidth} : header.biWidth;
  const int64_t height = header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight;
  // Sides beyond any accepted frame need no exact byte count (and would overflow one).
  if (width > CaptureDeviceManager::kMaxImageSide || height > CaptureDeviceManager::kMaxImageSide) {
    return kMaxSampleBytes + 1;
  }
  const int64_t rowBytes = (width * (header.biBitCount ? header.biBitCount : 24) + 7) / 8;
  return rowBytes * height;
}

// What the plug-in's image-ready callback would send: the image must be a whole BMP of the preview size.
void CheckImage(std::vector<uint8_t>* bytes, void* context) {
  const int64_t previewBytes = *static_cast<const int64_t*>(context);
  if (previewBytes <= 0 || bytes->size() != 54 + static_cast<size_t>(previewBytes)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ComPtr<TestSink> upstream = TestSink::Make(PINDIR_OUTPUT);  // outlives the sink that connects to it

  CaptureDeviceManager manager(in.ConsumeIntegralInRange(-1, 61));
  const int32_t previewWidth = in.ConsumeIntegralInRange(-1, 300);
  const int32_t previewHeight = in.ConsumeIntegralInRange(-1, 300);
  int64_t previewBytes = CaptureDeviceManager::ImageBytes(previewWidth, previewHeight);
  if (manager.SetPreviewSize(previewWidth, previewHeight) != (previewBytes > 0)) std::abort();
  manager.SendImagesTo(&CheckImage, &previewBytes);

  ComPtr<IBaseFilter> filter;
  if (FAILED((new SinkFilter())->NonDelegatingQueryInterface(IID_IBaseFilter, filter.ReceiveVoid()))) std::abort();
  ComPtr<INorvexSink> sink;
  ComPtr<IPin> pin;
  ComPtr<IMemInputPin> input;
  if (FAILED(filter.As(IID_INorvexSink, &sink)) || FAILED(filter->FindPin(L"Input", pin.Receive())) ||
      FAILED(pin.As(IID_IMemInputPin, &input))) {
    std::abort();
  }
  sink->SetSampleCallback(&CaptureDeviceManager::OnPreviewSample, &manager);

  MediaType connectionType;
  int64_t frameBytes = FuzzedType(in, connectionType);
  if (in.ConsumeBool()) pin->ReceiveConnection(upstream->Pin(), connectionType.Get());
  // A stopped renderer refuses every sample.
  filter->Run(0);

  for (int i = 0; i < 16 && in.remaining_bytes() > 0; ++i) {
    MediaType ownType;
    FakeSample sample;
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
      frameBytes = FuzzedType(in, ownType);
      sample.ownType = ownType.Get();
    }
    int64_t length = 0;
    switch (in.ConsumeIntegralInRange(0, 4)) {
      case 0: length = in.ConsumeIntegralInRange<int64_t>(-1, 512); break;
      case 1: length = frameBytes - 1; break;
      default: length = frameBytes; break;
    }
    if (length > kMaxSampleBytes) length = in.ConsumeIntegralInRange<int64_t>(0, 64);
    sample.actualLength = static_cast<LONG>(length);
    // A fresh vector: its block is exactly the sample's length (an assignment would keep a larger one).
    sample.bytes = std::vector<uint8_t>(length > 0 ? static_cast<size_t>(length) : 0, in.ConsumeIntegral<uint8_t>());
    const SampleTime times[] = {SampleTime::kSet, SampleTime::kStartOnly, SampleTime::kNotSet, SampleTime::kFails};
    sample.time = in.PickValueInArray(times);
    sample.start = in.ConsumeIntegral<int64_t>();
    sample.stop = in.ConsumeIntegral<int64_t>();
    // A start-only sample's stop is made up as start + 1.
    if (sample.time == SampleTime::kStartOnly && sample.start == INT64_MAX) --sample.start;
    input->Receive(&sample);
    if (sample.refs.load() != 0) std::abort();  // the sample step keeps no sample
  }
  sink->SetSampleCallback(nullptr, nullptr);
  filter->Stop();
  pin->Disconnect();
  return 0;
}
