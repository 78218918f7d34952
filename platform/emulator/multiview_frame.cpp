// Drawing of the emulated device's frames; see multiview_frame.h.
#include "platform/emulator/multiview_frame.h"

#include <cstring>

namespace emulator {
namespace {

struct Bgr {
  uint8_t b, g, r;
};

Bgr PlaceColour(const DeviceView& view, int place) {
  int input = static_cast<int>((view.sources >> (4 * place)) & 0xF);
  if (input < 1 || input > 4) return {128, 128, 128};
  if (!view.signal[input - 1]) return {0, 0, 0};
  switch (input) {
    case 1: return {0, 0, 255};
    case 2: return {0, 255, 0};
    case 3: return {255, 0, 0};
    default: return {255, 255, 255};
  }
}

size_t PixelBytes(const Format& format) { return format.subtype == MEDIASUBTYPE_RGB32 ? 4 : 3; }

size_t RowStride(const Format& format) {
  return (static_cast<size_t>(format.width) * PixelBytes(format) + 3) & ~size_t{3};
}

void FillRow(uint8_t* row, size_t pixelBytes, int32_t from, int32_t to, Bgr colour) {
  for (int32_t x = from; x < to; ++x) {
    uint8_t* pixel = row + pixelBytes * static_cast<size_t>(x);
    pixel[0] = colour.b;
    pixel[1] = colour.g;
    pixel[2] = colour.r;
    if (pixelBytes == 4) pixel[3] = 0xFF;
  }
}

// Fills picture rows [top, bottom) (counted from the top) with copies of one row's pixels.
void FillBand(const Format& format, uint8_t* frame, int32_t top, int32_t bottom, const uint8_t* row) {
  const size_t stride = RowStride(format);
  const size_t pixels = static_cast<size_t>(format.width) * PixelBytes(format);
  for (int32_t y = top; y < bottom; ++y) {
    const int32_t stored = format.topDown ? y : format.height - 1 - y;
    std::memcpy(frame + static_cast<size_t>(stored) * stride, row, pixels);
  }
}

}  // namespace

size_t FrameBytes(const Format& format) {
  size_t w = static_cast<size_t>(format.width);
  size_t h = static_cast<size_t>(format.height);
  if (IsRgbFormat(format)) return RowStride(format) * h;
  if (format.subtype == MEDIASUBTYPE_YUY2) return w * h * 2;
  if (format.subtype == MEDIASUBTYPE_NV12) return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
  return w * h;
}

uint16_t FormatBitCount(const Format& format) {
  if (format.subtype == MEDIASUBTYPE_RGB32) return 32;
  if (format.subtype == MEDIASUBTYPE_RGB24 || format.subtype == MEDIASUBTYPE_MJPG) return 24;
  if (format.subtype == MEDIASUBTYPE_YUY2) return 16;
  return 12;
}

bool IsRgbFormat(const Format& format) {
  return format.subtype == MEDIASUBTYPE_RGB24 || format.subtype == MEDIASUBTYPE_RGB32;
}

int32_t BitmapHeight(const Format& format) { return format.topDown ? -format.height : format.height; }

void DrawFrame(const Format& format, const DeviceView* view, std::vector<uint8_t>* out) {
  out->assign(FrameBytes(format), 0x80);
  if (!IsRgbFormat(format)) return;
  const Bgr grey{128, 128, 128};
  const size_t pixelBytes = PixelBytes(format);
  int32_t w = format.width;
  int32_t h = format.height;
  std::vector<uint8_t> row(static_cast<size_t>(w) * pixelBytes);
  if (!view || view->layout == 0) {
    FillRow(row.data(), pixelBytes, 0, w, view ? PlaceColour(*view, 0) : grey);
    FillBand(format, out->data(), 0, h, row.data());
    return;
  }
  int32_t midX = w / 2;
  int32_t midY = h / 2;
  FillRow(row.data(), pixelBytes, 0, midX, PlaceColour(*view, 0));
  FillRow(row.data(), pixelBytes, midX, w, PlaceColour(*view, 1));
  FillBand(format, out->data(), 0, midY, row.data());
  FillRow(row.data(), pixelBytes, 0, midX, PlaceColour(*view, 2));
  FillRow(row.data(), pixelBytes, midX, w, PlaceColour(*view, 3));
  FillBand(format, out->data(), midY, h, row.data());
}

}  // namespace emulator
