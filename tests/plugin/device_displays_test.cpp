// What a device shows when the inspector's preview, its edits and state keys meet, end to end. (Orders of
// presses, looks, inspectors and unplugging are the model test's.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/vendor_properties.h"
#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const char kTwo[] = R"({"frame": {"width": 64, "height": 36}, "devices": [
    {"layout": 5, "sources": [4, 4, 4, 4]}, {"number": 2, "layout": 6, "sources": [2, 2, 2, 2]}]})";

json Entry(uint32_t layout, int input) {
  return json{{"multiViewLayout", layout}, {"multiViewSources", {input, input, input, input}}};
}
// Settings naming device d (0 or 1) with layout and every place on input.
json On(int d, uint32_t layout, int input, bool showState = false) {
  json devices = json::array({json::object(), json::object()});
  devices[d] = Entry(layout, input);
  json settings = {{"currentDevice", d == 0 ? "Brelvon" : "Brelvon 2"}, {"devices", devices}};
  if (showState) settings["showState"] = true;
  return settings;
}

class WhatDevicesShow : public PluginProcessFixture {
 protected:
  // What the plug-in sent while handling everything sent so far.
  std::vector<json> Before() {
    std::vector<json> before;
    Handled(&before);
    return before;
  }

  // What device 1 shows: its configured state with every successful write applied.
  std::pair<std::string, std::string> ShowsFirst() {
    std::pair<std::string, std::string> shown{"05000000", "4444000000000000"};
    for (const json& line : TraceOf(kNode1, "set")) {
      if (line.value("hr", -1) != 0) continue;
      (line.value("id", 0) == 631 ? shown.first : shown.second) = line.value("data", "");
    }
    return shown;
  }
};

// The images go to the key whose open inspector asked for them, from its device; a state key of the device the edit leaves is drawn anew. (That two
// "propertyInspectorDidAppear" and one "propertyInspectorDidDisappear" close an inspector is the model test's.)
TEST_F(WhatDevicesShow, ImagesGoToTheKeyThatAskedAndTheLeftDevicesStateKeyIsRedrawn) {
  Start(kTwo);
  SettingsAfter(WithSettings("willAppear", "B", On(1, 100, 1)));
  SettingsAfter(WithSettings("willAppear", "S", On(0, 5, 4, true)));

  // B's inspector opens and asks for images: they come to B, from device 2.
  const size_t mark = TraceSize();
  m_host.Send(Event("propertyInspectorDidAppear", "B"));
  m_host.Send(Event("sendToPlugin", "B", json{{"method", "startSendingImages"}, {"imageWidth", 16}, {"imageHeight", 9}}));
  const json image = m_host.WaitFor(IsImage);
  ASSERT_TRUE(image.is_object());
  EXPECT_EQ(image["context"], "B");
  const auto states = TraceOf(kNode2, "state", mark);
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.back()["state"], "running");

  // The edit moves from device 1 to device 2 and back: device 1's state key is drawn each time device 1 changes.
  m_host.Send(WithSettings("didReceiveSettings", "B", On(0, 0, 3)));
  m_host.Send(WithSettings("didReceiveSettings", "B", On(1, 0, 3)));
  int drawings = 0;
  for (const json& m : Before()) drawings += m.value("event", "") == "setImage" && m.value("context", "") == "S";
  EXPECT_EQ(drawings, 2);
  EXPECT_EQ(ShowsFirst(), (std::pair<std::string, std::string>{"05000000", "4444000000000000"}));
  m_host.Send(Event("propertyInspectorDidDisappear", "B"));
  Handled();
}

// A device with three inputs: a press completes, every place gets an input the device has, and the settings
// written back show what it got. (Host sources outside 1..inputs: the settings tests.)
TEST_F(WhatDevicesShow, ADeviceWithFewerInputsGetsOnlyInputsItHas) {
  Start(R"({"devices": [{"inputs": [1, 2, 3], "signal": [true, true, true, false]}]})");
  const json reply = SettingsAfter(WithSettings("keyUp", "K", json::object()));
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply["payload"]["devices"][0]["multiViewSources"], json({1, 2, 3, 3}));
  EXPECT_EQ(SetData(kNode1, 0), (std::vector<std::string>{"64000000", "2133000000000000"}));
}

}  // namespace
