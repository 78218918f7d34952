// The "sendToPropertyInspector" command that carries one preview image as "imageData", written as text
// directly: byte for byte what serialising the JSON document would give, without building one value per byte.
// Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The text of the command up to the first number of the array:
// {"action":<action>,"context":<context>,"event":"sendToPropertyInspector","payload":{"imageData":[
// Raises the JSON library's error for strings that are not valid UTF-8.
std::string ImageMessagePrefix(const std::string& action, const std::string& context);

// Replaces out with prefix, the bytes as decimal numbers separated by commas, and the closing "]}}".
// out keeps its storage, so a reused string costs no allocation in the steady state.
void WriteImageMessage(std::string& out, const std::string& prefix, const uint8_t* bytes, size_t count);
