// CaptureDeviceManager on the emulated device: a device switch (full graph rebuild) and the signal query.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "device/capture_device_manager.h"

namespace {

// Two devices with all four inputs, no frames (the graph is never run here).
void UseTwoDevices() {
  const std::string path = "/tmp/pnx_device_bench_" + std::to_string(getpid()) + ".json";
  std::ofstream(path) << R"({"frame": {"fps": 0}, "devices": [{}, {}]})";
  setenv("PNX_SIM_DEVICES", path.c_str(), 1);
}

void BM_OpenDeviceSwitch(benchmark::State& state) {
  CaptureDeviceManager manager;
  int device = 0;
  if (!manager.OpenDevice(device)) state.SkipWithError("OpenDevice failed");
  for (auto _ : state) {
    device = 1 - device;
    benchmark::DoNotOptimize(manager.OpenDevice(device));
  }
  if (manager.DeviceCount() != 2) state.SkipWithError("expected two devices");
}
BENCHMARK(BM_OpenDeviceSwitch)->Unit(benchmark::kMicrosecond);

void BM_QueryInputSignals(benchmark::State& state) {
  CaptureDeviceManager manager;
  manager.OpenDevice(0);
  for (auto _ : state) benchmark::DoNotOptimize(manager.QueryInputSignals());
}
BENCHMARK(BM_QueryInputSignals)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) {
  UseTwoDevices();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
