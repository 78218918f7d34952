// The emulated device's configuration parser: the JSON of PNX_SIM_DEVICES (or a test's) into nodes and devices.
#include "platform/emulator/emulator_config.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <set>

#include <nlohmann/json.hpp>

#include "platform/emulator/multiview_frame.h"
#include "platform/vendor_properties.h"

namespace emulator {
namespace {

using nlohmann::json;

constexpr int32_t kMaxFps = 1000;
constexpr int kMaxDeviceNumber = 99;

bool Fail(std::string* error, const char* why) {
  *error = why;
  return false;
}

bool ParseSubtype(const std::string& name, GUID* subtype) {
  if (name == "RGB24") *subtype = MEDIASUBTYPE_RGB24;
  else if (name == "RGB32") *subtype = MEDIASUBTYPE_RGB32;
  else if (name == "YUY2") *subtype = MEDIASUBTYPE_YUY2;
  else if (name == "MJPG") *subtype = MEDIASUBTYPE_MJPG;
  else if (name == "NV12") *subtype = MEDIASUBTYPE_NV12;
  else return false;
  return true;
}

bool ReadInt(const json& value, int64_t low, int64_t high, int64_t* out) {
  if (!value.is_number_integer()) return false;
  int64_t v = value.is_number_unsigned() ? static_cast<int64_t>(std::min<uint64_t>(value.get<uint64_t>(), INT64_MAX))
                                         : value.get<int64_t>();
  if (v < low || v > high) return false;
  *out = v;
  return true;
}

bool ParseFormats(const json& value, int32_t width, int32_t height, std::vector<Format>* out, std::string* error) {
  if (!value.is_array() || value.empty()) {
    *error = "\"formats\" must be a non-empty array";
    return false;
  }
  out->clear();
  for (const json& entry : value) {
    Format format{GUID_NULL, "", width, height};
    const json* subtype = &entry;
    if (entry.is_object()) {
      auto found = entry.find("subtype");
      if (found == entry.end()) {
        *error = "a format object needs \"subtype\"";
        return false;
      }
      subtype = &*found;
      int64_t v = 0;
      if (entry.contains("width")) {
        if (!ReadInt(entry["width"], 1, kMaxFrameSide, &v)) {
          *error = "bad format \"width\"";
          return false;
        }
        format.width = static_cast<int32_t>(v);
      }
      if (entry.contains("height")) {
        if (!ReadInt(entry["height"], 1, kMaxFrameSide, &v)) {
          *error = "bad format \"height\"";
          return false;
        }
        format.height = static_cast<int32_t>(v);
      }
      if (entry.contains("topDown")) {
        if (!entry["topDown"].is_boolean()) {
          *error = "\"topDown\" must be true or false";
          return false;
        }
        format.topDown = entry["topDown"].get<bool>();
      }
    }
    if (!subtype->is_string() || !ParseSubtype(subtype->get<std::string>(), &format.subtype)) {
      *error = "unknown format subtype";
      return false;
    }
    format.name = subtype->get<std::string>();
    if (format.topDown && !IsRgbFormat(format)) {
      *error = "only RGB formats can be top-down";
      return false;
    }
    out->push_back(format);
  }
  return true;
}

bool ParseIdList(const json& value, std::vector<uint32_t>* out) {
  if (!value.is_array()) return false;
  for (const json& entry : value) {
    int64_t v = 0;
    if (!ReadInt(entry, 0, UINT32_MAX, &v)) return false;
    out->push_back(static_cast<uint32_t>(v));
  }
  return true;
}

bool ParseDevice(const json& value, size_t position, const Configuration& config, DeviceConfig* device,
                 std::string* error) {
  if (!value.is_object()) {
    *error = "a device must be an object";
    return false;
  }
  device->number = static_cast<int>(position) + 1;
  device->formats = {Format{MEDIASUBTYPE_RGB24, "RGB24", config.width, config.height}};
  int64_t v = 0;
  for (auto it = value.begin(); it != value.end(); ++it) {
    const std::string& key = it.key();
    const json& member = it.value();
    bool ok = true;
    if (key == "number") {
      ok = ReadInt(member, 1, kMaxDeviceNumber, &v);
      device->number = static_cast<int>(v);
    } else if (key == "inputs") {
      ok = member.is_array() && member.size() <= 4;
      device->inputs.clear();
      for (size_t i = 0; ok && i < member.size(); ++i) {
        ok = ReadInt(member[i], 1, 4, &v);
        for (int existing : device->inputs) ok = ok && existing != v;
        device->inputs.push_back(static_cast<int>(v));
      }
      std::sort(device->inputs.begin(), device->inputs.end());
    } else if (key == "signal") {
      ok = member.is_array() && member.size() <= 4;
      for (size_t i = 0; ok && i < member.size(); ++i) {
        ok = member[i].is_boolean();
        if (ok) device->signal[i] = member[i].get<bool>();
      }
    } else if (key == "propertySet" || key == "decoder") {
      ok = member.is_boolean();
      if (ok) (key == "decoder" ? device->decoder : device->propertySet) = member.get<bool>();
    } else if (key == "formats") {
      if (!ParseFormats(member, config.width, config.height, &device->formats, error)) return false;
    } else if (key == "layout") {
      ok = ReadInt(member, 0, UINT32_MAX, &v);
      device->layout = static_cast<uint32_t>(v);
    } else if (key == "sources") {
      ok = member.is_array() && member.size() == 4;
      std::array<int32_t, 4> inputs{};
      for (size_t i = 0; ok && i < 4; ++i) {
        ok = ReadInt(member[i], 0, 15, &v);
        inputs[i] = static_cast<int32_t>(v);
      }
      device->sources = vendor::PackSources(inputs);
    } else if (key == "refuseFormat") {
      ok = member.is_boolean();
      if (ok) device->refuseFormat = member.get<bool>();
    } else if (key == "failSet" || key == "failGet") {
      ok = ParseIdList(member, key == "failSet" ? &device->failSet : &device->failGet);
    }
    if (!ok) {
      *error = "bad device \"" + key + "\"";
      return false;
    }
  }
  return true;
}

std::wstring DeviceNodeName(int number, int input) {
  char text[64];
  if (number == 1) {
    std::snprintf(text, sizeof(text), "Brelvon HDMI-%d / Multiview", input);
  } else {
    std::snprintf(text, sizeof(text), "Brelvon %d HDMI-%d / Multiview", number, input);
  }
  return WideFromUtf8(text);
}

}  // namespace

std::wstring WideFromUtf8(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 0;
    if (c < 0x80) {
      cp = c;
    } else if (extra && i + extra < text.size()) {
      cp = c & (0x3F >> extra);
      for (size_t k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += extra + 1;
    if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
  }
  return out;
}

bool ParseConfiguration(const std::string& text, Configuration* out, std::string* error) {
  json doc = json::parse(text, nullptr, false);
  if (doc.is_discarded()) {
    *error = "not JSON";
    return false;
  }
  if (!doc.is_object()) {
    *error = "not a JSON object";
    return false;
  }
  Configuration config;
  int64_t v = 0;
  if (doc.contains("frame")) {
    const json& frame = doc["frame"];
    if (!frame.is_object()) {
      *error = "\"frame\" must be an object";
      return false;
    }
    if (frame.contains("width")) {
      if (!ReadInt(frame["width"], 1, kMaxFrameSide, &v)) return Fail(error, "bad frame \"width\"");
      config.width = static_cast<int32_t>(v);
    }
    if (frame.contains("height")) {
      if (!ReadInt(frame["height"], 1, kMaxFrameSide, &v)) return Fail(error, "bad frame \"height\"");
      config.height = static_cast<int32_t>(v);
    }
    if (frame.contains("fps")) {
      if (!ReadInt(frame["fps"], 0, kMaxFps, &v)) return Fail(error, "bad frame \"fps\"");
      config.fps = static_cast<int32_t>(v);
    }
    if (frame.contains("still")) {
      if (!frame["still"].is_boolean()) return Fail(error, "bad frame \"still\"");
      config.still = frame["still"].get<bool>();
    }
    if (frame.contains("times")) {
      const json& times = frame["times"];
      if (times == "startStop") config.times = SampleTimes::kStartAndStop;
      else if (times == "start") config.times = SampleTimes::kStartOnly;
      else if (times == "none") config.times = SampleTimes::kNone;
      else return Fail(error, "bad frame \"times\"");
    }
  }
  if (doc.contains("devices")) {
    const json& devices = doc["devices"];
    if (!devices.is_array()) return Fail(error, "\"devices\" must be an array");
    std::set<int> numbers;
    for (size_t i = 0; i < devices.size(); ++i) {
      DeviceConfig device;
      if (!ParseDevice(devices[i], i, config, &device, error)) return false;
      if (!numbers.insert(device.number).second) return Fail(error, "two devices with one number");
      config.devices.push_back(device);
    }
  } else {
    DeviceConfig device;
    device.formats = {Format{MEDIASUBTYPE_RGB24, "RGB24", config.width, config.height}};
    config.devices.push_back(device);
  }
  if (doc.contains("otherNodes")) {
    const json& others = doc["otherNodes"];
    if (!others.is_array()) return Fail(error, "\"otherNodes\" must be an array");
    for (const json& name : others) {
      if (!name.is_string()) return Fail(error, "\"otherNodes\" entries must be strings");
      config.otherNodes.push_back(name.get<std::string>());
    }
  }
  for (const DeviceConfig& device : config.devices) {
    for (int input : device.inputs) {
      auto node = std::make_shared<NodeConfig>();
      node->name = DeviceNodeName(device.number, input);
      node->nameUtf8 = std::string(node->name.begin(), node->name.end());
      node->deviceNumber = device.number;
      node->input = input;
      node->decoder = device.decoder;
      node->propertySet = device.propertySet && input == 1;
      node->refuseFormat = device.refuseFormat;
      node->formats = device.formats;
      node->fps = config.fps;
      node->times = config.times;
      node->still = config.still;
      config.nodes.push_back(node);
    }
  }
  for (const std::string& name : config.otherNodes) {
    auto node = std::make_shared<NodeConfig>();
    node->name = WideFromUtf8(name);
    node->nameUtf8 = name;
    node->formats = {Format{MEDIASUBTYPE_RGB24, "RGB24", config.width, config.height}};
    node->fps = config.fps;
    node->times = config.times;
    config.nodes.push_back(node);
  }
  *out = std::move(config);
  return true;
}

}  // namespace emulator
