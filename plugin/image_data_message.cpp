// Direct text writer for the preview image payload.
#include "plugin/image_data_message.h"

#include <array>
#include <cstring>

namespace {

// Decimal text of every byte value followed by a comma, padded to four characters; length in the fifth.
struct ByteTexts {
  std::array<std::array<char, 5>, 256> text{};
  ByteTexts() {
    for (int v = 0; v < 256; ++v) {
      int n = 0;
      if (v >= 100) text[v][n++] = static_cast<char>('0' + v / 100);
      if (v >= 10) text[v][n++] = static_cast<char>('0' + v / 10 % 10);
      text[v][n++] = static_cast<char>('0' + v % 10);
      text[v][n++] = ',';
      text[v][4] = static_cast<char>(n);
    }
  }
};

const ByteTexts& Texts() {
  static const ByteTexts texts;
  return texts;
}

}  // namespace

void WriteImageDataPayload(std::string& out, const uint8_t* bytes, size_t count) {
  static const char kHead[] = "{\"imageData\":[";
  const size_t head = sizeof(kHead) - 1;
  const ByteTexts& texts = Texts();
  // Each number takes at most four characters with its comma; the closing "]}" follows.
  out.resize(head + count * 4 + 2);
  char* p = &out[0];
  std::memcpy(p, kHead, head);
  p += head;
  for (size_t i = 0; i < count; ++i) {
    const auto& t = texts.text[bytes[i]];
    std::memcpy(p, t.data(), 4);  // a fixed four-byte copy; only the first t[4] count
    p += t[4];
  }
  if (count > 0) --p;  // no comma after the last number
  *p++ = ']';
  *p++ = '}';
  out.resize(static_cast<size_t>(p - out.data()));
}

int64_t ImageMessageBound(int64_t bmpBytes, size_t actionBytes, size_t contextBytes) {
  // {"action":"…","context":"…","event":"sendToPropertyInspector","payload":{"imageData":[…]}}
  constexpr int64_t kFixedText = 128;
  return kFixedText + 4 * bmpBytes + 6 * (static_cast<int64_t>(actionBytes) + static_cast<int64_t>(contextBytes));
}
