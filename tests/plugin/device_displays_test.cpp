// What a device shows when presses, held looks, the inspector, state keys and unplugging meet, end to end:
// each case is an order of events that once left a device or a key out of step with what the operator did.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/vendor_properties.h"
#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const char kPeek[] = "com.brelvon.multiview.peek";
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
  void StartTwo(const std::string& control = "{}", const char* devices = kTwo) {
    Options options;
    options.control = control;
    Start(devices, options);
  }

  // What the plug-in sent while handling everything sent so far.
  std::vector<json> Before() {
    std::vector<json> before;
    Handled(&before);
    return before;
  }

  // What the device of `node` shows: its configured state with every successful write applied.
  std::pair<std::string, std::string> Shows(const std::string& node, const std::string& layout,
                                            const std::string& sources) {
    std::pair<std::string, std::string> shown{layout, sources};
    for (const json& line : TraceOf(node, "set")) {
      if (line.value("hr", -1) != 0) continue;
      (line.value("id", 0) == 631 ? shown.first : shown.second) = line.value("data", "");
    }
    return shown;
  }
  std::pair<std::string, std::string> ShowsFirst() { return Shows(kNode1, "05000000", "4444000000000000"); }

};

const std::pair<std::string, std::string> kPressed = {"07000000", "1111000000000000"};

// A held look outlives an inspector that closes meanwhile, and the last press shows once the look ends. (Every
// other order of presses, looks and inspector edits is the model test's.)
TEST_F(WhatDevicesShow, AnInspectorClosingLeavesAHeldLookInPlace) {
  StartTwo();
  const json lookDown = WithSettings("keyDown", "L", On(0, 9, 3), kPeek);
  const json appear = Event("propertyInspectorDidAppear", "I");
  const json close = Event("propertyInspectorDidDisappear", "I");
  const struct {
    const char* name;
    std::vector<json> events;
  } cases[] = {
      {"edit, look, inspector closed", {appear, WithSettings("didReceiveSettings", "I", On(0, 0, 2)), lookDown, close}},
      {"look held while an inspector opens and closes without an edit", {lookDown, appear, close}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsAfter(WithSettings("willAppear", "I", On(0, 100, 1)));
    m_host.Send(WithSettings("keyUp", "S", On(0, 7, 1)));
    for (const json& event : c.events) m_host.Send(event);
    Handled();
    EXPECT_EQ(ShowsFirst().first, "09000000");
    m_host.Send(WithSettings("keyUp", "L", On(0, 9, 3), kPeek));
    Handled();
    EXPECT_EQ(ShowsFirst(), kPressed);
    m_host.Send(WithSettings("keyUp", "S", On(0, 5, 4)));
    Handled();
  }
}

// With "Brelvon" away, the inspector and the preview of "Brelvon 2" work, and nothing reaches the absent device.
// (Presses and write-backs with a device away are the model test's and the settings tests'.)
TEST_F(WhatDevicesShow, DevicesAreFoundByNumberWhicheverArePluggedIn) {
  StartTwo(R"({"unplugged": [1]})");
  SettingsAfter(WithSettings("willAppear", "K", On(1, 7, 1)));
  m_host.Send(Event("propertyInspectorDidAppear", "K"));
  m_host.Send(Event("sendToPlugin", "K", json{{"method", "startSendingImages"}, {"imageWidth", 16}, {"imageHeight", 9}}));
  EXPECT_TRUE(m_host.WaitForEvent("sendToPropertyInspector").is_object());
  SettingsAfter(WithSettings("didReceiveSettings", "K", On(1, 0, 3)));
  EXPECT_EQ(Shows(kNode2, "", "").first, "00000000");
  EXPECT_TRUE(TraceOf(kNode1, "set").empty());
}

// An edit made while the device is away reaches it when it is back, and a key of an absent device says so
// instead of showing the last picture or the default image. (Looks and inspectors that end while a device is
// away are the model test's.)
TEST_F(WhatDevicesShow, WhatHappensWhileADeviceIsAwayReachesItWhenItIsBack) {
  StartTwo();
  SettingsAfter(WithSettings("willAppear", "S", On(0, 7, 1, true)));
  SettingsAfter(WithSettings("keyUp", "S", On(0, 7, 1, true)));
  m_host.Send(Event("propertyInspectorDidAppear", "I"));
  Handled();
  Control(R"({"unplugged": [1]})");
  ASSERT_TRUE(WaitUntil([&] { return Handled().size() == 1; }));
  m_host.Send(WithSettings("didReceiveSettings", "I", On(0, 2, 3)));
  // The state key appears again while away (a page switch): it still says the device is away.
  m_host.Send(WithSettings("willAppear", "S", On(0, 7, 1, true)));
  const auto drawnAbsent = [](const std::vector<json>& messages) {
    std::vector<bool> absent;
    for (const json& m : messages) {
      if (m.value("event", "") != "setImage" || m.value("context", "") != "S") continue;
      absent.push_back(ReadStateImage(m["payload"]["image"]).absent);
    }
    return absent;
  };
  const std::vector<bool> away = drawnAbsent(Before());
  EXPECT_FALSE(away.empty());
  EXPECT_EQ(std::count(away.begin(), away.end(), false), 0);
  const size_t mark = TraceSize();
  Control(R"({"unplugged": [], "switchedOff": true})");
  ASSERT_TRUE(WaitUntil([&] { return !TraceOf(kNode1, "set", mark).empty(); }));
  const std::vector<bool> back = drawnAbsent(Before());
  ASSERT_FALSE(back.empty());
  EXPECT_FALSE(back.back());
  EXPECT_EQ(ShowsFirst(), (std::pair<std::string, std::string>{"02000000", "3333000000000000"}));
}

// The images go to the key that asked for them, from its device, whichever of the request and the inspector's
// "propertyInspectorDidAppear" comes first; a state key of the device the edit leaves is drawn anew. (That two
// "propertyInspectorDidAppear" and one "propertyInspectorDidDisappear" close an inspector is the model test's.)
TEST_F(WhatDevicesShow, ImagesGoToTheKeyThatAskedAndTheLeftDevicesStateKeyIsRedrawn) {
  StartTwo();
  SettingsAfter(WithSettings("willAppear", "B", On(1, 100, 1)));
  SettingsAfter(WithSettings("willAppear", "S", On(0, 5, 4, true)));

  // B asks for images before its inspector is announced: they come to B, from device 2.
  const size_t mark = TraceSize();
  m_host.Send(Event("sendToPlugin", "B", json{{"method", "startSendingImages"}, {"imageWidth", 16}, {"imageHeight", 9}}));
  m_host.Send(Event("propertyInspectorDidAppear", "B"));
  const json image = m_host.WaitForEvent("sendToPropertyInspector");
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
// written back show what it got, with the toggle step too. (Host sources outside 1..inputs: the settings tests.)
TEST_F(WhatDevicesShow, ADeviceWithFewerInputsGetsOnlyInputsItHas) {
  StartTwo("{}", R"({"devices": [{"inputs": [1, 2, 3], "signal": [true, true, true, false]}]})");
  const struct {
    json settings;
    json written;
    const char* sent;
  } cases[] = {
      {json::object(), {1, 2, 3, 3}, "2133000000000000"},
      {json{{"devices", {{{"multiViewSources", {3, 4, 4, 4}}, {"toggle", true}}}}}, {1, 3, 3, 3}, "3133000000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.dump());
    const size_t mark = TraceSize();
    const json reply = SettingsAfter(WithSettings("keyUp", "K", c.settings));
    ASSERT_TRUE(reply.is_object());
    EXPECT_EQ(reply["payload"]["devices"][0]["multiViewSources"], c.written);
    EXPECT_EQ(SetData(kNode1, mark), (std::vector<std::string>{"64000000", c.sent}));
  }
}

}  // namespace
