// The scaler's inner loops, built once per instruction set (image_scaler_kernels.inc) and chosen at run time.
// Everything here is plain data and function pointers: the files built with wider instruction sets must not
// share any inline function with the rest of the program, or the linker could pick their copy for everyone.
#pragma once

#include <cstddef>
#include <cstdint>

// The source samples that make up one destination row (or column): `count` consecutive ones from `first`. The first
// and the last have their own weight, every one between them innerWeight. The weights are whole numbers that add up
// to the axis' unit: on a shrinking axis the overlaps measured in 1/d of a source sample (they add up to s, a whole
// source sample weighs d), on a growing axis linear weights in kScalerLinearUnit.
struct ScalerTaps {
  int32_t first;
  int32_t count;
  // 16-bit fields: the vectoriser only uses its 16-bit multiplies for values it can see are 16 bits wide.
  uint16_t firstWeight;
  uint16_t innerWeight;
  uint16_t lastWeight;
  // Vertical only: the edge rows' factors in the 16-bit sum, (value * factor) >> 8 each (see ScalerRows).
  uint16_t firstFactor;
  uint16_t lastFactor;
};

// Rows in the vertical pass's 16-bit sums are kept at most this far above the pixel value (255 * 128 < 2^15), so
// that the horizontal pass may treat them as signed 16-bit numbers.
constexpr int32_t kScalerMaxRowScale = 128;

// Intermediate values of the horizontal-first path are 128 times the pixel value, in 16 bits.
constexpr int kScalerIntermediateBits = 7;

// Fixed point of the linear weights: 2^15 keeps them in 16 bits.
constexpr int64_t kScalerLinearUnit = int64_t{1} << 15;

// Source rows between the two edge rows are summed in 16 bits: 257 * 255 = 65535.
constexpr int32_t kScalerMaxInnerRowsIn16Bits = 257;

// The horizontal-first path's results are (sum * reciprocal) >> kScalerReciprocalBits.
constexpr int kScalerReciprocalBits = 40;

// Source pixels one destination pixel may cover for the windowed horizontal pass (one 16-lane vector per channel).
constexpr int32_t kScalerWindowPixels = 16;

// One destination row's horizontal pass. Each destination pixel is sum(weight * in) over its columns' taps, then
// (sum * reciprocal + 2^(shift - 1)) >> shift, at most 255: the division by both axes' units in one step.
struct ScalerColumns {
  const ScalerTaps* taps;
  size_t count;  // destination pixels
  uint32_t reciprocal;
  uint32_t shift;
  // Same width: each value on its own, (in * reciprocal + 2^(shift - 1)) >> shift in 32 bits, the reciprocal of
  // the row scale alone and below 2^17.
  bool sameWidth;
  // Optional, for loops that sum whole windows: per destination pixel, rounded up to a multiple of 16, the window's
  // first source pixel and kScalerWindowPixels signed weights (the taps' weights, then zeros). Null when a pixel
  // covers more than a window or a weight does not fit. `planes` is scratch for the row split into its three
  // colours, planeStride values each, the last kScalerWindowPixels of each plane zero.
  const int32_t* windowFirst;
  const int16_t* windowWeights;
  uint16_t* planes;
  size_t planeStride;
  size_t sourcePixels;
};

struct ScalerKernels {
  // The vertical pass's rows. Each reads its rows (srcStride apart) once and may prefetch the `ahead` rows that
  // follow the last of them; n is the bytes of a row.
  // out = (row * factor) >> 8.
  void (*edgeRow)(const uint8_t* row, ptrdiff_t srcStride, int32_t ahead, uint16_t factor, size_t n,
                  uint16_t* out);
  // acc = (acc if add, else 0) + the sum of `rows` rows from `row` (at most 257 rows in all).
  void (*addRows)(const uint8_t* row, ptrdiff_t srcStride, int32_t rows, int32_t ahead, size_t n, bool add,
                  uint16_t* acc);
  // out = innerScale * acc + edge + ((row * factor) >> 8); then, when nextEdge is not null,
  // nextEdge = (row * nextFactor) >> 8. out may be acc, and nextEdge may be edge.
  void (*finishRow)(const uint8_t* row, ptrdiff_t srcStride, int32_t ahead, uint16_t factor, uint16_t nextFactor,
                    uint16_t innerScale, const uint16_t* acc, const uint16_t* edge, size_t n, uint16_t* out,
                    uint16_t* nextEdge);
  // 128 times the exact weighted average of the source rows of t (weights adding up to unit), for rows with more
  // inner rows than the 16-bit sums allow. wideSum and innerSum hold n values each.
  void (*verticalPassWide)(const uint8_t* src, ptrdiff_t srcStride, const ScalerTaps& t, int64_t unit, size_t n,
                           uint16_t* out, uint32_t* wideSum, uint16_t* innerSum);
  // One destination row from one row of vertical sums.
  void (*horizontalPass)(const uint16_t* in, const ScalerColumns& columns, uint8_t* out);
  // 128 times the horizontal average of one row of pixels (the reciprocal carries the factor 128).
  void (*horizontalPassToIntermediate)(const uint8_t* in, const ScalerTaps* taps, size_t count,
                                       uint64_t reciprocal, uint16_t* out);
  // n bytes from two rows of 128 times the values, weighted wa and wb in kScalerLinearUnit (wa + wb is the unit).
  void (*blendRows)(const uint16_t* a, const uint16_t* b, uint32_t wa, uint32_t wb, size_t n, uint8_t* out);
};

extern const ScalerKernels kPortableScalerKernels;
#if defined(__x86_64__)
#define PNX_SCALER_X86_KERNELS 1
extern const ScalerKernels kAvx2ScalerKernels;
extern const ScalerKernels kAvx512ScalerKernels;
#endif
