// What a device shows when presses, held looks, the inspector, state keys and unplugging meet, end to end:
// each case is an order of events that once left a device or a key out of step with what the operator did.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <websocketpp/base64/base64.hpp>

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

  // Waits until the plug-in has handled everything sent so far; the messages before the answer are kept. Each
  // request has a context of its own: an open inspector has later device changes reported to the last asker.
  std::vector<json> Handled() {
    std::vector<json> before;
    const std::string sync = "SYNC" + std::to_string(++m_syncs);
    m_host.Send(Event("sendToPlugin", sync, json{{"method", "getDeviceStatus"}}));
    const json reply = m_host.WaitFor([&](const json& m) {
      const bool answer = m.value("context", "") == sync && m.value("event", "") == "sendToPropertyInspector";
      if (!answer) before.push_back(m);
      return answer;
    });
    EXPECT_TRUE(reply.is_object());
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

  // Plugs devices out or in through the control file and waits until the plug-in has seen it.
  void Unplugged(const std::string& numbers, size_t detected) {
    Control(R"({"unplugged": [)" + numbers + "]}");
    ASSERT_TRUE(WaitUntil([&] {
      const std::string sync = "SYNC" + std::to_string(++m_syncs);
      m_host.Send(Event("sendToPlugin", sync, json{{"method", "getDeviceStatus"}}));
      const json reply = m_host.WaitFor([&](const json& m) { return m.value("context", "") == sync; });
      return reply.is_object() && reply["payload"]["deviceStatus"]["detected"].size() == detected;
    }));
  }

  int m_syncs = 0;
};

const std::pair<std::string, std::string> kPressed = {"07000000", "1111000000000000"};

// Every order ends on the last press once no look is held and no inspector is open, and a look lasts exactly
// as long as its key is held.
TEST_F(WhatDevicesShow, LooksAndTheInspectorNeverUndoEachOther) {
  StartTwo();
  const json press = WithSettings("keyUp", "S", On(0, 7, 1));
  const json lookDown = WithSettings("keyDown", "L", On(0, 9, 3), kPeek);
  const json lookUp = WithSettings("keyUp", "L", On(0, 9, 3), kPeek);
  const json appear = Event("propertyInspectorDidAppear", "I");
  const json edit = WithSettings("didReceiveSettings", "I", On(0, 0, 2));
  const json close = Event("propertyInspectorDidDisappear", "I");
  const struct {
    const char* name;
    std::vector<json> events;
    const char* lookStillShown;  // after these, before the last event (the look's release), or null
  } cases[] = {
      {"press, look, edit, look released, inspector closed", {press, lookDown, appear, edit, lookUp, close}, nullptr},
      {"press, edit, look, inspector closed, look released", {press, appear, edit, lookDown, close, lookUp},
       "09000000"},
      {"look held while an inspector opens and closes without an edit", {press, lookDown, appear, close, lookUp},
       "09000000"},
      {"press while a look is held", {lookDown, press, lookUp}, nullptr},
      {"edit, then press during it", {appear, edit, press, close}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsAfter(WithSettings("willAppear", "I", On(0, 100, 1)));
    for (size_t i = 0; i + 1 < c.events.size(); ++i) m_host.Send(c.events[i]);
    Handled();
    if (c.lookStillShown) {
      EXPECT_EQ(ShowsFirst().first, c.lookStillShown);
    }
    m_host.Send(c.events.back());
    Handled();
    EXPECT_EQ(ShowsFirst(), kPressed);
    // Back to a plain device for the next order.
    m_host.Send(WithSettings("keyUp", "S", On(0, 5, 4)));
    Handled();
  }
}

// With "Brelvon" away, keys, the inspector and the preview of "Brelvon 2" work, and the entry of the absent
// device goes back as stored.
TEST_F(WhatDevicesShow, DevicesAreFoundByNumberWhicheverArePluggedIn) {
  StartTwo(R"({"unplugged": [1]})");
  json stored = On(1, 7, 1);
  stored["devices"][0] = json{{"multiViewLayout", 3}, {"note", "kept"}};
  const json reply = SettingsAfter(WithSettings("keyUp", "K", stored));
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply["payload"]["devices"][0], stored["devices"][0]);
  EXPECT_EQ(Shows(kNode2, "", "").first, "07000000");

  SettingsAfter(WithSettings("willAppear", "K", stored));
  m_host.Send(Event("propertyInspectorDidAppear", "K"));
  m_host.Send(Event("sendToPlugin", "K", json{{"method", "startSendingImages"}, {"imageWidth", 16}, {"imageHeight", 9}}));
  EXPECT_TRUE(m_host.WaitForEvent("sendToPropertyInspector").is_object());
  SettingsAfter(WithSettings("didReceiveSettings", "K", On(1, 0, 3)));
  EXPECT_EQ(Shows(kNode2, "", "").first, "00000000");
  EXPECT_TRUE(TraceOf(kNode1, "set").empty());
}

// A take-back or an edit made while the device is away reaches it when it is back, and a key of an absent
// device says so instead of showing the last picture or the default image.
TEST_F(WhatDevicesShow, WhatHappensWhileADeviceIsAwayReachesItWhenItIsBack) {
  StartTwo();
  SettingsAfter(WithSettings("willAppear", "S", On(0, 7, 1, true)));
  SettingsAfter(WithSettings("keyUp", "S", On(0, 7, 1, true)));
  const struct {
    const char* name;
    std::vector<json> whilePresent, whileAway;
    std::pair<std::string, std::string> back;
  } cases[] = {
      {"look released while away", {WithSettings("keyDown", "L", On(0, 9, 3), kPeek)},
       {WithSettings("keyUp", "L", On(0, 9, 3), kPeek)}, kPressed},
      {"inspector closed while away",
       {Event("propertyInspectorDidAppear", "I"), WithSettings("didReceiveSettings", "I", On(0, 0, 2))},
       {Event("propertyInspectorDidDisappear", "I")}, kPressed},
      {"edit made while away", {Event("propertyInspectorDidAppear", "I")},
       {WithSettings("didReceiveSettings", "I", On(0, 2, 3))}, {"02000000", "3333000000000000"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const json& event : c.whilePresent) m_host.Send(event);
    Handled();
    Unplugged("1", 1);
    for (const json& event : c.whileAway) m_host.Send(event);
    // The state key appears again while away (a page switch): it still says the device is away.
    m_host.Send(WithSettings("willAppear", "S", On(0, 7, 1, true)));
    bool saysAway = false;
    for (const json& m : Handled()) {
      if (m.value("event", "") != "setImage" || m.value("context", "") != "S") continue;
      const std::string image = m["payload"]["image"];
      EXPECT_NE(image, "");
      saysAway = websocketpp::base64_decode(image.substr(26)).find("state absent") != std::string::npos;
    }
    EXPECT_TRUE(saysAway);
    const size_t mark = TraceSize();
    Control(R"({"unplugged": [], "switchedOff": true})");
    ASSERT_TRUE(WaitUntil([&] { return !TraceOf(kNode1, "set", mark).empty(); }));
    bool drawnBack = false;
    for (const json& m : Handled()) {
      if (m.value("event", "") == "setImage" && m.value("context", "") == "S") {
        drawnBack = websocketpp::base64_decode(m["payload"]["image"].get<std::string>().substr(26))
                        .find("state absent") == std::string::npos;
      }
    }
    EXPECT_TRUE(drawnBack);
    EXPECT_EQ(ShowsFirst(), c.back);
    m_host.Send(Event("propertyInspectorDidDisappear", "I"));
    m_host.Send(WithSettings("keyUp", "S", On(0, 7, 1, true)));
    Handled();
  }
}

// Two "propertyInspectorDidAppear" for one key and one "propertyInspectorDidDisappear" close it; the images
// go to the key that asked for them, from its device, whichever of the two events comes first; a state key of
// the device the edit leaves is drawn anew.
TEST_F(WhatDevicesShow, TheInspectorIsCountedByKeysAndItsImagesGoToTheKeyThatAsked) {
  StartTwo();
  SettingsAfter(WithSettings("willAppear", "A", On(0, 100, 1)));
  SettingsAfter(WithSettings("willAppear", "B", On(1, 100, 1)));
  SettingsAfter(WithSettings("willAppear", "S", On(0, 5, 4, true)));
  m_host.Send(Event("propertyInspectorDidAppear", "A"));
  m_host.Send(Event("propertyInspectorDidAppear", "A"));
  SettingsAfter(WithSettings("didReceiveSettings", "A", On(0, 0, 2)));
  m_host.Send(Event("propertyInspectorDidDisappear", "A"));
  Handled();
  EXPECT_EQ(ShowsFirst(), (std::pair<std::string, std::string>{"05000000", "4444000000000000"}));

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
  for (const json& m : Handled()) drawings += m.value("event", "") == "setImage" && m.value("context", "") == "S";
  EXPECT_EQ(drawings, 2);
  EXPECT_EQ(ShowsFirst(), (std::pair<std::string, std::string>{"05000000", "4444000000000000"}));
  m_host.Send(Event("propertyInspectorDidDisappear", "B"));
  Handled();
}

// A device with three inputs: a press completes, every place gets an input the device has, and the settings
// written back show what it got; sources from the host outside 1..inputs are fitted the same way.
TEST_F(WhatDevicesShow, ADeviceWithFewerInputsGetsOnlyInputsItHas) {
  StartTwo("{}", R"({"devices": [{"inputs": [1, 2, 3], "signal": [true, true, true, false]}]})");
  const struct {
    json settings;
    json written;
    const char* sent;
  } cases[] = {
      {json::object(), {1, 2, 3, 3}, "2133000000000000"},
      {json{{"devices", {{{"multiViewSources", {0, 16, -1, 2}}}}}}, {1, 3, 1, 2}, "3121000000000000"},
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
