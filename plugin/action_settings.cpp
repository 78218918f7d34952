// Reading, completing and writing the per-key settings object, and the toggle step.
#include "plugin/action_settings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

#include "host/json_members.h"
#include "platform/vendor_properties.h"

using nlohmann::json;

namespace {

constexpr uint64_t kLayoutLimit = std::numeric_limits<uint32_t>::max();

// "multiViewLayout" counts only as a non-negative integer; one beyond 32 bits saturates, so that no number is
// ever taken for another valid layout. `clamped` tells that the value differs from the stored one.
uint32_t LayoutFromEntry(const json& entry, bool& clamped) {
  clamped = false;
  if (!entry.is_object()) return 100;
  auto it = entry.find("multiViewLayout");
  if (it == entry.end()) return 100;
  uint64_t value = 0;
  if (it->is_number_unsigned()) {
    value = it->get<uint64_t>();
  } else if (it->is_number_integer() && it->get<int64_t>() >= 0) {
    value = static_cast<uint64_t>(it->get<int64_t>());
  } else {
    return 100;
  }
  clamped = value > kLayoutLimit;
  return static_cast<uint32_t>(std::min(value, kLayoutLimit));
}

bool ToggleFromEntry(const json& entry) {
  if (!entry.is_object()) return false;
  auto it = entry.find("toggle");
  return it != entry.end() && it->is_boolean() && it->get<bool>();
}

// 1, 2, 3, 4 on a device with four inputs. A device with fewer keeps, in the places beyond its inputs, what it
// shows there now (read back), so that the settings say what the device really shows; where that could not be
// read, its last input, so that every place has an input it really has.
std::vector<int32_t> DefaultSources(const DeviceSnapshot& devices, int32_t d) {
  std::vector<int32_t> sources;
  const size_t slot = static_cast<size_t>(d);
  if (slot < devices.inputCounts.size() && devices.inputCounts[slot] > 0) {
    const int32_t inputs = devices.inputCounts[slot];
    const bool read = slot < devices.shownSources.size() && devices.shownSources[slot].size() >= 4;
    for (int32_t n = 1; n <= std::max(inputs, 4); ++n) {
      const bool beyond = n > inputs && n <= 4;
      sources.push_back(beyond && read ? devices.shownSources[slot][static_cast<size_t>(n - 1)] : std::min(n, inputs));
    }
  }
  return sources;
}

// A place whose element is not a number reads as its own place number (fitted to the inputs where the device
// gets it), so that the key still works and the settings written back are sound; such elements beyond the
// four places are dropped.
std::vector<int32_t> SourcesFromEntry(const json& entry) {
  std::vector<int32_t> sources;
  if (!entry.is_object()) return sources;
  auto it = entry.find("multiViewSources");
  if (it == entry.end() || !it->is_array()) return sources;
  for (const json& element : *it) {
    if (element.is_number() || element.is_boolean()) {
      sources.push_back(SourceNumberFromJson(element));
    } else if (sources.size() < 4) {
      sources.push_back(static_cast<int32_t>(sources.size()) + 1);
    }
  }
  return sources;
}

bool HasSourceList(const json& entry) {
  if (!entry.is_object()) return false;
  auto it = entry.find("multiViewSources");
  return it != entry.end() && it->is_array();
}

// A step counts only as an object with at least four sources of number type (the first four are kept); its
// layout reads as an entry's does.
bool StepFromJson(const json& element, StepState& out) {
  if (!element.is_object()) return false;
  auto it = element.find("multiViewSources");
  if (it == element.end() || !it->is_array() || it->size() < 4) return false;
  bool clamped = false;
  out.multiViewLayout = LayoutFromEntry(element, clamped);
  out.multiViewSources.clear();
  for (size_t place = 0; place < 4; ++place) {
    const json& source = (*it)[place];
    if (!source.is_number() && !source.is_boolean()) return false;
    out.multiViewSources.push_back(SourceNumberFromJson(source));
  }
  return true;
}

void StepsFromEntry(const json& entry, int32_t inputCount, DeviceSettings& device) {
  device.hasSteps = false;
  device.steps.clear();
  device.step = 0;
  if (!entry.is_object()) return;
  auto it = entry.find("steps");
  if (it == entry.end() || !it->is_array()) return;
  device.hasSteps = true;
  for (const json& element : *it) {
    if (device.steps.size() == kMaxSteps) break;
    StepState step;
    if (!StepFromJson(element, step)) continue;
    FitSourcesToInputs(step.multiViewSources, inputCount);
    device.steps.push_back(std::move(step));
  }
  auto index = entry.find("step");
  if (index == entry.end()) return;
  if (index->is_number_unsigned() && index->get<uint64_t>() < device.steps.size()) {
    device.step = static_cast<size_t>(index->get<uint64_t>());
  } else if (index->is_number_integer() && index->get<int64_t>() >= 0 &&
             static_cast<uint64_t>(index->get<int64_t>()) < device.steps.size()) {
    device.step = static_cast<size_t>(index->get<int64_t>());
  }
}

// The length of the UTF-8 sequence starting at text[i] and its code point; 0 for a byte that starts none.
size_t DecodeUtf8(const std::string& text, size_t i, uint32_t& cp) {
  const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values beyond Unicode are no characters.
  static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return length;
}

// Characters that would steer or break how the text around a name is shown.
bool DroppedFromNames(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

// A top-level boolean that is written back only when the settings carried it: `set` tells whether they did.
void ReadFlag(const json& settings, const char* key, bool& value, bool& set) {
  value = false;
  set = false;
  if (!settings.is_object()) return;
  auto it = settings.find(key);
  if (it == settings.end() || !it->is_boolean()) return;
  value = it->get<bool>();
  set = true;
}

}  // namespace

std::string CleanInputName(const std::string& text) {
  std::string out;
  size_t characters = 0;
  for (size_t i = 0; i < text.size() && characters < kMaxInputNameLength;) {
    uint32_t cp = 0;
    const size_t length = DecodeUtf8(text, i, cp);
    if (length == 0) {
      ++i;
      continue;
    }
    if (!DroppedFromNames(cp)) {
      out.append(text, i, length);
      ++characters;
    }
    i += length;
  }
  return out;
}

InputNames ReadInputNames(const json& entry) {
  InputNames read;
  if (!entry.is_object()) return read;
  auto names = entry.find("inputNames");
  if (names != entry.end() && names->is_array()) {
    read.has = true;
    for (const json& name : *names) {
      if (read.names.size() == kMaxInputNames) break;
      read.names.push_back(name.is_string() ? CleanInputName(name.get_ref<const std::string&>()) : std::string());
    }
  }
  auto stamp = entry.find("inputNamesStamp");
  if (stamp != entry.end()) {
    read.hasStamp = true;
    if (stamp->is_number_unsigned()) read.stamp = stamp->get<uint64_t>();
    if (stamp->is_number_integer() && stamp->get<int64_t>() >= 0) read.stamp = static_cast<uint64_t>(stamp->get<int64_t>());
  }
  return read;
}

void WriteInputNames(const InputNames& names, json& entry) {
  if (names.has) entry["inputNames"] = names.names;
  if (names.hasStamp) entry["inputNamesStamp"] = names.stamp;
}

std::string DeviceDisplayName(int32_t index) {
  if (index == 0) return "Brelvon";
  char name[50];
  std::snprintf(name, sizeof(name), "Brelvon %d", index + 1);
  return name;
}

int32_t DeviceIndexNamed(const std::string& name, int32_t count) {
  for (int32_t d = 0; d < count; ++d) {
    if (DeviceDisplayName(d) == name) return d;
  }
  return -1;
}

int32_t CurrentDeviceIndex(const ActionSettings& settings) {
  const int32_t d = DeviceIndexNamed(settings.currentDevice, static_cast<int32_t>(settings.devices.size()));
  return d >= 0 && settings.devices[static_cast<size_t>(d)].present ? d : -1;
}

int32_t NamedDeviceIndex(const ActionSettings& settings, int32_t count) {
  return DeviceIndexNamed(settings.currentDevice, count);
}

int32_t SourceNumberFromJson(const json& element) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  if (element.is_number_unsigned()) {
    return static_cast<int32_t>(std::min<uint64_t>(element.get<uint64_t>(), static_cast<uint64_t>(kMax)));
  }
  if (element.is_number_integer()) return static_cast<int32_t>(std::min(std::max(element.get<int64_t>(), kMin), kMax));
  if (element.is_number_float()) {
    // A plain cast of a value outside the int range is undefined; saturate instead.
    double value = element.get<double>();
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
  }
  if (element.is_boolean()) return element.get<bool>() ? 1 : 0;
  return element.get<int32_t>();  // raises the library's type error for strings, null, objects, arrays
}

bool EntryHoldsSources(const json& settings, int32_t d) {
  if (!settings.is_object() || d < 0) return false;
  auto it = settings.find("devices");
  if (it == settings.end() || !it->is_array() || static_cast<size_t>(d) >= it->size()) return false;
  return HasSourceList((*it)[static_cast<size_t>(d)]);
}

void CompleteActionSettings(const json& settings, const DeviceSnapshot& devices, ActionSettings& out) {
  out.currentDevice = ReadStringMember(settings, "currentDevice", "Brelvon");
  out.icon = ReadStringMember(settings, "icon", "");
  ReadFlag(settings, "showState", out.showState, out.showStateSet);
  ReadFlag(settings, "locked", out.locked, out.lockedSet);
  out.picture = json::object();
  if (settings.is_object()) {
    for (const char* key : {"keyPicture", "pictureRate"}) {
      auto it = settings.find(key);
      if (it != settings.end()) out.picture[key] = *it;
    }
  }
  out.stored = settings;
  out.devices.clear();
  out.absentDevices.clear();

  static const json kEmptyArray = json::array();
  static const json kNull;
  const json* entries = &kEmptyArray;
  if (settings.is_object()) {
    auto it = settings.find("devices");
    if (it != settings.end() && it->is_array()) entries = &*it;
  }

  // Entries reach up to the highest detected device, so that a device is found by its number whichever
  // devices below it are plugged in.
  int32_t count = 0;
  for (size_t d = 0; d < devices.detected.size(); ++d) {
    if (devices.detected[d]) count = static_cast<int32_t>(d) + 1;
  }
  for (int32_t d = 0; d < count; ++d) {
    const bool stored = static_cast<size_t>(d) < entries->size();
    const json& entry = stored ? (*entries)[d] : kNull;
    DeviceSettings device;
    device.deviceName = DeviceDisplayName(d);
    if (!devices.detected[static_cast<size_t>(d)]) {
      device.present = false;
      device.hasStored = stored;
      if (stored) device.stored = entry;
      out.devices.push_back(std::move(device));
      continue;
    }
    device.multiViewLayout = LayoutFromEntry(entry, device.layoutClamped);
    device.toggle = ToggleFromEntry(entry);
    device.multiViewSources = HasSourceList(entry) ? SourcesFromEntry(entry) : DefaultSources(devices, d);
    device.inputNames = ReadInputNames(entry);
    StepsFromEntry(entry, static_cast<size_t>(d) < devices.inputCounts.size() ? devices.inputCounts[d] : 0, device);
    // A device without a signal entry (a node missing) shows no flags rather than dropping the event.
    if (static_cast<size_t>(d) < devices.inputSignals.size()) device.inputHasSignal = devices.inputSignals[d];
    out.devices.push_back(std::move(device));
  }
  for (size_t i = static_cast<size_t>(count); i < entries->size(); ++i) out.absentDevices.push_back((*entries)[i]);
}

DeviceSettings ReadStoredEntry(const json& entry) {
  DeviceSettings device;
  device.multiViewLayout = LayoutFromEntry(entry, device.layoutClamped);
  device.toggle = ToggleFromEntry(entry);
  device.multiViewSources = HasSourceList(entry) ? SourcesFromEntry(entry) : std::vector<int32_t>{1, 2, 3, 4};
  StepsFromEntry(entry, 0, device);
  return device;
}

void FitSourcesToInputs(std::vector<int32_t>& sources, int32_t inputCount) {
  if (inputCount < 1) return;
  for (size_t place = 0; place < sources.size() && place < 4; ++place) {
    sources[place] = std::min(std::max(sources[place], 1), inputCount);
  }
}

uint64_t FitPackedSources(uint64_t sources, int32_t inputCount) {
  if (inputCount < 1) return sources;
  const std::array<int32_t, 4> packed = vendor::UnpackSources(sources);
  std::vector<int32_t> places(packed.begin(), packed.end());
  FitSourcesToInputs(places, inputCount);
  return vendor::PackSources(places);
}

EntryState StateOfEntry(const DeviceSettings& entry) {
  if (entry.multiViewSources.size() < 4) return EntryState{DeviceState{entry.multiViewLayout, 0, false}, true};
  return EntryState{DeviceState{entry.multiViewLayout, vendor::PackSources(entry.multiViewSources), true}, false};
}

bool WriteActionSettings(const ActionSettings& settings, json& out) {
  out["currentDevice"] = settings.currentDevice;
  out["icon"] = settings.icon;
  if (settings.showStateSet) out["showState"] = settings.showState;
  if (settings.lockedSet) out["locked"] = settings.locked;
  if (settings.picture.is_object()) {
    for (const auto& member : settings.picture.items()) out[member.key()] = member.value();
  }
  bool anyPresent = false;
  for (size_t i = 0; i < settings.devices.size(); ++i) {
    const DeviceSettings& device = settings.devices[i];
    json& entry = out["devices"][i];
    if (!device.present) {
      // An absent device's entry stays as it was stored; one that was never stored gets the defaults, so that
      // the entries after it keep their positions.
      if (device.hasStored) {
        entry = device.stored;
        continue;
      }
    } else {
      anyPresent = true;
    }
    entry["multiViewLayout"] = device.multiViewLayout;
    entry["toggle"] = device.toggle;
    entry["multiViewSources"] = device.multiViewSources;
    json signal = json::array();
    for (bool bit : device.inputHasSignal) signal.push_back(bit);
    entry["inputHasSignal"] = std::move(signal);
    entry["deviceName"] = device.deviceName;
    WriteInputNames(device.inputNames, entry);
    if (device.hasSteps) {
      json steps = json::array();
      for (const StepState& step : device.steps) {
        steps.push_back({{"multiViewLayout", step.multiViewLayout}, {"multiViewSources", step.multiViewSources}});
      }
      entry["steps"] = std::move(steps);
      if (!device.steps.empty()) entry["step"] = device.step;
    }
  }
  if (!anyPresent) return false;
  for (const json& stored : settings.absentDevices) out["devices"].push_back(stored);
  return true;
}

void ToggleFirstSource(DeviceSettings& entry, int32_t inputCount) {
  if (entry.multiViewSources.empty() || inputCount < 1) return;
  int32_t cur = entry.multiViewSources[0];
  if (cur < 0 || cur > inputCount) return;
  // At most inputCount + 1 candidates, starting after the current input; the current one comes round last.
  for (int32_t tries = 0; tries <= inputCount; ++tries) {
    cur = cur < inputCount ? cur + 1 : 1;
    size_t slot = static_cast<size_t>(cur - 1);
    if (slot < entry.inputHasSignal.size() && entry.inputHasSignal[slot]) {
      entry.multiViewSources[0] = cur;
      return;
    }
  }
}
