// The emulated device's pictures: the multiview of a device in RGB24, a fixed pattern in other formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/emulator/emulator_state.h"

namespace emulator {

// Bytes of one frame: RGB24 and RGB32 rows as the platform lays out bitmaps (width*3 or width*4 bytes, rounded
// up to a multiple of 4), YUY2 2 per pixel, NV12 12 bits per pixel, MJPG a fixed width*height.
size_t FrameBytes(const Format& format);
// Bits per pixel as the format's bitmap header states it.
uint16_t FormatBitCount(const Format& format);
// RGB24 or RGB32: the formats laid out as the platform's bitmaps.
bool IsRgbFormat(const Format& format);
// The bitmap header's height: negative for a top-down format.
int32_t BitmapHeight(const Format& format);

// Draws one frame into out (resized to FrameBytes). RGB frames are bottom-up unless the format is top-down; a
// row's padding bytes are 0x80, RGB32's fourth byte 0xFF. With a view they show the multiview: layout 0 is
// place 1 full frame, any other layout a 2x2 grid of places 1..4 in reading order; a place shows its input red,
// green, blue or white for inputs 1..4, black for an input without signal and grey (128) for an input number
// outside 1..4. Without a view (a node that is not a device's) RGB frames are grey. Other formats are filled
// with the byte 0x80.
void DrawFrame(const Format& format, const DeviceView* view, std::vector<uint8_t>* out);

}  // namespace emulator
