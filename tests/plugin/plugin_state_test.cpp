// Keys that show the device's state and the hold-to-look action, end to end: the real executable (copied
// into a plug-in folder of the test's own, with its own layout names) against the test host and the
// emulated device.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/plugin/plugin_process_fixture.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

const char kPeek[] = "com.brelvon.multiview.peek";

json Settings(uint32_t layout, const std::vector<int>& sources, bool showState = true) {
  return json{{"showState", showState}, {"devices", {{{"multiViewLayout", layout}, {"multiViewSources", sources}}}}};
}

class ShowStateAndPeek : public PluginProcessFixture {
 protected:
  // The executable is copied into a plug-in folder of the test's own (FindPluginFolder looks at the real
  // program path, so it is not linked), with its own layout names.
  void Start(const std::string& devices) {
    static int run = 0;
    const std::filesystem::path folder = TempPath("state" + std::to_string(++run) + ".pxPlugin");
    std::filesystem::create_directories(folder);
    const std::filesystem::path executable = folder / "BrelvonMultiview";
    std::filesystem::copy_file(PNX_PLUGIN_EXECUTABLE, executable);
    WriteFile((folder / "layouts.json").string(),
              R"({"layouts": [{"number": 100, "name": "Quad"}, {"number": 7, "name": "Seven", "places": [[0, 0, 1, 1]]}, {"number": "x"}]})");
    WriteFile((folder / "en.json").string(), R"({"Localization": {"layout.7": "Sieben & <more>"}})");
    Options options;
    options.control = "{}";
    options.executable = executable.string();
    PluginProcessFixture::Start(devices, options);
  }

  json NextImage(const std::string& context, std::chrono::milliseconds timeout = 10s) {
    return m_host.WaitFor([&](const json& m) { return m.value("event", "") == "setImage" && m["context"] == context; },
                          timeout);
  }

  Drawn NextDrawn(const std::string& context) {
    const json message = NextImage(context);
    EXPECT_TRUE(message.is_object()) << "no image for " << context;
    return message.is_object() ? ReadStateImage(message["payload"]["image"]) : Drawn();
  }

  // Property requests to device 1 from trace position from on, as "get 632" or "set 631 07000000".
  std::vector<std::string> Requests(size_t from) {
    std::vector<std::string> out;
    for (const json& line : TraceOf(kNode1, "", from)) {
      const std::string id = std::to_string(line.value("id", 0));
      if (line["op"] == "get") out.push_back("get " + id);
      if (line["op"] == "set") out.push_back("set " + id + " " + line.value("data", ""));
    }
    return out;
  }
};

const std::vector<std::string> kReadBack = {"get 632", "get 631"};

TEST_F(ShowStateAndPeek, ImagesShowWhatTheDeviceConfirmedAndWhichKeyIsLive) {
  Start(R"({"devices": [{"layout": 100, "sources": [1, 2, 3, 4], "signal": [true, false, true, true]}]})");
  // A key that matches the device is live; one that does not is drawn with the device's state.
  m_host.Send(WithSettings("willAppear", "A", Settings(100, {1, 2, 3, 4})));
  const json written = m_host.WaitForEvent("setSettings");
  EXPECT_EQ(written["payload"]["showState"], true);
  Drawn a = NextDrawn("A");
  EXPECT_FALSE(a.unknown);
  EXPECT_TRUE(a.live);
  EXPECT_EQ(a.places, (std::vector<std::string>{"1", "2!", "3", "4"}));
  EXPECT_EQ(a.layout, "Quad");

  // B names the device's inputs; its layout has one place.
  json named = Settings(7, {3, 3, 2, 1});
  named["devices"][0]["inputNames"] = {"Cam", "", "<Desk>"};
  m_host.Send(WithSettings("willAppear", "B", named));
  // The names are the device's: A is drawn with them too (keys are drawn in the order of their contexts).
  a = NextDrawn("A");
  Drawn b = NextDrawn("B");
  EXPECT_FALSE(b.live);
  EXPECT_EQ(b.places, (std::vector<std::string>{"Cam", "2!", "&lt;Desk&gt;", "4"}));
  EXPECT_EQ(a.places, b.places);

  // A press of B: the device is read back after the writes, and both keys are drawn anew from what was read.
  const size_t mark = TraceSize();
  m_host.Send(WithSettings("keyUp", "B", named));
  a = NextDrawn("A");
  b = NextDrawn("B");
  EXPECT_FALSE(a.live);
  EXPECT_TRUE(b.live);
  EXPECT_EQ(b.places, (std::vector<std::string>{"&lt;Desk&gt;"}));
  EXPECT_EQ(a.places, b.places);
  EXPECT_EQ(b.layout, "Sieben &amp; &lt;more&gt;");
  EXPECT_EQ(Requests(mark),
            (std::vector<std::string>{"set 631 07000000", "get 25", "set 632 3312000000000000", "get 632", "get 631"}));
}

TEST_F(ShowStateAndPeek, KeysThatCannotShowTheStateSayWhy) {
  Start(R"({"devices": [{"failGet": [631]}]})");
  struct Case {
    const char* context;
    json settings;
    const char* image;  // expected image text; "unknown" for a drawn unknown state; "" for no image at all
    bool readsDevice;
  } const cases[] = {
      {"failed read", Settings(100, {1, 2, 3, 4}), "unknown", true},
      {"no such device", json{{"showState", true}, {"currentDevice", "Brelvon 9"}}, "unknown", false},
      {"device away", json{{"showState", true}, {"currentDevice", "Brelvon 3"}}, "absent", false},
      {"key image wins", json{{"showState", true}, {"icon", "data:image/png;base64,QQ=="}},
       "data:image/png;base64,QQ==", false},
      {"switched off", Settings(100, {1, 2, 3, 4}, false), "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.context);
    const size_t mark = TraceSize();
    m_host.Send(WithSettings("willAppear", c.context, c.settings));
    std::vector<json> arrived;
    Handled(&arrived);
    std::vector<json> images;
    for (const json& m : arrived) {
      if (m.value("event", "") == "setImage") images.push_back(m);
      if (m.value("event", "") == "setSettings") {
        EXPECT_EQ(m["payload"]["showState"], c.settings["showState"]);
      }
    }
    if (std::string(c.image).empty()) {
      EXPECT_TRUE(images.empty());
    } else if (std::string(c.image) == "unknown" || std::string(c.image) == "absent") {
      ASSERT_EQ(images.size(), 1u);
      const Drawn drawn = ReadStateImage(images[0]["payload"]["image"]);
      EXPECT_EQ(drawn.unknown, std::string(c.image) == "unknown");
      EXPECT_EQ(drawn.absent, std::string(c.image) == "absent");
    } else {
      ASSERT_EQ(images.size(), 1u);
      EXPECT_EQ(images[0]["payload"]["image"], c.image);
    }
    // Only a drawn key reads the device.
    EXPECT_EQ(Requests(mark), c.readsDevice ? kReadBack : std::vector<std::string>{});
  }
  // Switching the state off in the inspector gives the key its default image back.
  m_host.Send(WithSettings("didReceiveSettings", "failed read", Settings(100, {1, 2, 3, 4}, false)));
  EXPECT_EQ(NextImage("failed read")["payload"]["image"], "");
}

TEST_F(ShowStateAndPeek, HoldToLookShowsItsSettingsAndPutsBackWhatWasShownBeforeTheFirstPress) {
  Start(R"({"devices": [{"layout": 5, "sources": [4, 4, 4, 4]}]})");
  const json p1 = Settings(9, {3, 3, 3, 3}, false);
  size_t mark = TraceSize();
  m_host.Send(WithSettings("keyDown", "P1", p1, kPeek));
  m_host.Send(WithSettings("keyUp", "P1", p1, kPeek));
  Handled();
  // State read at the press, the look applied at once, then put back at the release.
  EXPECT_EQ(Requests(mark),
            (std::vector<std::string>{"get 632", "get 631", "set 631 09000000", "get 25", "set 632 3333000000000000",
                                      "set 631 05000000", "get 25", "set 632 4444000000000000"}));
}

}  // namespace
