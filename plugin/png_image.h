// Key pictures as PNG files (zlib's deflate) and the data URL that carries them in "setImage". Pure
// functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Encodes the width x height picture at bgr (packed blue-green-red, top row first, rows width x 3 bytes apart)
// as an 8-bit RGB PNG file into out (replaced). False, with out empty, for a side outside 1..4096 or when
// zlib fails.
bool EncodePngBgr24(const uint8_t* bgr, int32_t width, int32_t height, std::vector<uint8_t>& out);

// "data:image/png;base64,..." for a PNG file.
std::string PngDataUrl(const std::vector<uint8_t>& png);
