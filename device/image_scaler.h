// Resizing of packed 24-bit blue-green-red images for the preview frames.
// Callable from any thread; each thread keeps its own small size-keyed tables, so concurrent calls do not race.
#pragma once

#include <cstdint>

// Largest width or height the scaler accepts, in pixels.
constexpr int32_t kMaxScaleDimension = 16384;

// Resizes the srcWidth x srcHeight image at src into the dstWidth x dstHeight image at dst. Both are packed BGR24
// (three bytes per pixel, blue first) with the given row strides in bytes; rows keep their order, whatever it is.
// Source row y starts at src + y * srcStride: a negative srcStride with src at the last row in memory reads the
// rows backwards (a top-down frame as a bottom-up one). |srcStride| must be at least srcWidth * 3.
// A shrinking axis is area-averaged (each destination pixel the average of the source area it covers, partly
// covered source pixels weighted by their share); a growing axis is interpolated linearly.
// Reads only srcHeight rows of srcWidth * 3 bytes from src and writes only dstHeight rows of dstWidth * 3 bytes to
// dst; the bytes between rows are left alone. src and dst must not overlap.
// Returns 1 on success. Returns 0 and leaves dst untouched for a null pointer, a width or height that is not in
// 1..kMaxScaleDimension, a stride whose size is smaller than width * 3, a negative destination stride, an image
// whose byte span does not fit a 32-bit signed count, or a failed allocation of the working rows.
int32_t ScaleImageBgr24(const uint8_t* src, int32_t srcStride, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
                        int32_t dstStride, int32_t dstWidth, int32_t dstHeight);
