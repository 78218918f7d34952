// Framing of a client's text message for the WebSocket connection to the host.
#include "host/websocket_client_frame.h"

#include <cstring>

#include <websocketpp/frame.hpp>
#include <websocketpp/utf8_validator.hpp>

namespace {

// Text made of ASCII alone (a preview image's message is) is checked eight bytes at a time; anything else goes to
// the library's validator.
bool IsUtf8(const std::string& text) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  const char* p = text.data();
  const char* end = p + text.size();
  uint64_t high = 0;
  for (; end - p >= 8; p += 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    high |= word & kHighBits;
  }
  for (; p != end; ++p) {
    high |= static_cast<uint8_t>(*p) & 0x80u;
  }
  return high == 0 || websocketpp::utf8_validator::validate(text);
}

}  // namespace

void MaskWebSocketPayload(const char* in, char* out, size_t n, const uint8_t key[4]) {
  // The key repeated over a word: word i of the payload starts at a multiple of 4, so each word uses it unrotated.
  uint8_t repeated[8];
  for (int i = 0; i < 8; ++i) {
    repeated[i] = key[i % 4];
  }
  uint64_t mask;
  std::memcpy(&mask, repeated, 8);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, in + i, 8);
    word ^= mask;
    std::memcpy(out + i, &word, 8);
  }
  for (; i < n; ++i) {
    out[i] = static_cast<char>(in[i] ^ key[i % 4]);
  }
}

bool PrepareMaskedTextFrame(const std::string& text, uint32_t maskKey, std::string& header, std::string& payload) {
  if (!IsUtf8(text)) {
    return false;
  }
  websocketpp::frame::masking_key_type key;
  key.i = maskKey;
  payload.resize(text.size());
  MaskWebSocketPayload(text.data(), &payload[0], text.size(), key.c);
  const websocketpp::frame::basic_header basic(websocketpp::frame::opcode::text, text.size(), true, true);
  const websocketpp::frame::extended_header extended(text.size(), key.i);
  header = websocketpp::frame::prepare_header(basic, extended);
  return true;
}
