// Sequences where the inspectors, the keys and the devices' owners once disagreed, each run in process against
// the recording fakes; the model-based test finds such orders at random, these keep the known ones.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "plugin/my_panelox_plugin.h"
#include "tests/plugin/fake_ports.h"
#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;

namespace {

const char kSwitch[] = "com.brelvon.multiview.switch";
const char kPeek[] = "com.brelvon.multiview.peek";

json On(int d, uint32_t layout, std::vector<int> sources, bool showState = false, bool toggle = false) {
  json devices = json::array({json::object(), json::object()});
  devices[d] = {{"multiViewLayout", layout}, {"multiViewSources", sources}, {"toggle", toggle}};
  json settings = {{"currentDevice", d == 0 ? "Brelvon" : "Brelvon 2"}, {"devices", devices}};
  if (showState) settings["showState"] = true;
  return settings;
}
json With(const json& settings) { return json{{"settings", settings}}; }

struct Owners {
  FakeDevices devices{{{DeviceState{5, 0x4444, true}, 4}, {DeviceState{6, 0x2222, true}, 3}}};
  FakeHost host;
  MyPaneloxPlugin plugin{devices, host};

  void Appear(const std::string& key, const json& settings) { plugin.OnWillAppear(kSwitch, key, With(settings), "P"); }
  void Press(const std::string& key, const json& settings) { plugin.OnKeyUp(kSwitch, key, With(settings), "P"); }
  void Edit(const std::string& key, const json& settings) {
    plugin.OnDidReceiveSettings(kSwitch, key, With(settings), "P");
  }
  void Open(const std::string& key) { plugin.OnPropertyInspectorDidAppear(kSwitch, key, "P"); }
  void Close(const std::string& key) { plugin.OnPropertyInspectorDidDisappear(kSwitch, key, "P"); }
  void Ask(const std::string& key, const char* method) {
    plugin.OnSendToPlugin(kSwitch, key, json{{"method", method}, {"imageWidth", 16}, {"imageHeight", 9}}, "P");
  }
  void Plug(int d, bool in) {
    devices.Plug(d, in);
    plugin.DevicesChanged();
  }
  uint64_t Sources(int d) const { return devices.Shows(d).sources; }
  // The last image a key was sent, read back.
  Drawn Image(const std::string& key) {
    std::string image;
    for (const json& m : host.sent) {
      if (m["event"] == "setImage" && m["context"] == key) image = m["image"];
    }
    return image.empty() ? Drawn() : ReadStateImage(image);
  }
  // The reports ("deviceStatus", "inputSignals") sent to each key since the last call, as "key report".
  std::vector<std::string> Reports() {
    std::vector<std::string> reports;
    for (const json& m : host.Take()) {
      if (m["event"] != "sendToPropertyInspector") continue;
      reports.push_back(m["context"].get<std::string>() + " " + m["payload"].begin().key());
    }
    return reports;
  }
};

TEST(Owners, KnownFaultsStayFixed) {
  struct Case {
    const char* fault;
    std::function<void(Owners&)> run;
  };
  const Case cases[] = {
      {"a plug-in started later takes the newest names any key carries and gives them to the older copies",
       [](Owners& o) {
         auto named = [](const char* name, int stamp) {
           json settings = On(0, 100, {1, 2, 3, 4});
           settings["devices"][0]["inputNames"] = {name};
           settings["devices"][0]["inputNamesStamp"] = stamp;
           return settings;
         };
         o.Appear("N", On(1, 100, {1, 2, 3, 3}));
         o.Appear("A", named("Cam", 5));
         o.Appear("B", named("Old", 2));
         o.Appear("C", named("New", 7));
         std::map<std::string, json> written;
         for (const json& m : o.host.sent) {
           if (m["event"] == "setSettings") written[m["context"]] = m["settings"]["devices"][0];
         }
         EXPECT_FALSE(written["N"].contains("inputNames")) << "a key of a device without names gets none";
         for (const char* key : {"A", "B", "C"}) {
           EXPECT_EQ(written[key]["inputNames"], json({"New"})) << key;
           EXPECT_EQ(written[key]["inputNamesStamp"], 7) << key;
         }
       }},
      {"a plug-in started later learns the lock from a lock key; presses then change nothing on the device",
       [](Owners& o) {
         o.plugin.OnWillAppear(kLockAction, "L", With(json{{"currentDevice", "Brelvon"}, {"locked", true}}), "P");
         o.devices.requests.clear();
         o.Press("T", On(0, 7, {1, 2, 3, 4}, true, true));
         for (const std::string& request : o.devices.requests) EXPECT_EQ(request.rfind("get", 0), 0u) << request;
         json written;
         for (const json& m : o.host.sent) {
           if (m["event"] == "setSettings" && m["context"] == "T") written = m["settings"];
         }
         EXPECT_EQ(written["devices"][0]["multiViewSources"], json({1, 2, 3, 4})) << "the toggle moved";
         EXPECT_TRUE(o.Image("T").locked);
         o.plugin.OnKeyUp(kLockAction, "L", With(json{{"currentDevice", "Brelvon"}, {"locked", true}}), "P");
         EXPECT_TRUE(o.devices.requests.empty() || o.devices.requests.back().rfind("get", 0) == 0);
         EXPECT_FALSE(o.Image("T").locked);
       }},
      {"a settings change of a key whose inspector is not open changes its settings only",
       [](Owners& o) {
         o.Appear("A", On(0, 100, {1, 2, 3, 4}));
         o.Appear("B", On(1, 100, {1, 1, 1, 1}));
         o.Press("A", On(0, 100, {1, 2, 3, 4}));
         o.Open("B");
         o.Edit("B", On(1, 7, {3, 3, 3, 3}));
         o.Edit("A", On(0, 0, {2, 2, 2, 2}));  // A's page, just closed, sends its last change
         EXPECT_EQ(o.devices.Shows(0).layout, 100u);
         EXPECT_EQ(o.Sources(0), 0x4321u);
         EXPECT_EQ(o.Sources(1), 0x3333u) << "the open inspector's edit was taken off its device";
         EXPECT_EQ(o.host.sent.back()["event"], "setSettings");
       }},
      {"a key is live after its own toggle press and a press fitted to three inputs",
       [](Owners& o) {
         o.Appear("T", On(0, 100, {1, 2, 3, 4}, true, true));
         o.Press("T", On(0, 100, {1, 2, 3, 4}, true, true));
         EXPECT_EQ(o.Sources(0), 0x4322u);
         EXPECT_TRUE(o.Image("T").live);
         o.Appear("F", On(1, 100, {4, 4, 4, 4}, true));
         o.Press("F", On(1, 100, {4, 4, 4, 4}, true));
         EXPECT_TRUE(o.Image("F").live);
       }},
      {"a key that appeared while its device was away is live once pressed after it is back",
       [](Owners& o) {
         o.Plug(1, false);
         o.Appear("K", On(1, 7, {1, 2, 3, 3}, true));
         EXPECT_TRUE(o.Image("K").absent);
         o.Plug(1, true);
         EXPECT_FALSE(o.Image("K").live);
         o.Press("K", On(1, 7, {1, 2, 3, 3}, true));
         EXPECT_TRUE(o.Image("K").live);
       }},
      {"the preview shows the device the key names, nothing while it is away, and starts when it is back",
       [](Owners& o) {
         o.Plug(1, false);
         o.Appear("K", On(1, 100, {1, 2, 3, 3}));
         o.Open("K");
         o.Ask("K", "startSendingImages");
         EXPECT_EQ(o.devices.ImagesTo(), "");
         o.Plug(1, true);
         EXPECT_EQ(o.devices.ImagesTo(), "K");
         EXPECT_EQ(o.devices.PreviewDevice(), 1);
       }},
      {"no images after stop, nor after the only inspector closed, when an edit moves",
       [](Owners& o) {
         o.Appear("K", On(0, 100, {1, 2, 3, 4}));
         o.Open("K");
         o.Ask("K", "startSendingImages");
         EXPECT_EQ(o.devices.ImagesTo(), "K");
         o.Ask("K", "stopSendingImages");
         o.Edit("K", On(1, 100, {1, 2, 3, 3}));
         EXPECT_EQ(o.devices.ImagesTo(), "");
         o.Close("K");
         o.Edit("K", On(0, 100, {1, 2, 3, 4}));
         EXPECT_EQ(o.devices.ImagesTo(), "");
       }},
      {"a second inspector that comes and goes leaves the images, and the stop, to the first",
       [](Owners& o) {
         o.Appear("A", On(0, 100, {1, 2, 3, 4}));
         o.Appear("B", On(0, 100, {1, 2, 3, 4}));
         o.Open("A");
         o.Ask("A", "startSendingImages");
         o.Open("B");
         EXPECT_EQ(o.devices.ImagesTo(), "B");
         o.Close("B");
         EXPECT_EQ(o.devices.ImagesTo(), "A");
         o.Ask("A", "stopSendingImages");
         EXPECT_EQ(o.devices.ImagesTo(), "");
       }},
      {"a status request just before the inspector appears is followed up",
       [](Owners& o) {
         o.Appear("K", On(0, 100, {1, 2, 3, 4}));
         o.Ask("K", "getDeviceStatus");
         o.Open("K");
         o.Reports();
         o.Plug(1, false);
         EXPECT_EQ(o.Reports(), std::vector<std::string>{"K deviceStatus"});
       }},
      {"after a swap, reports go to the inspector that is open and asked",
       [](Owners& o) {
         o.Open("A");
         o.Ask("A", "getDeviceStatus");
         o.Open("B");
         o.Ask("B", "getDeviceStatus");
         o.Close("A");
         o.Reports();
         o.devices.Signal(0, {false, true, true, true});
         o.host.Tick();
         o.Plug(1, false);
         EXPECT_EQ(o.Reports(), (std::vector<std::string>{"B inputSignals", "B inputSignals", "B deviceStatus"}));
       }},
      {"unchecking the state on a key with fewer than four sources gives its default image back",
       [](Owners& o) {
         o.Appear("K", On(0, 7, {1, 2}, true));
         o.host.Take();
         o.Edit("K", On(0, 7, {1, 2}));
         ASSERT_FALSE(o.host.sent.empty());
         EXPECT_EQ(o.host.sent.back(), (json{{"event", "setImage"}, {"context", "K"}, {"image", ""}}));
       }},
      {"a device that appears is drawn with its inputs' signals",
       [](Owners& o) {
         o.Plug(1, false);
         o.Appear("K", On(1, 100, {1, 2, 3, 3}, true));
         o.Plug(1, true);
         EXPECT_EQ(o.Image("K").places, (std::vector<std::string>{"2", "2", "2", "2"}));
       }},
      {"closing one of two inspectors leaves the other's edit and preview",
       [](Owners& o) {
         o.Appear("A", On(0, 100, {1, 2, 3, 4}));
         o.Appear("B", On(1, 100, {1, 2, 3, 3}));
         o.Open("A");
         o.Edit("A", On(0, 7, {3, 3, 3, 3}));
         o.Open("B");
         o.Ask("B", "startSendingImages");
         o.Edit("B", On(1, 7, {1, 1, 1, 1}));
         o.Close("A");
         EXPECT_EQ(o.Sources(0), 0x4444u) << "A's edit stays after A closed";
         EXPECT_EQ(o.Sources(1), 0x1111u);
         EXPECT_EQ(o.devices.ImagesTo(), "B");
       }},
      {"a drawn key follows a signal lost while no inspector is open",
       [](Owners& o) {
         o.Appear("K", On(0, 100, {1, 2, 3, 4}, true));
         o.Press("K", On(0, 100, {1, 2, 3, 4}, true));
         o.devices.Signal(0, {true, false, true, true});
         o.host.Tick();
         EXPECT_EQ(o.Image("K").places, (std::vector<std::string>{"1", "2!", "3", "4"}));
       }},
      {"a replugged device switched off meanwhile is given what it should show",
       [](Owners& o) {
         o.Press("K", On(0, 7, {2, 2, 2, 2}));
         o.devices.Plug(0, false);
         o.plugin.DevicesChanged();
         o.devices.Plug(0, true, true);
         o.plugin.DevicesChanged();
         EXPECT_EQ(o.devices.Shows(0).layout, 7u);
         EXPECT_EQ(o.Sources(0), 0x2222u);
       }},
      {"a layout pressed alone before the device was ever read comes back after a replug switched off",
       [](Owners& o) {
         o.Press("K", On(1, 7, {2}));
         EXPECT_EQ(o.devices.Shows(1).layout, 7u);
         o.Plug(1, false);
         o.devices.Plug(1, true, true);
         o.plugin.DevicesChanged();
         EXPECT_EQ(o.devices.Shows(1).layout, 7u);
         // A look and its release on top of it put back the pressed layout, not what was read under the look.
         o.plugin.OnKeyDown(kPeek, "L", With(On(1, 9, {3, 3, 3, 3})), "P");
         o.Plug(1, false);
         o.devices.Plug(1, true, true);
         o.plugin.DevicesChanged();
         o.plugin.OnKeyUp(kPeek, "L", With(On(1, 9, {3, 3, 3, 3})), "P");
         EXPECT_EQ(o.devices.Shows(1).layout, 7u);
       }},
      {"an edit after one made while the device was away is taken back at the close",
       [](Owners& o) {
         o.Appear("A", On(0, 100, {1, 2, 3, 4}));
         o.Plug(0, false);
         o.Open("A");
         o.Edit("A", On(0, 7, {3, 3, 3, 3}));
         o.Close("A");
         o.devices.Plug(0, true, true);
         o.plugin.DevicesChanged();
         o.Open("A");
         o.Edit("A", On(0, 0, {2, 4, 1, 2}));
         EXPECT_EQ(o.Sources(0), 0x2142u);
         o.Close("A");
         EXPECT_EQ(o.devices.Shows(0).layout, 5u);
         EXPECT_EQ(o.Sources(0), 0x4444u);
       }},
      {"a look released before any press puts back what the device showed",
       [](Owners& o) {
         o.plugin.OnKeyDown(kPeek, "L", With(On(0, 9, {3, 3, 3, 3})), "P");
         EXPECT_EQ(o.Sources(0), 0x3333u);
         o.plugin.OnKeyUp(kPeek, "L", With(On(0, 9, {3, 3, 3, 3})), "P");
         EXPECT_EQ(o.devices.Shows(0).layout, 5u);
         EXPECT_EQ(o.Sources(0), 0x4444u);
       }},
      {"a switch press while a look is held shows at once and ends the look",
       [](Owners& o) {
         o.plugin.OnKeyDown(kPeek, "L", With(On(0, 9, {3, 3, 3, 3})), "P");
         o.Press("K", On(0, 7, {2, 2, 2, 2}));
         EXPECT_EQ(o.Sources(0), 0x2222u);
         o.plugin.OnKeyUp(kPeek, "L", With(On(0, 9, {3, 3, 3, 3})), "P");
         EXPECT_EQ(o.Sources(0), 0x2222u);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Owners owners;
    c.run(owners);
  }
}

}  // namespace
