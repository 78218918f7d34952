// The emulated device's configuration, device states and event lines; also the test hooks.
#include "platform/emulator/emulator_state.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/emulator/emulator.h"
#include "platform/emulator/multiview_frame.h"
#include "platform/emulator_control.h"
#include "platform/vendor_properties.h"

namespace emulator {
namespace {

using nlohmann::json;

constexpr int32_t kMaxFrameSide = 8192;
constexpr int32_t kMaxFps = 1000;
constexpr int kMaxDeviceNumber = 99;

// What a removed device answers (ERROR_DEVICE_NOT_CONNECTED).
const HRESULT kDeviceNotConnected = HRESULT_FROM_WIN32(1167);

struct DeviceState {
  DeviceView view;
  std::vector<uint32_t> failSet;
  std::vector<uint32_t> failGet;
};

struct Global {
  std::mutex mutex;
  bool loaded = false;
  std::shared_ptr<const Configuration> config;
  std::map<int, DeviceState> devices;
  bool traceOverride = false;
  std::string tracePath;
  std::atomic<uint64_t> viewVersion{1};
  std::set<int> unplugged;     // device numbers taken away at run time
  std::string controlStamp;    // size and time of the control file when it was last applied
};

Global& G() {
  static Global* global = new Global();  // never destroyed: streaming threads may outlive static teardown
  return *global;
}

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

void ResetStatesLocked(Global& g) {
  g.devices.clear();
  for (const DeviceConfig& device : g.config->devices) {
    DeviceState state;
    state.view.layout = device.layout;
    state.view.sources = device.sources;
    for (int i = 0; i < 4; ++i) state.view.signal[i] = device.signal[i];
    state.failSet = device.failSet;
    state.failGet = device.failGet;
    g.devices[device.number] = state;
  }
  ++g.viewVersion;
}

void InstallLocked(Global& g, std::shared_ptr<const Configuration> config) {
  g.config = std::move(config);
  g.loaded = true;
  g.unplugged.clear();
  g.controlStamp.clear();
  ResetStatesLocked(g);
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return false;
  *text = buffer.str();
  return true;
}

void LoadFromEnvironmentLocked(Global& g) {
  auto config = std::make_shared<Configuration>();
  const char* path = std::getenv("PNX_SIM_DEVICES");
  std::string text = "{}";
  std::string error;
  bool ok = true;
  if (path && *path) {
    if (!ReadFile(path, &text)) {
      ok = false;
      error = "cannot read the file";
    }
  }
  if (ok) ok = ParseConfiguration(text, config.get(), &error);
  if (!ok) {
    // The one console line the process may write: the test set-up is broken.
    std::fprintf(stderr, "PNX_SIM_DEVICES: %s: %s\n", path, error.c_str());
    config = std::make_shared<Configuration>();
  }
  InstallLocked(g, std::move(config));
}

// The run-time control (PNX_SIM_CONTROL): {"unplugged": [numbers], "signal": {"<number>": [4 booleans]}}.
// It is read again whenever it changed since the last look, so a test or the development host plugs, unplugs
// and changes signals by rewriting it; a file that cannot be read or parsed changes nothing.
void ApplyControlLocked(Global& g, const std::string& text) {
  json control = json::parse(text, nullptr, false);
  if (!control.is_object()) return;
  std::set<int> unplugged;
  auto list = control.find("unplugged");
  if (list != control.end() && list->is_array()) {
    for (const json& number : *list) {
      if (number.is_number_integer()) unplugged.insert(number.get<int>());
    }
  }
  g.unplugged = std::move(unplugged);
  auto signals = control.find("signal");
  if (signals != control.end() && signals->is_object()) {
    for (auto entry = signals->begin(); entry != signals->end(); ++entry) {
      auto device = g.devices.find(std::atoi(entry.key().c_str()));
      if (device == g.devices.end() || !entry->is_array()) continue;
      for (size_t i = 0; i < 4 && i < entry->size(); ++i) {
        if ((*entry)[i].is_boolean()) device->second.view.signal[i] = (*entry)[i].get<bool>();
      }
    }
  }
  ++g.viewVersion;
}

void RefreshControlLocked(Global& g) {
  const char* path = std::getenv("PNX_SIM_CONTROL");
  if (!path || !*path) return;
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return;
  const auto time = std::filesystem::last_write_time(path, error);
  if (error) return;
  const std::string stamp =
      std::to_string(size) + ":" + std::to_string(time.time_since_epoch().count());
  if (stamp == g.controlStamp) return;
  std::string text;
  if (!ReadFile(path, &text)) return;
  g.controlStamp = stamp;
  ApplyControlLocked(g, text);
}

std::shared_ptr<const Configuration> ConfigLocked(Global& g) {
  if (!g.loaded) LoadFromEnvironmentLocked(g);
  RefreshControlLocked(g);
  return g.config;
}

bool PresentLocked(const Global& g, int deviceNumber) { return g.unplugged.count(deviceNumber) == 0; }

// The state of a configured device that is plugged in, for a property request (g.mutex held); null otherwise,
// with the request's answer in *hr.
DeviceState* PropertyTargetLocked(Global& g, int deviceNumber, HRESULT* hr) {
  ConfigLocked(g);
  auto found = g.devices.find(deviceNumber);
  *hr = found == g.devices.end() ? E_FAIL : !PresentLocked(g, deviceNumber) ? kDeviceNotConnected : S_OK;
  return *hr == S_OK ? &found->second : nullptr;
}

std::string TracePathLocked(Global& g) {
  if (g.traceOverride) return g.tracePath;
  const char* path = std::getenv("PNX_SIM_TRACE");
  return path ? std::string(path) : std::string();
}

void AppendLine(const nlohmann::ordered_json& line) {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  std::string path = TracePathLocked(g);
  if (path.empty()) return;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return;
  std::string text = line.dump() + "\n";
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

bool Contains(const std::vector<uint32_t>& ids, DWORD id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

DWORD PropertySize(DWORD id) {
  return id == vendor::kMultiviewSources ? vendor::kSourcesBytes : vendor::kLayoutBytes;
}

// At process exit, when PNX_SIM_EXIT_REPORT names a file, one line with the number of the layer's COM objects
// still alive, so that a test host can tell whether the process released everything it made. Runs after
// main has returned, among the static destructors.
struct ExitReport {
  ~ExitReport() {
    const char* path = std::getenv("PNX_SIM_EXIT_REPORT");
    if (!path || !*path) return;
    if (std::FILE* file = std::fopen(path, "ab")) {
      std::fprintf(file, "{\"liveComObjects\":%ld}\n", PnxLiveComObjectCount());
      std::fclose(file);
    }
  }
};
const ExitReport g_exitReport;

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
      node->formats = device.formats;
      node->fps = config.fps;
      node->times = config.times;
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

std::shared_ptr<const Configuration> CurrentConfiguration() {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  return ConfigLocked(g);
}

std::shared_ptr<const NodeConfig> FindNode(const std::wstring& name) {
  std::shared_ptr<const Configuration> config = CurrentConfiguration();
  for (const auto& node : config->nodes) {
    if (node->name == name) return node;
  }
  return nullptr;
}

std::vector<std::wstring> VideoInputNodeNames() {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  std::vector<std::wstring> names;
  for (const auto& node : ConfigLocked(g)->nodes) {
    if (node->deviceNumber == 0 || PresentLocked(g, node->deviceNumber)) names.push_back(node->name);
  }
  return names;
}

std::string ControlFilePath() {
  const char* path = std::getenv("PNX_SIM_CONTROL");
  return path ? std::string(path) : std::string();
}

bool DevicePresent(int deviceNumber) {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  ConfigLocked(g);
  return PresentLocked(g, deviceNumber);
}

bool ReadDeviceView(int deviceNumber, DeviceView* view) {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  ConfigLocked(g);
  auto found = g.devices.find(deviceNumber);
  if (found == g.devices.end()) return false;
  *view = found->second.view;
  return true;
}

uint64_t ViewVersion() { return G().viewVersion.load(); }

bool PropertyIdKnown(DWORD id, bool forSet) {
  return id == vendor::kMultiviewLayout || id == vendor::kMultiviewSources ||
         (!forSet && id == vendor::kPostLayoutRead);
}

HRESULT SetDeviceProperty(int deviceNumber, DWORD id, const BYTE* data, DWORD size) {
  if (!PropertyIdKnown(id, true)) return E_PROP_ID_UNSUPPORTED;
  if (size < PropertySize(id)) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  HRESULT hr = S_OK;
  DeviceState* state = PropertyTargetLocked(g, deviceNumber, &hr);
  if (!state) return hr;
  if (Contains(state->failSet, id)) return E_FAIL;
  if (id == vendor::kMultiviewLayout) {
    std::memcpy(&state->view.layout, data, vendor::kLayoutBytes);
  } else {
    state->view.sources = vendor::SourcesFromBytes(data);
  }
  ++g.viewVersion;
  return S_OK;
}

HRESULT GetDeviceProperty(int deviceNumber, DWORD id, BYTE* data, DWORD size, DWORD* returned) {
  if (returned) *returned = 0;
  if (!PropertyIdKnown(id, false)) return E_PROP_ID_UNSUPPORTED;
  if (size < PropertySize(id)) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  HRESULT hr = S_OK;
  const DeviceState* state = PropertyTargetLocked(g, deviceNumber, &hr);
  if (!state) return hr;
  if (Contains(state->failGet, id)) return E_FAIL;
  if (id == vendor::kMultiviewSources) {
    const std::array<uint8_t, vendor::kSourcesBytes> bytes = vendor::SourcesToBytes(state->view.sources);
    std::memcpy(data, bytes.data(), bytes.size());
  } else {
    // Property 25 reports the layout in force after a write.
    std::memcpy(data, &state->view.layout, vendor::kLayoutBytes);
  }
  if (returned) *returned = PropertySize(id);
  return S_OK;
}

void TraceProperty(const std::string& node, bool isSet, DWORD id, const BYTE* data, DWORD size, HRESULT hr) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (DWORD i = 0; data && i < size && i < 256; ++i) {
    hex.push_back(kHex[data[i] >> 4]);
    hex.push_back(kHex[data[i] & 15]);
  }
  nlohmann::ordered_json line;
  line["node"] = node;
  line["op"] = isSet ? "set" : "get";
  line["id"] = id;
  line["data"] = hex;
  line["hr"] = static_cast<int32_t>(hr);
  AppendLine(line);
}

void TraceFormat(const std::string& node, const Format& format) {
  nlohmann::ordered_json line;
  line["node"] = node;
  line["op"] = "format";
  line["subtype"] = format.name;
  line["width"] = format.width;
  line["height"] = format.height;
  if (format.topDown) line["topDown"] = true;
  AppendLine(line);
}

void TraceState(const std::string& node, FILTER_STATE state) {
  nlohmann::ordered_json line;
  line["node"] = node;
  line["op"] = "state";
  line["state"] = state == State_Running ? "running" : state == State_Paused ? "paused" : "stopped";
  AppendLine(line);
}

// ---- test hooks ------------------------------------------------------------------------------------------

bool LoadConfigurationText(const std::string& text) {
  auto config = std::make_shared<Configuration>();
  std::string error;
  bool ok = ParseConfiguration(text, config.get(), &error);
  if (!ok) config = std::make_shared<Configuration>();
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  InstallLocked(g, std::move(config));
  return ok;
}

bool LoadConfigurationFile(const std::string& path) {
  std::string text;
  if (!ReadFile(path, &text)) {
    LoadConfigurationText("not json");
    return false;
  }
  return LoadConfigurationText(text);
}

void UseEnvironmentConfiguration() {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.unplugged.clear();
  g.controlStamp.clear();
  g.loaded = false;
  g.config.reset();
  g.devices.clear();
  g.traceOverride = false;
  g.tracePath.clear();
  ++g.viewVersion;
}

void ResetDeviceStates() {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  ConfigLocked(g);
  ResetStatesLocked(g);
}

void SetTracePath(const std::string& path) {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.traceOverride = true;
  g.tracePath = path;
}

bool GetDeviceState(int deviceNumber, uint32_t* layout, uint64_t* sources) {
  DeviceView view;
  if (!ReadDeviceView(deviceNumber, &view)) return false;
  if (layout) *layout = view.layout;
  if (sources) *sources = view.sources;
  return true;
}

void SetDevicePlugged(int deviceNumber, bool plugged) {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  if (plugged) {
    g.unplugged.erase(deviceNumber);
  } else {
    g.unplugged.insert(deviceNumber);
  }
  ++g.viewVersion;
}

bool SetInputSignal(int deviceNumber, int input, bool signal) {
  if (input < 1 || input > 4) return false;
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  ConfigLocked(g);
  auto found = g.devices.find(deviceNumber);
  if (found == g.devices.end()) return false;
  found->second.view.signal[input - 1] = signal;
  ++g.viewVersion;
  return true;
}

}  // namespace emulator
