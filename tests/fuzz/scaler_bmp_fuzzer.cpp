// The scaler and the BMP writer on heap buffers of exactly the size their contracts name, so that a read or
// write one byte past an image is an AddressSanitizer report. Checks what any correct scaler must do: a
// picture of one colour stays that colour, the bytes between rows stay untouched, and a refused call
// touches nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "device/bmp_image.h"
#include "device/image_scaler.h"

namespace {

constexpr uint8_t kGap = 0xA5;  // fills the bytes between destination rows

// The cost of a scale grows with the larger picture and with destination height x source width; inputs are
// kept to shapes that take milliseconds, so that the fuzzer explores instead of waiting.
constexpr int64_t kMaxPixels = int64_t{1} << 18;
constexpr int64_t kMaxCrossCost = int64_t{1} << 21;

struct Shape {
  int32_t width;
  int32_t height;
  int32_t stride;
};

int32_t Side(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: return in.ConsumeIntegral<int32_t>();  // mostly refused
    case 1: return in.ConsumeIntegralInRange<int32_t>(kMaxScaleDimension - 2, kMaxScaleDimension + 1);
    case 2: return in.ConsumeIntegralInRange<int32_t>(1, 4);
    default: return in.ConsumeIntegralInRange<int32_t>(1, 700);
  }
}

Shape ShapeFrom(FuzzedDataProvider& in) {
  Shape s;
  s.width = Side(in);
  s.height = Side(in);
  const int64_t row = int64_t{s.width} * 3;
  // Mostly a packed or padded row; sometimes one byte short, which must be refused.
  const int pick = in.ConsumeIntegralInRange(0, 7);
  const int64_t stride = pick == 0 ? row - 1 : row + (pick == 1 ? in.ConsumeIntegralInRange(1, 9) : 0);
  s.stride = static_cast<int32_t>(stride);
  return s;
}

bool Usable(const Shape& s) {
  return s.width >= 1 && s.height >= 1 && s.width <= kMaxScaleDimension && s.height <= kMaxScaleDimension &&
         s.stride >= int64_t{s.width} * 3;
}

// Bytes from the first row's start to the last row's end: what the scaler may touch, and no more.
size_t SpanBytes(const Shape& s) {
  return static_cast<size_t>(s.stride) * static_cast<size_t>(s.height - 1) + static_cast<size_t>(s.width) * 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const Shape src = ShapeFrom(in);
  const Shape dst = ShapeFrom(in);
  const bool uniform = in.ConsumeBool();
  const uint8_t colour[3] = {in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>(),
                             in.ConsumeIntegral<uint8_t>()};
  const std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();

  // Shapes that the scaler refuses are still called, on small stand-in buffers: it must touch nothing.
  const bool usable = Usable(src) && Usable(dst);
  if (usable) {
    const int64_t srcPixels = int64_t{src.width} * src.height;
    const int64_t dstPixels = int64_t{dst.width} * dst.height;
    if (srcPixels > kMaxPixels || dstPixels > kMaxPixels) return 0;
    if (int64_t{dst.height} * src.width > kMaxCrossCost || int64_t{src.height} * dst.width > kMaxCrossCost) {
      return 0;
    }
  }
  const size_t srcBytes = usable ? SpanBytes(src) : 16;
  const size_t dstBytes = usable ? SpanBytes(dst) : 16;
  std::unique_ptr<uint8_t[]> srcBuffer(new uint8_t[srcBytes]);
  std::unique_ptr<uint8_t[]> dstBuffer(new uint8_t[dstBytes]);
  const bool uniformRows = uniform || pattern.empty();
  const size_t srcStride = usable ? static_cast<size_t>(src.stride) : srcBytes;
  for (size_t i = 0; i < srcBytes; ++i) {
    // Every row starts with blue, whatever the stride.
    srcBuffer[i] = uniformRows ? colour[(i % srcStride) % 3] : pattern[i % pattern.size()];
  }
  std::memset(dstBuffer.get(), kGap, dstBytes);

  const int32_t result = ScaleImageBgr24(srcBuffer.get(), src.stride, src.width, src.height, dstBuffer.get(),
                                         dst.stride, dst.width, dst.height);
  if (!usable) {
    if (result != 0) std::abort();
    for (size_t i = 0; i < dstBytes; ++i) {
      if (dstBuffer[i] != kGap) std::abort();
    }
    return 0;
  }
  // Only an allocation failure may refuse usable shapes of this size, and ASan's allocator does not fail.
  if (result != 1) std::abort();
  for (int32_t y = 0; y < dst.height; ++y) {
    const uint8_t* row = dstBuffer.get() + static_cast<size_t>(y) * static_cast<size_t>(dst.stride);
    if (uniformRows) {
      for (int32_t x = 0; x < dst.width * 3; ++x) {
        if (std::abs(int{row[x]} - int{colour[x % 3]}) > 1) std::abort();
      }
    }
    if (y + 1 < dst.height) {
      for (int32_t g = dst.width * 3; g < dst.stride; ++g) {
        if (row[g] != kGap) std::abort();
      }
    }
  }

  // The BMP writer reads exactly the pixel bytes it is given, after its two headers.
  std::vector<uint8_t> bmp;
  WriteBmpImage(bmp, dstBuffer.get(), dst.width, dst.height, dstBytes);
  if (bmp.size() != kBmpHeaderBytes + dstBytes) std::abort();
  if (std::memcmp(bmp.data() + kBmpHeaderBytes, dstBuffer.get(), dstBytes) != 0) std::abort();
  return 0;
}
