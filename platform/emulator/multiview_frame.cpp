// Drawing of the emulated device's frames; see multiview_frame.h.
#include "platform/emulator/multiview_frame.h"

#include <algorithm>
#include <cstring>

namespace emulator {
namespace {

struct Bgr {
  uint8_t b, g, r;
};

const Bgr kBlack{0, 0, 0};
const Bgr kWhite{255, 255, 255};
const Bgr kGrey{128, 128, 128};

// The input shown in a place: 1..4, or 0 when the place shows no live input (no signal, unknown number).
int LiveInput(const DeviceView& view, int place) {
  const int input = static_cast<int>((view.sources >> (4 * place)) & 0xF);
  return input >= 1 && input <= 4 && view.signal[input - 1] ? input : 0;
}

Bgr PlaceColour(const DeviceView& view, int place) {
  const int input = static_cast<int>((view.sources >> (4 * place)) & 0xF);
  if (input < 1 || input > 4) return kGrey;
  if (!view.signal[input - 1]) return kBlack;
  switch (input) {
    case 1: return {0, 0, 255};
    case 2: return {0, 255, 0};
    case 3: return {255, 0, 0};
    default: return kWhite;
  }
}

// What a card draws its number and bar in: black on the light colours, white on the dark ones.
Bgr Ink(int input) { return input == 2 || input == 4 ? kBlack : kWhite; }

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

uint8_t* PictureRow(const Format& format, uint8_t* frame, int32_t y) {
  const int32_t stored = format.topDown ? y : format.height - 1 - y;
  return frame + static_cast<size_t>(stored) * RowStride(format);
}

// Fills picture rows [top, bottom) (counted from the top) with copies of pixels [left, right) of `row`.
void FillBand(const Format& format, uint8_t* frame, int32_t top, int32_t bottom, int32_t left, int32_t right,
              const uint8_t* row) {
  const size_t pixelBytes = PixelBytes(format);
  const size_t offset = static_cast<size_t>(left) * pixelBytes;
  const size_t bytes = static_cast<size_t>(right - left) * pixelBytes;
  for (int32_t y = top; y < bottom; ++y) std::memcpy(PictureRow(format, frame, y) + offset, row + offset, bytes);
}

// Fills a rectangle of the picture, clipped to it; x and y counted from the top left.
void FillRect(const Format& format, uint8_t* frame, int32_t left, int32_t top, int32_t right, int32_t bottom,
              Bgr colour) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, format.width);
  bottom = std::min(bottom, format.height);
  if (left >= right || top >= bottom) return;
  uint8_t* first = PictureRow(format, frame, top);
  FillRow(first, PixelBytes(format), left, right, colour);
  FillBand(format, frame, top + 1, bottom, left, right, first);
}

struct Place {
  int32_t x, y, w, h;
  int index;  // 0..3, the place number less one
};

// The places a view shows: one for layout 0, four otherwise.
int Places(const Format& format, const DeviceView& view, Place out[4]) {
  const int32_t w = format.width;
  const int32_t h = format.height;
  if (view.layout == 0) {
    out[0] = {0, 0, w, h, 0};
    return 1;
  }
  const int32_t midX = w / 2;
  const int32_t midY = h / 2;
  out[0] = {0, 0, midX, midY, 0};
  out[1] = {midX, 0, w - midX, midY, 1};
  out[2] = {0, midY, midX, h - midY, 2};
  out[3] = {midX, midY, w - midX, h - midY, 3};
  return 4;
}

// Seven segments, a (top) to g (middle) as bits 0..6.
constexpr uint8_t kDigitSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// The number sits in the left fifth (x 4%..20%, y 20%..78% of the place): clear of the place's centre and its
// quarter points, where tests read the place's colour, and of the time code above it.
void DrawDigit(const Format& format, uint8_t* frame, const Place& place, int digit, Bgr ink) {
  const int32_t x0 = place.x + place.w * 4 / 100;
  const int32_t x1 = place.x + place.w * 20 / 100;
  const int32_t y0 = place.y + place.h * 20 / 100;
  const int32_t y1 = place.y + place.h * 78 / 100;
  const int32_t t = std::max<int32_t>(1, std::min(x1 - x0, y1 - y0) / 5);
  const int32_t ym = (y0 + y1) / 2;
  const struct {
    int32_t left, top, right, bottom;
  } segments[7] = {
      {x0, y0, x1, y0 + t},               // a
      {x1 - t, y0, x1, ym},               // b
      {x1 - t, ym, x1, y1},               // c
      {x0, y1 - t, x1, y1},               // d
      {x0, ym, x0 + t, y1},               // e
      {x0, y0, x0 + t, ym},               // f
      {x0, ym - t / 2, x1, ym - t / 2 + t},  // g
  };
  for (int s = 0; s < 7; ++s) {
    if (kDigitSegments[digit] & (1 << s)) {
      FillRect(format, frame, segments[s].left, segments[s].top, segments[s].right, segments[s].bottom, ink);
    }
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
  if (!view) {
    FillRect(format, out->data(), 0, 0, format.width, format.height, kGrey);
    return;
  }
  Place places[4];
  const int count = Places(format, *view, places);
  for (int k = 0; k < count; ++k) {
    const Place& place = places[k];
    FillRect(format, out->data(), place.x, place.y, place.x + place.w, place.y + place.h,
             PlaceColour(*view, place.index));
    const int input = LiveInput(*view, place.index);
    if (input != 0) DrawDigit(format, out->data(), place, input, Ink(input));
  }
}

void StampFrame(const Format& format, const DeviceView* view, uint64_t frameNumber, uint32_t captureMs,
                uint8_t* frame) {
  if (!IsRgbFormat(format)) return;
  if (view) {
    Place places[4];
    const int count = Places(format, *view, places);
    for (int k = 0; k < count; ++k) {
      const Place& place = places[k];
      const int input = LiveInput(*view, place.index);
      if (input == 0) continue;
      const int32_t width = std::max<int32_t>(1, place.w / 40);
      const int32_t travel = std::max<int32_t>(1, place.w - width);
      const int32_t step = std::max<int32_t>(1, travel / 120);
      const int32_t x = place.x + static_cast<int32_t>(frameNumber % 120 * static_cast<uint64_t>(step) % travel);
      FillRect(format, frame, x, place.y + place.h * 84 / 100, x + width, place.y + place.h * 96 / 100, Ink(input));
    }
  }

  const int32_t blockWidth = format.width / kTimeCodeColumns;
  const int32_t blockHeight = format.height / kTimeCodeRows;
  if (blockWidth < 1 || blockHeight < 1) return;
  const int32_t left = (format.width - kTimeCodeBlocks * blockWidth) / 2;
  const int32_t top = blockHeight / 2;
  uint8_t* first = PictureRow(format, frame, top);
  for (int i = 0; i < kTimeCodeBlocks; ++i) {
    bool white;
    if (i < kTimeCodeCheckBlocks) {
      white = i % 2 == 0;
    } else if (i >= kTimeCodeBlocks - kTimeCodeCheckBlocks) {
      white = i % 2 == 1;
    } else {
      white = (captureMs >> (kTimeCodeBits - 1 - (i - kTimeCodeCheckBlocks))) & 1;
    }
    const int32_t x = left + i * blockWidth;
    FillRow(first, PixelBytes(format), x, x + blockWidth, white ? kWhite : kBlack);
  }
  FillBand(format, frame, top + 1, top + blockHeight, left, left + kTimeCodeBlocks * blockWidth, first);
}

}  // namespace emulator
