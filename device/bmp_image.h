// Packing of a scaled preview frame as an uncompressed 24-bit BMP image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Size of the BMP file header and info header that precede the pixels.
constexpr size_t kBmpHeaderBytes = 14 + 40;

// Empties `out` (its storage stays allocated) and appends the BMP headers for a width x height image of 24 bits per
// pixel followed by the first pixelBytes bytes at `pixels`, unchanged. The header's file size and image size are
// left 0; a positive height declares the first stored row to be the bottom one. Rows are taken as they are: no
// padding is added, so the caller passes rows of exactly width * 3 bytes.
// Throws std::bad_alloc (std::length_error for an impossible size) when `out` cannot grow; `out` is then empty.
void WriteBmpImage(std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width, int32_t height,
                   size_t pixelBytes);
