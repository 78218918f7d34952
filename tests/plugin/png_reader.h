// Reads back the key pictures the plug-in sends: a PNG data URL to packed RGB pixels, top row first. Only what
// the plug-in writes (8-bit RGB, no interlace, rows unfiltered or filtered) is taken.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <websocketpp/base64/base64.hpp>

struct PngPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;

  // "r,g,b" at (x, y), counted from the top left.
  std::string At(int32_t x, int32_t y) const {
    const uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
  }
};

inline bool ReadPngDataUrl(const std::string& url, PngPicture& out) {
  const std::string prefix = "data:image/png;base64,";
  if (url.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string file = websocketpp::base64_decode(url.substr(prefix.size()));
  auto big32 = [&](size_t at) {
    return uint32_t{static_cast<uint8_t>(file[at])} << 24 | uint32_t{static_cast<uint8_t>(file[at + 1])} << 16 |
           uint32_t{static_cast<uint8_t>(file[at + 2])} << 8 | static_cast<uint8_t>(file[at + 3]);
  };
  if (file.size() < 8 || file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return false;
  std::string packed;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = big32(at);
    const std::string type = file.substr(at + 4, 4);
    if (at + 12 + length > file.size()) return false;
    if (type == "IHDR") {
      out.width = static_cast<int32_t>(big32(at + 8));
      out.height = static_cast<int32_t>(big32(at + 12));
      if (file.compare(at + 16, 5, std::string("\x08\x02\x00\x00\x00", 5)) != 0) return false;
    }
    if (type == "IDAT") packed += file.substr(at + 8, length);
    at += 12 + length;
  }
  if (out.width < 1 || out.height < 1 || out.width > 4096 || out.height > 4096) return false;
  const size_t row = static_cast<size_t>(out.width) * 3;
  std::vector<uint8_t> raw(static_cast<size_t>(out.height) * (row + 1));
  uLongf size = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size())) !=
          Z_OK ||
      size != raw.size()) {
    return false;
  }
  out.rgb.assign(static_cast<size_t>(out.height) * row, 0);
  for (int32_t y = 0; y < out.height; ++y) {
    const uint8_t filter = raw[y * (row + 1)];
    const uint8_t* in = &raw[y * (row + 1) + 1];
    uint8_t* to = &out.rgb[y * row];
    const uint8_t* up = y > 0 ? to - row : nullptr;
    for (size_t i = 0; i < row; ++i) {
      const int a = i >= 3 ? to[i - 3] : 0, b = up ? up[i] : 0, c = up && i >= 3 ? up[i - 3] : 0;
      int pred = 0;
      switch (filter) {
        case 0: pred = 0; break;
        case 1: pred = a; break;
        case 2: pred = b; break;
        case 3: pred = (a + b) / 2; break;
        case 4: {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
          break;
        }
        default: return false;
      }
      to[i] = static_cast<uint8_t>(in[i] + pred);
    }
  }
  return true;
}
