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
  // Vertical only, the weights as the 16-bit pass uses them: the edge weights in kScalerLinearUnit; the sum of the
  // inner rows is multiplied by innerScale (filling 16 bits) and its high half by innerFactor, which together make
  // 128 * innerWeight / unit.
  uint16_t firstFraction;
  uint16_t lastFraction;
  uint16_t innerScale;
  uint16_t innerFactor;
};

// Intermediate values are 128 times the pixel value, in 16 bits (at most 128 * 255 plus a rounding unit).
constexpr int kScalerIntermediateBits = 7;

// Fixed point of the linear weights and of the vertical edge weights: 2^15 keeps them in 16 bits.
constexpr int64_t kScalerLinearUnit = int64_t{1} << 15;

// Source rows between the two edge rows are summed in 16 bits: 257 * 255 = 65535.
constexpr int32_t kScalerMaxInnerRowsIn16Bits = 257;

// A result is (sum * reciprocal) >> kScalerReciprocalBits, the reciprocal rounded from 2^kScalerReciprocalBits
// divided by what the weights add up to (times 128 where the input is 128 times the value).
constexpr int kScalerReciprocalBits = 40;

struct ScalerKernels {
  // 128 times the weighted average of the source rows of t, for the first n bytes of a row. wideSum and innerSum
  // hold n values each; they are used only for more than kScalerMaxInnerRowsIn16Bits inner rows.
  void (*verticalPass)(const uint8_t* src, int32_t srcStride, const ScalerTaps& t, int64_t unit, size_t n,
                       uint16_t* out, uint32_t* wideSum, uint16_t* innerSum);
  // One destination row from a row of 128 times the values: taps[0..count) give the pixels' columns.
  void (*horizontalPass)(const uint16_t* in, const ScalerTaps* taps, size_t count, uint64_t reciprocal,
                         uint8_t* out);
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
