// The emulated device's configuration: what PNX_SIM_DEVICES (or a test) describes, and its parser. Pure data and
// pure functions; the process-wide state that holds the current configuration is in emulator_state.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dshow.h"

namespace emulator {

// Largest frame side the configuration and the control file accept.
constexpr int32_t kMaxFrameSide = 8192;

struct Format {
  GUID subtype;
  std::string name;  // "RGB24", "RGB32", "YUY2", "MJPG" or "NV12"
  int32_t width;
  int32_t height;
  bool topDown = false;  // RGB only: the top row first, announced by a negative bitmap height
};

// Which times the delivered samples carry.
enum class SampleTimes { kStartAndStop, kStartOnly, kNone };

struct NodeConfig {
  std::wstring name;
  std::string nameUtf8;
  int deviceNumber = 0;  // 0 for the other nodes
  int input = 0;         // 1..4; 0 for the other nodes
  bool decoder = false;
  bool propertySet = false;  // only ever on a device's HDMI-1 node
  bool refuseFormat = false;  // IAMStreamConfig::SetFormat fails, for tests of a device that cannot be opened
  std::vector<Format> formats;
  int32_t fps = 60;
  SampleTimes times = SampleTimes::kStartAndStop;
  bool still = false;  // frames without the time code and moving bars: the same picture while nothing changes
};

struct DeviceConfig {
  int number = 1;
  std::vector<int> inputs{1, 2, 3, 4};
  bool signal[4] = {true, true, true, true};
  bool propertySet = true;
  bool decoder = true;
  std::vector<Format> formats;
  uint32_t layout = 100;
  uint64_t sources = 0x4321;
  std::vector<uint32_t> failSet;
  std::vector<uint32_t> failGet;
  bool refuseFormat = false;
};

struct Configuration {
  int32_t width = 1920;
  int32_t height = 1080;
  int32_t fps = 60;
  SampleTimes times = SampleTimes::kStartAndStop;
  bool still = false;
  std::vector<DeviceConfig> devices;
  std::vector<std::string> otherNodes;
  std::vector<std::shared_ptr<const NodeConfig>> nodes;  // in enumeration order
};

// Parses a configuration text; false with a short reason when it is not JSON or a key has the wrong type or an
// impossible value.
bool ParseConfiguration(const std::string& text, Configuration* out, std::string* error);

// UTF-8 to the platform's wide characters (UTF-16 on Windows); a stray or cut-off lead byte becomes U+FFFD.
std::wstring WideFromUtf8(const std::string& text);

}  // namespace emulator
