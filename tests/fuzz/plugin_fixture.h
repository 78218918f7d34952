// What the plug-in targets share: the emulated devices they run against and a fresh plug-in per input.
// Single-threaded, as libFuzzer calls a target.
#pragma once

#include <memory>

#include "host/pnx_connection_manager.h"
#include "platform/emulator_control.h"
#include "plugin/my_panelox_plugin.h"

namespace fuzz {

// Two emulated devices with small frames (so a running preview costs little per input), the second with one
// input less and a signal missing, so that completion, toggling and device switches meet both shapes.
inline void LoadTwoDevices() {
  static const bool loaded = emulator::LoadConfigurationText(R"({
    "frame": {"width": 96, "height": 54, "fps": 60},
    "devices": [{"number": 1},
                {"number": 2, "inputs": [1, 2, 3], "signal": [true, false, true, true]}],
    "otherNodes": ["Integrated Camera"]})");
  (void)loaded;
}

// A plug-in as the entry point wires it, over a connection that never opens: every answer is built (the
// JSON library checks its strings) and then dropped, with no socket involved. Destroying it stops the graph
// and releases every COM object.
struct PluginUnderTest {
  PluginUnderTest() {
    LoadTwoDevices();
    // Each input starts from the configured device state, whatever an earlier input set.
    emulator::ResetDeviceStates();
    plugin = std::make_unique<MyPaneloxPlugin>();
    connection = std::make_unique<PnxConnectionManager>(1, "fuzz-uuid", "registerPlugin", plugin.get());
    plugin->SetConnectionManager(connection.get());
  }
  ~PluginUnderTest() {
    plugin.reset();
    connection.reset();
  }

  std::unique_ptr<MyPaneloxPlugin> plugin;
  std::unique_ptr<PnxConnectionManager> connection;
};

}  // namespace fuzz
