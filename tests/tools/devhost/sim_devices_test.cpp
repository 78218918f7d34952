// pnx-devhost's device control: what the panel asks for.
#include "tools/devhost/sim_devices.h"

#include <stdlib.h>

#include <gtest/gtest.h>

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
}

TEST(SimDevices, WithoutConfigurationOffersTheDefaultDevice) {
  SimDevices sim(TempControl(), "");
  ASSERT_EQ(sim.State().size(), 1u);
  EXPECT_EQ(sim.State()[0]["number"], 1);
}

}  // namespace
