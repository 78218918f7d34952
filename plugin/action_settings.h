// The per-key settings object that the host stores: its in-memory form, how it is read and completed from
// the live devices, how it is written back, and the toggle step of a key press. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/device_state.h"

// The input names a device entry carries ("inputNames", "inputNamesStamp"): at most four, each at most
// kMaxInputNameLength characters with control and bidirectional formatting characters removed; a non-string
// element reads as "". `has` false: the entry carries no names (and none are written back).
constexpr size_t kMaxInputNames = 4;
constexpr size_t kMaxInputNameLength = 32;
struct InputNames {
  bool has = false;
  std::vector<std::string> names;
  bool hasStamp = false;
  uint64_t stamp = 0;  // a stamp that is not a non-negative integer reads as 0
};
InputNames ReadInputNames(const nlohmann::json& entry);
// Writes names (and the stamp) into the entry object; nothing when !names.has.
void WriteInputNames(const InputNames& names, nlohmann::json& entry);
// A name as it may be kept and shown: valid UTF-8 only, without control characters (C0, DEL, C1) and
// bidirectional formatting characters, cut to kMaxInputNameLength characters.
std::string CleanInputName(const std::string& text);

// One state of a step key ("steps", action com.brelvon.multiview.cycle): a layout and four sources.
struct StepState {
  uint32_t multiViewLayout = 100;
  std::vector<int32_t> multiViewSources;
};
constexpr size_t kMaxSteps = 8;

// The actions whose settings carry steps or a lock.
constexpr char kCycleAction[] = "com.brelvon.multiview.cycle";
constexpr char kLockAction[] = "com.brelvon.multiview.lock";

struct DeviceSettings {
  // False for a device that is not detected now: its stored entry (when there was one) is kept unread and
  // written back unchanged, and the other fields hold defaults.
  bool present = true;
  bool hasStored = false;
  nlohmann::json stored;
  std::string deviceName;
  uint32_t multiViewLayout = 100;
  // The stored layout lay beyond 32 bits and was saturated: the settings are written back even where a
  // press or an edit otherwise writes nothing, so that they show what the device got.
  bool layoutClamped = false;
  std::vector<int32_t> multiViewSources;
  std::vector<bool> inputHasSignal;
  bool toggle = false;
  InputNames inputNames;
  // "steps" as read soundly: elements that are not an object with four sources of number type are dropped,
  // at most kMaxSteps; written back as read, so that "step" always counts in the list the settings show.
  // hasSteps false: no "steps" array (nothing written back).
  bool hasSteps = false;
  std::vector<StepState> steps;
  // The step the next press applies: 0 unless an integer naming one of the steps.
  size_t step = 0;
};

struct ActionSettings {
  std::string currentDevice;
  // One entry per device number up to the highest detected one, detected or not (entry d is device d).
  std::vector<DeviceSettings> devices;
  std::string icon;
  // "showState": the plug-in draws the device's state on the key. Written back only when the settings
  // carried it as a boolean, so keys that never had it keep their settings byte for byte.
  bool showState = false;
  bool showStateSet = false;
  // The stored "devices" entries beyond the highest detected device, unread and unchanged: a device that is
  // not plugged in keeps its configuration for when it is back.
  std::vector<nlohmann::json> absentDevices;
  // "locked" of a lock key: written back only when the settings carried it as a boolean or a press set it.
  bool locked = false;
  bool lockedSet = false;
  // "keyPicture" and "pictureRate" as the settings carried them (read where the pictures are drawn), written
  // back unchanged; an object without them when the settings had neither.
  nlohmann::json picture = nlohmann::json::object();
  // The settings object as it was read, as the host holds it.
  nlohmann::json stored;
};

// What the settings are completed from: which device indexes the last enumeration detected, their input
// counts, and the signal locks just read from the hardware (one bit list per device index; a missing entry
// reads as empty). shownSources: what a device with fewer than four inputs shows in its four places, read back
// (a missing or shorter entry: not read).
struct DeviceSnapshot {
  std::vector<bool> detected;
  std::vector<int32_t> inputCounts;
  std::vector<std::vector<bool>> inputSignals;
  std::vector<std::vector<int32_t>> shownSources;
};

// "Brelvon" for index 0, "Brelvon <index+1>" for the others.
std::string DeviceDisplayName(int32_t index);
// The index below count whose display name is name, or -1.
int32_t DeviceIndexNamed(const std::string& name, int32_t count);
// The index of the detected device that "currentDevice" names, or -1.
int32_t CurrentDeviceIndex(const ActionSettings& settings);
// The device number (0-based) that "currentDevice" names among the first `count`, detected or not; -1 for none.
int32_t NamedDeviceIndex(const ActionSettings& settings, int32_t count);

// One element of "multiViewSources" as an input number: integers and floating-point numbers (truncated toward
// zero) saturate at the 32-bit limits (NaN reads as 0), booleans are 1 or 0.
// Any other type raises the JSON library's type error.
int32_t SourceNumberFromJson(const nlohmann::json& element);

// Whether the settings' entry for device d holds a source list (without one, the default sources are used).
bool EntryHoldsSources(const nlohmann::json& settings, int32_t d);

// Fills out from a "settings" object (any JSON value; a non-object reads as empty), one entry per device
// number up to the highest detected device (absent ones keep their stored entry), and keeps the stored
// entries beyond them as they are. A source element that is not a number reads as its place's own number.
void CompleteActionSettings(const nlohmann::json& settings, const DeviceSnapshot& devices,
                            ActionSettings& out);

// Fills out (a JSON null on entry) with the settings object: an entry per device number, absent devices'
// entries as they were stored, then the stored entries beyond them unchanged. True when at least one detected device's entry was written (without one,
// nothing is to be sent).
bool WriteActionSettings(const ActionSettings& settings, nlohmann::json& out);

// The device multiview entry of a device as the settings of an absent device store it, read as a press or an
// edit would read it (layout 100 and sources 1, 2, 3, 4 by default).
DeviceSettings ReadStoredEntry(const nlohmann::json& entry);

// Makes the first four sources inputs the device has: each is clamped into 1..inputCount. Nothing changes
// without an input count.
void FitSourcesToInputs(std::vector<int32_t>& sources, int32_t inputCount);

// The same fit for four places packed as the device takes them.
uint64_t FitPackedSources(uint64_t sources, int32_t inputCount);

// What a device entry makes its device show: its layout and first four sources; with fewer than four sources
// the layout alone (layoutOnly, the sources left as they are).
struct EntryState {
  DeviceState state;
  bool layoutOnly = false;
};
EntryState StateOfEntry(const DeviceSettings& entry);

// The toggle step: moves the first source on to the next input (1..inputCount, wrapping) whose signal flag
// is set. A list that is empty, a first source below 0 or above inputCount, or no inputs leave it unchanged.
void ToggleFirstSource(DeviceSettings& entry, int32_t inputCount);
