// Separable BGR24 resizer: area averaging on a shrinking axis, linear interpolation on a growing one.
// Built with -O3 (see device/CMakeLists.txt): the vertical pass runs over contiguous bytes with 16-bit arithmetic
// so that the compiler vectorises it; no intrinsics.
#include "device/image_scaler.h"

#include <cstddef>
#include <new>
#include <vector>

namespace {

// The vertical pass leaves each value times 128 in 16 bits (at most 128 * 255 plus a rounding unit).
constexpr int kVerticalBits = 7;

// Fixed point of the linear weights and of the vertical edge weights: 2^15 keeps them in 16 bits.
constexpr int64_t kUnit = int64_t{1} << 15;

// Source rows between the two edge rows are summed in 16 bits: 257 * 255 = 65535.
constexpr int32_t kMaxInnerRowsIn16Bits = 257;

// Bytes of a row summed at once in the vertical pass: few enough that their sums stay in vector registers.
constexpr size_t kBlock = 64;

// The horizontal result is (sum * reciprocal) >> kReciprocalBits; sum < 2^30 and reciprocal <= 2^33 fit 64 bits.
constexpr int kReciprocalBits = 40;

// The source samples that make up one destination row (or column): `count` consecutive ones from `first`. The first
// and the last have their own weight, every one between them innerWeight. The weights are whole numbers that add up
// to the axis' unit: on a shrinking axis the overlaps measured in 1/d of a source sample (they add up to s, a whole
// source sample weighs d), on a growing axis linear weights in kUnit.
struct Taps {
  int32_t first;
  int32_t count;
  // 16-bit fields: the vectoriser only uses its 16-bit multiplies for values it can see are 16 bits wide.
  uint16_t firstWeight;
  uint16_t innerWeight;
  uint16_t lastWeight;
  // Vertical only, the weights as the 16-bit pass uses them: the edge weights in kUnit; the sum of the inner rows
  // is multiplied by innerScale (filling 16 bits) and its high half by innerFactor, which together make
  // 128 * innerWeight / unit.
  uint16_t firstFraction;
  uint16_t lastFraction;
  uint16_t innerScale;
  uint16_t innerFactor;
};

struct Axis {
  std::vector<Taps> taps;
  int64_t unit = 0;         // what the weights of one destination sample add up to
  uint64_t reciprocal = 0;  // 2^kReciprocalBits / (128 * unit), rounded
};

// Area weights: destination sample y covers the source span [y * s / d, (y + 1) * s / d). Measured in 1/d of a
// source sample its ends are whole numbers, so the overlaps are exact.
void BuildAreaTaps(int32_t s, int32_t d, Axis& axis) {
  axis.taps.resize(static_cast<size_t>(d));
  axis.unit = s;
  for (int32_t y = 0; y < d; ++y) {
    const int64_t begin = int64_t{y} * s;
    const int64_t end = begin + s;
    const int64_t j0 = begin / d;
    const int64_t j1 = (end - 1) / d;
    Taps& t = axis.taps[static_cast<size_t>(y)];
    t = Taps{};
    t.first = static_cast<int32_t>(j0);
    t.count = static_cast<int32_t>(j1 - j0 + 1);
    if (t.count == 1) {
      t.firstWeight = static_cast<uint16_t>(s);
      continue;
    }
    t.firstWeight = static_cast<uint16_t>((j0 + 1) * d - begin);
    t.innerWeight = static_cast<uint16_t>(d);
    t.lastWeight = static_cast<uint16_t>(end - j1 * d);
  }
}

// Linear interpolation between the two nearest source samples, with sample centres aligned and the image edges
// clamped. In 1/(2d) of a source sample, destination sample y lies at (2y + 1) * s - d from the first centre.
void BuildLinearTaps(int32_t s, int32_t d, Axis& axis) {
  axis.taps.resize(static_cast<size_t>(d));
  axis.unit = kUnit;
  const int64_t twoD = 2 * int64_t{d};
  for (int32_t y = 0; y < d; ++y) {
    Taps& t = axis.taps[static_cast<size_t>(y)];
    t = Taps{};
    t.count = 1;
    t.firstWeight = static_cast<uint16_t>(kUnit);
    const int64_t position = (2 * int64_t{y} + 1) * s - d;
    if (position <= 0) {
      continue;
    }
    const int64_t j0 = position / twoD;
    if (j0 >= s - 1) {
      t.first = s - 1;
      continue;
    }
    const int64_t second = (2 * (position % twoD) * kUnit + twoD) / (2 * twoD);
    t.first = static_cast<int32_t>(j0);
    if (second == 0) {
      continue;
    }
    if (second == kUnit) {
      t.first = static_cast<int32_t>(j0 + 1);
      continue;
    }
    t.count = 2;
    t.firstWeight = static_cast<uint16_t>(kUnit - second);
    t.lastWeight = static_cast<uint16_t>(second);
  }
}

void BuildAxis(int32_t s, int32_t d, Axis& axis) {
  if (s >= d) {
    BuildAreaTaps(s, d, axis);
  } else {
    BuildLinearTaps(s, d, axis);
  }
  const uint64_t divisor = 128 * static_cast<uint64_t>(axis.unit);
  axis.reciprocal = ((uint64_t{1} << kReciprocalBits) + divisor / 2) / divisor;
}

// The 16-bit forms of the vertical weights. innerFactor fits 16 bits: innerWeight / unit <= 1 / inner, and
// inner * innerScale >= 129 (innerScale = floor(257 / inner)), so innerFactor <= 2^23 / 129.
void AddVerticalFractions(Axis& axis) {
  const int64_t unit = axis.unit;
  for (Taps& t : axis.taps) {
    t.firstFraction = static_cast<uint16_t>((2 * t.firstWeight * kUnit + unit) / (2 * unit));
    t.lastFraction = static_cast<uint16_t>((2 * t.lastWeight * kUnit + unit) / (2 * unit));
    const int32_t inner = t.count - 2;
    if (inner > 0 && inner <= kMaxInnerRowsIn16Bits) {
      const int64_t scale = 65535 / (255 * inner);
      const int64_t factor = ((int64_t{t.innerWeight} << 24) + scale * unit) / (2 * scale * unit);
      t.innerScale = static_cast<uint16_t>(scale);
      t.innerFactor = static_cast<uint16_t>(factor < 65535 ? factor : 65535);
    }
  }
}

// Tables and working rows for one combination of sizes, kept per thread: the preview scales every frame with the
// same sizes, so in the steady state a call allocates nothing. Storage is bounded by the largest sizes used.
struct ScalerState {
  int32_t srcWidth = 0;
  int32_t srcHeight = 0;
  int32_t dstWidth = 0;
  int32_t dstHeight = 0;
  Axis rows;
  Axis columns;
  std::vector<uint16_t> vertical;  // one destination row's vertical result, 128 times the value
  std::vector<uint32_t> wideSum;   // only for more than kMaxInnerRowsIn16Bits inner rows
  std::vector<uint16_t> innerSum;  // likewise

  void Prepare(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    if (sw == srcWidth && sh == srcHeight && dw == dstWidth && dh == dstHeight) {
      return;
    }
    srcWidth = 0;  // invalid until every table is complete, in case an allocation throws
    const size_t rowBytes = static_cast<size_t>(sw) * 3;
    BuildAxis(sh, dh, rows);
    AddVerticalFractions(rows);
    BuildAxis(sw, dw, columns);
    vertical.resize(rowBytes);
    bool wide = false;
    for (const Taps& t : rows.taps) {
      wide = wide || t.count - 2 > kMaxInnerRowsIn16Bits;
    }
    wideSum.resize(wide ? rowBytes : 0);
    innerSum.resize(wide ? rowBytes : 0);
    srcWidth = sw;
    srcHeight = sh;
    dstWidth = dw;
    dstHeight = dh;
  }
};

// The high half of a 16 x 16-bit product, in a form the vectoriser maps onto its 16-bit multiply.
inline uint16_t MulHigh(uint16_t x, uint16_t y) {
  return static_cast<uint16_t>((uint32_t{x} * uint32_t{y}) >> 16);
}

// Edge rows and the inner sum, each scaled by one high multiply. Each truncates; the + 1 recentres the three.
inline uint16_t Combine(uint8_t first, uint16_t innerSum, uint8_t last, const Taps& t) {
  const uint16_t a = static_cast<uint16_t>(first << 8);
  const uint16_t b = static_cast<uint16_t>(last << 8);
  const uint16_t s = static_cast<uint16_t>(innerSum * t.innerScale);
  return static_cast<uint16_t>(MulHigh(a, t.firstFraction) + MulHigh(s, t.innerFactor) +
                               MulHigh(b, t.lastFraction) + 1);
}

// Rows with more inner rows than a 16-bit sum holds: exact 32-bit sums of the integer weights, batch by batch.
void VerticalPassWide(const uint8_t* src, int32_t srcStride, const Taps& t, int64_t unit, size_t n,
                      ScalerState& state) {
  const uint8_t* a = src + static_cast<ptrdiff_t>(t.first) * srcStride;
  const uint8_t* b = a + static_cast<ptrdiff_t>(t.count - 1) * srcStride;
  uint32_t* wide = state.wideSum.data();
  uint16_t* sum = state.innerSum.data();
  for (size_t c = 0; c < n; ++c) {
    wide[c] = uint32_t{t.firstWeight} * a[c] + uint32_t{t.lastWeight} * b[c];
  }
  const uint8_t* row = a + srcStride;
  for (int32_t left = t.count - 2; left > 0;) {
    const int32_t batch = left < kMaxInnerRowsIn16Bits ? left : kMaxInnerRowsIn16Bits;
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
      wide[c] += uint32_t{t.innerWeight} * sum[c];  // the total stays at most 255 * unit < 2^22
    }
    left -= batch;
  }
  // 128 * total / unit, rounded: total < 2^22 and the reciprocal < 2^39 / unit keep the product in 64 bits.
  const uint64_t reciprocal = ((uint64_t{128} << 32) + static_cast<uint64_t>(unit) / 2) / static_cast<uint64_t>(unit);
  uint16_t* out = state.vertical.data();
  for (size_t c = 0; c < n; ++c) {
    out[c] = static_cast<uint16_t>((wide[c] * reciprocal + (uint64_t{1} << 31)) >> 32);
  }
}

// The vertical pass for one destination row: state.vertical receives 128 times the weighted average of the row's
// source rows, for all n bytes of a source row.
void VerticalPass(const uint8_t* src, int32_t srcStride, const Taps& t, int64_t unit, size_t n,
                  ScalerState& state) {
  uint16_t* out = state.vertical.data();
  const uint8_t* a = src + static_cast<ptrdiff_t>(t.first) * srcStride;
  if (t.count == 1) {
    for (size_t c = 0; c < n; ++c) {
      out[c] = static_cast<uint16_t>(a[c] << kVerticalBits);
    }
    return;
  }
  const uint8_t* b = a + static_cast<ptrdiff_t>(t.count - 1) * srcStride;
  if (t.count == 2) {
    for (size_t c = 0; c < n; ++c) {
      out[c] = Combine(a[c], 0, b[c], t);
    }
    return;
  }
  const int32_t inner = t.count - 2;
  if (inner > kMaxInnerRowsIn16Bits) {
    VerticalPassWide(src, srcStride, t, unit, n, state);
    return;
  }
  // A block of columns at a time: its sums over all inner rows stay in registers, then the edge rows join them.
  const uint8_t* firstInner = a + srcStride;
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
      out[c0 + c] = Combine(a[c0 + c], block[c], b[c0 + c], t);
    }
  }
  for (; c0 < n; ++c0) {
    const uint8_t* row = firstInner + c0;
    uint32_t total = 0;
    for (int32_t k = 0; k < inner; ++k, row += srcStride) {
      total += *row;
    }
    out[c0] = Combine(a[c0], static_cast<uint16_t>(total), b[c0], t);
  }
}

// 128 * 255 plus what the vertical truncations add can round a fraction past 255.
inline uint8_t Clamp255(uint64_t value) {
  return static_cast<uint8_t>(value < 255 ? value : 255);
}

// Four 16-bit values as the lanes of one 64-bit word, the first lowest (one load on little-endian machines).
inline uint64_t Lanes(const uint16_t* p) {
  return uint64_t{p[0]} | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 32 | uint64_t{p[3]} << 48;
}

// The horizontal pass for one destination row, in whole numbers: inputs below 2^15 times weights that add up to
// at most 16384 stay below 2^30.
void HorizontalPass(const uint16_t* in, const Axis& columns, uint8_t* out) {
  const uint64_t reciprocal = columns.reciprocal;
  constexpr uint64_t half = uint64_t{1} << (kReciprocalBits - 1);
  for (const Taps& t : columns.taps) {
    const uint16_t* p = in + static_cast<size_t>(t.first) * 3;
    const uint16_t* q = p + static_cast<size_t>(t.count - 1) * 3;
    const uint32_t wa = t.firstWeight;
    const uint32_t wb = t.count > 1 ? t.lastWeight : 0;
    uint32_t blue = wa * p[0] + wb * q[0];
    uint32_t green = wa * p[1] + wb * q[1];
    uint32_t red = wa * p[2] + wb * q[2];
    if (t.count > 2) {
      // Two pixels at a time as four 16-bit lanes (blue, green, red, the next blue): a pair sum stays below 2^16,
      // then blue and red go on in 32-bit lanes and green on its own.
      constexpr uint64_t kBlueRed = 0x0000FFFF0000FFFFull;
      uint64_t blueRed = 0;
      uint64_t greens = 0;
      const uint16_t* r = p + 3;
      for (; r + 3 < q; r += 6) {
        const uint64_t pair = Lanes(r) + Lanes(r + 3);
        blueRed += pair & kBlueRed;
        greens += (pair >> 16) & 0xFFFF;
      }
      uint32_t innerBlue = static_cast<uint32_t>(blueRed);
      uint32_t innerGreen = static_cast<uint32_t>(greens);
      uint32_t innerRed = static_cast<uint32_t>(blueRed >> 32);
      if (r < q) {
        innerBlue += r[0];
        innerGreen += r[1];
        innerRed += r[2];
      }
      const uint32_t wi = t.innerWeight;
      blue += wi * innerBlue;
      green += wi * innerGreen;
      red += wi * innerRed;
    }
    out[0] = Clamp255((blue * reciprocal + half) >> kReciprocalBits);
    out[1] = Clamp255((green * reciprocal + half) >> kReciprocalBits);
    out[2] = Clamp255((red * reciprocal + half) >> kReciprocalBits);
    out += 3;
  }
}

// Width and height in range, stride wide enough either way, and the far end of the image addressable with
// 32-bit counts. A negative stride (allowed for the source only) walks from the last row in memory backwards.
bool IsValidImage(const uint8_t* pixels, int32_t stride, int32_t width, int32_t height, bool mayRunBackwards) {
  if (pixels == nullptr || width <= 0 || height <= 0 || width > kMaxScaleDimension ||
      height > kMaxScaleDimension) {
    return false;
  }
  if (stride < 0 && !mayRunBackwards) {
    return false;
  }
  const int64_t rowBytes = int64_t{width} * 3;
  const int64_t span = stride < 0 ? -int64_t{stride} : int64_t{stride};
  if (span < rowBytes) {
    return false;
  }
  return span * (height - 1) + rowBytes <= INT32_MAX;
}

}  // namespace

int32_t ScaleImageBgr24(const uint8_t* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
                        int32_t dstStride, int32_t dstWidth, int32_t dstHeight) {
  if (!IsValidImage(src, srcStride, srcWidth, srcHeight, true) ||
      !IsValidImage(dst, dstStride, dstWidth, dstHeight, false)) {
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
    VerticalPass(src, srcStride, state.rows.taps[static_cast<size_t>(y)], state.rows.unit, srcRowBytes, state);
    HorizontalPass(state.vertical.data(), state.columns, dst + static_cast<ptrdiff_t>(y) * dstStride);
  }
  return 1;
}
