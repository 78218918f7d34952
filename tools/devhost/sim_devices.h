// The emulated devices as pnx-devhost's web mode offers them to a person: plug or unplug each configured
// device and switch its inputs' signal, by rewriting the emulator's control file (PNX_SIM_CONTROL), which the
// plug-in's emulator reads again when it changed. Not thread-safe: the server's event loop calls it.
#pragma once

#include <set>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

class SimDevices {
 public:
  // devicesText: the emulator's configuration (PNX_SIM_DEVICES content; "" for the default one device).
  SimDevices(std::string controlPath, const std::string& devicesText);

  // Handles {"event": "plugDevice", "device": N, "plugged": bool} and
  // {"event": "setSignal", "device": N, "input": 1..4, "signal": bool}. False (error set) for anything else,
  // an unknown device or input, or a file that cannot be written.
  bool Apply(const nlohmann::json& message, std::string& error);
  // [{"number": N, "plugged": bool, "signal": [4 booleans]}, ...] in configuration order.
  nlohmann::json State() const;
  // Writes the control file as the state stands (at start: every device plugged, configured signals).
  bool Save(std::string& error) const;

 private:
  struct Device {
    int number = 1;
    bool plugged = true;
    std::vector<bool> signal = std::vector<bool>(4, true);
  };
  Device* Find(const nlohmann::json& message);

  std::string m_path;
  std::vector<Device> m_devices;
};
