// Resizing of packed 24-bit blue-green-red images for the preview frames.
// Callable from any thread; each thread keeps its own small size-keyed tables, so concurrent calls do not race.
#pragma once

#include <cstdint>

// Largest width or height the scaler accepts, in pixels.
constexpr int32_t kMaxScaleDimension = 16384;

// Resizes the srcWidth x srcHeight image at src into the dstWidth x dstHeight image at dst. Both are packed BGR24
// (three bytes per pixel, blue first); row y of the source starts at src + y * srcStride, where srcStride may be
// negative (a bottom-up picture read from its top row), and row y of the destination at dst + y * dstStride.
// A shrinking axis is area-averaged (each destination pixel the average of the source area it covers, partly
// covered source pixels weighted by their share); a growing axis is interpolated linearly.
// Reads only srcHeight rows of srcWidth * 3 bytes from src and writes only dstHeight rows of dstWidth * 3 bytes to
// dst; the bytes between rows are left alone. src and dst must not overlap.
// Returns 1 on success. Returns 0 and leaves dst untouched for a null pointer, a width or height that is not in
// 1..kMaxScaleDimension, a source stride whose size is smaller than width * 3, a destination stride smaller than
// width * 3, an image whose byte span does not fit a 32-bit signed count, or a failed allocation of the working
// rows. The cost is about that of reading the larger of the two pictures once, whatever their shapes.
// The inner loops run with the widest instruction set this processor has; every set gives the same bytes.
int32_t ScaleImageBgr24(const uint8_t* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
                        int32_t dstStride, int32_t dstWidth, int32_t dstHeight);

// The instruction sets the scaler has inner loops for.
enum class ScalerInstructionSet { kPortable, kAvx2, kAvx512 };

// Whether this build and processor run the scaler's loops for `set` (kPortable always).
bool ScalerSupports(ScalerInstructionSet set);

// ScaleImageBgr24 with the loops for `set`, for comparing them; returns 0 when ScalerSupports(set) is false.
int32_t ScaleImageBgr24With(ScalerInstructionSet set, const uint8_t* src, int32_t srcStride, int32_t srcWidth,
                            int32_t srcHeight, uint8_t* dst, int32_t dstStride, int32_t dstWidth,
                            int32_t dstHeight);
