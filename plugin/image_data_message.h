// The payload of the preview image command, {"imageData":[66,77,...]}, written as text directly: byte for
// byte what serialising the JSON value would give, without building one value per byte. Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Replaces out with the payload text for the given image bytes. out keeps its storage, so a reused string
// costs no allocation in the steady state.
void WriteImageDataPayload(std::string& out, const uint8_t* bytes, size_t count);

// The longest "sendToPropertyInspector" text an image of bmpBytes bytes can make for identifiers of the given
// lengths: every byte written as "255," and every identifier byte escaped to six characters. It depends on
// these sizes only, never on the picture, so whether an image may be sent is known before it is made.
int64_t ImageMessageBound(int64_t bmpBytes, size_t actionBytes, size_t contextBytes);
