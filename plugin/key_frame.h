// One captured frame fitted to the key picture's box, as the streaming thread hands it to the event loop.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

struct KeyFrame {
  int32_t device = -1;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;  // packed BGR24, top row first
  std::chrono::steady_clock::time_point captured{};
};

// The box a key picture is fitted into: the key's image size.
constexpr int32_t kKeyPictureSide = 144;
