// Random sequences of everything an operator and the host do - switch presses (toggle keys, a device with three
// inputs, a layout alone), held looks, two inspectors appearing and going in either order, edits, settings
// changes of keys whose inspector is not open, image and status requests from any key (also before its
// inspector appears), keys appearing while their device is away, devices unplugged and plugged back, signals
// changing, input names edited in an open inspector, step keys pressed (with steps and a step index of every
// kind), lock keys pressed, settings taken from the device - run in process against the recording fakes. After
// every step:
// - a device that no look holds shows the open inspectors' edit on it, or else what its last press committed;
// - every key that draws the state draws what its device shows (or "not connected"), with the signal marks,
//   and is live exactly when its settings as written back equal that;
// - the images reach only the newest open inspector, never after it said stop (until it asks again), from the
//   device its key names; none flow while no inspector is open;
// - device and signal reports reach only open inspectors that asked, and each of them knows the present truth;
// - the signal timer runs exactly while a key draws the state or an open inspector asked;
// - a locked device is not written; drawn keys of it carry the lock mark, lock keys say and hold the lock, and
//   status askers are told the locked devices;
// - every key of a device carries the newest names of that device, and drawn keys show them;
// - a step key's "step" as written back names one of its steps, the one after the step it applied;
// - "takeFromDevice" answers with the settings written back, which hold what the device shows;
// - a capture runs exactly while one is wanted (images for an inspector, or a visible picture key of a present
//   device), hands its frames to the picture keys exactly while one of its device is visible, a frame's
//   picture reaches only visible picture keys of its device, and a picture key whose device is away says so.
// PNX_MODEL_SEEDS ("1,...,12"; three under a sanitizer) and PNX_MODEL_STEPS (2000) choose a longer run; a failure prints its seed and
// the steps that lead to it, shrunk.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/action_settings.h"
#include "plugin/my_panelox_plugin.h"
#include "tests/plugin/fake_ports.h"
#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;

namespace {

const char kSwitch[] = "com.brelvon.multiview.switch";
const char kPeek[] = "com.brelvon.multiview.peek";
const char kCycle[] = "com.brelvon.multiview.cycle";
const char kLock[] = "com.brelvon.multiview.lock";
// Names an inspector may give the inputs (short enough to be drawn whole).
const char* const kNameTable[] = {"", "Cam", "Desk", "Stage", "Host"};
// "step" values of a step key: in range, beyond it, negative, of another type.
const json kStepValues[] = {0, 1, 2, 7, -1, "1", nullptr};
const uint32_t kLayouts[] = {0, 1, 7, 100};
// Every key whose settings the model follows: C0/C1 step keys, K0/K0b lock keys of device 0, K1 of device 1.
const char* const kAllKeys[] = {"S0", "S1", "I0", "I1", "C0", "C1", "K0", "K0b", "K1"};
const char* const kNames[] = {"Brelvon", "Brelvon 2"};
// The second device has three inputs: every input 4 sent to it must arrive as 3.
const DeviceState kInitial[] = {{5, 0x4444, true}, {6, 0x2222, true}};
const int32_t kInputs[] = {4, 3};
// Keys: S0/S1 switch keys drawing the state of device 0/1, L0/L1 looks, I0/I1 keys whose inspectors open
// (drawing the state too), Q a page that asks but never opens.
const char* const kInspectorKeys[] = {"I0", "I1"};
const char* const kAskers[] = {"I0", "I1", "Q"};

enum class Kind {
  kPress, kLookDown, kLookUp, kAppear, kDisappear, kEdit, kSettingsOnly, kImages, kStop, kStatus,
  kReappear, kUnplug, kPlug, kSignal, kNames, kCycle, kLock, kTake, kPicture
};
const char* const kKindNames[] = {"press", "look down", "look up", "inspector appears", "inspector disappears",
                                  "edit", "settings change", "startSendingImages", "stopSendingImages",
                                  "getDeviceStatus", "key appears again", "unplug", "plug back", "signal change", "names edit",
                                  "step key press", "lock key press", "takeFromDevice", "a picture key appears or goes"};

// A step, drawn whole before the run so that a run replays and shrinks: which key or device it is for, and the
// values it may need.
struct Step {
  Kind kind;
  int device = 0;  // 0 or 1
  int key = 0;     // which inspector key or asker
  uint32_t layout = 0;
  std::array<int, 4> sources{};
  bool layoutOnly = false;
  bool toggle = false;
  bool switchedOff = false;
  std::array<bool, 4> signal{};
  std::array<int, 4> names{};
  int stepCount = 0;
  int stepValue = 0;

  std::string Describe() const {
    std::string text = kKindNames[static_cast<int>(kind)];
    text += " device " + std::to_string(device) + " key " + std::to_string(key) + " layout " + std::to_string(layout);
    text += " sources";
    for (int s : sources) text += " " + std::to_string(s);
    if (layoutOnly) text += " (layout only)";
    if (toggle) text += " (toggle)";
    if (switchedOff) text += " (switched off)";
    if (kind == Kind::kNames) {
      for (int n : names) text += std::string(" '") + kNameTable[n] + "'";
    }
    if (kind == Kind::kCycle) text += " steps " + std::to_string(stepCount) + " step " + kStepValues[stepValue].dump();
    return text;
  }
};

std::vector<Step> DrawSteps(uint32_t seed, int count) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
  static const Kind kWeights[] = {
      Kind::kPress, Kind::kPress, Kind::kPress, Kind::kPress, Kind::kLookDown, Kind::kLookDown, Kind::kLookUp,
      Kind::kLookUp, Kind::kAppear, Kind::kAppear, Kind::kDisappear, Kind::kDisappear, Kind::kEdit, Kind::kEdit,
      Kind::kEdit, Kind::kSettingsOnly, Kind::kImages, Kind::kImages, Kind::kStop, Kind::kStatus, Kind::kStatus,
      Kind::kReappear, Kind::kUnplug, Kind::kPlug, Kind::kSignal, Kind::kSignal, Kind::kNames, Kind::kNames,
      Kind::kCycle, Kind::kCycle, Kind::kLock, Kind::kTake, Kind::kPicture, Kind::kPicture};
  std::vector<Step> steps;
  for (int i = 0; i < count; ++i) {
    Step s;
    s.kind = kWeights[pick(static_cast<int>(sizeof(kWeights) / sizeof(kWeights[0])))];
    s.device = pick(2);
    s.key = pick(3);
    s.layout = kLayouts[pick(4)];
    for (int& input : s.sources) input = 1 + pick(4);
    s.layoutOnly = pick(8) == 0;
    s.toggle = pick(3) == 0;
    s.switchedOff = pick(2) == 0;
    for (bool& bit : s.signal) bit = pick(3) != 0;
    for (int& name : s.names) name = pick(5);
    s.stepCount = pick(4);
    s.stepValue = pick(7);
    steps.push_back(s);
  }
  return steps;
}

DeviceState Fitted(const DeviceState& state, int d) {
  return DeviceState{state.layout, FitPackedSources(state.sources, kInputs[d]), true};
}

class Model {
 public:
  Model()
      : m_devices({{kInitial[0], kInputs[0]}, {kInitial[1], kInputs[1]}}),
        m_plugin(std::make_unique<MyPaneloxPlugin>(m_devices, m_host)) {
    for (int d = 0; d < 2; ++d) m_committed[d] = kInitial[d];
    for (int d = 0; d < 2; ++d) Appear("S" + std::to_string(d), Settings(d, 100, {1, 2, 3, 4}, false));
    for (int i = 0; i < 2; ++i) Appear(kInspectorKeys[i], Settings(i, 100, {1, 2, 3, 4}, false));
    for (int d = 0; d < 2; ++d) {
      json settings = Settings(d, 100, {1, 2, 3, 4}, false, false);
      settings["devices"][d]["steps"] = json::array({{{"multiViewLayout", 0}, {"multiViewSources", {2, 1, 1, 1}}},
                                                    {{"multiViewLayout", 100}, {"multiViewSources", {4, 3, 2, 1}}}});
      Appear("C" + std::to_string(d), settings, kCycle);
    }
    for (const char* key : {"K0", "K0b", "K1"}) Appear(key, json{{"currentDevice", kNames[key[1] - '0']}}, kLock);
  }

  // Runs one step and checks the invariants; false with `failure` set when one does not hold.
  bool Run(const Step& s, std::string& failure) {
    m_failure.clear();
    m_statusAnswer.clear();
    m_ticked = false;
    m_expectedStep.clear();
    m_takeAnswer.clear();
    m_taken = json();
    m_requestsBefore = m_devices.requests.size();
    for (int d = 0; d < 2; ++d) m_lockedBefore[d] = m_locked[d];
    Do(s);
    HandFrame(s);
    Check();
    failure = m_failure;
    return failure.empty();
  }

 private:
  struct Inspector {
    bool open = false;
    uint64_t appeared = 0;
    int images = 0;  // 0 none, 1 wanted, 2 stopped
    bool status = false;
    int editDevice = -1;
  };

  json Settings(int d, uint32_t layout, std::vector<int> sources, bool toggle, bool showState = true) {
    json devices = json::array({json::object(), json::object()});
    devices[d] = {{"multiViewLayout", layout}, {"multiViewSources", sources}, {"toggle", toggle}};
    return json{{"currentDevice", kNames[d]}, {"devices", devices}, {"showState", showState}};
  }
  static json Payload(const json& settings) { return json{{"settings", settings}}; }

  // The settings the host keeps for key: what it was sent, or what the plug-in wrote back.
  void Store(const std::string& key, const json& settings) {
    m_stored[key] = settings;
    for (const json& m : m_host.sent) {
      if (m["event"] == "setSettings" && m["context"] == key) m_stored[key] = m["settings"];
    }
  }
  void Absorb() {
    for (const json& m : m_host.Take()) {
      const std::string context = m["context"];
      if (m["event"] == "setImage") m_images[context] = m["image"];
      if (m["event"] == "setImage" && m["image"].get<std::string>().rfind("data:image/png", 0) == 0) {
        const int d = context.size() == 2 && context[0] == 'P' ? context[1] - '0' : -1;
        if (d < 0 || d > 1 || !m_pictures[d]) Fail("a picture reached " + context + ", which shows none");
        if (d >= 0 && d != m_frameDevice) Fail("a picture of device " + std::to_string(m_frameDevice) + " reached " + context);
      }
      // Names and locks are written into other keys than the one of the event.
      if (m["event"] == "setSettings") m_stored[context] = m["settings"];
      if (m["event"] != "sendToPropertyInspector") continue;
      const json& payload = m["payload"];
      if (payload.contains("takenFromDevice") && context == m_takeAnswer) {
        m_taken = payload["takenFromDevice"];
        continue;
      }
      const bool answer = payload.contains("deviceStatus") && context == m_statusAnswer;
      if (!answer && !(Open(context) && m_inspectors[context].status)) {
        Fail("a report reached " + context + ", which is not an open inspector that asked: " + payload.dump());
      }
      if (payload.contains("deviceStatus")) m_toldDevices[context] = payload["deviceStatus"]["detected"];
      if (payload.contains("deviceLocks")) m_toldLocks[context] = payload["deviceLocks"]["locked"];
      if (payload.contains("inputSignals")) {
        m_toldSignals[context][payload["inputSignals"]["device"].get<std::string>()] = payload["inputSignals"]["signals"];
      }
    }
  }
  void Appear(const std::string& key, const json& settings, const char* action = kSwitch) {
    m_host.Take();
    m_plugin->OnWillAppear(action, key, Payload(settings), "PANEL");
    Store(key, settings);
    Absorb();
  }
  bool Open(const std::string& key) { return m_inspectors.count(key) && m_inspectors[key].open; }
  // A member of a stored device entry, or null.
  json EntryMember(const std::string& key, int d, const char* member) {
    const json& settings = m_stored[key];
    if (!settings.contains("devices") || !settings["devices"].is_array() || settings["devices"].size() <= static_cast<size_t>(d)) return json();
    const json& entry = settings["devices"][static_cast<size_t>(d)];
    return entry.is_object() && entry.contains(member) ? entry[member] : json();
  }
  // What device d shows as the plug-in's layers have it: the top one of the look and the edit, or committed.
  DeviceState Shown(int d) {
    if (m_looking[d] && (!m_edit[d] || m_lookAboveEdit[d])) return m_lookState[d];
    return Fitted(m_edit[d] ? *m_edit[d] : m_committed[d], d);
  }
  void EditShows(int d, const DeviceState& state) {
    if (m_locked[d]) return;
    if (!m_edit[d]) m_lookAboveEdit[d] = false;
    m_edit[d] = state;
  }
  int NamedDevice(const std::string& key) {
    const std::string name = m_stored[key].value("currentDevice", "");
    return name == kNames[0] ? 0 : name == kNames[1] ? 1 : -1;
  }
  void Fail(const std::string& what) {
    if (m_failure.empty()) m_failure = what;
  }
  // An open edit is taken back from every device no open inspector's edit is on any more.
  void DropOrphanEdits() {
    for (int d = 0; d < 2; ++d) {
      bool held = false;
      for (auto& entry : m_inspectors) held = held || (entry.second.open && entry.second.editDevice == d);
      if (!held) m_edit[d].reset();
    }
  }

  void Do(const Step& s) {
    const int d = s.device;
    const std::string dk = std::to_string(d);
    const std::string inspector = kInspectorKeys[s.key % 2];
    m_host.Take();
    switch (s.kind) {
      case Kind::kPress: {
        std::vector<int> sources(s.sources.begin(), s.sources.end());
        if (s.layoutOnly) sources.resize(3);
        const json settings = Settings(d, s.layout, sources, s.toggle);
        m_plugin->OnKeyUp(kSwitch, "S" + dk, Payload(settings), "PANEL");
        Store("S" + dk, settings);
        if (!m_devices.Plugged(d) || m_locked[d]) break;
        if (s.layoutOnly) {
          m_committed[d].layout = s.layout;
        } else {
          std::vector<int> place = sources;
          if (s.toggle) {
            int cur = place[0];
            const std::vector<bool>& signal = m_devices.Signals(d);
            for (int tries = 0; cur >= 0 && cur <= kInputs[d] && tries <= kInputs[d]; ++tries) {
              cur = cur < kInputs[d] ? cur + 1 : 1;
              if (signal[static_cast<size_t>(cur - 1)]) {
                place[0] = cur;
                break;
              }
            }
          }
          m_committed[d] = Fitted(DeviceState{s.layout, vendor::PackSources(place), true}, d);
        }
        // A press ends the looks and the edit on its device.
        m_looking[d] = false;
        m_edit[d].reset();
        break;
      }
      case Kind::kLookDown:
        if (m_held[d]) return;
        m_plugin->OnKeyDown(kPeek, "L" + dk, Payload(Settings(d, s.layout, {s.sources.begin(), s.sources.end()}, false, false)), "PANEL");
        m_held[d] = true;
        m_looking[d] = m_devices.Plugged(d) && !m_locked[d];
        m_lookAboveEdit[d] = true;
        m_lookState[d] = Fitted(DeviceState{s.layout, vendor::PackSources(s.sources), true}, d);
        break;
      case Kind::kLookUp:
        if (!m_held[d]) return;
        m_plugin->OnKeyUp(kPeek, "L" + dk, Payload(Settings(d, s.layout, {s.sources.begin(), s.sources.end()}, false, false)), "PANEL");
        m_held[d] = m_looking[d] = false;
        break;
      case Kind::kAppear:
        m_plugin->OnPropertyInspectorDidAppear(kSwitch, inspector, "PANEL");
        m_inspectors[inspector].open = true;
        m_inspectors[inspector].appeared = ++m_clock;
        break;
      case Kind::kDisappear:
        m_plugin->OnPropertyInspectorDidDisappear(kSwitch, inspector, "PANEL");
        // A stray one closes nothing; requests made ahead of the inspector stay.
        if (!Open(inspector)) break;
        m_inspectors.erase(inspector);
        m_toldDevices.erase(inspector);
        m_toldLocks.erase(inspector);
        m_toldSignals.erase(inspector);
        DropOrphanEdits();
        break;
      case Kind::kEdit:
      case Kind::kSettingsOnly: {
        const std::string key = s.kind == Kind::kEdit ? inspector : "S" + dk;
        const json settings = Settings(d, s.layout, {s.sources.begin(), s.sources.end()}, false);
        m_plugin->OnDidReceiveSettings(kSwitch, key, Payload(settings), "PANEL");
        Store(key, settings);
        if (!Open(key)) break;
        m_inspectors[key].editDevice = d;
        DropOrphanEdits();
        EditShows(d, DeviceState{s.layout, vendor::PackSources(s.sources), true});
        break;
      }
      case Kind::kNames: {
        // As the page does: the key's settings as they are, with the names changed.
        if (!Open(inspector)) return;
        const int nd = NamedDevice(inspector);
        json settings = m_stored[inspector];
        json names = json::array();
        for (int n : s.names) names.push_back(kNameTable[n]);
        settings["devices"][nd]["inputNames"] = names;
        m_plugin->OnDidReceiveSettings(kSwitch, inspector, Payload(settings), "PANEL");
        Store(inspector, settings);
        m_newest[nd] = names;
        m_inspectors[inspector].editDevice = nd;
        DropOrphanEdits();
        const json& entry = settings["devices"][nd];
        EditShows(nd, DeviceState{entry["multiViewLayout"].get<uint32_t>(),
                                  vendor::PackSources(entry["multiViewSources"].get<std::vector<int32_t>>()), true});
        break;
      }
      case Kind::kCycle: {
        const std::string key = "C" + dk;
        json steps = json::array();
        // A step of another type is dropped.
        if (s.toggle) steps.push_back("step");
        std::vector<DeviceState> valid;
        for (int i = 0; i < s.stepCount; ++i) {
          std::vector<int> sources(s.sources.begin(), s.sources.end());
          std::rotate(sources.begin(), sources.begin() + i, sources.end());
          const uint32_t layout = kLayouts[(i + s.key) % 4];
          steps.push_back({{"multiViewLayout", layout}, {"multiViewSources", sources}});
          valid.push_back(Fitted(DeviceState{layout, vendor::PackSources(sources), true}, d));
        }
        json settings = Settings(d, s.layout, {s.sources.begin(), s.sources.end()}, false, false);
        settings["devices"][d]["steps"] = steps;
        settings["devices"][d]["step"] = kStepValues[s.stepValue];
        m_plugin->OnKeyUp(kCycle, key, Payload(settings), "PANEL");
        Store(key, settings);
        if (!m_devices.Plugged(d)) break;
        const json& value = kStepValues[s.stepValue];
        const int n = static_cast<int>(valid.size());
        const int step = value.is_number_integer() && value.get<int>() >= 0 && value.get<int>() < n ? value.get<int>() : 0;
        if (n > 0) m_expectedStep[key] = {m_locked[d] ? step : (step + 1) % n, n};
        if (m_locked[d]) break;
        m_committed[d] = n > 0 ? valid[static_cast<size_t>(step)] : Fitted(DeviceState{s.layout, vendor::PackSources(s.sources), true}, d);
        m_looking[d] = false;
        m_edit[d].reset();
        break;
      }
      case Kind::kLock: {
        const std::string key = d == 0 ? (s.key % 2 ? "K0b" : "K0") : "K1";
        m_plugin->OnKeyUp(kLock, key, Payload(m_stored[key]), "PANEL");
        Store(key, m_stored[key]);
        m_locked[d] = !m_locked[d];
        if (!m_locked[d]) break;
        // The device keeps what it shows; a look or an edit ends there.
        m_committed[d] = Shown(d);
        m_looking[d] = false;
        m_edit[d].reset();
        break;
      }
      case Kind::kTake: {
        const std::string key = s.key == 2 ? "C" + dk : inspector;
        m_takeAnswer = key;
        m_plugin->OnSendToPlugin(s.key == 2 ? kCycle : kSwitch, key, json{{"method", "takeFromDevice"}}, "PANEL");
        Store(key, m_stored[key]);
        Absorb();
        const int nd = NamedDevice(key);
        if (nd < 0 || !m_devices.Plugged(nd)) {
          if (m_taken != json{{"error", "unavailable"}}) Fail("take from an absent device answered " + m_taken.dump());
          return;
        }
        if (m_taken != json{{"settings", m_stored[key]}}) Fail("take answered " + m_taken.dump() + ", not the settings written back");
        const std::array<int32_t, 4> places = vendor::UnpackSources(m_devices.Shows(nd).sources);
        const json sources = EntryMember(key, nd, "multiViewSources");
        if (EntryMember(key, nd, "multiViewLayout") != m_devices.Shows(nd).layout || !sources.is_array() || sources.size() < 4 ||
            !std::equal(places.begin(), places.end(), sources.begin(), [](int32_t a, const json& b) { return b == a; })) {
          Fail(key + " did not take what device " + std::to_string(nd) + " shows: " + m_stored[key].dump());
        }
        return;
      }
      case Kind::kImages:
      case Kind::kStop:
      case Kind::kStatus: {
        const std::string key = kAskers[s.key];
        const char* method = s.kind == Kind::kImages ? "startSendingImages" : s.kind == Kind::kStop ? "stopSendingImages" : "getDeviceStatus";
        m_statusAnswer = s.kind == Kind::kStatus ? key : "";
        m_plugin->OnSendToPlugin(kSwitch, key, json{{"method", method}, {"imageWidth", 16}, {"imageHeight", 9}}, "PANEL");
        Inspector& entry = m_inspectors[key];
        if (s.kind == Kind::kImages) entry.images = 1;
        if (s.kind == Kind::kStop) entry.images = 2;
        if (s.kind == Kind::kStatus) entry.status = true;
        if (s.kind == Kind::kStatus) m_toldSignals.erase(key);
        if (s.kind == Kind::kStatus) m_toldLocks.erase(key);
        break;
      }
      case Kind::kReappear: {
        const std::string key = s.key == 2 ? "S" + dk : inspector;
        m_plugin->OnWillDisappear(kSwitch, key, json(), "PANEL");
        if (m_inspectors.count(key) && m_inspectors[key].images == 1) m_inspectors[key].images = 2;
        if (m_inspectors.count(key) && !m_inspectors[key].open) m_inspectors.erase(key);
        m_images.erase(key);
        m_plugin->OnWillAppear(kSwitch, key, Payload(m_stored[key]), "PANEL");
        Store(key, m_stored[key]);
        break;
      }
      case Kind::kUnplug:
      case Kind::kPlug:
        if (m_devices.Plugged(d) == (s.kind == Kind::kPlug)) return;
        m_devices.Plug(d, s.kind == Kind::kPlug, s.switchedOff);
        m_plugin->DevicesChanged();
        // A locked device that comes back is not written: it keeps what it shows.
        if (s.kind == Kind::kPlug && m_locked[d]) m_committed[d] = m_devices.Shows(d);
        break;
      case Kind::kPicture: {
        // P0/P1: a key of device 0/1 showing its picture, live or its inputs, with or without the state marks.
        // A visible one goes, or its settings change to show a picture or none.
        const std::string key = "P" + dk;
        if (m_pictureVisible[d] && s.toggle) {
          m_plugin->OnWillDisappear(kSwitch, key, json(), "PANEL");
          m_pictures[d] = m_pictureVisible[d] = false;
          m_images.erase(key);
          break;
        }
        json settings = Settings(d, s.layout, {s.sources.begin(), s.sources.end()}, false, s.toggle);
        const bool picture = !m_pictureVisible[d] || !m_pictures[d];
        if (picture) settings["keyPicture"] = s.switchedOff ? "live" : "inputs";
        if (m_pictureVisible[d]) {
          m_plugin->OnDidReceiveSettings(kSwitch, key, Payload(settings), "PANEL");
        } else {
          m_plugin->OnWillAppear(kSwitch, key, Payload(settings), "PANEL");
        }
        Store(key, settings);
        m_pictures[d] = picture;
        m_pictureVisible[d] = true;
        break;
      }
      case Kind::kSignal:
        m_devices.Signal(d, std::vector<bool>(s.signal.begin(), s.signal.begin() + kInputs[d]));
        m_host.Tick();
        m_ticked = true;
        break;
    }
    Absorb();
  }

  // After every step, what the captures hand over while they make key frames: a frame of each device they run
  // on, in a shade of the step's.
  void HandFrame(const Step& s) {
    for (int d = 0; d < 2; ++d) {
      const bool preview = m_devices.Capturing() && m_devices.PreviewDevice() == d && m_devices.plans.back().keyPictures;
      if (!preview && !m_devices.KeyCaptured(d)) continue;
      m_host.Take();
      KeyFrame frame;
      frame.device = m_frameDevice = d;
      frame.width = 144;
      frame.height = 81;
      frame.pixels.assign(144 * 81 * 3, static_cast<uint8_t>(s.layout * 37 + static_cast<uint32_t>(s.sources[0]) + d));
      frame.captured = std::chrono::steady_clock::now();
      m_plugin->KeyFrameCame(std::move(frame));
      Absorb();
    }
  }

  void Check() {
    // What each device shows.
    for (int d = 0; d < 2; ++d) {
      if (!m_devices.Plugged(d) || m_looking[d]) continue;
      const DeviceState expected = Fitted(m_edit[d] ? *m_edit[d] : m_committed[d], d);
      const DeviceState& shows = m_devices.Shows(d);
      if (shows.layout != expected.layout || shows.sources != expected.sources) {
        Fail("device " + std::to_string(d) + " shows " + std::to_string(shows.layout) + "/" +
             std::to_string(shows.sources) + ", not " + std::to_string(expected.layout) + "/" +
             std::to_string(expected.sources) + (m_edit[d] ? " (the open edit)" : " (committed)"));
      }
    }
    // A locked device is written by nobody, also not as it is locked or unlocked.
    for (size_t i = m_requestsBefore; i < m_devices.requests.size(); ++i) {
      const std::string& request = m_devices.requests[i];
      if (request.rfind("get ", 0) == 0) continue;
      const int d = request.back() - '0';
      if (m_lockedBefore[d] || m_locked[d]) Fail("locked device " + std::to_string(d) + " was written: " + request);
    }
    // Every key of a device carries its newest names; a step key's step as written back names one of its steps.
    for (const char* key : kAllKeys) {
      const int d = NamedDevice(key);
      if (d >= 0 && !m_newest[d].is_null() && EntryMember(key, d, "inputNames") != m_newest[d]) {
        Fail(std::string(key) + " does not carry the names " + m_newest[d].dump() + ": " + m_stored[key].dump());
      }
    }
    for (const auto& expected : m_expectedStep) {
      const int d = NamedDevice(expected.first);
      const json steps = EntryMember(expected.first, d, "steps");
      if (EntryMember(expected.first, d, "step") != expected.second.first || !steps.is_array() ||
          static_cast<int>(steps.size()) != expected.second.second) {
        Fail(expected.first + " should say step " + std::to_string(expected.second.first) + " of " +
             std::to_string(expected.second.second) + ": " + m_stored[expected.first].dump());
      }
    }
    // Lock keys say the lock of their device and hold it in their settings.
    for (const char* key : {"K0", "K0b", "K1"}) {
      const int d = key[1] - '0';
      const bool held = m_stored[key].value("locked", false);
      if (held != m_locked[d] || ReadStateImage(m_images[key]).lock != (m_locked[d] ? "locked" : "unlocked")) {
        Fail(std::string(key) + " does not say the lock of device " + std::to_string(d) + ": " + m_stored[key].dump());
      }
    }
    // What each drawn key draws.
    for (const char* key : {"S0", "S1", "I0", "I1", "C0", "C1"}) {
      const int d = NamedDevice(key);
      const std::string& image = m_images[key];
      if (image.empty()) {
        Fail(std::string(key) + " draws nothing");
        continue;
      }
      const Drawn drawn = ReadStateImage(image);
      if (!m_devices.Plugged(d)) {
        if (!drawn.absent) Fail(std::string(key) + "'s device is away but its key does not say so");
        continue;
      }
      const std::array<int32_t, 4> places = vendor::UnpackSources(m_devices.Shows(d).sources);
      std::vector<std::string> expected;
      for (int32_t input : places) {
        const bool signal = input >= 1 && input <= kInputs[d] && m_devices.Signals(d)[input - 1];
        std::string label = std::to_string(input);
        if (input >= 1 && m_newest[d].is_array() && m_newest[d][input - 1] != "") label = m_newest[d][input - 1];
        expected.push_back(label + (signal ? "" : "!"));
      }
      if (drawn.absent || drawn.places != expected) {
        Fail(std::string(key) + " does not draw what device " + std::to_string(d) + " shows");
      }
      if (drawn.locked != m_locked[d]) Fail(std::string(key) + (m_locked[d] ? " has no lock mark" : " has a lock mark"));
      std::string step;
      const json steps = EntryMember(key, d, "steps");
      if (key[0] == 'C' && steps.is_array()) {
        const int n = static_cast<int>(std::count_if(steps.begin(), steps.end(), [](const json& e) { return e.is_object(); }));
        const json value = EntryMember(key, d, "step");
        const int at = value.is_number_integer() && value.get<int>() >= 0 && value.get<int>() < n ? value.get<int>() : 0;
        if (n > 0) step = std::to_string(at + 1) + "/" + std::to_string(n);
      }
      if (drawn.step != step) Fail(std::string(key) + " draws step '" + drawn.step + "', not '" + step + "'");
      const json& entry = m_stored[key]["devices"][d];
      bool live = m_devices.Shows(d).layout == entry.value("multiViewLayout", 0u) && entry["multiViewSources"].size() >= 4;
      for (size_t i = 0; live && i < 4; ++i) live = entry["multiViewSources"][i] == places[i];
      if (drawn.live != live) Fail(std::string(key) + (live ? " is not marked live" : " is marked live") + " but its settings " + entry.dump());
    }
    // Where the images go.
    const std::string* newest = nullptr;
    bool asked = false;
    for (auto& entry : m_inspectors) {
      if (!entry.second.open) continue;
      if (!newest || entry.second.appeared > m_inspectors[*newest].appeared) newest = &entry.first;
      asked = asked || entry.second.images == 1;
    }
    std::string target;
    if (newest && m_inspectors[*newest].images != 2 && asked && m_devices.Plugged(NamedDevice(*newest))) target = *newest;
    if (m_devices.ImagesTo() != target) Fail("the images reach '" + m_devices.ImagesTo() + "', not '" + target + "'");
    if (!target.empty() && m_devices.PreviewDevice() != NamedDevice(target)) Fail("the images show another device");
    // What the askers know.
    json detected = json::array();
    for (int d = 0; d < 2; ++d) {
      if (m_devices.Plugged(d)) detected.push_back(kNames[d]);
    }
    bool askers = false;
    for (auto& entry : m_inspectors) {
      if (!entry.second.open || !entry.second.status) continue;
      askers = true;
      if (m_toldDevices[entry.first] != detected) Fail(entry.first + " was not told of the devices " + detected.dump());
      json locked = json::array();
      for (int d = 0; d < 2; ++d) {
        if (m_locked[d]) locked.push_back(kNames[d]);
      }
      const json told = m_toldLocks.count(entry.first) ? m_toldLocks[entry.first] : json::array();
      if (told != locked) Fail(entry.first + " was not told of the locked devices " + locked.dump());
      if (!m_ticked) continue;
      for (int d = 0; d < 2; ++d) {
        if (!m_devices.Plugged(d)) continue;
        json bits = json::array();
        for (bool bit : m_devices.Signals(d)) bits.push_back(bit);
        if (m_toldSignals[entry.first][kNames[d]] != bits) Fail(entry.first + " was not told the signals of device " + std::to_string(d));
      }
    }
    if (m_host.TimerRunning() != true && askers) Fail("no signal timer while an inspector asked");
    // The captures: every wanted device is captured, and no device that nobody wants.
    for (int d = 0; d < 2; ++d) {
      if (m_pictures[d] && !m_devices.Plugged(d) && !ReadStateImage(m_images["P" + std::to_string(d)]).absent) {
        Fail("P" + std::to_string(d) + "'s device is away but its key does not say so");
      }
      const bool wanted = m_devices.Plugged(d) && (m_pictures[d] || (!target.empty() && NamedDevice(target) == d));
      if (m_devices.Captured(d) != wanted) {
        Fail(std::string("device ") + std::to_string(d) + (wanted ? " is not captured while wanted" : " is captured while nobody wants it"));
      }
    }
    const int shown = m_devices.PreviewDevice();
    const bool keyFrames = m_devices.Capturing() && shown >= 0 && shown < 2 && m_pictures[shown];
    if (m_devices.Capturing() && m_devices.plans.back().keyPictures != keyFrames) {
      Fail(std::string("the picture keys ") + (keyFrames ? "get no frames" : "get frames") + " of device " +
           std::to_string(shown));
    }
  }

  FakeDevices m_devices;
  FakeHost m_host;
  std::unique_ptr<MyPaneloxPlugin> m_plugin;
  DeviceState m_committed[2];
  std::optional<DeviceState> m_edit[2];
  bool m_held[2] = {false, false};
  bool m_looking[2] = {false, false};
  bool m_pictures[2] = {false, false};       // P0/P1 shows a picture
  bool m_pictureVisible[2] = {false, false};  // P0/P1 is visible, with a picture or not
  int m_frameDevice = -1;  // the device of the last frame handed over
  std::map<std::string, Inspector> m_inspectors;
  std::map<std::string, json> m_stored;
  std::map<std::string, std::string> m_images;
  std::map<std::string, json> m_toldDevices;
  std::map<std::string, std::map<std::string, json>> m_toldSignals;
  std::string m_statusAnswer;
  std::string m_failure;
  bool m_ticked = false;
  uint64_t m_clock = 0;
  bool m_locked[2] = {false, false};
  bool m_lockedBefore[2] = {false, false};
  bool m_lookAboveEdit[2] = {false, false};
  DeviceState m_lookState[2];
  json m_newest[2];
  std::map<std::string, json> m_toldLocks;
  std::map<std::string, std::pair<int, int>> m_expectedStep;  // step key: its step and its count of steps
  std::string m_takeAnswer;
  json m_taken;
  size_t m_requestsBefore = 0;
};

// The index of the failing step of a fresh run, or -1; its message in failure.
int Replay(const std::vector<Step>& steps, std::string& failure) {
  Model model;
  for (size_t i = 0; i < steps.size(); ++i) {
    if (!model.Run(steps[i], failure)) return static_cast<int>(i);
  }
  return -1;
}

// Drops blocks of steps, large ones first, while the run still fails; a bounded number of replays, so that a
// failure deep in a long run is still reported soon.
std::vector<Step> Shrink(std::vector<Step> steps) {
  std::string failure;
  steps.resize(static_cast<size_t>(Replay(steps, failure)) + 1);
  int replays = 0;
  for (size_t block = steps.size() / 2; block >= 1 && replays < 400; block /= 2) {
    for (size_t at = 0; at + block < steps.size() && replays < 400;) {
      std::vector<Step> fewer = steps;
      fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(at), fewer.begin() + static_cast<std::ptrdiff_t>(at + block));
      ++replays;
      const int failing = Replay(fewer, failure);
      if (failing >= 0) {
        fewer.resize(static_cast<size_t>(failing) + 1);
        steps = std::move(fewer);
      } else {
        at += block;
      }
    }
  }
  return steps;
}

// Fewer under a sanitizer, which slows every step several times.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const std::vector<int> kDefaultSeeds = {1, 2, 3};
#else
const std::vector<int> kDefaultSeeds = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
#endif

TEST(PluginModel, OwnersKeepTheirInvariantsThroughRandomSequences) {
  const std::vector<int> seeds = EnvList("PNX_MODEL_SEEDS", kDefaultSeeds);
  const int count = EnvList("PNX_MODEL_STEPS", {2000})[0];
  size_t total = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int seed : seeds) {
    const std::vector<Step> steps = DrawSteps(static_cast<uint32_t>(seed), count);
    std::string failure;
    const int failing = Replay(steps, failure);
    total += steps.size();
    if (failing < 0) continue;
    std::string log = "seed " + std::to_string(seed) + ", step " + std::to_string(failing) + ": " + failure +
                      "\nshrunk to:\n";
    const std::vector<Step> shrunk = Shrink(steps);
    for (const Step& step : shrunk) log += "  " + step.Describe() + "\n";
    std::string last;
    Replay(shrunk, last);
    FAIL() << log << "which fails with: " << last;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  RecordProperty("steps_per_second", static_cast<int>(static_cast<double>(total) / std::max(seconds, 1e-6)));
}

}  // namespace
