// Reads what the emulated device's test card shows in a preview image: the colour at the centre of each
// quadrant and the time code. Images are packed bottom-up BGR24, as the frame path makes them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/emulator/multiview_frame.h"

namespace test_card {

// "r,g,b" of pixel (x, y counted from the top) of a width x height image.
inline std::string Colour(const uint8_t* pixels, int32_t width, int32_t height, int32_t x, int32_t y) {
  const uint8_t* p = pixels + (static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) + x) * 3;
  return std::to_string(p[2]) + "," + std::to_string(p[1]) + "," + std::to_string(p[0]);
}

// The colours at the centres of the four quadrants, in reading order.
inline std::vector<std::string> Quadrants(const uint8_t* pixels, int32_t width, int32_t height) {
  std::vector<std::string> out;
  for (int32_t y : {height / 4, height * 3 / 4}) {
    for (int32_t x : {width / 4, width * 3 / 4}) out.push_back(Colour(pixels, width, height, x, y));
  }
  return out;
}

// The time code's bits, read at the centre of each block (the blocks scale with the picture); false unless
// every block is clearly black or white and the check blocks read white, black, white, black at the start and
// black, white, black, white at the end.
inline bool ReadTimeCode(const uint8_t* pixels, int32_t width, int32_t height, uint32_t* value) {
  const double blockWidth = static_cast<double>(width) / emulator::kTimeCodeColumns;
  const double left = (width - emulator::kTimeCodeBlocks * blockWidth) / 2;
  const int32_t y = static_cast<int32_t>(static_cast<double>(height) / emulator::kTimeCodeRows);
  uint32_t bits = 0;
  for (int i = 0; i < emulator::kTimeCodeBlocks; ++i) {
    const int32_t x = static_cast<int32_t>(left + (i + 0.5) * blockWidth);
    const uint8_t* p = pixels + (static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) + x) * 3;
    const int level = (p[0] + p[1] + p[2]) / 3;
    if (level > 64 && level < 192) return false;
    const bool white = level >= 192;
    const int data = i - emulator::kTimeCodeCheckBlocks;
    if (data < 0) {
      if (white != (i % 2 == 0)) return false;
    } else if (data >= emulator::kTimeCodeBits) {
      if (white != (i % 2 == 1)) return false;
    } else {
      bits = bits << 1 | (white ? 1u : 0u);
    }
  }
  *value = bits;
  return true;
}

}  // namespace test_card
