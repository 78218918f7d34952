// Separable BGR24 resizer: area averaging on a shrinking axis, linear interpolation on a growing one. The passes
// run in the order that reads less, and their loops (image_scaler_kernels.inc) are built for several instruction
// sets, the widest one this processor runs being chosen once.
#include "device/image_scaler.h"

#include <cstddef>
#include <new>
#include <vector>

#include "device/image_scaler_kernels.h"

namespace {

using Taps = ScalerTaps;
constexpr int64_t kUnit = kScalerLinearUnit;
constexpr int32_t kMaxInnerRowsIn16Bits = kScalerMaxInnerRowsIn16Bits;

struct Axis {
  std::vector<Taps> taps;
  int64_t unit = 0;         // what the weights of one destination sample add up to
  uint64_t reciprocal = 0;  // 2^kScalerReciprocalBits / (128 * unit), rounded
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
  axis.reciprocal = ((uint64_t{1} << kScalerReciprocalBits) + divisor / 2) / divisor;
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

// Which pass runs first. Vertical first reads every source row a destination row needs across the whole source
// width; when the height grows that is up to two source rows per destination row, so a tall narrow destination
// from a wide source would read the source many times over. Horizontal first scales each source row once (kept
// for the destination rows that share it) and blends the scaled rows; it is taken only where it reads less.
bool HorizontalFirstIsCheaper(int32_t sw, int32_t sh, int32_t dw, int32_t dh, const Axis& rows) {
  if (dh <= sh) {
    return false;  // area rows: vertical first reads each source row about once
  }
  int64_t sourceRowsRead = 0;
  for (const Taps& t : rows.taps) {
    sourceRowsRead += t.count;
  }
  const int64_t horizontalReads = int64_t{sw} + dw;  // pixels one horizontal pass touches
  const int64_t verticalFirst = sourceRowsRead * sw + int64_t{dh} * horizontalReads;
  const int64_t horizontalFirst = int64_t{sh} * horizontalReads + sourceRowsRead * dw;
  return horizontalFirst < verticalFirst;
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
  bool horizontalFirst = false;
  // Vertical first: one destination row's vertical result, 128 times the value, for the whole source width.
  // Horizontal first: two scaled source rows, 128 times the value, and the source row each holds (-1: none).
  std::vector<uint16_t> vertical;
  std::vector<uint16_t> scaledRows[2];
  int32_t scaledRowIndex[2] = {-1, -1};
  uint64_t toIntermediateReciprocal = 0;  // 2^kScalerReciprocalBits * 128 / columns.unit, rounded
  std::vector<uint32_t> wideSum;   // only for more than kMaxInnerRowsIn16Bits inner rows
  std::vector<uint16_t> innerSum;  // likewise

  void Prepare(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    if (sw == srcWidth && sh == srcHeight && dw == dstWidth && dh == dstHeight) {
      return;
    }
    srcWidth = 0;  // invalid until every table is complete, in case an allocation throws
    BuildAxis(sh, dh, rows);
    AddVerticalFractions(rows);
    BuildAxis(sw, dw, columns);
    horizontalFirst = HorizontalFirstIsCheaper(sw, sh, dw, dh, rows);
    const size_t rowBytes = static_cast<size_t>(horizontalFirst ? dw : sw) * 3;
    vertical.resize(horizontalFirst ? 0 : rowBytes);
    for (std::vector<uint16_t>& row : scaledRows) {
      row.resize(horizontalFirst ? rowBytes : 0);
    }
    const uint64_t unit = static_cast<uint64_t>(columns.unit);
    toIntermediateReciprocal = ((uint64_t{128} << kScalerReciprocalBits) + unit / 2) / unit;
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

  // Source row j scaled horizontally, from the two kept rows or into the one that does not hold row `keep`.
  const uint16_t* ScaledRow(const ScalerKernels& k, const uint8_t* src, int32_t srcStride, int32_t j, int32_t keep) {
    for (int i = 0; i < 2; ++i) {
      if (scaledRowIndex[i] == j) {
        return scaledRows[i].data();
      }
    }
    const int i = scaledRowIndex[0] == keep ? 1 : 0;
    k.horizontalPassToIntermediate(src + static_cast<ptrdiff_t>(j) * srcStride, columns.taps.data(),
                                   columns.taps.size(), toIntermediateReciprocal, scaledRows[i].data());
    scaledRowIndex[i] = j;
    return scaledRows[i].data();
  }
};

// Width and height in range, a stride of at least a row either way, and every byte of the image addressable with
// 32-bit counts. Rows are at pixels + y * stride, so a negative stride walks up from the first row.
bool IsValidImage(const uint8_t* pixels, int32_t stride, int32_t width, int32_t height) {
  if (pixels == nullptr || width <= 0 || height <= 0 || width > kMaxScaleDimension ||
      height > kMaxScaleDimension) {
    return false;
  }
  const int64_t rowBytes = int64_t{width} * 3;
  const int64_t distance = stride < 0 ? -int64_t{stride} : int64_t{stride};
  if (distance < rowBytes) {
    return false;
  }
  return distance * (height - 1) + rowBytes <= INT32_MAX;
}

bool Supports(ScalerInstructionSet set) {
  switch (set) {
    case ScalerInstructionSet::kPortable:
      return true;
#if defined(PNX_SCALER_X86_KERNELS)
    case ScalerInstructionSet::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case ScalerInstructionSet::kAvx512:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
#endif
    default:
      return false;
  }
}

const ScalerKernels& KernelsFor(ScalerInstructionSet set) {
  switch (set) {
#if defined(PNX_SCALER_X86_KERNELS)
    case ScalerInstructionSet::kAvx2:
      return kAvx2ScalerKernels;
    case ScalerInstructionSet::kAvx512:
      return kAvx512ScalerKernels;
#endif
    default:
      return kPortableScalerKernels;
  }
}

// The widest instruction set this processor runs, looked up once.
const ScalerKernels& BestKernels() {
  static const ScalerKernels& best = []() -> const ScalerKernels& {
    for (const ScalerInstructionSet set : {ScalerInstructionSet::kAvx512, ScalerInstructionSet::kAvx2}) {
      if (Supports(set)) {
        return KernelsFor(set);
      }
    }
    return kPortableScalerKernels;
  }();
  return best;
}

int32_t Scale(const ScalerKernels& k, const uint8_t* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight,
              uint8_t* dst, int32_t dstStride, int32_t dstWidth, int32_t dstHeight) {
  if (!IsValidImage(src, srcStride, srcWidth, srcHeight) || !IsValidImage(dst, dstStride, dstWidth, dstHeight) ||
      dstStride < 0) {
    return 0;
  }
  thread_local ScalerState state;
  try {
    state.Prepare(srcWidth, srcHeight, dstWidth, dstHeight);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  const Taps* columns = state.columns.taps.data();
  const size_t columnCount = state.columns.taps.size();
  if (state.horizontalFirst) {
    const size_t dstRowBytes = static_cast<size_t>(dstWidth) * 3;
    state.scaledRowIndex[0] = state.scaledRowIndex[1] = -1;  // a new picture
    for (int32_t y = 0; y < dstHeight; ++y) {
      const Taps& t = state.rows.taps[static_cast<size_t>(y)];
      const uint16_t* a = state.ScaledRow(k, src, srcStride, t.first, -1);
      const uint16_t* b = t.count > 1 ? state.ScaledRow(k, src, srcStride, t.first + 1, t.first) : a;
      k.blendRows(a, b, t.firstWeight, t.count > 1 ? t.lastWeight : 0, dstRowBytes,
                  dst + static_cast<ptrdiff_t>(y) * dstStride);
    }
    return 1;
  }
  const size_t srcRowBytes = static_cast<size_t>(srcWidth) * 3;
  for (int32_t y = 0; y < dstHeight; ++y) {
    k.verticalPass(src, srcStride, state.rows.taps[static_cast<size_t>(y)], state.rows.unit, srcRowBytes,
                   state.vertical.data(), state.wideSum.data(), state.innerSum.data());
    k.horizontalPass(state.vertical.data(), columns, columnCount, state.columns.reciprocal,
                     dst + static_cast<ptrdiff_t>(y) * dstStride);
  }
  return 1;
}

}  // namespace

int32_t ScaleImageBgr24(const uint8_t* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
                        int32_t dstStride, int32_t dstWidth, int32_t dstHeight) {
  return Scale(BestKernels(), src, srcStride, srcWidth, srcHeight, dst, dstStride, dstWidth, dstHeight);
}

bool ScalerSupports(ScalerInstructionSet set) {
  return Supports(set);
}

int32_t ScaleImageBgr24With(ScalerInstructionSet set, const uint8_t* src, int32_t srcStride, int32_t srcWidth,
                            int32_t srcHeight, uint8_t* dst, int32_t dstStride, int32_t dstWidth,
                            int32_t dstHeight) {
  if (!Supports(set)) {
    return 0;
  }
  return Scale(KernelsFor(set), src, srcStride, srcWidth, srcHeight, dst, dstStride, dstWidth, dstHeight);
}
