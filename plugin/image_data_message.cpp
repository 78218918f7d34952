// Direct text writer for the preview image command.
#include "plugin/image_data_message.h"

#include <array>
#include <cstring>

#include <nlohmann/json.hpp>

namespace {

// Decimal text of every byte value followed by a comma; length in the last element.
struct ByteTexts {
  std::array<std::array<char, 5>, 256> text{};
  ByteTexts() {
    for (int v = 0; v < 256; ++v) {
      char digits[4];
      int n = 0;
      if (v >= 100) digits[n++] = static_cast<char>('0' + v / 100);
      if (v >= 10) digits[n++] = static_cast<char>('0' + v / 10 % 10);
      digits[n++] = static_cast<char>('0' + v % 10);
      digits[n++] = ',';
      std::memcpy(text[v].data(), digits, static_cast<size_t>(n));
      text[v][4] = static_cast<char>(n);
    }
  }
};

const ByteTexts& Texts() {
  static const ByteTexts texts;
  return texts;
}

}  // namespace

std::string ImageMessagePrefix(const std::string& action, const std::string& context) {
  // The strings go through the library's own serialiser so that escaping matches it exactly.
  std::string prefix = "{\"action\":";
  prefix += nlohmann::json(action).dump();
  prefix += ",\"context\":";
  prefix += nlohmann::json(context).dump();
  prefix += ",\"event\":\"sendToPropertyInspector\",\"payload\":{\"imageData\":[";
  return prefix;
}

void WriteImageMessage(std::string& out, const std::string& prefix, const uint8_t* bytes, size_t count) {
  const ByteTexts& texts = Texts();
  // Each number takes at most four characters with its comma.
  out.resize(prefix.size() + count * 4 + 3);
  char* p = &out[0];
  std::memcpy(p, prefix.data(), prefix.size());
  p += prefix.size();
  for (size_t i = 0; i < count; ++i) {
    const auto& t = texts.text[bytes[i]];
    std::memcpy(p, t.data(), 4);  // copies a fixed four bytes; only the first t[4] count
    p += t[4];
  }
  if (count > 0) --p;  // the last comma
  std::memcpy(p, "]}}", 3);
  p += 3;
  out.resize(static_cast<size_t>(p - out.data()));
}
