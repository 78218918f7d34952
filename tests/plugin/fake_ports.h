// Recording fakes of the two seams below the plug-in's owners: devices that answer as the emulated ones do
// (a device unplugged fails every request until it is enumerated again; one switched off meanwhile comes back
// with its first state), and a host that keeps what it was sent. Single-threaded.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "plugin/device_port.h"
#include "plugin/host_port.h"
#include "platform/vendor_properties.h"

class FakeDevices : public DevicePort {
 public:
  struct Device {
    bool plugged = true;
    bool bound = true;  // as the last enumeration saw it
    int32_t inputs = 4;
    DeviceState shows;
    DeviceState first;
    std::vector<bool> signal;
  };

  // One device per entry: its state and input count, every input with a signal.
  explicit FakeDevices(std::vector<std::pair<DeviceState, int32_t>> devices) {
    for (const auto& d : devices) {
      Device device;
      device.shows = device.first = d.first;
      device.inputs = d.second;
      device.signal.assign(static_cast<size_t>(d.second), true);
      m_devices.push_back(device);
    }
  }

  int32_t MaxDevices() const override { return 4; }
  bool DeviceDetected(int32_t d) const override { return Has(d) && m_devices[d].bound; }
  int32_t DeviceCount() const override {
    int32_t count = 0;
    for (const Device& d : m_devices) count += d.bound;
    return count;
  }
  int32_t InputCount(int32_t d) const override { return DeviceDetected(d) ? m_devices[d].inputs : 0; }
  const std::vector<std::vector<bool>>& InputSignals() const override { return m_signals; }
  std::vector<std::vector<bool>> QueryInputSignals() override {
    for (size_t d = 0; d < m_devices.size(); ++d) {
      if (!m_devices[d].bound) continue;
      if (m_signals.size() <= d) m_signals.resize(d + 1);
      // An unplugged device's inputs keep their earlier bits.
      if (m_devices[d].plugged) m_signals[d] = m_devices[d].signal;
    }
    return m_signals;
  }
  bool LookForDevices(int32_t device) override {
    bool changed = Enumerate();
    if (changed) {
      m_running = false;
      if (DeviceDetected(device)) m_current = device;
    }
    return changed;
  }
  bool ReadMultiviewState(int32_t d, DeviceState& out) override {
    requests.push_back("get " + std::to_string(d));
    if (!Reachable(d)) return false;
    out = m_devices[d].shows;
    return true;
  }
  bool WriteMultiviewState(int32_t d, const DeviceState& state) override {
    requests.push_back("put " + std::to_string(d));
    if (!Reachable(d)) return false;
    m_devices[d].shows = DeviceState{state.layout, state.sources, true};
    return true;
  }
  bool SetMultiviewLayout(int32_t d, uint32_t layout) override {
    requests.push_back("layout " + std::to_string(d));
    if (!Reachable(d)) return false;
    m_devices[d].shows.layout = layout;
    return true;
  }
  bool SetMultiviewSources(int32_t d, uint64_t sources) override {
    requests.push_back("sources " + std::to_string(d));
    if (!Reachable(d)) return false;
    m_devices[d].shows.sources = sources;
    return true;
  }
  bool ShowPreview(const PreviewPlan& plan) override {
    plans.push_back(plan);
    bool rebound = false;
    if (plan.run && plan.device >= 0 && plan.device != m_current) {
      // Building the graph around another device enumerates them again.
      m_current = plan.device;
      Enumerate();
      rebound = true;
    }
    m_running = plan.run;
    m_target = plan.context;
    // The other devices' key captures, beside the graph's device.
    m_keyCaptured.clear();
    for (int32_t d : plan.keyDevices) {
      if (plan.run && d != m_current && Reachable(d)) m_keyCaptured.insert(d);
    }
    return rebound;
  }

  // The inspector the images reach now ("" for none), and the device they show.
  std::string ImagesTo() const {
    return m_running && Reachable(m_current) && !m_target.empty() ? m_target : std::string();
  }
  int32_t PreviewDevice() const { return m_current; }
  // Whether the graph runs on a device that delivers frames.
  bool Capturing() const { return m_running && Reachable(m_current); }
  // Whether device d delivers frames: on the graph's own sink or by a key capture of its own.
  bool Captured(int32_t d) const {
    return (Capturing() && d == m_current) || (m_keyCaptured.count(d) > 0 && Reachable(d));
  }
  bool KeyCaptured(int32_t d) const { return m_keyCaptured.count(d) > 0 && Reachable(d); }

  void Plug(int32_t d, bool in, bool switchedOff = false) {
    m_devices[d].plugged = in;
    if (in && switchedOff) m_devices[d].shows = m_devices[d].first;
    // A stream from a device that goes ends.
    if (!in && d == m_current) m_running = false;
    if (!in) m_keyCaptured.erase(d);
  }
  void Signal(int32_t d, std::vector<bool> bits) { m_devices[d].signal = std::move(bits); }
  const DeviceState& Shows(int32_t d) const { return m_devices[d].shows; }
  bool Plugged(int32_t d) const { return m_devices[d].plugged; }
  const std::vector<bool>& Signals(int32_t d) const { return m_devices[d].signal; }

  std::vector<std::string> requests;
  std::vector<PreviewPlan> plans;

 private:
  bool Has(int32_t d) const { return d >= 0 && static_cast<size_t>(d) < m_devices.size(); }
  bool Reachable(int32_t d) const { return DeviceDetected(d) && m_devices[d].plugged; }
  bool Enumerate() {
    bool changed = false;
    for (Device& d : m_devices) {
      changed = changed || d.bound != d.plugged;
      d.bound = d.plugged;
    }
    return changed;
  }

  std::vector<Device> m_devices;
  std::vector<std::vector<bool>> m_signals;
  int32_t m_current = 0;
  bool m_running = false;
  std::string m_target;
  std::set<int32_t> m_keyCaptured;
};

class FakeHost : public HostPort {
 public:
  void SetImage(const std::string& image, const std::string& context) override {
    sent.push_back({{"event", "setImage"}, {"context", context}, {"image", image}});
  }
  void SetSettings(const nlohmann::json& settings, const std::string& context) override {
    sent.push_back({{"event", "setSettings"}, {"context", context}, {"settings", settings}});
  }
  void SendToPropertyInspector(const std::string& action, const std::string& context,
                               const nlohmann::json& payload) override {
    sent.push_back({{"event", "sendToPropertyInspector"}, {"action", action}, {"context", context}, {"payload", payload}});
  }
  void StartRepeatingTimer(std::chrono::milliseconds, std::function<void()> tick) override { m_tick = std::move(tick); }
  void StopRepeatingTimer() override { m_tick = nullptr; }
  size_t UnsentBytes() const override { return unsent; }

  bool TimerRunning() const { return static_cast<bool>(m_tick); }
  // One period of the timer passes.
  void Tick() {
    if (m_tick) m_tick();
  }
  // What was sent since the last call.
  std::vector<nlohmann::json> Take() {
    std::vector<nlohmann::json> taken;
    taken.swap(sent);
    return taken;
  }

  std::vector<nlohmann::json> sent;
  size_t unsent = 0;  // what the connection holds unsent, as the plug-in is told

 private:
  std::function<void()> m_tick;
};
