// Keys that show the device's picture: the real executable against the emulator's test card (a still one, so
// that an unchanged picture stays byte for byte the same), and the owner's own rules in process.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "plugin/my_panelox_plugin.h"
#include "plugin/picture_keys.h"
#include "tests/plugin/fake_ports.h"
#include "tests/plugin/plugin_process_fixture.h"
#include "tests/plugin/png_reader.h"

using nlohmann::json;

namespace {

const std::string kRed = "255,0,0", kGreen = "0,255,0", kBlue = "0,0,255", kWhite = "255,255,255";
const std::string kUnseen = "64,64,64", kStroke = "229,57,53";
// The test card's picture (16:9) fitted into the key: 144 x 81, from row 31.
constexpr int32_t kTop = 31, kHeight = 81;

bool IsImageFor(const json& m, const std::string& context) {
  return m.value("event", "") == "setImage" && m.value("context", "") == context;
}

// The colours at the centres of the picture's quadrants, in reading order.
std::vector<std::string> Quadrants(const PngPicture& p) {
  std::vector<std::string> out;
  for (int32_t y : {kTop + kHeight / 4, kTop + kHeight * 3 / 4}) {
    for (int32_t x : {36, 108}) out.push_back(p.At(x, y));
  }
  return out;
}

json PictureSettings(const char* mode, const std::string& device = "Brelvon", int rate = 10) {
  return json{{"currentDevice", device}, {"keyPicture", mode}, {"pictureRate", rate}};
}

json Sources(json settings, uint32_t layout, std::vector<int> sources) {
  settings["devices"] = json::array({{{"multiViewLayout", layout}, {"multiViewSources", sources}}});
  return settings;
}

class PictureKeysProcess : public PluginProcessFixture {
 protected:
  // The executable in a plug-in folder of the test's own, with the places of the layouts it uses.
  void Start(const std::string& devices, const std::string& control = "") {
    static int run = 0;
    const std::filesystem::path folder = TempPath("pictures" + std::to_string(++run) + ".pxPlugin");
    std::filesystem::create_directories(folder);
    const std::filesystem::path executable = folder / "BrelvonMultiview";
    std::filesystem::copy_file(PNX_PLUGIN_EXECUTABLE, executable);
    WriteFile((folder / "layouts.json").string(), R"({"layouts": [
        {"number": 100, "name": "Quad", "places": [[0, 0, 0.5, 0.5], [0.5, 0, 0.5, 0.5], [0, 0.5, 0.5, 0.5], [0.5, 0.5, 0.5, 0.5]]},
        {"number": 0, "name": "Full", "places": [[0, 0, 1, 1]]}]})");
    Options options;
    options.control = control;
    options.executable = executable.string();
    PluginProcessFixture::Start(devices, options);
  }

  // The next picture of `context` for which match is true; false when none came in time.
  bool PictureOf(const std::string& context, const std::function<bool(const PngPicture&)>& match,
                 PngPicture* out = nullptr) {
    const json m = m_host.WaitFor([&](const json& m) {
      PngPicture p;
      if (!IsImageFor(m, context) || !ReadPngDataUrl(m["payload"].value("image", ""), p)) return false;
      if (p.width != 144 || p.height != 144 || !match(p)) return false;
      if (out) *out = p;
      return true;
    });
    return m.is_object();
  }
  bool PictureShows(const std::string& context, const std::vector<std::string>& quadrants) {
    return PictureOf(context, [&](const PngPicture& p) { return Quadrants(p) == quadrants; });
  }
};

const char kStill[] = R"({"frame": {"still": true}, "devices": [{}]})";

TEST_F(PictureKeysProcess, LiveKeyShowsTheQuadrantsFollowsPressesAndSaysWhenItsDeviceIsAway) {
  Start(R"({"frame": {"still": true}, "devices": [{}, {"number": 2, "sources": [4, 4, 4, 4]}]})", "{}");
  m_host.Send(WithSettings("willAppear", "LIVE", PictureSettings("live")));
  ASSERT_TRUE(PictureShows("LIVE", {kRed, kGreen, kBlue, kWhite}));

  // Nothing more while the picture stays the same: each later key's first picture comes from a frame the live
  // key (due at every frame at 10 a second) saw as well.
  for (const char* other : {"A", "B"}) {
    m_host.Send(WithSettings("willAppear", other, PictureSettings("live")));
    const json first = m_host.WaitFor([&](const json& m) {
      EXPECT_FALSE(IsImageFor(m, "LIVE")) << "an unchanged picture was sent again";
      return IsImageFor(m, other);
    });
    ASSERT_TRUE(first.is_object());
  }

  // A press on another key changes what the device shows, and the picture follows.
  m_host.Send(WithSettings("keyUp", "SWITCH", Sources(json{{"currentDevice", "Brelvon"}}, 100, {4, 3, 2, 1})));
  EXPECT_TRUE(PictureShows("LIVE", {kWhite, kBlue, kGreen, kRed}));

  // An inspector's preview of the same device shares the capture: both go on.
  m_host.Send(Event("propertyInspectorDidAppear", "SWITCH"));
  m_host.Send(Event("sendToPlugin", "SWITCH", json{{"method", "startSendingImages"}}));
  ASSERT_TRUE(m_host.WaitFor(IsImage).is_object());
  m_host.Send(WithSettings("keyUp", "SWITCH", Sources(json{{"currentDevice", "Brelvon"}}, 100, {2, 2, 3, 3})));
  EXPECT_TRUE(PictureShows("LIVE", {kGreen, kGreen, kBlue, kBlue}));
  EXPECT_TRUE(m_host.WaitFor(IsImage).is_object());
  m_host.Send(Event("propertyInspectorDidDisappear", "SWITCH"));

  // The second device's key gets that device's picture once the first one's keys are gone.
  for (const char* gone : {"LIVE", "A", "B"}) m_host.Send(Event("willDisappear", gone));
  m_host.Send(WithSettings("willAppear", "TWO", PictureSettings("live", "Brelvon 2")));
  EXPECT_TRUE(PictureShows("TWO", {kWhite, kWhite, kWhite, kWhite}));

  Control(R"({"unplugged": [2]})");
  // The device watch settles its news before the plug-in looks: generous under a sanitizer on a busy machine.
  const json away = m_host.WaitFor(
      [](const json& m) { return IsImageFor(m, "TWO") && m["payload"].value("image", "").rfind("data:image/svg", 0) == 0; },
      std::chrono::seconds(30));
  ASSERT_TRUE(away.is_object());
  EXPECT_TRUE(ReadStateImage(away["payload"]["image"]).absent);
  Control("{}");
  EXPECT_TRUE(PictureShows("TWO", {kWhite, kWhite, kWhite, kWhite}));
}

TEST_F(PictureKeysProcess, KeysOfTwoDevicesAtOnceEachShowTheirOwnDevice) {
  Start(R"({"frame": {"still": true}, "devices": [{}, {"number": 2, "sources": [4, 4, 4, 4]}]})", "{}");
  m_host.Send(WithSettings("willAppear", "ONE", PictureSettings("live")));
  m_host.Send(WithSettings("willAppear", "TWO", PictureSettings("live", "Brelvon 2")));
  // Their first pictures come in either order.
  std::map<std::string, std::vector<std::string>> first;
  m_host.WaitFor([&](const json& m) {
    PngPicture p;
    const std::string context = m.value("context", "");
    if (m.value("event", "") == "setImage" && ReadPngDataUrl(m["payload"].value("image", ""), p)) {
      first[context] = Quadrants(p);
    }
    return first.size() == 2;
  });
  EXPECT_EQ(first["ONE"], (std::vector<std::string>{kRed, kGreen, kBlue, kWhite}));
  EXPECT_EQ(first["TWO"], (std::vector<std::string>{kWhite, kWhite, kWhite, kWhite}));
  // The second device's preview shares its key's capture; the first device's keys go on.
  m_host.Send(Event("propertyInspectorDidAppear", "TWO"));
  m_host.Send(Event("sendToPlugin", "TWO", json{{"method", "startSendingImages"}}));
  ASSERT_TRUE(m_host.WaitFor(IsImage).is_object());
  m_host.Send(WithSettings("keyUp", "SWITCH", Sources(json{{"currentDevice", "Brelvon"}}, 100, {4, 3, 2, 1})));
  EXPECT_TRUE(PictureShows("ONE", {kWhite, kBlue, kGreen, kRed}));
  json second = Sources(json{{"currentDevice", "Brelvon 2"}}, 100, {1, 2, 3, 4});
  second["devices"].push_back({{"multiViewLayout", 100}, {"multiViewSources", {1, 1, 2, 2}}});
  m_host.Send(WithSettings("keyUp", "SWITCH2", second));
  EXPECT_TRUE(PictureShows("TWO", {kRed, kRed, kGreen, kGreen}));
  m_host.Send(Event("propertyInspectorDidDisappear", "TWO"));

  // The second device goes while captured: its key says so, the first one's keys go on; it comes back.
  Control(R"({"unplugged": [2]})");
  // The device watch settles its news before the plug-in looks: generous under a sanitizer on a busy machine.
  const json away = m_host.WaitFor(
      [](const json& m) { return IsImageFor(m, "TWO") && m["payload"].value("image", "").rfind("data:image/svg", 0) == 0; },
      std::chrono::seconds(30));
  ASSERT_TRUE(away.is_object());
  m_host.Send(WithSettings("keyUp", "SWITCH", Sources(json{{"currentDevice", "Brelvon"}}, 100, {1, 2, 3, 4})));
  EXPECT_TRUE(PictureShows("ONE", {kRed, kGreen, kBlue, kWhite}));
  Control("{}");
  EXPECT_TRUE(PictureOf("TWO", [&](const PngPicture& p) {
    const std::vector<std::string> q = Quadrants(p);
    return q == std::vector<std::string>{kWhite, kWhite, kWhite, kWhite} ||
           q == std::vector<std::string>{kRed, kRed, kGreen, kGreen};
  }));
}

TEST_F(PictureKeysProcess, NoPictureKeyNoCaptureAndAnIconWins) {
  Start(kStill);
  m_host.Send(WithSettings("willAppear", "PLAIN", json{{"currentDevice", "Brelvon"}, {"keyPicture", "none"}}));
  m_host.Send(WithSettings("willAppear", "ICON", json{{"currentDevice", "Brelvon"}, {"keyPicture", "live"},
                                                        {"icon", "data:image/png;base64,QQ=="}}));
  for (const json& m : ArrivedUntilHandled()) {
    if (m.value("event", "") == "setImage") {
      EXPECT_EQ(m["payload"].value("image", ""), "data:image/png;base64,QQ==");
    }
  }
  for (const json& line : TraceOf(kNode1, "state")) EXPECT_NE(line.value("state", ""), "running") << "a capture ran without a picture key";
}

TEST_F(PictureKeysProcess, InputsKeyDrawsTheInputsSeenAndMarksOneNeverSeen) {
  // The device starts with place 1 full frame: only input 1 is seen. Input 3 has no signal.
  Start(R"({"frame": {"still": true},
            "devices": [{"layout": 0, "sources": [1, 2, 3, 4], "signal": [true, true, false, true]}]})");
  m_host.Send(WithSettings("willAppear", "IN", Sources(PictureSettings("inputs"), 100, {1, 2, 3, 4})));
  PngPicture first;
  ASSERT_TRUE(PictureOf("IN", [](const PngPicture& p) { return p.At(36, kTop + kHeight / 4) == kRed; }, &first));
  // Place 2 never seen: a grey place (its corner) carrying its number.
  EXPECT_EQ(first.At(74, kTop + 2), kUnseen);
  EXPECT_NE(Quadrants(first)[1], kUnseen);

  // Once the device has shown the other inputs, the key draws them in its own order; input 3 (black on the
  // device) struck through at the centre of its place.
  m_host.Send(WithSettings("keyUp", "SWITCH", Sources(json{{"currentDevice", "Brelvon"}}, 100, {4, 3, 2, 1})));
  m_host.Send(WithSettings("didReceiveSettings", "IN", Sources(PictureSettings("inputs"), 100, {2, 1, 4, 3})));
  EXPECT_TRUE(PictureShows("IN", {kGreen, kRed, kWhite, kStroke}));
}

// In process: the rate and mode as the settings carry them, and back-pressure.
TEST(PictureKeys, ReadsModeAndRate) {
  const struct {
    json settings;
    PictureKeys::Mode mode;
    int32_t rate;
  } cases[] = {
      {json::object(), PictureKeys::Mode::kNone, 2},
      {json{{"keyPicture", "live"}, {"pictureRate", 10}}, PictureKeys::Mode::kLive, 10},
      {json{{"keyPicture", "inputs"}, {"pictureRate", 11}}, PictureKeys::Mode::kInputs, 10},
      {json{{"keyPicture", "Live"}, {"pictureRate", 0}}, PictureKeys::Mode::kNone, 1},
      {json{{"keyPicture", true}, {"pictureRate", -5}}, PictureKeys::Mode::kNone, 1},
      {json{{"pictureRate", "3"}}, PictureKeys::Mode::kNone, 2},
      {json{{"pictureRate", 2.5}}, PictureKeys::Mode::kNone, 2},
      {json{{"pictureRate", 18446744073709551615u}}, PictureKeys::Mode::kNone, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.dump());
    EXPECT_EQ(PictureKeys::ReadMode(c.settings), c.mode);
    EXPECT_EQ(PictureKeys::ReadRate(c.settings), c.rate);
  }
}

TEST(PictureKeys, SkipsPicturesWhileTheHostIsNotReading) {
  FakeDevices devices({{DeviceState{100, 0x4321, true}, 4}});
  FakeHost host;
  MyPaneloxPlugin plugin(devices, host);
  plugin.OnWillAppear(kSwitchAction, "P", json{{"settings", PictureSettings("live")}}, "PANEL");
  ASSERT_TRUE(devices.plans.back().run && devices.plans.back().keyPictures);
  host.Take();
  auto frame = [&](uint8_t shade) {
    KeyFrame f;
    f.device = 0;
    f.width = 144;
    f.height = 81;
    f.pixels.assign(144 * 81 * 3, shade);
    f.captured = std::chrono::steady_clock::now();
    plugin.KeyFrameCame(std::move(f));
  };
  auto pictures = [&] {
    size_t count = 0;
    for (const json& m : host.Take()) count += m["event"] == "setImage";
    return count;
  };
  frame(10);
  EXPECT_EQ(pictures(), 1u);
  host.unsent = 1 << 20;
  // Due at once again: the rate's beat is reset by waiting out the key's period with a polled clock.
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(120)) frame(20);
  EXPECT_EQ(pictures(), 0u);
  host.unsent = 0;
  const auto again = std::chrono::steady_clock::now();
  size_t sent = 0;
  while (sent == 0 && std::chrono::steady_clock::now() - again < std::chrono::seconds(5)) {
    frame(30);
    sent = pictures();
  }
  EXPECT_EQ(sent, 1u);
}

}  // namespace

namespace {

// An "inputs" key's crops age: the same frame drawn again after ten seconds is dimmed, so it is sent again.
TEST(PictureKeys, InputsSeenLongAgoAreDimmed) {
  FakeHost host;
  PictureKeys pictures(host);
  LayoutNames names;
  names.Load(json::parse(R"({"layouts": [{"number": 0, "name": "Full", "places": [[0, 0, 1, 1]]}]})"), json());
  ActionSettings read;
  read.devices.resize(1);
  read.devices[0].multiViewLayout = 0;
  read.devices[0].multiViewSources = {1, 2, 3, 4};
  pictures.Settings("IN", json{{"keyPicture", "inputs"}}, read, 0, true);
  pictures.Shows(0, true, DeviceState{0, 0x4321, true});
  const auto seen = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  auto flushAt = [&](std::chrono::steady_clock::time_point now) {
    KeyFrame frame;
    frame.device = 0;
    frame.width = 144;
    frame.height = 81;
    frame.pixels.assign(144 * 81 * 3, 0);
    for (size_t i = 2; i < frame.pixels.size(); i += 3) frame.pixels[i] = 240;  // red
    frame.captured = seen;
    pictures.Frame(std::move(frame));
    pictures.Flush(now, [](int32_t) { return true; }, nullptr, names, StateImageTexts(), {}, 0);
    PngPicture p;
    const std::vector<json> sent = host.Take();
    if (sent.empty() || !ReadPngDataUrl(sent.back()["image"], p)) return std::string("nothing");
    return p.At(10, kTop + 10);
  };
  EXPECT_EQ(flushAt(seen), "240,0,0");
  EXPECT_EQ(flushAt(seen + std::chrono::seconds(5)), "nothing");
  EXPECT_EQ(flushAt(seen + std::chrono::seconds(11)), "80,0,0");
}

}  // namespace
