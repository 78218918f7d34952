// Packing of a scaled preview frame as an uncompressed 24-bit BMP image.
#include "device/bmp_image.h"

#include <cstring>
#include <stdexcept>

namespace {

void Put16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
  Put16(at, value);
  Put16(at + 2, value >> 16);
}

}  // namespace

void WriteBmpImage(std::vector<uint8_t>& out, const uint8_t* pixels, int32_t width, int32_t height,
                   size_t pixelBytes) {
  // Every field not set here is 0: file size, reserved, compression, image size, resolution and colour counts.
  uint8_t header[kBmpHeaderBytes] = {};
  header[0] = 'B';
  header[1] = 'M';
  Put32(header + 10, static_cast<uint32_t>(kBmpHeaderBytes));  // offset of the pixels
  Put32(header + 14, 40);                                       // info header size
  Put32(header + 18, static_cast<uint32_t>(width));             // signed values, two's complement
  Put32(header + 22, static_cast<uint32_t>(height));
  Put16(header + 26, 1);   // planes
  Put16(header + 28, 24);  // bits per pixel

  if (pixels == nullptr) {
    pixelBytes = 0;
  }
  out.clear();
  if (pixelBytes > out.max_size() - kBmpHeaderBytes) {
    throw std::length_error("BMP image too large");
  }
  // Sized first and then filled: two range inserts draw a false overflow warning from GCC at -O3.
  out.resize(kBmpHeaderBytes + pixelBytes);
  std::memcpy(out.data(), header, kBmpHeaderBytes);
  if (pixelBytes > 0) {
    std::memcpy(out.data() + kBmpHeaderBytes, pixels, pixelBytes);
  }
}
