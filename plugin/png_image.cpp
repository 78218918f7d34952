// PNG files of key pictures: one IDAT chunk, every row without a filter (the pictures are mostly flat
// colour, which deflate takes as well unfiltered and faster).
#include "plugin/png_image.h"

#include <zlib.h>

namespace {

constexpr int32_t kMaxSide = 4096;

void PutBig32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Appends a chunk: length, type, data, and the CRC of type and data.
void PutChunk(std::vector<uint8_t>& out, const char (&type)[5], const uint8_t* data, size_t size) {
  PutBig32(out, static_cast<uint32_t>(size));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + size));
  PutBig32(out, static_cast<uint32_t>(crc));
}

}  // namespace

bool EncodePngBgr24(const uint8_t* bgr, int32_t width, int32_t height, std::vector<uint8_t>& out) {
  out.clear();
  if (!bgr || width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  // Each row: its filter byte (0, none), then red-green-blue.
  std::vector<uint8_t> raw(static_cast<size_t>(height) * (rowBytes + 1));
  uint8_t* to = raw.data();
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from = bgr + static_cast<size_t>(y) * rowBytes;
    *to++ = 0;
    for (int32_t x = 0; x < width; ++x, from += 3, to += 3) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return false;

  static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out.reserve(sizeof kSignature + 25 + packedSize + 12 + 12);
  out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
  std::vector<uint8_t> header;
  PutBig32(header, static_cast<uint32_t>(width));
  PutBig32(header, static_cast<uint32_t>(height));
  // 8 bits per sample, truecolour, deflate, adaptive filtering, no interlace.
  for (uint8_t b : {8, 2, 0, 0, 0}) header.push_back(b);
  PutChunk(out, "IHDR", header.data(), header.size());
  PutChunk(out, "IDAT", packed.data(), packedSize);
  PutChunk(out, "IEND", nullptr, 0);
  return true;
}

std::string PngDataUrl(const std::vector<uint8_t>& png) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = "data:image/png;base64,";
  out.reserve(out.size() + (png.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < png.size(); i += 3) {
    const uint32_t v = uint32_t{png[i]} << 16 | uint32_t{png[i + 1]} << 8 | png[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out.push_back(kDigits[(v >> shift) & 63]);
  }
  if (i < png.size()) {
    const bool two = i + 1 < png.size();
    const uint32_t v = uint32_t{png[i]} << 16 | (two ? uint32_t{png[i + 1]} << 8 : 0);
    out.push_back(kDigits[(v >> 18) & 63]);
    out.push_back(kDigits[(v >> 12) & 63]);
    out.push_back(two ? kDigits[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}
