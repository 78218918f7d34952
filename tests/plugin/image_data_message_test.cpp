// The directly written preview command must equal what the JSON library serialises.
#include "plugin/image_data_message.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

std::string Generic(const std::string& action, const std::string& context, const std::vector<uint8_t>& bytes) {
  nlohmann::json payload;
  payload["imageData"] = nlohmann::json::array();
  for (uint8_t b : bytes) payload["imageData"].push_back(b);
  nlohmann::json command = {{"event", "sendToPropertyInspector"}, {"context", context}, {"action", action},
                            {"payload", payload}};
  return command.dump();
}

TEST(ImageDataMessage, MatchesTheLibrarySerialiser) {
  std::mt19937 random(7);
  std::vector<uint8_t> every(256);
  for (int v = 0; v < 256; ++v) every[v] = static_cast<uint8_t>(v);
  std::vector<uint8_t> noise(84726);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  const std::vector<std::vector<uint8_t>> images = {{}, {0}, {66, 77}, every, noise};
  const std::pair<std::string, std::string> targets[] = {
      {"", ""},
      {"com.example.action", "CTX1"},
      {"q\"uote\\back\nline\x01", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"},
  };
  std::string out = "left over from an earlier image";
  for (const auto& target : targets) {
    for (const auto& image : images) {
      WriteImageMessage(out, ImageMessagePrefix(target.first, target.second), image.data(), image.size());
      ASSERT_EQ(out, Generic(target.first, target.second, image)) << image.size() << " bytes";
    }
  }
}

TEST(ImageDataMessage, InvalidUtf8TargetIsRefusedLikeTheLibrary) {
  EXPECT_THROW(ImageMessagePrefix("\xff", "ctx"), nlohmann::json::type_error);
}

}  // namespace
