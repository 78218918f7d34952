// BrelvonMultiview.exe under wine against the emulated device registered as real video input devices and
// the test host on the Linux side: discovery, a key press, an inspector edit and its restore, a device
// switch, the preview images and their end when the key disappears, a live picture key's images.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/host/raw_host.h"
#include "tests/plugin/host_messages.h"
#include "tests/plugin/plugin_test_host.h"
#include "tests/plugin/png_reader.h"
#include "tests/wine/wine_session.h"

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

std::string Plugin() { return Wine().windowsBuild + "/BrelvonMultiview.exe"; }

// The plug-in under wine, connected to a test host of its own.
bool StartUnderWine(PluginTestHost& host, const Environment& env, const std::string& output,
                    const std::string& uuid = "pnx-wine-uuid", const std::string& registerEvent = "registerPlugin") {
  return host.Start(WineCommand(Plugin(), env), output, uuid, registerEvent, 60s);
}

// The emulator's variables for a configuration file and, when given, a trace file (Linux paths).
Environment Devices(const std::string& config, const std::string& trace = "") {
  Environment env{{"PNX_SIM_DEVICES", WindowsPath(config)}};
  if (!trace.empty()) env["PNX_SIM_TRACE"] = WindowsPath(trace);
  return env;
}

// Property requests of the trace file as "node: op id data" (the value of the read-back property 25
// is the device's business and left out).
std::vector<std::string> PropertyRequests(const std::string& trace) {
  std::vector<std::string> requests;
  for (const std::string& line : ReadLines(trace)) {
    json e = json::parse(line, nullptr, false);
    if (!e.is_object()) continue;
    std::string op = e.value("op", "");
    if (op != "get" && op != "set") continue;
    int id = e.value("id", 0);
    std::string text = e.value("node", "") + ": " + op + " " + std::to_string(id);
    if (id != 25) text += " " + e.value("data", "");
    if (e.value("hr", 0) != 0) text += " hr=" + std::to_string(e.value("hr", 0));
    requests.push_back(text);
  }
  return requests;
}

// Waits until the plug-in has handled everything sent so far: its answer to a device status request from a
// context of its own comes after them. The messages before the answer go to before; false when it never came.
bool Handled(PluginTestHost& run, std::vector<json>* before = nullptr) {
  static int syncs = 0;
  const std::string sync = "SYNC" + std::to_string(++syncs);
  run.Send(Event("sendToPlugin", sync, json{{"method", "getDeviceStatus"}}));
  return run
      .WaitFor(
          [&](const json& m) {
            const bool answer = m.value("event", "") == "sendToPropertyInspector" && m.value("context", "") == sync;
            if (!answer && before) before->push_back(m);
            return answer;
          },
          30s)
      .is_object();
}

size_t ImagesAmong(const std::vector<json>& messages) {
  size_t images = 0;
  for (const json& m : messages) images += IsImage(m) ? 1 : 0;
  return images;
}

// Waits for count more preview images (a generous limit: wine is slow to start); the time it took, or a
// negative one when they did not come.
std::chrono::milliseconds ImagesIn(PluginTestHost& run, size_t count) {
  const auto start = PluginTestHost::Clock::now();
  size_t seen = 0;
  const bool came = run.WaitFor([&](const json& m) { return IsImage(m) && ++seen == count; }, 30s).is_object();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(PluginTestHost::Clock::now() - start);
  return came ? took : -took;
}

const char kTwoDevices[] = R"({"frame": {"width": 640, "height": 360, "fps": 30},
  "devices": [{"signal": [true, true, false, true]},
              {"number": 2, "signal": [false, true, true, true]}]})";

TEST(PluginUnderWine, StartsAndRegistersWithoutAnyVideoInputDevice) {
  ASSERT_TRUE(UnregisterEmulator(Scenario("unregister.log")));
  PluginTestHost run;
  std::string out = Scenario("plugin.log");
  ASSERT_TRUE(StartUnderWine(run, {}, out)) << Dump(out);
  json registration = run.WaitForEvent("registerPlugin", 30s);
  EXPECT_EQ(registration, (json{{"event", "registerPlugin"}, {"uuid", "pnx-wine-uuid"}}));
  // No device: the settings are read with no device entry and nothing is written back.
  run.Send(WithSettings("willAppear", "ctx-1", json::object()));
  run.Send(WithSettings("keyUp", "ctx-1", json::object()));
  std::vector<json> before;
  ASSERT_TRUE(Handled(run, &before)) << Dump(out);
  for (const json& m : before) EXPECT_NE(m.value("event", ""), "setSettings") << m.dump();
  EXPECT_EQ(run.CloseAndWait(30s), 0) << Dump(out);
  EXPECT_EQ(ReadFile(out), "") << "the plug-in writes nothing to the console";
}

// Wine hands the Linux arguments (UTF-8) to the program as UTF-16; the plug-in must not read them through the
// ANSI code page, where "中" has no character and "é" turns into a byte that is not UTF-8.
TEST(PluginUnderWine, NonAsciiArgumentsRegisterUnchanged) {
  const struct {
    std::string uuid;
    std::string registerEvent;
  } cases[] = {{"id-\xe4\xb8\xad", "registerPlugin"}, {"id-\xc3\xa9", "register-\xc3\xa9"}};
  for (const auto& c : cases) {
    PluginTestHost run;
    std::string out = Scenario("plugin.log");
    ASSERT_TRUE(StartUnderWine(run, {}, out, c.uuid, c.registerEvent)) << c.uuid << Dump(out);
    EXPECT_EQ(run.WaitForEvent(c.registerEvent, 30s), (json{{"event", c.registerEvent}, {"uuid", c.uuid}}))
        << c.uuid;
    EXPECT_EQ(run.CloseAndWait(30s), 0) << c.uuid << Dump(out);
  }
}

// A hung host: it takes the TCP connection, never answers the opening handshake and never closes. The library
// gives up after its 5 s, and the process must end then rather than outlive the host.
TEST(PluginUnderWine, EndsWhenTheHostNeverAnswersTheHandshake) {
  RawHost host(RawHost::Mode::kSilentHoldOpen);
  ChildProcess process;
  std::string out = Scenario("plugin.log");
  ASSERT_TRUE(StartWine(process, Plugin(),
                        {"-port", std::to_string(host.Port()), "-pluginUUID", "pnx-wine-uuid", "-registerEvent",
                         "registerPlugin", "-info", "{}"},
                        {}, out));
  EXPECT_TRUE(host.WaitForRequest(60s));
  EXPECT_EQ(WaitExit(process, 30s), 0) << Dump(out);
}

TEST(PluginUnderWine, DrivesTwoEmulatedDevicesEndToEnd) {
  std::string config = Scenario("devices.json");
  std::string trace = Scenario("trace.jsonl");
  WriteFile(config, kTwoDevices);
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register.log"))) << Dump(Scenario("register.log"));
  PluginTestHost run;
  std::string out = Scenario("plugin.log");
  ASSERT_TRUE(StartUnderWine(run, Devices(config, trace), out)) << Dump(out);
  ASSERT_FALSE(run.WaitForEvent("registerPlugin", 30s).is_null());

  // Discovery: both devices with their inputs and signals.
  run.Send(WithSettings("willAppear", "ctx-1", json::object()));
  json settings = run.WaitForEvent("setSettings", 10s);
  ASSERT_FALSE(settings.is_null()) << Dump(out);
  json device0 = {{"deviceName", "Brelvon"}, {"inputHasSignal", {true, true, false, true}},
                  {"multiViewLayout", 100}, {"multiViewSources", {1, 2, 3, 4}}, {"toggle", false}};
  json device1 = {{"deviceName", "Brelvon 2"}, {"inputHasSignal", {false, true, true, true}},
                  {"multiViewLayout", 100}, {"multiViewSources", {1, 2, 3, 4}}, {"toggle", false}};
  EXPECT_EQ(settings, (json{{"event", "setSettings"}, {"context", "ctx-1"},
                            {"payload", {{"currentDevice", "Brelvon"}, {"icon", ""}, {"devices", {device0, device1}}}}}));

  // A key press on device 2 with toggle: the first source steps from 3 to 4, the next input with a signal.
  json press = {{"currentDevice", "Brelvon 2"},
                {"devices", {json::object(), {{"multiViewLayout", 0}, {"multiViewSources", {3, 1, 2, 4}}, {"toggle", true}}}}};
  run.Send(WithSettings("keyUp", "ctx-1", press));
  settings = run.WaitForEvent("setSettings", 10s);
  ASSERT_FALSE(settings.is_null());
  EXPECT_EQ(settings["payload"]["devices"][1]["multiViewSources"], (json{4, 1, 2, 4}));

  // The inspector edits device 1 and asks for a preview: 2x2 grid of inputs 2, 1, 4, 3.
  run.Send(Event("propertyInspectorDidAppear", "ctx-1"));
  json edit = {{"currentDevice", "Brelvon"},
               {"devices", {{{"multiViewLayout", 100}, {"multiViewSources", {2, 1, 4, 3}}}}}};
  run.Send(WithSettings("didReceiveSettings", "ctx-1", edit));
  ASSERT_FALSE(run.WaitForEvent("setSettings", 10s).is_null());
  run.Send(Event("sendToPlugin", "ctx-1",
                 {{"method", "startSendingImages"}, {"imageWidth", 160}, {"imageHeight", 90}}));
  const std::vector<std::string> device0Grid = {"0,255,0", "255,0,0", "255,255,255", "0,0,0"};
  json image = run.WaitFor(
      [&](const json& m) { return IsImage(m) && ReadPreview(m).quadrants == device0Grid; }, 20s);
  ASSERT_FALSE(image.is_null()) << Dump(out);
  // Image after image: 30 frames per second, one in seven forwarded, about four a second.
  const std::chrono::milliseconds fourMore = ImagesIn(run, 4);
  std::printf("[ figure ] four more preview images in %lld ms\n", static_cast<long long>(fourMore.count()));
  EXPECT_GT(fourMore.count(), 0) << "the preview did not go on";

  // The edit moves to device 2: device 1 gets its state back, the preview follows device 2.
  json moved = {{"currentDevice", "Brelvon 2"},
                {"devices", {json::object(), {{"multiViewLayout", 100}, {"multiViewSources", {1, 2, 3, 4}}}}}};
  run.Send(WithSettings("didReceiveSettings", "ctx-1", moved));
  ASSERT_FALSE(run.WaitForEvent("setSettings", 10s).is_null());
  const std::vector<std::string> device1Grid = {"0,0,0", "0,255,0", "0,0,255", "255,255,255"};
  ASSERT_FALSE(run.WaitFor([&](const json& m) { return IsImage(m) && ReadPreview(m).quadrants == device1Grid; },
                            20s)
                   .is_null())
      << Dump(out);

  // Closing the inspector restores device 2's key-press state and stops the preview.
  // Images made before the stop may still leave before the first answer; none after it.
  run.Send(Event("propertyInspectorDidDisappear", "ctx-1"));
  ASSERT_TRUE(Handled(run));
  std::vector<json> afterStop;
  ASSERT_TRUE(Handled(run, &afterStop));
  ASSERT_TRUE(Handled(run, &afterStop));
  EXPECT_EQ(ImagesAmong(afterStop), 0u) << "no image after the inspector closed";

  EXPECT_EQ(run.CloseAndWait(30s), 0) << Dump(out);
  EXPECT_EQ(ReadFile(out), "") << "the plug-in writes nothing to the console";

  const std::string d1 = "Brelvon HDMI-1 / Multiview: ", d2 = "Brelvon 2 HDMI-1 / Multiview: ";
  const std::vector<std::string> expected = {
      // key press on device 2
      d2 + "set 631 00000000", d2 + "get 25", d2 + "set 632 1442000000000000",
      // first edit of device 1: its state is read, then the edit is shown
      d1 + "get 632 2143000000000000", d1 + "get 631 64000000", d1 + "set 631 64000000", d1 + "get 25",
      d1 + "set 632 1234000000000000",
      // the edit moves to device 2: device 1 restored, device 2 read (the key press state) and edited
      d1 + "set 632 2143000000000000", d1 + "set 631 64000000", d2 + "get 632 1442000000000000",
      d2 + "get 631 00000000", d2 + "set 631 64000000", d2 + "get 25", d2 + "set 632 2143000000000000",
      // the inspector closes: device 2 back to the key press state
      d2 + "set 632 1442000000000000", d2 + "set 631 00000000"};
  EXPECT_EQ(PropertyRequests(trace), expected) << Dump(trace);
}

TEST(PluginUnderWine, DeviceRegisteredAfterStartAnswersAPressThatNamesIt) {
  ASSERT_TRUE(UnregisterEmulator(Scenario("unregister.log")));
  std::string config = Scenario("devices.json");
  std::string trace = Scenario("trace.jsonl");
  WriteFile(config, R"({"devices": [{}]})");
  PluginTestHost run;
  std::string out = Scenario("plugin.log");
  ASSERT_TRUE(StartUnderWine(run, Devices(config, trace), out)) << Dump(out);
  ASSERT_FALSE(run.WaitForEvent("registerPlugin", 30s).is_null());
  const json press =
      WithSettings("keyUp", "ctx-1", {{"currentDevice", "Brelvon"}, {"devices", {{{"multiViewLayout", 0}}}}});
  run.Send(press);
  EXPECT_TRUE(run.WaitForEvent("setSettings", 2s).is_null()) << "no device yet";

  // The device's nodes appear while the plug-in runs; a press that names it finds it (looks happen at most
  // once a second, so a few presses may pass first).
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register.log"))) << Dump(Scenario("register.log"));
  const auto plugged = std::chrono::steady_clock::now();
  json settings;
  while (settings.is_null() && std::chrono::steady_clock::now() - plugged < 20s) {
    run.Send(press);
    settings = run.WaitForEvent("setSettings", 300ms);
  }
  ASSERT_FALSE(settings.is_null()) << Dump(out);
  std::printf("[ figure ] device registered after start answers a press after %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - plugged)
                                         .count()));
  EXPECT_EQ(settings["payload"]["devices"].size(), 1u);
  const std::vector<std::string> requests = PropertyRequests(trace);
  ASSERT_GE(requests.size(), 1u) << Dump(trace);
  EXPECT_EQ(requests[0], "Brelvon HDMI-1 / Multiview: set 631 00000000");
  EXPECT_EQ(run.CloseAndWait(30s), 0) << Dump(out);
  EXPECT_EQ(ReadFile(out), "") << "the plug-in writes nothing to the console";
}

// A key's "willDisappear" ends its inspector's preview at once: once the plug-in has handled it (a later
// event's answer marks that), no image follows. At 60 frames a second the preview sends about eight a second.
TEST(PluginUnderWine, NoPreviewImageAfterTheKeyDisappears) {
  std::string config = Scenario("devices.json");
  WriteFile(config, R"({"frame": {"width": 320, "height": 180, "fps": 60}, "devices": [{}]})");
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register.log"))) << Dump(Scenario("register.log"));
  PluginTestHost run;
  std::string out = Scenario("plugin.log");
  ASSERT_TRUE(StartUnderWine(run, Devices(config), out)) << Dump(out);
  ASSERT_FALSE(run.WaitForEvent("registerPlugin", 30s).is_null());

  const json key = {{"currentDevice", "Brelvon"}};
  run.Send(WithSettings("willAppear", "ctx-1", key));
  ASSERT_FALSE(run.WaitForEvent("setSettings", 10s).is_null()) << Dump(out);
  run.Send(Event("propertyInspectorDidAppear", "ctx-1"));
  run.Send(Event("sendToPlugin", "ctx-1",
                 {{"method", "startSendingImages"}, {"imageWidth", 64}, {"imageHeight", 36}}));
  ASSERT_FALSE(run.WaitFor(IsImage, 20s).is_null()) << Dump(out);
  const std::chrono::milliseconds fourMore = ImagesIn(run, 4);
  EXPECT_GT(fourMore.count(), 0) << "the preview streams before the key goes";

  run.Send(Event("willDisappear", "ctx-1"));
  run.Send(WithSettings("willAppear", "ctx-2", key));
  auto answerToCtx2 = [](const json& m) {
    return m.value("event", "") == "setSettings" && m.value("context", "") == "ctx-2";
  };
  // The answer to the next event comes after every image made before the key went; none follows it.
  ASSERT_FALSE(run.WaitFor(answerToCtx2, 10s).is_null()) << Dump(out);
  std::vector<json> after;
  ASSERT_TRUE(Handled(run, &after));
  ASSERT_TRUE(Handled(run, &after));
  std::printf("[ figure ] four preview images in %lld ms before \"willDisappear\", %zu after it\n",
              static_cast<long long>(fourMore.count()), ImagesAmong(after));
  EXPECT_EQ(ImagesAmong(after), 0u) << "no image after the key disappeared";

  EXPECT_EQ(run.CloseAndWait(30s), 0) << Dump(out);
  EXPECT_EQ(ReadFile(out), "") << "the plug-in writes nothing to the console";
}

// The key picture: the test card's quadrants in their colours, fitted (144 x 81 from row 31 of the key), and
// nothing sent again while the still picture stays the same.
TEST(PluginUnderWine, LivePictureKeyShowsTheQuadrantsOnce) {
  std::string config = Scenario("devices.json");
  WriteFile(config, R"({"frame": {"width": 320, "height": 180, "fps": 30, "still": true}, "devices": [{}]})");
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register.log"))) << Dump(Scenario("register.log"));
  PluginTestHost run;
  std::string out = Scenario("plugin.log");
  ASSERT_TRUE(StartUnderWine(run, Devices(config), out)) << Dump(out);
  ASSERT_FALSE(run.WaitForEvent("registerPlugin", 30s).is_null());

  auto quadrants = [](const json& m) {
    PngPicture p;
    std::vector<std::string> out;
    if (!ReadPngDataUrl(m["payload"].value("image", ""), p) || p.width != 144 || p.height != 144) return out;
    for (int32_t y : {31 + 20, 31 + 60}) {
      for (int32_t x : {36, 108}) out.push_back(p.At(x, y));
    }
    return out;
  };
  auto imageFor = [](const json& m, const std::string& context) {
    return m.value("event", "") == "setImage" && m.value("context", "") == context;
  };
  const json live = {{"currentDevice", "Brelvon"}, {"keyPicture", "live"}, {"pictureRate", 10}};
  run.Send(WithSettings("willAppear", "LIVE", live));
  const json first = run.WaitFor([&](const json& m) { return imageFor(m, "LIVE"); }, 30s);
  ASSERT_TRUE(first.is_object()) << Dump(out);
  EXPECT_EQ(quadrants(first), (std::vector<std::string>{"255,0,0", "0,255,0", "0,0,255", "255,255,255"}));
  // A later key's first picture comes from a frame the live key saw as well.
  run.Send(WithSettings("willAppear", "OTHER", live));
  const json other = run.WaitFor([&](const json& m) {
    EXPECT_FALSE(imageFor(m, "LIVE")) << "an unchanged picture was sent again";
    return imageFor(m, "OTHER");
  }, 30s);
  EXPECT_TRUE(other.is_object()) << Dump(out);

  EXPECT_EQ(run.CloseAndWait(30s), 0) << Dump(out);
  EXPECT_EQ(ReadFile(out), "") << "the plug-in writes nothing to the console";
}

}  // namespace
