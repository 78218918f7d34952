// The emulated device registered as a video input device under wine, seen through wine's own DirectShow
// (device enumerator, monikers, filter graph, capture graph builder, sample grabber, null renderer).
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "tests/wine/wine_session.h"

namespace {

std::string Probe() { return Wine().windowsBuild + "/tools/simdevice/simdevice_probe.exe"; }

// The probe's "node" lines: name, whether it binds, the signal lock, whether it has the property set, formats.
std::vector<std::string> NodeLines(const std::string& out) {
  std::vector<std::string> nodes;
  for (const std::string& line : ReadLines(out)) {
    if (line.rfind("node ", 0) == 0) nodes.push_back(line);
  }
  return nodes;
}

std::string Line(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  }
  return "";
}

TEST(SimDevice, EveryConfiguredNodeIsListedInOrderAndBinds) {
  std::string config = Scenario("devices.json");
  WriteFile(config, R"({"frame": {"width": 640, "height": 360, "fps": 30},
    "devices": [{"signal": [true, true, false, true], "formats": ["YUY2", "RGB24"]},
                {"number": 2, "inputs": [1, 2, 3], "signal": [false, true, true, true]},
                {"number": 3, "inputs": [2, 4], "propertySet": false}],
    "otherNodes": ["Integrated Camera", "Brelvon"]})");
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register.log"))) << Dump(Scenario("register.log"));
  std::string out = Scenario("list.log");
  ASSERT_EQ(RunWine(Probe(), {"list"}, {{"PNX_SIM_DEVICES", WindowsPath(config)}}, out), 0) << Dump(out);

  const std::string both = " formats=YUY2:640x360,RGB24:640x360", rgb = " formats=RGB24:640x360";
  const std::vector<std::string> expected = {
      R"(node 0 name="Brelvon HDMI-1 / Multiview" bind=0 locked=1 properties=1)" + both,
      R"(node 1 name="Brelvon HDMI-2 / Multiview" bind=0 locked=1 properties=0)" + both,
      R"(node 2 name="Brelvon HDMI-3 / Multiview" bind=0 locked=0 properties=0)" + both,
      R"(node 3 name="Brelvon HDMI-4 / Multiview" bind=0 locked=1 properties=0)" + both,
      R"(node 4 name="Brelvon 2 HDMI-1 / Multiview" bind=0 locked=0 properties=1)" + rgb,
      R"(node 5 name="Brelvon 2 HDMI-2 / Multiview" bind=0 locked=1 properties=0)" + rgb,
      R"(node 6 name="Brelvon 2 HDMI-3 / Multiview" bind=0 locked=1 properties=0)" + rgb,
      R"(node 7 name="Brelvon 3 HDMI-2 / Multiview" bind=0 locked=1 properties=0)" + rgb,
      R"(node 8 name="Brelvon 3 HDMI-4 / Multiview" bind=0 locked=1 properties=0)" + rgb,
      R"(node 9 name="Integrated Camera" bind=0 locked=-1 properties=0)" + rgb,
      R"(node 10 name="Brelvon" bind=0 locked=-1 properties=0)" + rgb,
  };
  EXPECT_EQ(NodeLines(out), expected) << Dump(out);

  // Registering a smaller configuration leaves none of the earlier nodes behind.
  WriteFile(config, R"({"devices": [{"inputs": [1, 2]}]})");
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register-again.log")));
  out = Scenario("list-again.log");
  ASSERT_EQ(RunWine(Probe(), {"list"}, {{"PNX_SIM_DEVICES", WindowsPath(config)}}, out), 0) << Dump(out);
  EXPECT_EQ(NodeLines(out),
            (std::vector<std::string>{
                R"(node 0 name="Brelvon HDMI-1 / Multiview" bind=0 locked=1 properties=1 formats=RGB24:1920x1080)",
                R"(node 1 name="Brelvon HDMI-2 / Multiview" bind=0 locked=1 properties=0 formats=RGB24:1920x1080)"}))
      << Dump(out);
}

TEST(SimDevice, NodeStreamsFramesOfTheLastRgb24Capability) {
  std::string config = Scenario("devices.json");
  WriteFile(config, R"({"frame": {"width": 640, "height": 360, "fps": 30},
    "devices": [{"signal": [true, true, false, true],
                 "formats": [{"subtype": "RGB24", "width": 320, "height": 180}, "YUY2", "RGB24"]}]})");
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register.log"))) << Dump(Scenario("register.log"));
  std::string out = Scenario("run.log");
  int rc = RunWine(Probe(), {"run", "Brelvon HDMI-1 / Multiview", "1500"},
                   {{"PNX_SIM_DEVICES", WindowsPath(config)}}, out);
  ASSERT_EQ(rc, 0) << Dump(out);
  std::vector<std::string> lines = ReadLines(out);
  EXPECT_EQ(Line(lines, "setformat"), "setformat 0 hr=0") << Dump(out);
  EXPECT_EQ(Line(lines, "connection"), "connection RGB24 640x360 samplesize=691200") << Dump(out);
  EXPECT_EQ(Line(lines, "get 632"), "get 632 hr=0 data=2143000000000000") << Dump(out);

  std::smatch m;
  std::string frames = Line(lines, "frames");
  ASSERT_TRUE(std::regex_match(frames, m, std::regex(R"(frames (\d+) timed (\d+) backwards (\d+) bytes (\d+))")))
      << Dump(out);
  long count = std::stol(m[1]);
  std::printf("frames in 1.5 s at 30 per second: %ld\n", count);
  // 30 frames per second for 1.5 s; wine's start-up of the graph may eat a little of it.
  EXPECT_GE(count, 20) << Dump(out);
  EXPECT_LE(count, 50) << Dump(out);
  EXPECT_EQ(std::stol(m[2]), count) << "every sample has start and stop times";
  EXPECT_EQ(m[3], "0") << "start times never go back";
  EXPECT_EQ(m[4], "691200") << "rows of exactly width x 3 bytes";
  // 2x2 grid of inputs 1..4: red, green, no signal (black), white.
  EXPECT_EQ(Line(lines, "quadrants"), "quadrants 255,0,0 0,255,0 0,0,0 255,255,255") << Dump(out);
}

}  // namespace
