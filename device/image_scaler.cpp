// Separable BGR24 resizer: area averaging on a shrinking axis, linear interpolation on a growing one.
// Built with -O3 (see device/CMakeLists.txt): the vertical pass runs over contiguous bytes so that the compiler
// vectorises it; no intrinsics.
#include "device/image_scaler.h"

#include <cstddef>
#include <new>
#include <vector>

namespace {

// The weights of one destination sample are integers that add up to exactly this, so a flat image stays flat.
// 2^15 keeps every weight in 16 bits, which the vectoriser multiplies with 16-bit instructions.
constexpr int64_t kUnit = int64_t{1} << 15;

// The vertical pass stores each value times 128 in 16 bits; the horizontal pass removes that and kUnit.
constexpr int kVerticalBits = 7;
constexpr int kHorizontalShift = kVerticalBits + 15;

// Source rows between the two edge rows are summed in 16 bits before they are weighted: 257 * 255 = 65535.
constexpr int32_t kMaxInnerRowsIn16Bits = 257;

// Bytes of a row summed at once in the vertical pass: few enough that their sums stay in vector registers.
constexpr size_t kBlock = 64;

// The source samples that make up one destination row (or column): `count` consecutive ones from `first`. The
// first and the last have their own weight, every one between them `innerWeight` (on a shrinking axis they are
// covered whole). With count 1 the single weight is firstWeight == kUnit.
struct Taps {
  int32_t first;
  int32_t count;
  // 16-bit fields: the vectoriser only uses its 16-bit multiplies for values it can see are 16 bits wide.
  uint16_t firstWeight;
  uint16_t innerWeight;
  uint16_t lastWeight;
  // Vertical only: the sum of the inner rows is multiplied by innerScale (filling 16 bits) and then by
  // innerFactor / 65536, which together make innerWeight * 128 / kUnit.
  uint16_t innerScale;
  uint16_t innerFactor;
};

// Area weights: destination sample y covers source span [y * s / d, (y + 1) * s / d). Measured in 1/d of a source
// sample the ends are whole numbers, so the overlaps are exact and only their scaling to kUnit rounds.
void BuildAreaTaps(int32_t s, int32_t d, std::vector<Taps>& taps) {
  taps.resize(static_cast<size_t>(d));
  for (int32_t y = 0; y < d; ++y) {
    const int64_t begin = int64_t{y} * s;
    const int64_t end = begin + s;
    const int64_t j0 = begin / d;
    const int64_t j1 = (end - 1) / d;
    Taps& t = taps[static_cast<size_t>(y)];
    t.first = static_cast<int32_t>(j0);
    t.count = static_cast<int32_t>(j1 - j0 + 1);
    if (t.count == 1) {
      t.firstWeight = static_cast<uint16_t>(kUnit);
      t.innerWeight = 0;
      t.lastWeight = 0;
      t.innerScale = 0;
      t.innerFactor = 0;
      continue;
    }
    const int64_t firstOverlap = (j0 + 1) * d - begin;
    const int64_t lastOverlap = end - j1 * d;
    const int64_t inner = t.count - 2;
    t.innerScale = 0;
    t.innerFactor = 0;
    // A whole source sample weighs d / s; rounded to nearest unless the rounding up would leave the edges less
    // than nothing, then rounded down.
    int64_t innerWeight = inner > 0 ? (2 * d * kUnit + s) / (2 * s) : 0;
    if (inner * innerWeight > kUnit) {
      innerWeight = d * kUnit / s;
    }
    // The edges share what is left in proportion to their overlaps, so the weights add up to kUnit exactly.
    const int64_t rest = kUnit - inner * innerWeight;
    const int64_t edges = firstOverlap + lastOverlap;
    const int64_t firstWeight = (2 * rest * firstOverlap + edges) / (2 * edges);
    t.firstWeight = static_cast<uint16_t>(firstWeight);
    t.innerWeight = static_cast<uint16_t>(innerWeight);
    t.lastWeight = static_cast<uint16_t>(rest - firstWeight);
    if (inner > 0 && inner <= kMaxInnerRowsIn16Bits) {
      // The sum of the inner rows, scaled to fill 16 bits, times innerFactor / 65536 is 128 * innerWeight / kUnit
      // times the sum. innerFactor fits 16 bits: innerWeight <= kUnit / inner and innerScale > 128 / inner.
      const int64_t scale = 65535 / (255 * inner);
      const int64_t factor = (innerWeight * 512 + scale) / (2 * scale);
      t.innerScale = static_cast<uint16_t>(scale);
      t.innerFactor = static_cast<uint16_t>(factor < 65535 ? factor : 65535);
    }
  }
}

// Linear interpolation between the two nearest source samples, with sample centres aligned and the image edges
// clamped. In 1/(2d) of a source sample, destination sample y lies at (2y + 1) * s - d from the first centre.
void BuildLinearTaps(int32_t s, int32_t d, std::vector<Taps>& taps) {
  taps.resize(static_cast<size_t>(d));
  const int64_t twoD = 2 * int64_t{d};
  for (int32_t y = 0; y < d; ++y) {
    Taps& t = taps[static_cast<size_t>(y)];
    t.count = 1;
    t.firstWeight = static_cast<uint16_t>(kUnit);
    t.innerWeight = 0;
    t.lastWeight = 0;
    t.innerScale = 0;
    t.innerFactor = 0;
    const int64_t position = (2 * int64_t{y} + 1) * s - d;
    if (position <= 0) {
      t.first = 0;
      continue;
    }
    const int64_t j0 = position / twoD;
    if (j0 >= s - 1) {
      t.first = s - 1;
      continue;
    }
    const int64_t secondWeight = (2 * (position % twoD) * kUnit + twoD) / (2 * twoD);
    t.first = static_cast<int32_t>(j0);
    if (secondWeight == 0) {
      continue;
    }
    if (secondWeight == kUnit) {
      t.first = static_cast<int32_t>(j0 + 1);
      continue;
    }
    t.count = 2;
    t.firstWeight = static_cast<uint16_t>(kUnit - secondWeight);
    t.lastWeight = static_cast<uint16_t>(secondWeight);
  }
}

void BuildTaps(int32_t s, int32_t d, std::vector<Taps>& taps) {
  if (s >= d) {
    BuildAreaTaps(s, d, taps);
  } else {
    BuildLinearTaps(s, d, taps);
  }
}

// Tables and working rows for one combination of sizes, kept per thread: the preview scales every frame with the
// same sizes, so in the steady state a call allocates nothing. Storage is bounded by the largest sizes used.
struct ScalerState {
  int32_t srcWidth = 0;
  int32_t srcHeight = 0;
  int32_t dstWidth = 0;
  int32_t dstHeight = 0;
  std::vector<Taps> rows;
  std::vector<Taps> columns;
  std::vector<uint16_t> innerSum;  // sum of the inner source rows of one destination row
  std::vector<uint16_t> vertical;  // one destination row's vertical result, 256 times the value
  std::vector<uint32_t> wideSum;   // only for more than kMaxInnerRowsIn16Bits inner rows

  void Prepare(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    if (sw == srcWidth && sh == srcHeight && dw == dstWidth && dh == dstHeight) {
      return;
    }
    srcWidth = 0;  // invalid until every table is complete, in case an allocation throws
    const size_t rowBytes = static_cast<size_t>(sw) * 3;
    BuildTaps(sh, dh, rows);
    BuildTaps(sw, dw, columns);
    innerSum.resize(rowBytes);
    vertical.resize(rowBytes);
    bool wide = false;
    for (const Taps& t : rows) {
      wide = wide || t.count - 2 > kMaxInnerRowsIn16Bits;
    }
    wideSum.resize(wide ? rowBytes : 0);
    srcWidth = sw;
    srcHeight = sh;
    dstWidth = dw;
    dstHeight = dh;
  }
};

// The high half of a 16 x 16-bit product; written so that the vectoriser uses its 16-bit multiplies.
inline uint16_t MulHigh(uint16_t x, uint16_t y) {
  return static_cast<uint16_t>((uint32_t{x} * uint32_t{y}) >> 16);
}

// The vertical pass for one destination row: `out` receives 128 times the weighted average of the row's source
// rows, for all n bytes of a source row. The inner rows are summed in 16 bits first, so most source bytes cost a
// widening add; each of the three terms is then scaled with one 16-bit high multiply (each truncates, the + 1
// recentres them).
__attribute__((noinline)) void VerticalPass(const uint8_t* src, int32_t srcStride, const Taps& t, size_t n, ScalerState& state) {
  uint16_t* out = state.vertical.data();
  const uint8_t* a = src + static_cast<ptrdiff_t>(t.first) * srcStride;
  if (t.count == 1) {
    for (size_t c = 0; c < n; ++c) {
      out[c] = static_cast<uint16_t>(a[c] << kVerticalBits);
    }
    return;
  }
  const uint8_t* b = src + static_cast<ptrdiff_t>(t.first + t.count - 1) * srcStride;
  const uint16_t wa = t.firstWeight;
  const uint16_t wb = t.lastWeight;
  if (t.count == 2) {
    for (size_t c = 0; c < n; ++c) {
      const uint16_t a16 = static_cast<uint16_t>(a[c] << 8);
      const uint16_t b16 = static_cast<uint16_t>(b[c] << 8);
      out[c] = static_cast<uint16_t>(MulHigh(a16, wa) + MulHigh(b16, wb) + 1);
    }
    return;
  }

  const int32_t inner = t.count - 2;
  uint16_t* sum = state.innerSum.data();
  if (inner <= kMaxInnerRowsIn16Bits) {
    const uint16_t scale = t.innerScale;
    const uint16_t factor = t.innerFactor;
    const uint8_t* firstInner = a + srcStride;
    // A block of columns at a time, summed over all inner rows in registers, then weighted.
    size_t c0 = 0;
    for (; c0 + kBlock <= n; c0 += kBlock) {
      uint16_t block[kBlock];
      const uint8_t* row = firstInner + c0;
      for (size_t c = 0; c < kBlock; ++c) {
        block[c] = row[c];
      }
      for (int32_t k = 1; k < inner; ++k) {
        row += srcStride;
        for (size_t c = 0; c < kBlock; ++c) {
          block[c] = static_cast<uint16_t>(block[c] + row[c]);
        }
      }
      for (size_t c = 0; c < kBlock; ++c) {
        const uint16_t a16 = static_cast<uint16_t>(a[c0 + c] << 8);
        const uint16_t b16 = static_cast<uint16_t>(b[c0 + c] << 8);
        const uint16_t s16 = static_cast<uint16_t>(block[c] * scale);
        out[c0 + c] = static_cast<uint16_t>(MulHigh(a16, wa) + MulHigh(s16, factor) + MulHigh(b16, wb) + 1);
      }
    }
    for (; c0 < n; ++c0) {
      const uint8_t* row = firstInner + c0;
      uint32_t total = 0;
      for (int32_t k = 0; k < inner; ++k, row += srcStride) {
        total += *row;
      }
      const uint16_t a16 = static_cast<uint16_t>(a[c0] << 8);
      const uint16_t b16 = static_cast<uint16_t>(b[c0] << 8);
      const uint16_t s16 = static_cast<uint16_t>(total * scale);
      out[c0] = static_cast<uint16_t>(MulHigh(a16, wa) + MulHigh(s16, factor) + MulHigh(b16, wb) + 1);
    }
    return;
  }

  // A very large shrink: the inner rows are summed in batches, each weighted into 32 bits. inner * wi <= kUnit
  // keeps the total below 2^23.
  const uint32_t wi = t.innerWeight;
  uint32_t* wide = state.wideSum.data();
  for (size_t c = 0; c < n; ++c) {
    wide[c] = uint32_t{wa} * a[c] + uint32_t{wb} * b[c];
  }
  const uint8_t* row = a + srcStride;
  for (int32_t done = 0; done < inner;) {
    const int32_t batch = inner - done < kMaxInnerRowsIn16Bits ? inner - done : kMaxInnerRowsIn16Bits;
    for (size_t c = 0; c < n; ++c) {
      sum[c] = row[c];
    }
    for (int32_t k = 1; k < batch; ++k) {
      row += srcStride;
      for (size_t c = 0; c < n; ++c) {
        sum[c] = static_cast<uint16_t>(sum[c] + row[c]);
      }
    }
    row += srcStride;
    for (size_t c = 0; c < n; ++c) {
      wide[c] += wi * sum[c];
    }
    done += batch;
  }
  constexpr uint32_t half = 1u << (15 - kVerticalBits - 1);
  for (size_t c = 0; c < n; ++c) {
    out[c] = static_cast<uint16_t>((wide[c] + half) >> (15 - kVerticalBits));
  }
}

// The horizontal pass for one destination row. Inputs are at most 128 * 255 + 1, so sums stay below 2^31.
// The truncations of the vertical pass can overshoot the top value by a fraction.
inline uint8_t Clamp255(uint32_t value) {
  return static_cast<uint8_t>(value < 255 ? value : 255);
}

__attribute__((noinline)) void HorizontalPass(const uint16_t* in, const std::vector<Taps>& columns, uint8_t* out) {
  constexpr uint32_t round = 1u << (kHorizontalShift - 1);
  for (const Taps& t : columns) {
    const uint16_t* p = in + static_cast<size_t>(t.first) * 3;
    if (t.count == 1) {
      constexpr uint32_t half = 1u << (kVerticalBits - 1);
      out[0] = Clamp255((p[0] + half) >> kVerticalBits);
      out[1] = Clamp255((p[1] + half) >> kVerticalBits);
      out[2] = Clamp255((p[2] + half) >> kVerticalBits);
      out += 3;
      continue;
    }
    const uint16_t* q = p + static_cast<size_t>(t.count - 1) * 3;
    const uint32_t wa = t.firstWeight;
    const uint32_t wb = t.lastWeight;
    uint32_t blue = wa * p[0] + wb * q[0] + round;
    uint32_t green = wa * p[1] + wb * q[1] + round;
    uint32_t red = wa * p[2] + wb * q[2] + round;
    if (t.count > 2) {
      uint32_t innerBlue = 0;
      uint32_t innerGreen = 0;
      uint32_t innerRed = 0;
      for (const uint16_t* r = p + 3; r < q; r += 3) {
        innerBlue += r[0];
        innerGreen += r[1];
        innerRed += r[2];
      }
      const uint32_t wi = t.innerWeight;
      blue += wi * innerBlue;
      green += wi * innerGreen;
      red += wi * innerRed;
    }
    out[0] = Clamp255(blue >> kHorizontalShift);
    out[1] = Clamp255(green >> kHorizontalShift);
    out[2] = Clamp255(red >> kHorizontalShift);
    out += 3;
  }
}

// Width and height in range, stride wide enough, and the last byte of the image addressable with 32-bit counts.
bool IsValidImage(const uint8_t* pixels, int32_t stride, int32_t width, int32_t height) {
  if (pixels == nullptr || width <= 0 || height <= 0 || width > kMaxScaleDimension ||
      height > kMaxScaleDimension) {
    return false;
  }
  const int64_t rowBytes = int64_t{width} * 3;
  if (stride < rowBytes) {
    return false;
  }
  return int64_t{stride} * (height - 1) + rowBytes <= INT32_MAX;
}

}  // namespace

int32_t ScaleImageBgr24(const uint8_t* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
                        int32_t dstStride, int32_t dstWidth, int32_t dstHeight) {
  if (!IsValidImage(src, srcStride, srcWidth, srcHeight) || !IsValidImage(dst, dstStride, dstWidth, dstHeight)) {
    return 0;
  }
  thread_local ScalerState state;
  try {
    state.Prepare(srcWidth, srcHeight, dstWidth, dstHeight);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  const size_t srcRowBytes = static_cast<size_t>(srcWidth) * 3;
  for (int32_t y = 0; y < dstHeight; ++y) {
    VerticalPass(src, srcStride, state.rows[static_cast<size_t>(y)], srcRowBytes, state);
    HorizontalPass(state.vertical.data(), state.columns, dst + static_cast<ptrdiff_t>(y) * dstStride);
  }
  return 1;
}
