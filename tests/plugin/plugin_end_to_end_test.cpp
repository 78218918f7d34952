// The real executable against a loopback test host and the emulated device: host events in, device
// property requests (read back from the emulator's trace) and host commands out.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

std::string Packed(int a, int b, int c, int d) {
  char text[17];
  std::snprintf(text, sizeof(text), "%x%x%x%x000000000000", b & 15, a & 15, d & 15, c & 15);
  return text;
}

class PluginProcess : public PluginProcessFixture {
 protected:
  // The next "setImage" or "setSettings", whichever comes first.
  json NextImageOrSettings() {
    return m_host.WaitFor([](const json& m) {
      return m.value("event", "") == "setImage" || m.value("event", "") == "setSettings";
    });
  }
};

const char kTwoDevices[] = R"({"devices": [{"signal": [true, false, true, true]}, {"number": 2}]})";

// ---- settings read, completed and written back --------------------------------------------------------

TEST_F(PluginProcess, WillAppearWritesBackCompletedSettings) {
  Start(kTwoDevices);
  struct Case {
    const char* name;
    json settings;
    const char* expectedImage;  // null: no "setImage" before the "setSettings"
    std::string expected;       // "setSettings" payload text
  };
  const std::string twoEntries =
      "\"devices\":[{\"deviceName\":\"Brelvon\",\"inputHasSignal\":[true,false,true,true],"
      "\"multiViewLayout\":100,\"multiViewSources\":[1,2,3,4],\"toggle\":false},"
      "{\"deviceName\":\"Brelvon 2\",\"inputHasSignal\":[true,true,true,true],\"multiViewLayout\":100,"
      "\"multiViewSources\":[1,2,3,4],\"toggle\":false}]";
  const Case cases[] = {
      {"empty", json::object(), nullptr, "{\"currentDevice\":\"Brelvon\"," + twoEntries + ",\"icon\":\"\"}"},
      {"unknown device", json{{"currentDevice", "Brelvon 3"}, {"icon", "data:image/png;base64,AA=="}}, nullptr,
       "{\"currentDevice\":\"Brelvon 3\"," + twoEntries + ",\"icon\":\"data:image/png;base64,AA==\"}"},
      {"icon", json{{"currentDevice", "Brelvon 2"}, {"icon", "data:image/png;base64,QQ=="}},
       "data:image/png;base64,QQ==",
       "{\"currentDevice\":\"Brelvon 2\"," + twoEntries + ",\"icon\":\"data:image/png;base64,QQ==\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_host.Send(WithSettings("willAppear", std::string("CTX-") + c.name, c.settings));
    json first = NextImageOrSettings();
    if (c.expectedImage) {
      ASSERT_EQ(first.value("event", ""), "setImage");
      EXPECT_EQ(first.dump(), json({{"event", "setImage"}, {"context", std::string("CTX-") + c.name},
                                    {"payload", {{"image", c.expectedImage}, {"target", 0}}}}).dump());
      first = m_host.WaitForEvent("setSettings");
    }
    ASSERT_EQ(first.value("event", ""), "setSettings");
    EXPECT_EQ(first.value("context", ""), std::string("CTX-") + c.name);
    EXPECT_EQ(first["payload"].dump(), c.expected);
  }
}

// (Sources that are not numbers: ActionSettings.SourcesThatAreNotNumbersReadAsTheirPlace, read and written back.)
TEST_F(PluginProcess, AbsentDevicesKeepTheirEntriesAndSettingsThatAreNoObjectAreIgnored) {
  // Configured for three devices while one is plugged in: the entries of the two absent ones come back
  // exactly as stored, whichever event writes the settings back.
  Start(R"({"devices": [{}]})");
  const json absent = json::parse(R"([{"multiViewLayout": 7, "multiViewSources": [4, 3, 2, 1], "toggle": true,
      "deviceName": "Brelvon 2", "inputHasSignal": [true, false], "note": "kept"}, "junk"])");
  json stored = {{"devices", {{{"multiViewLayout", 3}}, absent[0], absent[1]}}};
  for (const char* event : {"willAppear", "keyUp", "didReceiveSettings"}) {
    SCOPED_TRACE(event);
    json reply = SettingsAfter(WithSettings(event, "A", stored));
    const json& devices = reply["payload"]["devices"];
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0]["multiViewLayout"], 3);
    EXPECT_EQ(devices[0]["deviceName"], "Brelvon");
    EXPECT_EQ(json(devices.begin() + 1, devices.end()), absent);
    stored = reply["payload"];
  }

  const size_t mark = TraceSize();
  m_host.Send(Event("willAppear", "C", json{{"settings", "not an object"}}));
  std::vector<json> before;
  Handled(&before);
  EXPECT_TRUE(before.empty());
  EXPECT_TRUE(SetsSince(mark).empty());
}

TEST_F(PluginProcess, AKeyWithoutSourcesOnATwoInputDeviceSaysWhatItsOtherPlacesShow) {
  Start(R"({"devices": [{"inputs": [1, 2], "sources": [2, 1, 4, 3]}]})");
  const json reply = SettingsAfter(WithSettings("willAppear", "A", json::object()));
  EXPECT_EQ(reply["payload"]["devices"][0]["multiViewSources"], json({1, 2, 4, 3}));
}

// ---- key presses -------------------------------------------------------------------------------------

TEST_F(PluginProcess, KeyUpAppliesLayoutAndSourcesWithTheToggleStep) {
  Start(R"({"devices": [{"signal": [true, false, false, true]}]})");
  // 2 -> 4 -> 1 -> 4 with signal on inputs 1 and 4, each press starting from what the previous one wrote back,
  // as the host would store it; the first source is sent back and written to the device after the layout.
  json stored = {{"devices", {{{"toggle", true}, {"multiViewLayout", 7}, {"multiViewSources", {2, 2, 3, 4}}}}}};
  for (const int first : {4, 1, 4}) {
    SCOPED_TRACE(first);
    const size_t before = TraceSize();
    stored = SettingsAfter(WithSettings("keyUp", "K", stored))["payload"];
    EXPECT_EQ(stored["devices"][0]["multiViewSources"], json({first, 2, 3, 4}));
    EXPECT_EQ(SetsSince(before),
              (std::vector<std::pair<int, std::string>>{{631, "07000000"}, {632, Packed(first, 2, 3, 4)}}));
  }
}

TEST_F(PluginProcess, ShortSourceListSendsLayoutOnly) {
  Start("");
  m_host.Send(WithSettings("keyUp", "K", json{{"devices", {{{"multiViewLayout", 0}, {"multiViewSources", {3, 1}}}}}}));
  m_host.Send(Event("keyUp", "K", json{{"settings", json{{"currentDevice", "Brelvon 2"}}}}));
  std::vector<json> before;
  Handled(&before);
  EXPECT_TRUE(before.empty());
  auto sets = PropertySets(Trace());
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0], std::make_pair(631, std::string("00000000")));
}

// ---- property inspector ------------------------------------------------------------------------------

TEST_F(PluginProcess, EditMovingToAnotherDeviceRestoresTheFirstAndFollowsWithThePreview) {
  Start(R"({"devices": [{"layout": 5, "sources": [4, 4, 4, 4]}, {"number": 2, "layout": 6, "sources": [2, 2, 2, 2]}]})");
  SettingsAfter(WithSettings("willAppear", "K1", json{{"currentDevice", "Brelvon 2"}}));
  m_host.Send(Event("propertyInspectorDidAppear", "K1"));
  m_host.Send(Event("sendToPlugin", "K1", json{{"method", "startSendingImages"}, {"imageWidth", 16}, {"imageHeight", 9}}));
  SettingsAfter(WithSettings("didReceiveSettings", "K1", json{{"currentDevice", "Brelvon 2"}}));
  // Another key appearing while the inspector is open does not take its place: an edit's icon goes to the
  // inspector's key.
  SettingsAfter(WithSettings("willAppear", "K9", json{{"currentDevice", "Brelvon 4"}}));
  size_t mark = TraceSize();
  m_host.Send(WithSettings("didReceiveSettings", "K1",
                           json{{"currentDevice", "Brelvon"}, {"icon", "ICON"}, {"devices", {{{"multiViewLayout", 0}}}}}));
  json image = NextImageOrSettings();
  EXPECT_EQ(image.value("event", ""), "setImage");
  EXPECT_EQ(image.value("context", ""), "K1");
  EXPECT_EQ(m_host.WaitForEvent("setSettings").value("context", ""), "K1");
  // Device 2 restored, device 1 read, then shown the edit; the preview graph now runs on device 1.
  EXPECT_EQ(SetData(kNode2, mark), (std::vector<std::string>{Packed(2, 2, 2, 2), "06000000"}));
  EXPECT_EQ(SetData(kNode1, mark), (std::vector<std::string>{"00000000", Packed(1, 2, 3, 4)}));
  auto states = TraceOf(kNode1, "state", mark);
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.back()["state"], "running");

  mark = TraceSize();
  m_host.Send(Event("propertyInspectorDidDisappear", "K1"));
  EXPECT_TRUE(PreviewStopsAfter(mark));
  EXPECT_TRUE(WaitUntil([&] { return TraceOf(kNode1, "set", mark).size() >= 2; }));
  Handled();  // no further write follows
  EXPECT_EQ(SetData(kNode1, mark), (std::vector<std::string>{Packed(4, 4, 4, 4), "05000000"}));
  EXPECT_TRUE(TraceOf(kNode2, "set", mark).empty());
}

// ---- preview -----------------------------------------------------------------------------------------

TEST_F(PluginProcess, PreviewImagesFollowTheRequestAndTheInspector) {
  Start("");
  m_host.Send(Event("propertyInspectorDidAppear", "P1"));
  const auto start = [](json request) {
    request["method"] = "startSendingImages";
    return request;
  };
  // Another method, a size without the method, and sizes that make no image send nothing.
  for (const json& request :
       {json{{"method", "other"}}, json{{"imageWidth", 160}}, start({{"imageHeight", -5}}),
        start({{"imageWidth", 1431655766}, {"imageHeight", 1}}),
        // a message a stock WebSocket host would refuse
        start({{"imageWidth", 1633}, {"imageHeight", 1633}})}) {
    SCOPED_TRACE(request.dump());
    m_host.Send(Event("sendToPlugin", "P1", request));
    for (const json& m : ArrivedUntilHandled()) EXPECT_FALSE(IsImage(m)) << m.dump().substr(0, 200);
  }

  // A size that is no integer is the default one.
  m_host.Send(Event("sendToPlugin", "P1", start({{"imageWidth", 320.5}})));
  json image = m_host.WaitFor(IsImage);
  ASSERT_TRUE(image.is_object());
  EXPECT_EQ(image["context"], "P1");
  EXPECT_EQ(image["action"], kSwitchAction);
  const Preview preview = ReadPreview(image);
  EXPECT_EQ(preview.bytes, 84726u);
  EXPECT_EQ(preview.width, 224);
  EXPECT_EQ(preview.height, 126);
  m_host.Send(Event("sendToPlugin", "P1", start({{"imageWidth", 8}, {"imageHeight", 4}})));
  EXPECT_TRUE(m_host.WaitFor([](const json& m) { return IsImage(m) && m["payload"]["imageData"].size() == 54u + 96; })
                  .is_object());

  // Another inspector appears: the following images go to it.
  m_host.Send(Event("propertyInspectorDidAppear", "P2"));
  json moved = m_host.WaitFor([](const json& m) { return IsImage(m) && m.value("context", "") == "P2"; });
  EXPECT_TRUE(moved.is_object());
  for (const json& m : ArrivedUntilHandled()) {
    if (IsImage(m)) {
      EXPECT_EQ(m.value("context", ""), "P2");
    }
  }
}

// The graph picks 24-bit RGB wherever the device lists it: the inspector sees the picture (inputs 1 to 4: red,
// green, blue, white in reading order), image after image, and a device that offers 32-bit RGB only makes no
// image rather than a garbled one (row layouts and sample times are the device tests' table). The preview is
// left running: TearDown then checks that the host closing mid-preview still ends with 0.
struct FrameLayout {
  const char* name;
  const char* devices;
  bool makesImages;
};

class PreviewFrameLayouts : public PluginProcess, public ::testing::WithParamInterface<FrameLayout> {};

TEST_P(PreviewFrameLayouts, ShowTheDevicesPicture) {
  Start(GetParam().devices);
  m_host.Send(Event("propertyInspectorDidAppear", "P"));
  m_host.Send(Event("sendToPlugin", "P", json{{"method", "startSendingImages"}}));
  if (!GetParam().makesImages) {
    ASSERT_TRUE(WaitUntil([&] { return !TraceOf(kNode1, "state").empty(); })) << "the graph never ran";
    EXPECT_EQ(TraceOf(kNode1, "state").back()["state"], "running");
    // Absence of images from a running stream can only be shown over frames: a second of them (60 at the
    // emulator's rate), counted from the graph's start, with every message until then looked at.
    const auto running = PluginTestHost::Clock::now();
    while (PluginTestHost::Clock::now() - running < 1s) {
      for (const json& m : ArrivedUntilHandled()) ASSERT_FALSE(IsImage(m));
    }
    return;
  }
  for (int i = 0; i < 3; ++i) {
    json image = m_host.WaitFor(IsImage);
    ASSERT_TRUE(image.is_object()) << "image " << i;
    const Preview preview = ReadPreview(image);
    EXPECT_EQ(preview.width, 224);
    EXPECT_EQ(preview.quadrants, (std::vector<std::string>{"255,0,0", "0,255,0", "0,0,255", "255,255,255"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, PreviewFrameLayouts,
    ::testing::Values(FrameLayout{"Rgb32BesideRgb24", R"({"devices": [{"formats": ["RGB32", "RGB24"]}]})", true},
                      FrameLayout{"Rgb32Only", R"({"devices": [{"formats": ["RGB32"]}]})", false}),
    [](const ::testing::TestParamInfo<FrameLayout>& info) { return std::string(info.param.name); });

}  // namespace
