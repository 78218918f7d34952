// Random sequences of what an operator does (switch presses, held looks, two inspectors opening,
// editing, moving their edit to the other device and closing, a page's last change arriving after its inspector
// closed, devices unplugged and plugged back, signals changing) against the real executable and two emulated
// devices. At every quiet moment: a device that no look holds and no
// inspector edits shows what the last switch press of it committed, and its state keys draw that (or "not
// connected" while it is away). PNX_MODEL_SEEDS ("1,2") and PNX_MODEL_STEPS (1500; 500 under a sanitizer)
// choose a longer run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_state.h"
#include "platform/vendor_properties.h"
#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const char kPeek[] = "com.brelvon.multiview.peek";
const char* const kNames[] = {"Brelvon", "Brelvon 2"};
const char* const kNodes[] = {kNode1, kNode2};
// The second device has three inputs: every input 4 the model sends it must arrive as 3.
const char kDevices[] = R"({"frame": {"width": 64, "height": 36, "fps": 30}, "devices": [
    {"layout": 5, "sources": [4, 4, 4, 4]}, {"number": 2, "layout": 6, "sources": [2, 2, 2, 2], "inputs": [1, 2, 3]}]})";
const DeviceState kInitial[] = {{5, 0x4444, true}, {6, 0x2222, true}};
const int32_t kInputs[] = {4, 3};

// Fewer steps under a sanitizer, which slows the plug-in several times; a long run sets PNX_MODEL_STEPS.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kDefaultSteps = 500;
#else
constexpr int kDefaultSteps = 1500;
#endif

struct Multiview {
  uint32_t layout = 0;
  std::array<int, 4> sources{};
};

uint32_t LittleEndian(const std::string& hex, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes && 2 * i + 1 < hex.size(); ++i) {
    value |= static_cast<uint64_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16)) << (8 * i);
  }
  return static_cast<uint32_t>(value);
}

class DeviceModel : public PluginProcessFixture {
 protected:
  // The emulator's trace from where it was last read: successful writes change what a device shows.
  void Absorb() {
    std::ifstream in(m_tracePath, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(m_traceOffset));
    std::string line;
    while (std::getline(in, line)) {
      if (in.eof()) break;  // a line still being written
      m_traceOffset += line.size() + 1;
      const json event = json::parse(line, nullptr, false);
      if (!event.is_object() || event.value("op", "") != "set" || event.value("hr", -1) != 0) continue;
      for (int d = 0; d < 2; ++d) {
        if (event.value("node", "") != kNodes[d]) continue;
        const std::string data = event.value("data", "");
        if (event.value("id", 0) == vendor::kMultiviewLayout) m_device[d].layout = LittleEndian(data, 4);
        if (event.value("id", 0) == vendor::kMultiviewSources) m_device[d].sources = LittleEndian(data, 8);
      }
    }
  }

  // Handled, noting the state keys' images on the way and reading the emulator's trace after.
  std::vector<std::string> Sync() {
    std::vector<json> before;
    const std::vector<std::string> detected = Handled(&before);
    for (const json& m : before) {
      if (m.value("event", "") == "setImage") m_images[m.value("context", "")] = m["payload"].value("image", "");
    }
    Absorb();
    return detected;
  }

  json SettingsFor(int d, const Multiview& m, bool showState = false) {
    json devices = json::array({json::object(), json::object()});
    devices[d] = {{"multiViewLayout", m.layout}, {"multiViewSources", m.sources}};
    json settings = {{"currentDevice", kNames[d]}, {"devices", devices}};
    if (showState) settings["showState"] = true;
    return settings;
  }

  void WriteControl(bool switchedOff, const std::string& signal) {
    json control = {{"unplugged", json::array()}};
    for (int d = 0; d < 2; ++d) {
      if (!m_present[d]) control["unplugged"].push_back(d + 1);
    }
    if (switchedOff) control["switchedOff"] = true;
    if (!signal.empty()) control["signal"] = json::parse(signal);
    Control(control.dump());
  }

  // Plugs device d in or out and waits until the plug-in has seen it.
  void Plug(int d, bool in, bool switchedOff, std::string& log) {
    Absorb();
    m_present[d] = in;
    WriteControl(switchedOff, "");
    if (in && switchedOff) m_device[d] = kInitial[d];
    const bool seen = WaitUntil([&] {
      const std::vector<std::string> detected = Sync();
      return (std::find(detected.begin(), detected.end(), kNames[d]) != detected.end()) == in;
    });
    ASSERT_TRUE(seen) << log << "the plug-in did not see device " << d << (in ? " come back" : " go");
  }

  void CheckInvariant(const std::string& log) {
    for (int d = 0; d < 2; ++d) {
      if (m_lookHeld[d] || m_inspectorOpen[0] || m_inspectorOpen[1]) continue;
      const std::string& image = m_images["S" + std::to_string(d)];
      ASSERT_FALSE(image.empty()) << log;
      Drawn drawn = ReadStateImage(image);
      for (std::string& place : drawn.places) {
        if (!place.empty() && place.back() == '!') place.pop_back();  // signals are not the model's
      }
      if (!m_present[d]) {
        ASSERT_TRUE(drawn.absent) << log << "device " << d << " is away but its key does not say so";
        continue;
      }
      ASSERT_EQ(m_device[d].layout, m_committed[d].layout) << log << "device " << d;
      ASSERT_EQ(m_device[d].sources, m_committed[d].sources) << log << "device " << d;
      const std::array<int32_t, 4> places = vendor::UnpackSources(m_committed[d].sources);
      std::vector<std::string> expected;
      for (int32_t input : places) expected.push_back(std::to_string(input));
      ASSERT_FALSE(drawn.absent) << log;
      ASSERT_EQ(drawn.places, expected) << log << "state key of device " << d;
    }
  }

  void Run(int seed, int steps) {
    std::mt19937 random(static_cast<uint32_t>(seed));
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    auto randomMultiview = [&] {
      static const uint32_t kLayouts[] = {0, 1, 7, 100};
      Multiview m;
      m.layout = kLayouts[pick(4)];
      for (int& input : m.sources) input = 1 + pick(4);
      return m;
    };
    for (int d = 0; d < 2; ++d) {
      m_device[d] = m_committed[d] = kInitial[d];
      m_host.Send(WithSettings("willAppear", "S" + std::to_string(d), SettingsFor(d, randomMultiview(), true)));
    }
    m_host.Send(WithSettings("willAppear", "I", SettingsFor(0, randomMultiview())));
    m_host.Send(WithSettings("willAppear", "J", SettingsFor(1, randomMultiview())));
    Sync();
    std::string log = "seed " + std::to_string(seed) + ", steps:\n";
    for (int step = 0; step < steps && !HasFatalFailure(); ++step) {
      const int d = pick(2);
      const int what = pick(100);
      const std::string key = std::to_string(d);
      const int which = pick(2);
      const std::string inspector = which == 0 ? "I" : "J";
      std::string done;
      if (what < 25) {
        const Multiview m = randomMultiview();
        m_host.Send(WithSettings("keyUp", "S" + key, SettingsFor(d, m, true)));
        if (m_present[d]) {
          Multiview fitted = m;
          for (int& input : fitted.sources) input = std::min(input, kInputs[d]);
          m_committed[d] = DeviceState{fitted.layout, vendor::PackSources(fitted.sources), true};
        }
        done = "press";
      } else if (what < 37) {
        m_host.Send(WithSettings("keyDown", "L" + key, SettingsFor(d, randomMultiview()), kPeek));
        m_lookHeld[d] = true;
        done = "look down";
      } else if (what < 49) {
        m_host.Send(WithSettings("keyUp", "L" + key, SettingsFor(d, randomMultiview()), kPeek));
        m_lookHeld[d] = false;
        done = "look up";
      } else if (what < 57) {
        m_host.Send(Event("propertyInspectorDidAppear", inspector));
        m_inspectorOpen[which] = true;
        done = "inspector " + inspector + " appears";
      } else if (what < 72) {
        // A closed inspector's page may still send its last change: it must not reach the device.
        m_host.Send(WithSettings("didReceiveSettings", inspector, SettingsFor(d, randomMultiview())));
        done = m_inspectorOpen[which] ? "edit in " + inspector : "settings change of " + inspector + ", closed";
      } else if (what < 80) {
        m_host.Send(Event("propertyInspectorDidDisappear", inspector));
        m_inspectorOpen[which] = false;
        done = "inspector " + inspector + " disappears";
      } else if (what < 84) {
        if (!m_present[d] || !m_present[1 - d]) continue;  // one device stays, so that settings are written
        Plug(d, false, false, log);
        done = "unplug";
      } else if (what < 90) {
        if (m_present[d]) continue;
        const bool off = pick(2) == 0;
        Plug(d, true, off, log);
        done = off ? "plug back (switched off meanwhile)" : "plug back";
      } else {
        json bits = json::array();
        for (int i = 0; i < 4; ++i) bits.push_back(pick(3) != 0);
        WriteControl(false, json{{std::to_string(d + 1), bits}}.dump());
        done = "signal change";
      }
      // The steps that led here: the last ones are what a failure needs (a seed replays the whole run).
      log += "  " + std::to_string(step) + ": " + done + " on device " + key + "\n";
      if (std::count(log.begin(), log.end(), '\n') > 60) {
        const size_t oldest = log.find('\n') + 1;
        log.erase(oldest, log.find('\n', oldest) + 1 - oldest);
      }
      Sync();
      CheckInvariant(log);
    }
  }

  size_t m_traceOffset = 0;
  DeviceState m_device[2];
  DeviceState m_committed[2];
  bool m_present[2] = {true, true};
  bool m_lookHeld[2] = {false, false};
  bool m_inspectorOpen[2] = {false, false};
  std::map<std::string, std::string> m_images;
};

TEST_F(DeviceModel, DevicesShowWhatWasCommittedWheneverNothingTemporaryIsInPlay) {
  const std::vector<int> seeds = EnvList("PNX_MODEL_SEEDS", {1, 2});
  const int steps = EnvList("PNX_MODEL_STEPS", {kDefaultSteps})[0];
  for (int seed : seeds) {
    SCOPED_TRACE(seed);
    Options options;
    options.control = "{}";
    if (m_host.Running()) {
      EXPECT_EQ(m_host.CloseAndWait(), 0);
    }
    m_traceOffset = 0;
    m_present[0] = m_present[1] = true;
    m_lookHeld[0] = m_lookHeld[1] = false;
    m_inspectorOpen[0] = m_inspectorOpen[1] = false;
    m_images.clear();
    Start(kDevices, options);
    Run(seed, steps);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
