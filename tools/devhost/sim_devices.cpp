// The emulated devices' run-time control for pnx-devhost's web mode.
#include "tools/devhost/sim_devices.h"

#include "tools/devhost/settings_store.h"

using nlohmann::json;

namespace {

int IntMember(const json& object, const char* name, int fallback) {
  const auto found = object.find(name);
  return found != object.end() && found->is_number_integer() ? found->get<int>() : fallback;
}

}  // namespace

SimDevices::SimDevices(std::string controlPath, const std::string& devicesText) : m_path(std::move(controlPath)) {
  const json config = devicesText.empty() ? json::object() : json::parse(devicesText, nullptr, false);
  const auto list = config.is_object() ? config.find("devices") : config.end();
  if (!config.is_object() || list == config.end()) {
    m_devices.push_back(Device{});
    return;
  }
  if (!list->is_array()) return;
  for (size_t i = 0; i < list->size(); ++i) {
    const json& entry = (*list)[i];
    Device device;
    device.number = entry.is_object() ? IntMember(entry, "number", static_cast<int>(i) + 1) : static_cast<int>(i) + 1;
    const auto signal = entry.is_object() ? entry.find("signal") : entry.end();
    if (entry.is_object() && signal != entry.end() && signal->is_array()) {
      for (size_t k = 0; k < 4 && k < signal->size(); ++k) {
        if ((*signal)[k].is_boolean()) device.signal[k] = (*signal)[k].get<bool>();
      }
    }
    m_devices.push_back(device);
  }
}

SimDevices::Device* SimDevices::Find(const json& message) {
  const int number = IntMember(message, "device", 0);
  for (Device& device : m_devices) {
    if (device.number == number) return &device;
  }
  return nullptr;
}

bool SimDevices::Apply(const json& message, std::string& error) {
  Device* device = message.is_object() ? Find(message) : nullptr;
  if (!device) {
    error = "no emulated device with that number";
    return false;
  }
  const std::string event = message.value("event", "");
  const auto flag = message.find(event == "plugDevice" ? "plugged" : "signal");
  if (flag == message.end() || !flag->is_boolean()) {
    error = "a device change without its flag";
    return false;
  }
  if (event == "plugDevice") {
    device->plugged = flag->get<bool>();
  } else {
    const int input = IntMember(message, "input", 0);
    if (event != "setSignal" || input < 1 || input > 4) {
      error = "not a device change";
      return false;
    }
    device->signal[static_cast<size_t>(input) - 1] = flag->get<bool>();
  }
  return Save(error);
}

json SimDevices::State() const {
  json list = json::array();
  for (const Device& device : m_devices) {
    list.push_back({{"number", device.number}, {"plugged", device.plugged}, {"signal", device.signal}});
  }
  return list;
}

bool SimDevices::Save(std::string& error) const {
  json unplugged = json::array();
  json signal = json::object();
  for (const Device& device : m_devices) {
    if (!device.plugged) unplugged.push_back(device.number);
    signal[std::to_string(device.number)] = device.signal;
  }
  return WriteFileAtomically(m_path, json{{"unplugged", unplugged}, {"signal", signal}}.dump() + "\n", error);
}
