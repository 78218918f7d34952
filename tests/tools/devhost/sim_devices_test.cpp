// pnx-devhost's device control: what the panel asks for, and that the emulator reads the file it writes.
#include "tools/devhost/sim_devices.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "platform/emulator/emulator_state.h"
#include "platform/emulator_control.h"

namespace {

using nlohmann::json;

std::string TempControl() {
  char base[] = "/tmp/pnx-sim-XXXXXX";
  return std::string(mkdtemp(base)) + "/control.json";
}

TEST(SimDevices, AppliesPanelRequestsAndRefusesTheRest) {
  const std::string path = TempControl();
  SimDevices sim(path, R"({"devices": [{"signal": [true, false]}, {"number": 3}]})");
  EXPECT_EQ(sim.State(), json::parse(R"([{"number": 1, "plugged": true, "signal": [true, false, true, true]},
                                        {"number": 3, "plugged": true, "signal": [true, true, true, true]}])"));
  struct Case {
    const char* message;
    bool applied;
  };
  const Case cases[] = {
      {R"({"event": "plugDevice", "device": 3, "plugged": false})", true},
      {R"({"event": "setSignal", "device": 1, "input": 4, "signal": false})", true},
      {R"({"event": "plugDevice", "device": 2, "plugged": false})", false},   // no such device
      {R"({"event": "setSignal", "device": 1, "input": 5, "signal": true})", false},
      {R"({"event": "setSignal", "device": 1, "input": 1})", false},
      {R"({"event": "plugDevice", "device": 1, "plugged": "no"})", false},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(sim.Apply(json::parse(c.message), error), c.applied) << c.message;
  }
  EXPECT_EQ(sim.State()[1]["plugged"], false);
  EXPECT_EQ(sim.State()[0]["signal"], json({true, false, true, false}));

  // The emulator of a plug-in started with this control file sees the same.
  setenv("PNX_SIM_CONTROL", path.c_str(), 1);
  emulator::LoadConfigurationText(R"({"devices": [{"signal": [true, false]}, {"number": 3}]})");
  EXPECT_TRUE(emulator::DevicePresent(1));
  EXPECT_FALSE(emulator::DevicePresent(3));
  emulator::DeviceView view;
  ASSERT_TRUE(emulator::ReadDeviceView(1, &view));
  EXPECT_FALSE(view.signal[3]);
  unsetenv("PNX_SIM_CONTROL");
  emulator::UseEnvironmentConfiguration();
}

TEST(SimDevices, WithoutConfigurationOffersTheDefaultDevice) {
  SimDevices sim(TempControl(), "");
  ASSERT_EQ(sim.State().size(), 1u);
  EXPECT_EQ(sim.State()[0]["number"], 1);
}

}  // namespace
