// The emulated device's process-wide state: the current configuration, device states and event lines; also the
// test hooks. The configuration's parser is emulator_config.cpp.
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
  int32_t runningWidth = 0;    // the running streams' frame size; 0 x 0: as connected
  int32_t runningHeight = 0;
};

Global& G() {
  static Global* global = new Global();  // never destroyed: streaming threads may outlive static teardown
  return *global;
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
  g.runningWidth = g.runningHeight = 0;
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

// The run-time control (PNX_SIM_CONTROL): {"unplugged": [numbers], "signal": {"<number>": [4 booleans]},
// "switchedOff": true, "frame": {"width": w, "height": h}}. It is read again whenever it changed since the last
// look, so a test or the development host plugs, unplugs, changes signals and the running frame size by
// rewriting it; a file that cannot be read or parsed changes nothing. With "switchedOff" a device plugged back
// comes with its configured layout and sources, as one that was switched off meanwhile; otherwise it keeps what
// it showed. A "frame" without two sides in 1..kMaxFrameSide counts as none.
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
  auto off = control.find("switchedOff");
  if (off != control.end() && off->is_boolean() && off->get<bool>() && g.config) {
    for (const DeviceConfig& device : g.config->devices) {
      auto state = g.devices.find(device.number);
      if (state == g.devices.end() || !g.unplugged.count(device.number) || unplugged.count(device.number)) continue;
      state->second.view.layout = device.layout;
      state->second.view.sources = device.sources;
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
  g.runningWidth = g.runningHeight = 0;
  auto frame = control.find("frame");
  if (frame != control.end() && frame->is_object()) {
    const json width = frame->value("width", json());
    const json height = frame->value("height", json());
    auto side = [](const json& v) {
      return v.is_number_integer() && v.get<int64_t>() >= 1 && v.get<int64_t>() <= kMaxFrameSide;
    };
    if (side(width) && side(height)) {
      g.runningWidth = width.get<int32_t>();
      g.runningHeight = height.get<int32_t>();
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

// Where each property's value lives in the emulated device: one row per property of vendor::kProperties.
struct PropertyValue {
  DWORD id;
  void (*read)(const DeviceView& view, BYTE* data);
  void (*write)(DeviceView& view, const BYTE* data);  // null for a read-only property
};
const PropertyValue kValues[] = {
    // Property 25 reports the layout in force after a write.
    {vendor::kPostLayoutRead, [](const DeviceView& v, BYTE* d) { std::memcpy(d, &v.layout, vendor::kLayoutBytes); },
     nullptr},
    {vendor::kMultiviewLayout, [](const DeviceView& v, BYTE* d) { std::memcpy(d, &v.layout, vendor::kLayoutBytes); },
     [](DeviceView& v, const BYTE* d) { std::memcpy(&v.layout, d, vendor::kLayoutBytes); }},
    {vendor::kMultiviewSources,
     [](const DeviceView& v, BYTE* d) {
       const std::array<uint8_t, vendor::kSourcesBytes> bytes = vendor::SourcesToBytes(v.sources);
       std::memcpy(d, bytes.data(), bytes.size());
     },
     [](DeviceView& v, const BYTE* d) { v.sources = vendor::SourcesFromBytes(d); }},
};

const PropertyValue* ValueOf(DWORD id) {
  for (const PropertyValue& value : kValues) {
    if (value.id == id) return &value;
  }
  return nullptr;
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

bool ReadRunningFrameSize(int32_t* width, int32_t* height) {
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  ConfigLocked(g);
  if (g.runningWidth == 0) return false;
  *width = g.runningWidth;
  *height = g.runningHeight;
  return true;
}

bool PropertyIdKnown(DWORD id, bool forSet) {
  const vendor::Property* property = vendor::FindProperty(id);
  return property && ValueOf(id) && (!forSet || property->writable);
}

HRESULT SetDeviceProperty(int deviceNumber, DWORD id, const BYTE* data, DWORD size) {
  if (!PropertyIdKnown(id, true)) return E_PROP_ID_UNSUPPORTED;
  if (size < vendor::FindProperty(id)->bytes) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  HRESULT hr = S_OK;
  DeviceState* state = PropertyTargetLocked(g, deviceNumber, &hr);
  if (!state) return hr;
  if (Contains(state->failSet, id)) return E_FAIL;
  ValueOf(id)->write(state->view, data);
  ++g.viewVersion;
  return S_OK;
}

HRESULT GetDeviceProperty(int deviceNumber, DWORD id, BYTE* data, DWORD size, DWORD* returned) {
  if (returned) *returned = 0;
  if (!PropertyIdKnown(id, false)) return E_PROP_ID_UNSUPPORTED;
  const unsigned bytes = vendor::FindProperty(id)->bytes;
  if (size < bytes) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  HRESULT hr = S_OK;
  const DeviceState* state = PropertyTargetLocked(g, deviceNumber, &hr);
  if (!state) return hr;
  if (Contains(state->failGet, id)) return E_FAIL;
  ValueOf(id)->read(state->view, data);
  if (returned) *returned = bytes;
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
  g.runningWidth = g.runningHeight = 0;
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

void SetRunningFrameSize(int32_t width, int32_t height) {
  const bool valid = width >= 1 && height >= 1 && width <= kMaxFrameSide && height <= kMaxFrameSide;
  Global& g = G();
  std::lock_guard<std::mutex> lock(g.mutex);
  g.runningWidth = valid ? width : 0;
  g.runningHeight = valid ? height : 0;
  ++g.viewVersion;
}

}  // namespace emulator
