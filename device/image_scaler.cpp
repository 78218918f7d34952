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

struct Axis {
  std::vector<Taps> taps;
  int64_t unit = 0;  // what the weights of one destination sample add up to
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
}

int64_t Gcd(int64_t a, int64_t b) {
  while (b != 0) {
    const int64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

// How the vertical pass keeps a destination row: a 16-bit sum of the source rows, each inner row counted
// innerScale times and each edge row (value * factor) >> 8, which comes to `scale` times the row's average, with
// scale = scaleNumerator / scaleDenominator; the horizontal pass divides by it. Where the rows are too many for
// that, exact 32-bit sums give 128 times the average instead.
struct RowScale {
  bool wide = false;
  uint16_t innerScale = 0;
  uint64_t scaleNumerator = 0;
  uint64_t scaleDenominator = 1;
};

// Scaled(255, factor): the most an edge row adds.
int64_t MostFromEdge(uint16_t factor) {
  return (int64_t{255 << 8} * factor) >> 16;
}

// On a shrinking axis with s / gcd at most kScalerMaxRowScale, each row's weight divided by the gcd is a whole
// number and the 16-bit sums are exact. Otherwise the inner rows count K times, K as large as the 16-bit
// budget allows, and the edge rows K times their share, to 1/256 of a row.
RowScale SetRowFactors(int32_t s, int32_t d, Axis& rows) {
  RowScale scale;
  if (s < d) {
    for (Taps& t : rows.taps) {  // linear weights in 2^15 are the factors for 128 times the value
      t.firstFactor = t.firstWeight;
      t.lastFactor = t.count > 1 ? t.lastWeight : 0;
    }
    scale.scaleNumerator = kScalerMaxRowScale;
    return scale;
  }
  const int64_t g = Gcd(s, d);
  int64_t k = s / g <= kScalerMaxRowScale && d / g <= 255 ? d / g : int64_t{kScalerMaxRowScale} * d / s;
  for (; k > 0; --k) {
    bool fits = true;
    for (Taps& t : rows.taps) {
      const int64_t lastWeight = t.count > 1 ? t.lastWeight : 0;
      t.firstFactor = static_cast<uint16_t>((512 * k * t.firstWeight + d) / (2 * d));
      t.lastFactor = static_cast<uint16_t>((512 * k * lastWeight + d) / (2 * d));
      const int64_t inner = t.count > 2 ? t.count - 2 : 0;
      fits = fits && 255 * k * inner + MostFromEdge(t.firstFactor) + MostFromEdge(t.lastFactor) <= INT16_MAX;
    }
    if (fits) {
      scale.innerScale = static_cast<uint16_t>(k);
      scale.scaleNumerator = static_cast<uint64_t>(k * s);
      scale.scaleDenominator = static_cast<uint64_t>(d);
      return scale;
    }
  }
  scale.wide = true;
  scale.scaleNumerator = kScalerMaxRowScale;
  return scale;
}

// The horizontal pass's reciprocal of the row scale times the column unit, rounded up so that exact halves round
// up, with the largest shift that keeps it below 2^bits. Sums below 2^15 times the unit times a reciprocal below
// 2^32 stay in 64 bits; a reciprocal below 2^17 keeps a single sum below 2^15 in 32 bits.
void SetReciprocal(const RowScale& rows, int64_t columnUnit, uint32_t bits, ScalerColumns& columns) {
  const unsigned __int128 divisor = static_cast<unsigned __int128>(rows.scaleNumerator) * columnUnit;
  uint32_t shift = 55;
  unsigned __int128 reciprocal = 0;
  for (;; --shift) {
    const unsigned __int128 dividend = (static_cast<unsigned __int128>(1) << shift) * rows.scaleDenominator;
    reciprocal = (dividend + divisor - 1) / divisor;
    if (reciprocal < (static_cast<unsigned __int128>(1) << bits)) {
      break;
    }
  }
  columns.reciprocal = static_cast<uint32_t>(reciprocal);
  columns.shift = shift;
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
  RowScale rowScale;
  ScalerColumns columnPass{};
  bool horizontalFirst = false;
  // Vertical first: the inner rows' sum and then the destination row's vertical result, for the whole source
  // width, and the edge row shared with the next destination row (a few KB each, so they stay in the first-level
  // cache). Horizontal first: two scaled source rows, 128 times the value, and the source row each holds (-1: none).
  std::vector<uint16_t> vertical;
  std::vector<uint16_t> edge;
  std::vector<uint16_t> scaledRows[2];
  int32_t scaledRowIndex[2] = {-1, -1};
  uint64_t toIntermediateReciprocal = 0;  // 2^kScalerReciprocalBits * 128 / columns.unit, rounded
  std::vector<uint32_t> wideSum;          // only for rows too many for 16-bit sums
  std::vector<uint16_t> innerSum;         // likewise
  std::vector<int32_t> windowFirst;       // windows of the horizontal pass, when every pixel fits one
  std::vector<int16_t> windowWeights;
  std::vector<uint16_t> planes;

  void PrepareWindows(bool wanted, int32_t sw, int32_t dw) {
    windowFirst.clear();
    windowWeights.clear();
    planes.clear();
    if (!wanted || sw < dw) {
      return;  // linear weights do not fit signed 16 bits
    }
    for (const Taps& t : columns.taps) {
      if (t.count > kScalerWindowPixels) {
        return;
      }
    }
    const size_t padded = (static_cast<size_t>(dw) + 15) / 16 * 16;
    windowFirst.assign(padded, 0);
    windowWeights.assign(padded * kScalerWindowPixels, 0);
    for (size_t x = 0; x < columns.taps.size(); ++x) {
      const Taps& t = columns.taps[x];
      windowFirst[x] = t.first;
      int16_t* w = windowWeights.data() + x * kScalerWindowPixels;
      for (int32_t k = 0; k < t.count; ++k) {
        const uint16_t weight = k == 0 ? t.firstWeight : k == t.count - 1 ? t.lastWeight : t.innerWeight;
        w[k] = static_cast<int16_t>(weight);  // at most 16384, the largest width
      }
    }
    planes.assign(3 * (static_cast<size_t>(sw) + kScalerWindowPixels), 0);
  }

  void Prepare(int32_t sw, int32_t sh, int32_t dw, int32_t dh) {
    if (sw == srcWidth && sh == srcHeight && dw == dstWidth && dh == dstHeight) {
      return;
    }
    srcWidth = 0;  // invalid until every table is complete, in case an allocation throws
    BuildAxis(sh, dh, rows);
    rowScale = SetRowFactors(sh, dh, rows);
    BuildAxis(sw, dw, columns);
    horizontalFirst = HorizontalFirstIsCheaper(sw, sh, dw, dh, rows);
    const size_t rowBytes = static_cast<size_t>(horizontalFirst ? dw : sw) * 3;
    vertical.assign(horizontalFirst ? 0 : rowBytes, 0);
    edge.assign(horizontalFirst ? 0 : rowBytes, 0);
    for (std::vector<uint16_t>& row : scaledRows) {
      row.resize(horizontalFirst ? rowBytes : 0);
    }
    const uint64_t unit = static_cast<uint64_t>(columns.unit);
    toIntermediateReciprocal = ((uint64_t{128} << kScalerReciprocalBits) + unit / 2) / unit;
    const bool wide = !horizontalFirst && rowScale.wide;
    wideSum.resize(wide ? rowBytes : 0);
    innerSum.resize(wide ? rowBytes : 0);
    PrepareWindows(!horizontalFirst && sw != dw, sw, dw);
    columnPass = ScalerColumns{};
    columnPass.taps = columns.taps.data();
    columnPass.count = columns.taps.size();
    columnPass.sameWidth = sw == dw;
    if (columnPass.sameWidth) {
      SetReciprocal(rowScale, 1, 17, columnPass);
    } else {
      SetReciprocal(rowScale, columns.unit, 32, columnPass);
    }
    if (!windowFirst.empty() && !columnPass.sameWidth) {
      columnPass.windowFirst = windowFirst.data();
      columnPass.windowWeights = windowWeights.data();
      columnPass.planes = planes.data();
      columnPass.planeStride = static_cast<size_t>(sw) + kScalerWindowPixels;
      columnPass.sourcePixels = static_cast<size_t>(sw);
    }
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

  // Vertical first: each source row is read once, in order. An edge row that two destination rows share gives
  // both their parts in one read; the inner rows go into one 16-bit sum row.
  void VerticalFirst(const ScalerKernels& k, const uint8_t* src, ptrdiff_t srcStride, uint8_t* dst,
                     ptrdiff_t dstStride) {
    const size_t n = static_cast<size_t>(srcWidth) * 3;
    uint16_t* sum = vertical.data();
    if (rowScale.wide) {
      for (int32_t y = 0; y < dstHeight; ++y) {
        k.verticalPassWide(src, srcStride, rows.taps[static_cast<size_t>(y)], rows.unit, n, sum, wideSum.data(),
                           innerSum.data());
        k.horizontalPass(sum, columnPass, dst + y * dstStride);
      }
      return;
    }
    int32_t edgeOf = -1;  // the source row whose part `edge` holds for the next destination row
    // Rows after row j that a kernel may prefetch: those of the picture, not beyond its last.
    const auto ahead = [this](int32_t j) { return srcHeight - 1 - j; };
    for (int32_t y = 0; y < dstHeight; ++y) {
      const Taps& t = rows.taps[static_cast<size_t>(y)];
      const uint8_t* first = src + t.first * srcStride;
      if (t.count == 1) {
        k.edgeRow(first, srcStride, ahead(t.first), t.firstFactor, n, sum);
        edgeOf = -1;
      } else {
        if (edgeOf != t.first) {
          k.edgeRow(first, srcStride, ahead(t.first), t.firstFactor, n, edge.data());
        }
        const int32_t inner = t.count - 2;
        const int32_t last = t.first + t.count - 1;
        if (inner > 0) {
          k.addRows(first + srcStride, srcStride, inner, ahead(last - 1), n, false, sum);
        }
        const Taps* next = y + 1 < dstHeight ? &rows.taps[static_cast<size_t>(y) + 1] : nullptr;
        const bool shared = next != nullptr && next->count > 1 && next->first == last;
        k.finishRow(src + last * srcStride, srcStride, ahead(last), t.lastFactor, shared ? next->firstFactor : 0,
                    inner > 0 ? rowScale.innerScale : 0, sum, edge.data(), n, sum, shared ? edge.data() : nullptr);
        edgeOf = shared ? last : -1;
      }
      k.horizontalPass(sum, columnPass, dst + y * dstStride);
    }
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
  state.VerticalFirst(k, src, srcStride, dst, dstStride);
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
