// The emulated device registered as a video input device under wine, seen through wine's own DirectShow
// (device enumerator, monikers, filter graph, capture graph builder, sample grabber, null renderer).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "tests/wine/wine_session.h"

namespace {

std::string Probe() { return Wine().windowsBuild + "/tools/simdevice/simdevice_probe.exe"; }

struct NodeLine {
  std::string name;
  long bind = 1;
  long locked = -1;
  int properties = -1;
  std::string formats;
};

std::vector<NodeLine> ParseNodes(const std::vector<std::string>& lines) {
  static const std::regex node(
      R"re(node \d+ name="([^"]*)" bind=(-?\d+)(?: locked=(-?\d+) properties=(\d) formats=(\S*))?)re");
  std::vector<NodeLine> nodes;
  for (const std::string& line : lines) {
    std::smatch m;
    if (!std::regex_match(line, m, node)) continue;
    NodeLine n;
    n.name = m[1];
    n.bind = std::stol(m[2]);
    if (m[3].matched) {
      n.locked = std::stol(m[3]);
      n.properties = std::stoi(m[4]);
      n.formats = m[5];
    }
    nodes.push_back(n);
  }
  return nodes;
}

std::string Line(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  }
  return "";
}

TEST(SimDevice, EmptyCategoryAnswersSFalseWithoutEnumerator) {
  ASSERT_TRUE(UnregisterEmulator(Scenario("unregister.log")));
  std::string out = Scenario("list.log");
  ASSERT_EQ(RunWine(Probe(), {"list"}, {}, out), 0) << Dump(out);
  std::vector<std::string> lines = ReadLines(out);
  EXPECT_EQ(Line(lines, "category"), "category hr=1 enumerator=null") << Dump(out);
  EXPECT_TRUE(ParseNodes(lines).empty()) << Dump(out);
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

  struct Expected {
    const char* name;
    bool locked;
    int properties;
  };
  const Expected expected[] = {
      {"Brelvon HDMI-1 / Multiview", true, 1},     {"Brelvon HDMI-2 / Multiview", true, 0},
      {"Brelvon HDMI-3 / Multiview", false, 0},    {"Brelvon HDMI-4 / Multiview", true, 0},
      {"Brelvon 2 HDMI-1 / Multiview", false, 1},  {"Brelvon 2 HDMI-2 / Multiview", true, 0},
      {"Brelvon 2 HDMI-3 / Multiview", true, 0},   {"Brelvon 3 HDMI-2 / Multiview", true, 0},
      {"Brelvon 3 HDMI-4 / Multiview", true, 0},   {"Integrated Camera", true, 0},
      {"Brelvon", true, 0},
  };
  std::vector<NodeLine> nodes = ParseNodes(ReadLines(out));
  ASSERT_EQ(nodes.size(), std::size(expected)) << Dump(out);
  for (size_t i = 0; i < nodes.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(nodes[i].name, expected[i].name);
    EXPECT_EQ(nodes[i].bind, 0);
    if (i < 9) {  // the device's own nodes; other nodes' decoder is not the device's business
      EXPECT_EQ(nodes[i].locked != 0, expected[i].locked);
    }
    EXPECT_EQ(nodes[i].properties, expected[i].properties);
  }
  EXPECT_EQ(nodes[0].formats, "YUY2:640x360,RGB24:640x360");
  EXPECT_EQ(nodes[4].formats, "RGB24:640x360");

  // Registering a smaller configuration leaves none of the earlier nodes behind.
  WriteFile(config, R"({"devices": [{"inputs": [1, 2]}]})");
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register-again.log")));
  out = Scenario("list-again.log");
  ASSERT_EQ(RunWine(Probe(), {"list"}, {{"PNX_SIM_DEVICES", WindowsPath(config)}}, out), 0) << Dump(out);
  nodes = ParseNodes(ReadLines(out));
  ASSERT_EQ(nodes.size(), 2u) << Dump(out);
  EXPECT_EQ(nodes[1].name, "Brelvon HDMI-2 / Multiview");
}

TEST(SimDevice, NodeStreamsFramesOfTheLastRgb24CapabilityAndTracesRequests) {
  std::string config = Scenario("devices.json");
  std::string trace = Scenario("trace.jsonl");
  WriteFile(config, R"({"frame": {"width": 640, "height": 360, "fps": 30},
    "devices": [{"signal": [true, true, false, true],
                 "formats": [{"subtype": "RGB24", "width": 320, "height": 180}, "YUY2", "RGB24"]}]})");
  ASSERT_TRUE(RegisterEmulator(config, Scenario("register.log"))) << Dump(Scenario("register.log"));
  std::string out = Scenario("run.log");
  int rc = RunWine(Probe(), {"run", "Brelvon HDMI-1 / Multiview", "1500"},
                   {{"PNX_SIM_DEVICES", WindowsPath(config)}, {"PNX_SIM_TRACE", WindowsPath(trace)}}, out);
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

  std::vector<nlohmann::json> events;
  for (const std::string& line : ReadLines(trace)) events.push_back(nlohmann::json::parse(line));
  std::vector<std::string> formats, properties, states;
  for (const nlohmann::json& e : events) {
    EXPECT_EQ(e.value("node", ""), "Brelvon HDMI-1 / Multiview");
    std::string op = e.value("op", "");
    if (op == "format") {
      formats.push_back(e["subtype"].get<std::string>() + " " + std::to_string(e["width"].get<int>()) + "x" +
                        std::to_string(e["height"].get<int>()));
    } else if (op == "state") {
      states.push_back(e["state"]);
    } else {
      properties.push_back(op + " " + std::to_string(e["id"].get<int>()) + " " + e["data"].get<std::string>() +
                           " " + std::to_string(e["hr"].get<long>()));
    }
  }
  EXPECT_EQ(formats, (std::vector<std::string>{"RGB24 320x180", "RGB24 640x360"})) << Dump(trace);
  EXPECT_EQ(properties, (std::vector<std::string>{"set 632 2143000000000000 0", "set 631 00000000 0",
                                                  "get 632 2143000000000000 0", "set 631 64000000 0"}))
      << Dump(trace);
  ASSERT_FALSE(states.empty()) << Dump(trace);
  EXPECT_EQ(states.front(), "paused") << Dump(trace);
  EXPECT_NE(std::find(states.begin(), states.end(), "running"), states.end()) << Dump(trace);
  EXPECT_EQ(states.back(), "stopped") << Dump(trace);
}

}  // namespace
