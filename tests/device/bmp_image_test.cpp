// The preview BMP layout, byte for byte.
#include "device/bmp_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct BmpCase {
  int32_t width;
  int32_t height;
  size_t totalBytes;
  std::vector<uint8_t> header;
};

class BmpLayout : public testing::TestWithParam<BmpCase> {};

// Rows are width * 3 bytes with nothing added, even when that is not a multiple of four.
TEST_P(BmpLayout, HeaderThenRowsUnpadded) {
  const BmpCase& p = GetParam();
  const size_t pixelBytes = static_cast<size_t>(p.width) * 3 * p.height;
  std::vector<uint8_t> pixels(pixelBytes);
  for (size_t i = 0; i < pixelBytes; ++i) pixels[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::vector<uint8_t> out;
  WriteBmpImage(out, pixels.data(), p.width, p.height, pixelBytes);

  ASSERT_EQ(out.size(), p.totalBytes);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 54), p.header);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 54, out.end()), pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BmpLayout,
    testing::Values(
        BmpCase{225, 126, 85104, {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,         // file header
                           40, 0, 0, 0, 225, 0, 0, 0, 126, 0, 0, 0, 1, 0, 24, 0,  // size, width, height, planes, bits
                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        BmpCase{1000, 300, 54 + 900000, {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // fields wider than a byte
                            40, 0, 0, 0, 0xE8, 0x03, 0, 0, 0x2C, 0x01, 0, 0, 1, 0, 24, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));

}  // namespace
