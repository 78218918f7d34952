// The renderer at the end of a real graph: an emulated capture node connected to "Input" delivers its frames,
// with the connection type on the first one, on a streaming thread named after SetStreamThreadName.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <string>

#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "platform/emulator_control.h"

namespace {

struct Frames {
  std::mutex mutex;
  std::condition_variable arrived;
  int count = 0;
  int typed = 0;
  int wrong = 0;  // frames of another length, or times other than the expected ones
  int64_t lastStart = INT64_MIN;
  int64_t expectedDuration = -1;  // -1: any positive duration, with starts increasing
  LONG width = 0;
  LONG height = 0;
  std::string threadName;

  static int32_t Callback(const uint8_t* data, int32_t length, int64_t start, int64_t duration, int32_t,
                          int32_t, const AM_MEDIA_TYPE* type, void* context) {
    auto* frames = static_cast<Frames*>(context);
    std::lock_guard<std::mutex> lock(frames->mutex);
    if (type && IsEqualGUID(type->formattype, FORMAT_VideoInfo) && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
      frames->width = info->bmiHeader.biWidth;
      frames->height = info->bmiHeader.biHeight;
    }
    frames->typed += type != nullptr;
    // The whole buffer is readable during the call.
    volatile uint8_t sum = 0;
    for (int32_t i = 0; i < length; i += 4096) sum = static_cast<uint8_t>(sum + data[i]);
    sum = static_cast<uint8_t>(sum + data[length - 1]);
    const bool timesWrong = frames->expectedDuration < 0 ? duration <= 0 || start <= frames->lastStart
                                                         : duration != frames->expectedDuration;
    frames->wrong += length != 320 * 180 * 3 || timesWrong;
    frames->lastStart = start;
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    frames->threadName = name;
    ++frames->count;
    frames->arrived.notify_all();
    return 0;
  }
};

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.Receive()))) return nullptr;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.Receive(), nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
  }
  return nullptr;
}

// Whatever times the device stamps, frames keep coming: the capture pin stops at any answer but S_OK.
TEST(ConnectedSinkTest, ReceivesTheEmulatedDevicesFrames) {
  const struct {
    const char* times;
    int64_t duration;
  } cases[] = {{"startStop", -1}, {"start", 1}, {"none", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.times);
    ASSERT_TRUE(emulator::LoadConfigurationText(
        std::string(R"({"frame": {"width": 320, "height": 180, "fps": 60, "times": ")") + c.times + "\"}}"));
    const long liveBefore = PnxLiveComObjectCount();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    Frames frames;
    frames.expectedDuration = c.duration;
    {
      ComPtr<IGraphBuilder> graph;
      ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                       graph.ReceiveVoid()));
      ComPtr<ICreateDevEnum> devices;
      ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                       devices.ReceiveVoid()));
      ComPtr<IEnumMoniker> monikers;
      ASSERT_EQ(S_OK, devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0));
      ComPtr<IMoniker> moniker;
      ASSERT_EQ(S_OK, monikers->Next(1, moniker.Receive(), nullptr));
      ComPtr<IBaseFilter> source;
      ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source.ReceiveVoid()));
      ASSERT_EQ(S_OK, graph->AddFilter(source.Get(), L"HDMI-1"));

      ComPtr<IBaseFilter> sinkFilter;
      ASSERT_EQ(S_OK, (new SinkFilter())->NonDelegatingQueryInterface(IID_IBaseFilter, sinkFilter.ReceiveVoid()));
      ASSERT_EQ(S_OK, graph->AddFilter(sinkFilter.Get(), L"Video Sink"));
      ComPtr<INorvexSink> sink;
      ASSERT_EQ(S_OK, sinkFilter.As(IID_INorvexSink, &sink));
      ASSERT_EQ(S_OK, sink->SetStreamThreadName("VideoSink"));
      ASSERT_EQ(S_OK, sink->SetSampleCallback(&Frames::Callback, &frames));

      ComPtr<IPin> output = FirstPin(source.Get(), PINDIR_OUTPUT);
      ASSERT_TRUE(output);
      ComPtr<IPin> input;
      ASSERT_EQ(S_OK, sinkFilter->FindPin(L"Input", input.Receive()));
      ASSERT_EQ(S_OK, graph->ConnectDirect(output.Get(), input.Get(), nullptr));

      FILTER_INFO info;
      ASSERT_EQ(S_OK, sinkFilter->QueryFilterInfo(&info));
      EXPECT_EQ(std::wstring(L"Video Sink"), info.achName);
      EXPECT_NE(nullptr, info.pGraph);
      if (info.pGraph) info.pGraph->Release();

      ComPtr<IMediaControl> control;
      ASSERT_EQ(S_OK, graph.As(IID_IMediaControl, &control));
      ASSERT_TRUE(SUCCEEDED(control->Run()));
      {
        std::unique_lock<std::mutex> lock(frames.mutex);
        EXPECT_TRUE(frames.arrived.wait_for(lock, std::chrono::seconds(10), [&] { return frames.count >= 5; }));
      }
      ASSERT_TRUE(SUCCEEDED(control->Stop()));
      // Stopped: nothing more arrives, and taking the callback off returns at once.
      EXPECT_EQ(S_OK, sink->SetSampleCallback(nullptr, nullptr));

      std::lock_guard<std::mutex> lock(frames.mutex);
      ASSERT_GE(frames.count, 5);
      EXPECT_EQ(1, frames.typed);  // the connection type, on the first frame only
      EXPECT_EQ(320, frames.width);
      EXPECT_EQ(180, frames.height);
      EXPECT_EQ(0, frames.wrong);
      EXPECT_EQ("NX:  VideoSink", frames.threadName);

      EXPECT_EQ(S_OK, graph->RemoveFilter(sinkFilter.Get()));
      EXPECT_EQ(S_OK, graph->RemoveFilter(source.Get()));
    }
    CoUninitialize();
    EXPECT_EQ(liveBefore, PnxLiveComObjectCount());
  }
  emulator::UseEnvironmentConfiguration();
}

}  // namespace
