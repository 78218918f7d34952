// Process CPU spent while an emulated node streams into a sink that only counts samples: the share of one
// core the emulator costs at each frame size and rate.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "platform/emulator_control.h"
#include "tests/platform/test_sink.h"

namespace {

ComPtr<IBaseFilter> BindFirstNode() {
  ComPtr<ICreateDevEnum> devEnum;
  ComPtr<IEnumMoniker> monikers;
  ComPtr<IMoniker> moniker;
  ComPtr<IBaseFilter> filter;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              devEnum.ReceiveVoid())) ||
      devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) != S_OK ||
      monikers->Next(1, moniker.Receive(), nullptr) != S_OK) {
    return nullptr;
  }
  moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.ReceiveVoid());
  return filter;
}

void BM_EmulatorStreaming(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const int fps = static_cast<int>(state.range(2));
  CoInitialize(nullptr);
  emulator::LoadConfigurationText("{\"frame\": {\"width\": " + std::to_string(width) +
                                  ", \"height\": " + std::to_string(height) + ", \"fps\": " + std::to_string(fps) +
                                  "}}");
  double cpuSeconds = 0;
  double wallSeconds = 0;
  size_t frames = 0;
  for (auto _ : state) {
    ComPtr<IFilterGraph2> graph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2, graph.ReceiveVoid());
    ComPtr<IMediaControl> control;
    graph.As(IID_IMediaControl, &control);
    ComPtr<IBaseFilter> source = BindFirstNode();
    ComPtr<TestSink> sink = TestSink::Make();
    graph->AddFilter(source.Get(), L"source");
    graph->AddFilter(sink->Filter(), L"sink");
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> out;
    source->EnumPins(pins.Receive());
    pins->Next(1, out.Receive(), nullptr);
    if (graph->ConnectDirect(out.Get(), sink->Pin(), nullptr) != S_OK) {
      state.SkipWithError("connection failed");
      break;
    }
    control->Run();
    // The first frame pays for drawing the picture and touching fresh buffers; measure the steady state.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    size_t frames0 = sink->Samples().size();
    std::clock_t cpu0 = std::clock();
    auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    cpuSeconds += static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    frames += sink->Samples().size() - frames0;
    control->Stop();
  }
  state.counters["core_percent"] = wallSeconds > 0 ? 100.0 * cpuSeconds / wallSeconds : 0;
  state.counters["frames_per_s"] = wallSeconds > 0 ? frames / wallSeconds : 0;
  emulator::UseEnvironmentConfiguration();
  CoUninitialize();
}

BENCHMARK(BM_EmulatorStreaming)
    ->Args({1920, 1080, 60})
    ->Args({1280, 720, 30})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
