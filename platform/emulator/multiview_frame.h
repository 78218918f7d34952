// The emulated device's pictures: the multiview of a device in RGB24 or RGB32, each live input as a test card; a
// fixed pattern in other formats.
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

// Draws the still part of one frame into out (resized to FrameBytes). RGB frames are bottom-up unless the format
// is top-down; a row's padding bytes are 0x80, RGB32's fourth byte 0xFF. With a view they show the multiview:
// layout 0 is place 1 full frame, any other layout a 2x2 grid of places 1..4 in reading order; a place shows its
// input red, green, blue or white for inputs 1..4, black for an input without signal and grey (128) for an
// input number outside 1..4. A place with a live input 1..4 is a test card: its input number large in the left
// fifth, in black or white, whichever stands out. The centre and the four quarter points of every place, and so
// of every quadrant of the frame, keep the input's colour with a margin that survives scaling down to a small
// preview. Without a view (a node that is not a device's) RGB frames are grey. Other formats are filled with
// the byte 0x80.
void DrawFrame(const Format& format, const DeviceView* view, std::vector<uint8_t>* out);

// The moving part, drawn on a frame that DrawFrame drew with the same format and view (frame holds
// FrameBytes(format) bytes); RGB only, other formats are left alone.
// - Every test card's bar, in its number's ink across the bottom eighth of the place, at a position that
//   advances with frameNumber (a sweep every 120 frames).
// - The time code: one row of kTimeCodeBlocks blocks across the top of the frame, each width / kTimeCodeColumns
//   pixels wide and height / kTimeCodeRows high, centred, its top half a block below the frame's top edge: the
//   check blocks white, black, white, black, then the low kTimeCodeBits bits of captureMs with the highest first
//   (white for 1), then the check blocks black, white, black, white. The blocks are drawn whenever they are
//   at least one pixel; at 1920 pixels wide they stay 5 pixels wide after a scale to 224.
constexpr int kTimeCodeBits = 20;
constexpr int kTimeCodeCheckBlocks = 4;  // at each end
constexpr int kTimeCodeBlocks = kTimeCodeBits + 2 * kTimeCodeCheckBlocks;
constexpr int32_t kTimeCodeColumns = 40;
constexpr int32_t kTimeCodeRows = 24;
void StampFrame(const Format& format, const DeviceView* view, uint64_t frameNumber, uint32_t captureMs,
                uint8_t* frame);

}  // namespace emulator
