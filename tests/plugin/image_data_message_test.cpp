// The directly written preview payload must equal what the JSON library serialises.
#include "plugin/image_data_message.h"

#include "host/host_protocol.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

TEST(ImageDataPayload, MatchesTheLibrarySerialiser) {
  std::mt19937 random(7);
  std::vector<uint8_t> every(256);
  for (int v = 0; v < 256; ++v) every[v] = static_cast<uint8_t>(v);
  std::vector<uint8_t> noise(84726);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  std::string out = "left over from a longer earlier image, which must not survive";
  for (const auto& image : std::vector<std::vector<uint8_t>>{{}, {0}, {66, 77}, every, noise}) {
    WriteImageDataPayload(out, image.data(), image.size());
    nlohmann::json payload;
    payload["imageData"] = image;
    ASSERT_EQ(out, payload.dump()) << image.size() << " bytes";
  }
}

// The bound decides from sizes alone which images may be sent; no picture or target may make a longer message.
TEST(ImageDataPayload, BoundHoldsForTheLongestPictureAndTargets) {
  const std::vector<uint8_t> longest(4096, 255);  // every byte needs three digits and a comma
  std::string payload;
  WriteImageDataPayload(payload, longest.data(), longest.size());
  for (const std::string& target : {std::string(), std::string("plain"), std::string(64, '\x01')}) {
    SCOPED_TRACE(target.size());
    const std::string message = BuildSendToPropertyInspectorMessageFromText(target, target, payload);
    const int64_t bound = ImageMessageBound(static_cast<int64_t>(longest.size()), target.size(), target.size());
    EXPECT_LE(static_cast<int64_t>(message.size()), bound);
    EXPECT_GT(static_cast<int64_t>(message.size()), bound - 256);  // and it is not loose
  }
}

}  // namespace
