// One 1920x1080 BGR24 frame of noise, shrunk to the default preview size by the preview path (scale + BMP) and,
// when built with PNX_PEER_BENCHMARKS, by the libraries one would otherwise use, with a copy of the frame as the
// memory-bandwidth floor. The same for a 960x540 frame, which stays in the cache where the large one may not, and
// each pass of the preview path on its own. After the runs a table gives each time (the median of the
// repetitions) relative to the copy and each result's PSNR against the exact area average.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <algorithm>
#include <utility>
#include <map>
#include <random>
#include <string>
#include <vector>

#if PNX_PEER_BENCHMARKS
#include "libyuv.h"
#include "libyuv/scale_rgb.h"

extern "C" {
#include <libswscale/swscale.h>
}
#endif

#include "device/bmp_image.h"
#include "device/image_scaler.h"

namespace {

constexpr int kSrcWidth = 1920;
constexpr int kSrcHeight = 1080;
constexpr int kDstWidth = 224;
constexpr int kDstHeight = 126;
constexpr size_t kSrcBytes = size_t{kSrcWidth} * kSrcHeight * 3;
constexpr size_t kDstBytes = size_t{kDstWidth} * kDstHeight * 3;

const std::vector<uint8_t>& Frame() {
  static const std::vector<uint8_t> frame = [] {
    std::vector<uint8_t> f(kSrcBytes);
    std::mt19937 random(20261206);
    for (uint8_t& b : f) {
      b = static_cast<uint8_t>(random() >> 24);
    }
    return f;
  }();
  return frame;
}

// Each destination pixel the exact average of the source area it covers, in double precision, rounded.
std::vector<uint8_t> AreaReference(const std::vector<uint8_t>& f) {
  std::vector<uint8_t> r(kDstBytes);
  const double sx = double{kSrcWidth} / kDstWidth;
  const double sy = double{kSrcHeight} / kDstHeight;
  for (int y = 0; y < kDstHeight; ++y) {
    for (int x = 0; x < kDstWidth; ++x) {
      double sum[3] = {};
      for (int j = static_cast<int>(std::floor(y * sy)); j < kSrcHeight && j < (y + 1) * sy; ++j) {
        const double wy = std::fmin(j + 1, (y + 1) * sy) - std::fmax(j, y * sy);
        for (int i = static_cast<int>(std::floor(x * sx)); i < kSrcWidth && i < (x + 1) * sx; ++i) {
          const double w = wy * (std::fmin(i + 1, (x + 1) * sx) - std::fmax(i, x * sx));
          for (int c = 0; c < 3; ++c) {
            sum[c] += w * f[(static_cast<size_t>(j) * kSrcWidth + i) * 3 + c];
          }
        }
      }
      for (int c = 0; c < 3; ++c) {
        r[(static_cast<size_t>(y) * kDstWidth + x) * 3 + c] = static_cast<uint8_t>(std::lround(sum[c] / (sx * sy)));
      }
    }
  }
  return r;
}

const std::vector<uint8_t>& Reference() {
  static const std::vector<uint8_t> reference = AreaReference(Frame());
  return reference;
}

double Psnr(const uint8_t* image, const std::vector<uint8_t>& reference) {
  double squares = 0;
  for (size_t i = 0; i < kDstBytes; ++i) {
    const double d = static_cast<double>(image[i]) - reference[i];
    squares += d * d;
  }
  return squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * kDstBytes / squares);
}

std::map<std::string, double>& Psnrs() {
  static std::map<std::string, double> psnrs;
  return psnrs;
}

void RecordPsnr(benchmark::State& state, const char* name, const uint8_t* image) {
  const double psnr = Psnr(image, Reference());
  state.counters["psnr_dB"] = psnr;
  Psnrs()[name] = psnr;
}

// The preview path: scale + BMP, with the widest loops this processor runs (set < 0) or with the given set's.
int32_t ScaleWith(int64_t set, const uint8_t* src, uint8_t* dst) {
  if (set < 0) {
    return ScaleImageBgr24(src, kSrcWidth * 3, kSrcWidth, kSrcHeight, dst, kDstWidth * 3, kDstWidth, kDstHeight);
  }
  return ScaleImageBgr24With(static_cast<ScalerInstructionSet>(set), src, kSrcWidth * 3, kSrcWidth, kSrcHeight, dst,
                             kDstWidth * 3, kDstWidth, kDstHeight);
}

void ScaleAndBmp(benchmark::State& state, int64_t set, const char* name) {
  const uint8_t* src = Frame().data();
  std::vector<uint8_t> preview(kDstBytes);
  std::vector<uint8_t> bmp;
  for (auto _ : state) {
    if (ScaleWith(set, src, preview.data()) <= 0) {
      state.SkipWithError("scaler refused");
      return;
    }
    WriteBmpImage(bmp, preview.data(), kDstWidth, kDstHeight, kDstBytes);
    benchmark::DoNotOptimize(bmp.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSrcBytes});
  RecordPsnr(state, name, bmp.data() + kBmpHeaderBytes);
}

void BM_MemcpyFrame(benchmark::State& state) {
  const uint8_t* src = Frame().data();
  std::vector<uint8_t> copy(kSrcBytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), src, kSrcBytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSrcBytes});
}

// A quarter of the frame, shrunk by the same ratio: small enough to stay in the cache on most machines, so that
// its ratio to the copy shows the scaler's own speed rather than the memory's.
constexpr int kSmallSrcWidth = kSrcWidth / 2;
constexpr int kSmallSrcHeight = kSrcHeight / 2;
constexpr int kSmallDstWidth = kDstWidth / 2;
constexpr int kSmallDstHeight = kDstHeight / 2;
constexpr size_t kSmallSrcBytes = size_t{kSmallSrcWidth} * kSmallSrcHeight * 3;
constexpr size_t kSmallDstBytes = size_t{kSmallDstWidth} * kSmallDstHeight * 3;

void BM_ScaleAndBmpSmall(benchmark::State& state) {
  const std::vector<uint8_t> src(Frame().begin(), Frame().begin() + static_cast<ptrdiff_t>(kSmallSrcBytes));
  std::vector<uint8_t> preview(kSmallDstBytes);
  std::vector<uint8_t> bmp;
  for (auto _ : state) {
    if (ScaleImageBgr24(src.data(), kSmallSrcWidth * 3, kSmallSrcWidth, kSmallSrcHeight, preview.data(),
                        kSmallDstWidth * 3, kSmallDstWidth, kSmallDstHeight) <= 0) {
      state.SkipWithError("scaler refused");
      return;
    }
    WriteBmpImage(bmp, preview.data(), kSmallDstWidth, kSmallDstHeight, kSmallDstBytes);
    benchmark::DoNotOptimize(bmp.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSmallSrcBytes});
}

void BM_MemcpySmallFrame(benchmark::State& state) {
  const std::vector<uint8_t> src(Frame().begin(), Frame().begin() + static_cast<ptrdiff_t>(kSmallSrcBytes));
  std::vector<uint8_t> copy(kSmallSrcBytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), src.data(), kSmallSrcBytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSmallSrcBytes});
}

BENCHMARK(BM_ScaleAndBmpSmall)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpySmallFrame)->Unit(benchmark::kMicrosecond);

// Each pass of the preview path alone, through the public call: the rows only (the width kept, so the column pass
// is one weight per pixel), the columns only (the height of the preview already), and the BMP packaging.
void BM_PassRows(benchmark::State& state) {
  std::vector<uint8_t> out(size_t{kSrcWidth} * kDstHeight * 3);
  for (auto _ : state) {
    ScaleImageBgr24(Frame().data(), kSrcWidth * 3, kSrcWidth, kSrcHeight, out.data(), kSrcWidth * 3, kSrcWidth,
                    kDstHeight);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_PassColumns(benchmark::State& state) {
  std::vector<uint8_t> out(kDstBytes);
  for (auto _ : state) {
    ScaleImageBgr24(Frame().data(), kSrcWidth * 3, kSrcWidth, kDstHeight, out.data(), kDstWidth * 3, kDstWidth,
                    kDstHeight);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void BM_PassBmp(benchmark::State& state) {
  const std::vector<uint8_t> preview(Frame().begin(), Frame().begin() + static_cast<ptrdiff_t>(kDstBytes));
  std::vector<uint8_t> bmp;
  for (auto _ : state) {
    WriteBmpImage(bmp, preview.data(), kDstWidth, kDstHeight, kDstBytes);
    benchmark::DoNotOptimize(bmp.data());
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_PassRows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassColumns)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassBmp)->Unit(benchmark::kMicrosecond);

// A ring of frames larger than the last-level cache, so that every frame comes from main memory as a captured
// frame does (the benchmarks above see one frame that stays in the cache).
constexpr size_t kColdFrames = 12;

const std::vector<std::vector<uint8_t>>& ColdFrames() {
  static const std::vector<std::vector<uint8_t>> frames(kColdFrames, Frame());
  return frames;
}

void ScaleAndBmpColdFrames(benchmark::State& state, int64_t set) {
  const auto& frames = ColdFrames();
  std::vector<uint8_t> preview(kDstBytes);
  std::vector<uint8_t> bmp;
  size_t next = 0;
  for (auto _ : state) {
    if (ScaleWith(set, frames[next].data(), preview.data()) <= 0) {
      state.SkipWithError("scaler refused");
      return;
    }
    WriteBmpImage(bmp, preview.data(), kDstWidth, kDstHeight, kDstBytes);
    benchmark::DoNotOptimize(bmp.data());
    benchmark::ClobberMemory();
    next = (next + 1) % kColdFrames;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSrcBytes});
}

void BM_MemcpyColdFrames(benchmark::State& state) {
  const auto& frames = ColdFrames();
  std::vector<uint8_t> copy(kSrcBytes);
  size_t next = 0;
  for (auto _ : state) {
    std::memcpy(copy.data(), frames[next].data(), kSrcBytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    next = (next + 1) % kColdFrames;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSrcBytes});
}

// The scaler with other shapes, beside a copy of the larger of the two pictures: whatever the shape, the cost
// should stay near that of reading the larger picture once. Arguments: source and destination width and height.
void BM_ScaleShape(benchmark::State& state) {
  const int32_t sw = static_cast<int32_t>(state.range(0));
  const int32_t sh = static_cast<int32_t>(state.range(1));
  const int32_t dw = static_cast<int32_t>(state.range(2));
  const int32_t dh = static_cast<int32_t>(state.range(3));
  const std::vector<uint8_t> src(size_t{3} * sw * sh, 77);
  std::vector<uint8_t> dst(size_t{3} * dw * dh);
  for (auto _ : state) {
    if (ScaleImageBgr24(src.data(), sw * 3, sw, sh, dst.data(), dw * 3, dw, dh) <= 0) {
      state.SkipWithError("scaler refused");
      return;
    }
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}

void BM_MemcpyLargerPicture(benchmark::State& state) {
  const size_t bytes = size_t{3} * std::max(state.range(0) * state.range(1), state.range(2) * state.range(3));
  const std::vector<uint8_t> src(bytes, 77);
  std::vector<uint8_t> copy(bytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), src.data(), bytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
}

void Shapes(benchmark::internal::Benchmark* b) {
  b->Args({kSrcWidth, kSrcHeight, kDstWidth, kDstHeight});
  b->Args({kSrcWidth, kSrcHeight, 1, kMaxScaleDimension});
  b->Args({kMaxScaleDimension, 1, 1, kMaxScaleDimension});
  b->Args({kSrcWidth, kSrcHeight, kMaxScaleDimension, 1});
  b->Args({1, kMaxScaleDimension, kMaxScaleDimension, 1});
  b->Args({16, 16, 2048, 2048});
  b->Args({kSrcWidth, kSrcHeight, kSrcWidth, 2 * kSrcHeight});
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_ScaleShape)->Apply(Shapes);
BENCHMARK(BM_MemcpyLargerPicture)->Apply(Shapes);
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyColdFrames)->Unit(benchmark::kMicrosecond);

#if PNX_PEER_BENCHMARKS
// The libraries one would otherwise use, on the same frame.
void BM_SwscaleArea(benchmark::State& state) {
  SwsContext* context = sws_getContext(kSrcWidth, kSrcHeight, AV_PIX_FMT_BGR24, kDstWidth, kDstHeight,
                                       AV_PIX_FMT_BGR24, SWS_AREA, nullptr, nullptr, nullptr);
  if (context == nullptr) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const uint8_t* srcPlanes[1] = {Frame().data()};
  const int srcStrides[1] = {kSrcWidth * 3};
  std::vector<uint8_t> out(kDstBytes);
  uint8_t* dstPlanes[1] = {out.data()};
  const int dstStrides[1] = {kDstWidth * 3};
  for (auto _ : state) {
    sws_scale(context, srcPlanes, srcStrides, 0, kSrcHeight, dstPlanes, dstStrides);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  sws_freeContext(context);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSrcBytes});
  RecordPsnr(state, "BM_SwscaleArea", out.data());
}

// libyuv's own 24-bit scaler, which widens each row to ARGB internally.
void BM_LibyuvRgbScaleBox(benchmark::State& state) {
  std::vector<uint8_t> out(kDstBytes);
  for (auto _ : state) {
    libyuv::RGBScale(Frame().data(), kSrcWidth * 3, kSrcWidth, kSrcHeight, out.data(), kDstWidth * 3, kDstWidth,
                     kDstHeight, libyuv::kFilterBox);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSrcBytes});
  RecordPsnr(state, "BM_LibyuvRgbScaleBox", out.data());
}

// The frame converted to ARGB, box-scaled as ARGB, converted back.
void BM_LibyuvArgbBox(benchmark::State& state) {
  std::vector<uint8_t> argb(size_t{kSrcWidth} * kSrcHeight * 4);
  std::vector<uint8_t> smallArgb(size_t{kDstWidth} * kDstHeight * 4);
  std::vector<uint8_t> out(kDstBytes);
  for (auto _ : state) {
    libyuv::RGB24ToARGB(Frame().data(), kSrcWidth * 3, argb.data(), kSrcWidth * 4, kSrcWidth, kSrcHeight);
    libyuv::ARGBScale(argb.data(), kSrcWidth * 4, kSrcWidth, kSrcHeight, smallArgb.data(), kDstWidth * 4,
                      kDstWidth, kDstHeight, libyuv::kFilterBox);
    libyuv::ARGBToRGB24(smallArgb.data(), kDstWidth * 4, out.data(), kDstWidth * 3, kDstWidth, kDstHeight);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t{kSrcBytes});
  RecordPsnr(state, "BM_LibyuvArgbBox", out.data());
}

BENCHMARK(BM_SwscaleArea)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibyuvRgbScaleBox)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibyuvArgbBox)->Unit(benchmark::kMicrosecond);

// The rest of the smooth frame's quality line.
void PrintPeerPsnrs(const std::vector<uint8_t>& f, const std::vector<uint8_t>& reference) {
  std::vector<uint8_t> out(kDstBytes);
  SwsContext* context = sws_getContext(kSrcWidth, kSrcHeight, AV_PIX_FMT_BGR24, kDstWidth, kDstHeight,
                                       AV_PIX_FMT_BGR24, SWS_AREA, nullptr, nullptr, nullptr);
  const uint8_t* srcPlanes[1] = {f.data()};
  const int srcStrides[1] = {kSrcWidth * 3};
  uint8_t* dstPlanes[1] = {out.data()};
  const int dstStrides[1] = {kDstWidth * 3};
  sws_scale(context, srcPlanes, srcStrides, 0, kSrcHeight, dstPlanes, dstStrides);
  sws_freeContext(context);
  const double swscale = Psnr(out.data(), reference);

  libyuv::RGBScale(f.data(), kSrcWidth * 3, kSrcWidth, kSrcHeight, out.data(), kDstWidth * 3, kDstWidth, kDstHeight,
                   libyuv::kFilterBox);
  const double yuv = Psnr(out.data(), reference);
  std::printf(", swscale SWS_AREA %.2f, libyuv RGBScale box %.2f", swscale, yuv);
}
#else
void PrintPeerPsnrs(const std::vector<uint8_t>&, const std::vector<uint8_t>&) {}
#endif

// The benchmark frame is full-range noise, the hardest case. Real pictures are smoother: a second frame of colour
// ramps with noise of +-24 levels, only for the quality line.
void PrintSmoothFramePsnrs() {
  std::vector<uint8_t> f(kSrcBytes);
  std::mt19937 random(7);
  for (int y = 0; y < kSrcHeight; ++y) {
    for (int x = 0; x < kSrcWidth; ++x) {
      const int base[3] = {x * 200 / kSrcWidth + 20, y * 200 / kSrcHeight + 20, (x + y) * 100 / kSrcWidth + 40};
      for (int c = 0; c < 3; ++c) {
        const int noise = static_cast<int>(random() % 49) - 24;
        f[(static_cast<size_t>(y) * kSrcWidth + x) * 3 + c] = static_cast<uint8_t>(base[c] + noise);
      }
    }
  }
  const std::vector<uint8_t> reference = AreaReference(f);
  std::vector<uint8_t> out(kDstBytes);

  ScaleImageBgr24(f.data(), kSrcWidth * 3, kSrcWidth, kSrcHeight, out.data(), kDstWidth * 3, kDstWidth, kDstHeight);
  const double ours = Psnr(out.data(), reference);

  std::printf("PSNR (dB) on a smooth frame with noise of +-24: ours %.2f", ours);
  PrintPeerPsnrs(f, reference);
  std::printf("\n");
}

// The console output plus each run's time kept for the closing table.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) {
        continue;
      }
      const std::string& args = run.run_name.args;
      const std::string name = run.run_name.function_name + (args.empty() ? "" : "/" + args);
      // The machine may be shared: with --benchmark_repetitions the median stands, as Google Benchmark's own
      // median when only the aggregates are reported.
      if (run.run_type == Run::RT_Iteration) {
        m_repetitions[name].push_back(run.GetAdjustedCPUTime());
      } else if (run.aggregate_name == "median") {
        m_medians[name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintTable() {
    for (auto& [name, times] : m_repetitions) {
      if (m_medians.count(name) == 0 && !times.empty()) {
        std::sort(times.begin(), times.end());
        const size_t middle = times.size() / 2;
        m_times[name] = times.size() % 2 == 1 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
      }
    }
    for (const auto& [name, time] : m_medians) {
      m_times[name] = time;
    }
    PrintRatios();
  }

 private:
  void PrintSmallFrame() const {
    const auto copy = m_times.find("BM_MemcpySmallFrame");
    const auto ours = m_times.find("BM_ScaleAndBmpSmall");
    if (copy != m_times.end() && ours != m_times.end()) {
      std::printf("\n%-34s %10.1f %10.2f   (copy %.1f us)\n", "960x540 -> 112x63 scale + BMP", ours->second,
                  ours->second / copy->second, copy->second);
    }
  }

  void PrintRatios() const {
    PrintSmallFrame();
    const auto copy = m_times.find("BM_MemcpyFrame");
    const auto ours = m_times.find("BM_ScaleAndBmp");
    if (copy == m_times.end() || ours == m_times.end()) {
      return;
    }
    std::printf("\n%-34s %10s %10s %10s %10s\n", "1920x1080 -> 224x126", "CPU (us)", "x memcpy", "x ours",
                "PSNR (dB)");
    const auto coldCopy = m_times.find("BM_MemcpyColdFrames");
    const std::string shape = "BM_ScaleShape/";
    const std::string largerCopy = "BM_MemcpyLargerPicture/";
    for (const auto& [name, time] : m_times) {
      if (name.rfind(shape, 0) == 0 || name.rfind(largerCopy, 0) == 0 || name.find("Small") != std::string::npos) {
        continue;
      }
      const auto psnr = Psnrs().find(name);
      // Cold runs compare with the cold copy and the cold scaler.
      const bool cold = name.find("Cold") != std::string::npos && coldCopy != m_times.end();
      const auto coldOurs = m_times.find("BM_ScaleAndBmpColdFrames");
      const double copyTime = cold ? coldCopy->second : copy->second;
      const double oursTime = cold && coldOurs != m_times.end() ? coldOurs->second : ours->second;
      std::printf("%-34s %10.1f %10.2f %10.2f ", name.c_str(), time, time / copyTime, time / oursTime);
      if (psnr != Psnrs().end()) {
        std::printf("%10.2f\n", psnr->second);
      } else {
        std::printf("%10s\n", "-");
      }
    }
    std::printf("\n%-34s %10s %20s\n", "source w/h -> destination w/h", "CPU (us)", "x memcpy of larger");
    for (const auto& [name, time] : m_times) {
      if (name.rfind(shape, 0) != 0) {
        continue;
      }
      const auto copyOfLarger = m_times.find(largerCopy + name.substr(shape.size()));
      const double ratio = copyOfLarger == m_times.end() ? NAN : time / copyOfLarger->second;
      std::printf("%-34s %10.1f %20.2f\n", name.substr(shape.size()).c_str(), time, ratio);
    }
  }

 private:
  std::map<std::string, std::vector<double>> m_repetitions;
  std::map<std::string, double> m_medians;
  std::map<std::string, double> m_times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // The preview path with the loops chosen at run time, then with each set's loops this processor runs.
  benchmark::RegisterBenchmark("BM_ScaleAndBmp", ScaleAndBmp, -1, "BM_ScaleAndBmp")->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("BM_ScaleAndBmpColdFrames", ScaleAndBmpColdFrames, -1)
      ->Unit(benchmark::kMicrosecond);
  static const std::pair<ScalerInstructionSet, const char*> kSets[] = {
      {ScalerInstructionSet::kPortable, "Portable"},
      {ScalerInstructionSet::kAvx2, "Avx2"},
      {ScalerInstructionSet::kAvx512, "Avx512"}};
  static std::vector<std::string> names;
  names.reserve(2 * std::size(kSets));
  for (const auto& [set, suffix] : kSets) {
    if (!ScalerSupports(set)) continue;
    const int64_t index = static_cast<int64_t>(set);
    names.push_back(std::string("BM_ScaleAndBmp") + suffix);
    benchmark::RegisterBenchmark(names.back().c_str(), ScaleAndBmp, index, names.back().c_str())
        ->Unit(benchmark::kMicrosecond);
    names.push_back(std::string("BM_ScaleAndBmpColdFrames") + suffix);
    benchmark::RegisterBenchmark(names.back().c_str(), ScaleAndBmpColdFrames, index)->Unit(benchmark::kMicrosecond);
  }
  Reference();  // built before any timing
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintTable();
  PrintSmoothFramePsnrs();
  benchmark::Shutdown();
  return 0;
}
