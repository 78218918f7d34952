// Framing of a client's text message for the WebSocket connection to the host. A client masks every payload byte
// with the frame's key; websocketpp does that a byte at a time, which for a preview image's message costs as much
// as scaling the image, so the connection builds its frames here, a machine word at a time, and hands them to
// websocketpp ready to write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// out[i] = in[i] ^ key[i % 4] for i < n, key being the masking key in the order it is sent. in and out may be the
// same, or must not overlap.
void MaskWebSocketPayload(const char* in, char* out, size_t n, const uint8_t key[4]);

// The frame of one final, masked text message: `header` receives the frame header with the masking key taken from
// the bytes of maskKey as they lie in memory, `payload` the masked text. Returns false, and leaves both unchanged,
// when the text is not UTF-8 (a text frame may carry nothing else).
bool PrepareMaskedTextFrame(const std::string& text, uint32_t maskKey, std::string& header, std::string& payload);
