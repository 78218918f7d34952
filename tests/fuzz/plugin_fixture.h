// What the plug-in targets share: the emulated devices they run against and a fresh plug-in per input.
// Single-threaded, as libFuzzer calls a target.
#pragma once

#include <cstdlib>
#include <memory>

#include "host/pnx_connection_manager.h"
#include "platform/emulator_control.h"
#include "plugin/my_panelox_plugin.h"

namespace fuzz {

// Runs feed(plugin) on a plug-in wired as the entry point does, over a connection that never opens: every answer
// is built (the JSON library checks its strings) and then dropped, with no socket involved. The devices are two
// emulated ones with small frames (so a running preview costs little per input), the second with one input
// less and a signal missing, so that completion, toggling and device switches meet both shapes. Each input
// starts from the configured device state, and once the plug-in is gone every COM object must be too.
template <typename Feed>
void WithFreshPlugin(Feed feed) {
  static const bool loaded = emulator::LoadConfigurationText(R"({
    "frame": {"width": 96, "height": 54, "fps": 60},
    "devices": [{"number": 1},
                {"number": 2, "inputs": [1, 2, 3], "signal": [true, false, true, true]}],
    "otherNodes": ["Integrated Camera"]})");
  (void)loaded;
  emulator::ResetDeviceStates();
  const long liveBefore = PnxLiveComObjectCount();
  {
    // Declared so that the plug-in goes first: destroying it stops the graph and releases every COM object.
    std::unique_ptr<PnxConnectionManager> connection;
    auto plugin = std::make_unique<MyPaneloxPlugin>();
    connection = std::make_unique<PnxConnectionManager>(1, "fuzz-uuid", "registerPlugin", plugin.get());
    plugin->SetConnectionManager(connection.get());
    feed(*plugin);
  }
  if (PnxLiveComObjectCount() != liveBefore) std::abort();
}

}  // namespace fuzz
