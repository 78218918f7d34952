// The directly written preview payload must equal what the JSON library serialises.
#include "plugin/image_data_message.h"

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

}  // namespace
