// The BGR24 scaler against a slow double-precision resampler, its bounds and its refusals.
#include "device/image_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

namespace {

struct Size {
  int32_t width;
  int32_t height;
};

// (source index, weight) pairs of one destination sample: the share of each source sample in the destination
// sample's span when shrinking (or keeping the size), linear interpolation between centres when growing.
std::vector<std::pair<int32_t, double>> ReferenceWeights(int32_t s, int32_t d, int32_t i) {
  std::vector<std::pair<int32_t, double>> weights;
  const double ratio = static_cast<double>(s) / d;
  if (s >= d) {
    const double begin = i * ratio;
    const double end = (i + 1) * ratio;
    for (int32_t j = static_cast<int32_t>(std::floor(begin)); j < s && j < end; ++j) {
      const double overlap = std::fmin(j + 1.0, end) - std::fmax(static_cast<double>(j), begin);
      if (overlap > 0) weights.emplace_back(j, overlap / ratio);
    }
    return weights;
  }
  const double position = std::fmin(std::fmax((i + 0.5) * ratio - 0.5, 0.0), s - 1.0);
  const int32_t j = static_cast<int32_t>(std::floor(position));
  const double f = position - j;
  weights.emplace_back(j, 1 - f);
  if (j + 1 < s) weights.emplace_back(j + 1, f);
  return weights;
}

// The destination image as packed rows, rounded from double precision.
std::vector<uint8_t> ReferenceScale(const std::vector<uint8_t>& src, int32_t srcStride, Size from, Size to) {
  std::vector<uint8_t> out(static_cast<size_t>(to.width) * to.height * 3);
  for (int32_t y = 0; y < to.height; ++y) {
    const auto rows = ReferenceWeights(from.height, to.height, y);
    for (int32_t x = 0; x < to.width; ++x) {
      const auto columns = ReferenceWeights(from.width, to.width, x);
      for (int32_t c = 0; c < 3; ++c) {
        double sum = 0;
        for (const auto& [j, wy] : rows) {
          for (const auto& [i, wx] : columns) {
            sum += wy * wx * src[static_cast<size_t>(j) * srcStride + static_cast<size_t>(i) * 3 + c];
          }
        }
        out[(static_cast<size_t>(y) * to.width + x) * 3 + c] = static_cast<uint8_t>(std::lround(sum));
      }
    }
  }
  return out;
}

// A source of exactly the bytes the scaler may read (rows of width * 3 bytes, `gap` unused bytes between rows),
// so that AddressSanitizer reports any read outside it.
struct Source {
  Source(Size size, int32_t gap, uint32_t seed) : size(size), stride(size.width * 3 + gap) {
    bytes.resize(static_cast<size_t>(stride) * (size.height - 1) + static_cast<size_t>(size.width) * 3);
    std::mt19937 random(seed);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random() >> 24);
  }
  Size size;
  int32_t stride;
  std::vector<uint8_t> bytes;
};

// A destination surrounded by guard bytes, with `gap` guard bytes after every row.
struct Destination {
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kFill = 0xA5;

  Destination(Size size, int32_t gap) : size(size), stride(size.width * 3 + gap) {
    bytes.assign(2 * kGuard + static_cast<size_t>(stride) * size.height, kFill);
  }
  uint8_t* Pixels() { return bytes.data() + kGuard; }

  // The rows without the gaps.
  std::vector<uint8_t> Packed() const {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < size.height; ++y) {
      const uint8_t* row = bytes.data() + kGuard + static_cast<size_t>(y) * stride;
      out.insert(out.end(), row, row + size.width * 3);
    }
    return out;
  }

  // True when no byte outside the rows was written.
  bool GuardsIntact() const {
    for (size_t i = 0; i < bytes.size(); ++i) {
      const bool inRows = i >= kGuard && i < bytes.size() - kGuard &&
                          (i - kGuard) % static_cast<size_t>(stride) < static_cast<size_t>(size.width) * 3;
      if (!inRows && bytes[i] != kFill) return false;
    }
    return true;
  }

  Size size;
  int32_t stride;
  std::vector<uint8_t> bytes;
};

struct ScaleCase {
  Size from;
  Size to;
  int32_t srcGap;
  int32_t dstGap;
};

class ScalerMatchesReference : public testing::TestWithParam<ScaleCase> {};

// Random content is the hardest case for rounding: every byte may be off by one where the exact value lies next to
// a half, and almost all must match. The loops built for each instruction set this processor runs give the
// portable loops' bytes, and a picture stored bottom-up, read from its top row with a negative stride, gives the
// same bytes as one stored top-down.
TEST_P(ScalerMatchesReference, WithinOneLevelOfTheReferenceOnEveryInstructionSetAndRowOrder) {
  const ScaleCase& p = GetParam();
  const Source src(p.from, p.srcGap, static_cast<uint32_t>(p.from.width * 7919 + p.to.width));
  Destination portable(p.to, p.dstGap);
  ASSERT_GT(ScaleImageBgr24With(ScalerInstructionSet::kPortable, src.bytes.data(), src.stride, p.from.width,
                                p.from.height, portable.Pixels(), portable.stride, p.to.width, p.to.height),
            0);
  EXPECT_TRUE(portable.GuardsIntact());
  const std::vector<uint8_t> expected = ReferenceScale(src.bytes, src.stride, p.from, p.to);
  const std::vector<uint8_t> actual = portable.Packed();
  size_t off = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_LE(std::abs(actual[i] - expected[i]), 1) << "byte " << i;
    off += actual[i] != expected[i];
  }
  EXPECT_LE(off, expected.size() / 20 + 1) << off << " of " << expected.size() << " bytes off by one";

  for (const ScalerInstructionSet set : {ScalerInstructionSet::kAvx2, ScalerInstructionSet::kAvx512}) {
    if (!ScalerSupports(set)) continue;
    Destination dst(p.to, p.dstGap);
    ASSERT_GT(ScaleImageBgr24With(set, src.bytes.data(), src.stride, p.from.width, p.from.height, dst.Pixels(),
                                  dst.stride, p.to.width, p.to.height),
              0);
    EXPECT_EQ(dst.bytes, portable.bytes) << "instruction set " << static_cast<int>(set);
  }

  Source flipped = src;
  const size_t rowBytes = static_cast<size_t>(p.from.width) * 3;
  for (int32_t y = 0; y < p.from.height; ++y) {
    std::copy_n(src.bytes.begin() + static_cast<ptrdiff_t>(y) * src.stride, rowBytes,
                flipped.bytes.begin() + static_cast<ptrdiff_t>(p.from.height - 1 - y) * src.stride);
  }
  Destination dst(p.to, p.dstGap);
  const uint8_t* top = flipped.bytes.data() + static_cast<ptrdiff_t>(p.from.height - 1) * src.stride;
  ASSERT_GT(ScaleImageBgr24(top, -src.stride, p.from.width, p.from.height, dst.Pixels(), dst.stride, p.to.width,
                            p.to.height),
            0);
  EXPECT_EQ(dst.bytes, portable.bytes) << "bottom-up source, default instruction set";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ScalerMatchesReference,
    testing::Values(ScaleCase{{1920, 1080}, {225, 127}, 0, 1},  // odd width, ratios without a common factor
                    ScaleCase{{6, 700}, {2, 1}, 0, 0},          // more inner rows than a 16-bit sum holds
                    ScaleCase{{16384, 1}, {3, 1}, 0, 0},        // the widest source accepted
                    ScaleCase{{50, 10}, {20, 31}, 0, 0},        // shrinking width, growing height
                    ScaleCase{{3, 2}, {10, 7}, 0, 2},           // growing both ways
                    // Growing height from a wider source: the rows are scaled before they are blended.
                    ScaleCase{{400, 30}, {3, 200}, 5, 1},       //
                    // Row sums at the edges of the 16-bit budget: 128 rows per destination row fit exactly, 255 only
                    // as scaled sums, 128.5 need the 32-bit sums.
                    ScaleCase{{33, 128}, {2, 1}, 0, 0},         //
                    ScaleCase{{1000, 255}, {9, 2}, 3, 0},       //
                    ScaleCase{{40, 257}, {3, 2}, 0, 0},         //
                    // Columns per destination pixel at the edge of one window (16) and past it.
                    ScaleCase{{16, 3}, {1, 3}, 0, 0},           //
                    ScaleCase{{17, 5}, {1, 5}, 0, 0},           //
                    ScaleCase{{1921, 4}, {225, 1}, 1, 2}));     // a row end inside the last vector of pixels

// Integer area weights of one destination sample in 1/d of a source sample (they add up to s).
std::vector<std::pair<int32_t, int64_t>> AreaWeights(int32_t s, int32_t d, int32_t i) {
  std::vector<std::pair<int32_t, int64_t>> weights;
  const int64_t begin = int64_t{i} * s;
  const int64_t end = begin + s;
  for (int64_t j = begin / d; j * d < end; ++j) {
    weights.emplace_back(static_cast<int32_t>(j), std::min(end, (j + 1) * d) - std::max(begin, j * d));
  }
  return weights;
}

// Where the shrink ratios reduce to at most 128 source rows per destination row, the result is the area average
// rounded exactly (halves up), on every instruction set: an integer reference, byte for byte.
TEST(ImageScaler, ReducibleRatiosGiveTheExactlyRoundedAreaAverage) {
  const std::pair<Size, Size> shapes[] = {
      {{1920, 1080}, {224, 126}}, {{128, 128}, {1, 1}}, {{300, 200}, {7, 100}}, {{9, 6}, {9, 6}}};
  for (const auto& [from, to] : shapes) {
    SCOPED_TRACE(testing::Message() << from.width << "x" << from.height << " -> " << to.width << "x" << to.height);
    const Source src(from, 0, static_cast<uint32_t>(from.width + to.height));
    std::vector<uint8_t> expected(static_cast<size_t>(to.width) * to.height * 3);
    const int64_t divisor = int64_t{from.width} * from.height;
    for (int32_t y = 0; y < to.height; ++y) {
      const auto rows = AreaWeights(from.height, to.height, y);
      for (int32_t x = 0; x < to.width; ++x) {
        const auto columns = AreaWeights(from.width, to.width, x);
        for (int32_t c = 0; c < 3; ++c) {
          int64_t total = 0;
          for (const auto& [j, wy] : rows) {
            for (const auto& [i, wx] : columns) {
              total += wy * wx * src.bytes[static_cast<size_t>(j) * src.stride + static_cast<size_t>(i) * 3 + c];
            }
          }
          expected[(static_cast<size_t>(y) * to.width + x) * 3 + c] =
              static_cast<uint8_t>((2 * total + divisor) / (2 * divisor));
        }
      }
    }
    for (const ScalerInstructionSet set :
         {ScalerInstructionSet::kPortable, ScalerInstructionSet::kAvx2, ScalerInstructionSet::kAvx512}) {
      if (!ScalerSupports(set)) continue;
      std::vector<uint8_t> actual(expected.size());
      ASSERT_GT(ScaleImageBgr24With(set, src.bytes.data(), src.stride, from.width, from.height, actual.data(),
                                    to.width * 3, to.width, to.height),
                0);
      EXPECT_EQ(actual, expected) << "instruction set " << static_cast<int>(set);
    }
  }
}

// Flat images stay exactly flat at both ends of the range: a rounding overshoot at 255 must not wrap to 0.
TEST(ImageScaler, FlatImagesStayFlat) {
  for (const uint8_t level : {uint8_t{0}, uint8_t{128}, uint8_t{255}}) {
    for (const auto& [from, to] : {std::pair<Size, Size>{{1920, 1080}, {224, 126}}, {{700, 300}, {9, 299}},
                                   {{4, 4}, {9, 11}},
                                   {{50, 255}, {50, 2}}}) {  // same width, scaled row sums
      const std::vector<uint8_t> src(static_cast<size_t>(from.width) * from.height * 3, level);
      std::vector<uint8_t> dst(static_cast<size_t>(to.width) * to.height * 3);
      ASSERT_GT(ScaleImageBgr24(src.data(), from.width * 3, from.width, from.height, dst.data(), to.width * 3,
                                to.width, to.height),
                0);
      for (const uint8_t b : dst) ASSERT_EQ(b, level) << int{level} << " from " << from.width << "x" << from.height;
    }
  }
}

// Every case is refused before any pixel is touched, so the small buffers are never read.
TEST(ImageScaler, RefusesBadArgumentsWithoutTouchingTheDestination) {
  const struct {
    const char* what;
    bool nullSource;
    int32_t srcStride;
    Size from;
    bool nullDestination;
    int32_t dstStride;
    Size to;
  } cases[] = {{"null source", true, 6, {2, 2}, false, 3, {1, 1}},
               {"null destination", false, 6, {2, 2}, true, 3, {1, 1}},
               {"zero source width", false, 6, {0, 2}, false, 3, {1, 1}},
               {"zero destination width", false, 6, {2, 2}, false, 3, {0, 1}},
               {"source too wide", false, 49155, {16385, 1}, false, 3, {1, 1}},
               {"destination too tall", false, 6, {2, 2}, false, 3, {1, 16385}},
               {"source stride short of a row", false, 5, {2, 2}, false, 3, {1, 1}},
               {"negative destination stride", false, 6, {2, 2}, false, -3, {1, 1}},
               {"negative source span beyond 32 bits", false, -0x40000000, {2, 3}, false, 3, {1, 1}},
               {"source span beyond 32 bits", false, 0x40000000, {2, 3}, false, 3, {1, 1}},
               {"destination span beyond 32 bits", false, 6, {2, 2}, false, 0x7FFFFFFF, {1, 2}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> src(64, 1);
    std::vector<uint8_t> dst(64, 0xA5);
    EXPECT_LE(ScaleImageBgr24(c.nullSource ? nullptr : src.data(), c.srcStride, c.from.width, c.from.height,
                              c.nullDestination ? nullptr : dst.data(), c.dstStride, c.to.width, c.to.height),
              0);
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0xA5));
  }
}

}  // namespace
