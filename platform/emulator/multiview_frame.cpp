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

void FillRow(uint8_t* row, int32_t from, int32_t to, Bgr colour) {
  for (int32_t x = from; x < to; ++x) {
    row[3 * x] = colour.b;
    row[3 * x + 1] = colour.g;
    row[3 * x + 2] = colour.r;
  }
}

// Fills picture rows [top, bottom) (counted from the top) with copies of one row.
void FillBand(uint8_t* frame, int32_t width, int32_t height, int32_t top, int32_t bottom, const uint8_t* row) {
  size_t stride = static_cast<size_t>(width) * 3;
  for (int32_t y = top; y < bottom; ++y) {
    std::memcpy(frame + static_cast<size_t>(height - 1 - y) * stride, row, stride);
  }
}

}  // namespace

size_t FrameBytes(const Format& format) {
  size_t w = static_cast<size_t>(format.width);
  size_t h = static_cast<size_t>(format.height);
  if (format.subtype == MEDIASUBTYPE_RGB24) return w * h * 3;
  if (format.subtype == MEDIASUBTYPE_YUY2) return w * h * 2;
  if (format.subtype == MEDIASUBTYPE_NV12) return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
  return w * h;
}

uint16_t FormatBitCount(const Format& format) {
  if (format.subtype == MEDIASUBTYPE_RGB24 || format.subtype == MEDIASUBTYPE_MJPG) return 24;
  if (format.subtype == MEDIASUBTYPE_YUY2) return 16;
  return 12;
}

void DrawFrame(const Format& format, const DeviceView* view, std::vector<uint8_t>* out) {
  out->assign(FrameBytes(format), 0x80);
  if (format.subtype != MEDIASUBTYPE_RGB24 || !view) return;
  int32_t w = format.width;
  int32_t h = format.height;
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  if (view->layout == 0) {
    FillRow(row.data(), 0, w, PlaceColour(*view, 0));
    FillBand(out->data(), w, h, 0, h, row.data());
    return;
  }
  int32_t midX = w / 2;
  int32_t midY = h / 2;
  FillRow(row.data(), 0, midX, PlaceColour(*view, 0));
  FillRow(row.data(), midX, w, PlaceColour(*view, 1));
  FillBand(out->data(), w, h, 0, midY, row.data());
  FillRow(row.data(), 0, midX, PlaceColour(*view, 2));
  FillRow(row.data(), midX, w, PlaceColour(*view, 3));
  FillBand(out->data(), w, h, midY, h, row.data());
}

}  // namespace emulator
