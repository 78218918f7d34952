// The payload of the preview image command, {"imageData":[66,77,...]}, written as text directly: byte for
// byte what serialising the JSON value would give, without building one value per byte. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Replaces out with the payload text for the given image bytes. out keeps its storage, so a reused string
// costs no allocation in the steady state.
void WriteImageDataPayload(std::string& out, const uint8_t* bytes, size_t count);
