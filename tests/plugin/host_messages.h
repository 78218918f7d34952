// Host messages as the end-to-end tests build and read them (native and under wine): key events, and the
// preview images that come back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

constexpr char kSwitchAction[] = "com.brelvon.multiview.switch";

// A host event for a key; payload left out when null.
inline nlohmann::json Event(const std::string& event, const std::string& context,
                            const nlohmann::json& payload = nullptr, const std::string& action = kSwitchAction) {
  nlohmann::json message = {{"event", event}, {"action", action}, {"context", context}, {"device", "PANEL1"}};
  if (!payload.is_null()) message["payload"] = payload;
  return message;
}

inline nlohmann::json WithSettings(const std::string& event, const std::string& context,
                                   const nlohmann::json& settings, const std::string& action = kSwitchAction) {
  return Event(event, context, nlohmann::json{{"settings", settings}}, action);
}

// A preview BMP read from its message: the header fields and the colour at the centre of each quadrant.
struct Preview {
  size_t bytes = 0;
  std::vector<uint8_t> header;  // the first 54 bytes
  int32_t width = 0, height = 0;  // 0 unless it is a whole bottom-up 24-bit BMP
  std::vector<std::string> quadrants;  // "r,g,b" in reading order
};

// A preview image message ("sendToPropertyInspector" with "imageData").
inline bool IsImage(const nlohmann::json& m) {
  return m.is_object() && m.value("event", "") == "sendToPropertyInspector" && m.contains("payload") &&
         m["payload"].is_object() && m["payload"].contains("imageData");
}

inline Preview ReadPreview(const nlohmann::json& message) {
  Preview p;
  std::vector<uint8_t> data;
  for (const nlohmann::json& v : message["payload"]["imageData"]) data.push_back(v.get<uint8_t>());
  p.bytes = data.size();
  if (data.size() < 54) return p;
  p.header.assign(data.begin(), data.begin() + 54);
  if (data[0] != 'B' || data[1] != 'M') return p;
  auto i32 = [&](size_t at) {
    return static_cast<int32_t>(data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
                                static_cast<uint32_t>(data[at + 3]) << 24);
  };
  p.width = i32(18);
  p.height = i32(22);
  if (p.width <= 0 || p.height <= 0 || data.size() != 54 + static_cast<size_t>(p.width) * p.height * 3) return p;
  for (int32_t y : {p.height / 4, p.height * 3 / 4}) {
    for (int32_t x : {p.width / 4, p.width * 3 / 4}) {
      size_t row = static_cast<size_t>(p.height - 1 - y);  // bottom row stored first
      const uint8_t* px = &data[54 + (row * p.width + x) * 3];
      p.quadrants.push_back(std::to_string(px[2]) + "," + std::to_string(px[1]) + "," + std::to_string(px[0]));
    }
  }
  return p;
}
