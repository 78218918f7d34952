// The fixture every end-to-end test of the real plug-in process shares: the test host, the emulated devices'
// configuration, control file and trace, and the checks that end every run.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <websocketpp/base64/base64.hpp>

#include "tests/plugin/host_messages.h"
#include "tests/plugin/plugin_test_host.h"

constexpr char kNode1[] = "Brelvon HDMI-1 / Multiview";
constexpr char kNode2[] = "Brelvon 2 HDMI-1 / Multiview";

// A comma-separated list of numbers from the environment (the model tests' seeds and steps), or fallback.
inline std::vector<int> EnvList(const char* name, std::vector<int> fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  std::vector<int> values;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) values.push_back(std::atoi(item.c_str()));
  return values;
}

// What a state key's image says, read back from its SVG.
struct Drawn {
  bool unknown = false;
  bool absent = false;
  bool live = false;
  std::vector<std::string> places;  // input number (or name) per place, "!" appended when marked as without signal
  std::string layout;
  std::string step;  // a step key's "2/3"
  bool locked = false;  // the lock mark
  std::string lock;  // a lock key's drawing: "locked" or "unlocked"
};

inline Drawn ReadStateImage(const std::string& image) {
  const std::string prefix = "data:image/svg+xml;base64,";
  EXPECT_EQ(image.substr(0, prefix.size()), prefix);
  const std::string svg = websocketpp::base64_decode(image.substr(std::min(prefix.size(), image.size())));
  Drawn drawn;
  drawn.unknown = svg.find("class=\"state unknown\"") != std::string::npos;
  drawn.absent = svg.find("class=\"state absent\"") != std::string::npos;
  drawn.live = svg.find("class=\"live\"") != std::string::npos;
  static const std::regex place("<g class=\"place( no-signal)?\">.*?>([^<]*)</text></g>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), place); it != std::sregex_iterator(); ++it) {
    drawn.places.push_back((*it)[2].str() + ((*it)[1].matched ? "!" : ""));
  }
  std::smatch layout;
  static const std::regex layoutText("<text class=\"layout\"[^>]*>([^<]*)</text>");
  if (std::regex_search(svg, layout, layoutText)) {
    drawn.layout = layout[1];
  }
  static const std::regex step("<g class=\"step\">.*?>([^<]*)</text></g>");
  std::smatch found;
  if (svg.find("<g class=\"step\">") != std::string::npos && std::regex_search(svg, found, step)) drawn.step = found[1];
  drawn.locked = svg.find("<g class=\"lock\">") != std::string::npos;
  if (svg.find("class=\"lock locked\"") != std::string::npos) drawn.lock = "locked";
  if (svg.find("class=\"lock unlocked\"") != std::string::npos) drawn.lock = "unlocked";
  return drawn;
}

class PluginProcessFixture : public ::testing::Test {
 protected:
  struct Options {
    std::string control;  // the emulator's control file's first text; "" for none
    bool controlLinked = false;  // the emulator reads it through a symbolic link (no change notification then)
    std::string executable = PNX_PLUGIN_EXECUTABLE;
  };

  // Starts the plug-in on the emulator configuration devices (a JSON text; "" for the default device).
  void Start(const std::string& devices) { Start(devices, Options()); }
  void Start(const std::string& devices, const Options& options) {
    static int run = 0;
    const std::string tag = std::to_string(++run);
    m_tracePath = TempPath("trace" + tag + ".jsonl");
    m_outputPath = TempPath("output" + tag + ".txt");
    std::vector<std::string> environment = {"PNX_SIM_TRACE=" + m_tracePath};
    if (!devices.empty()) {
      const std::string config = TempPath("devices" + tag + ".json");
      WriteFile(config, devices);
      environment.push_back("PNX_SIM_DEVICES=" + config);
    }
    if (!options.control.empty()) {
      m_controlPath = TempPath("control" + tag + ".json");
      WriteFile(m_controlPath, options.control);
      std::string seen = m_controlPath;
      if (options.controlLinked) {
        const std::string folder = TempPath("link" + tag);
        std::filesystem::create_directories(folder);
        seen = folder + "/control.json";
        std::filesystem::create_symlink(m_controlPath, seen);
      }
      environment.push_back("PNX_SIM_CONTROL=" + seen);
    }
    ASSERT_TRUE(m_host.Launch(options.executable, environment, m_outputPath));
  }

  // Every run ends with exit code 0 when the host closes, and the plug-in never writes to the console
  // (a sanitizer report would land there too).
  void TearDown() override {
    if (m_host.Running()) {
      EXPECT_EQ(m_host.CloseAndWait(), 0);
    }
    if (!m_outputPath.empty()) {
      EXPECT_EQ(ReadFile(m_outputPath), "");
    }
  }

  std::vector<nlohmann::json> Trace() { return ReadSimTrace(m_tracePath); }
  size_t TraceSize() { return Trace().size(); }

  // The property writes to every node from position from on, as (id, data).
  std::vector<std::pair<int, std::string>> SetsSince(size_t from) {
    const std::vector<nlohmann::json> all = Trace();
    return PropertySets(std::vector<nlohmann::json>(all.begin() + std::min(from, all.size()), all.end()));
  }

  // Trace lines of one node and operation (every operation for "") from position from on.
  std::vector<nlohmann::json> TraceOf(const std::string& node, const std::string& op, size_t from = 0) {
    std::vector<nlohmann::json> all = Trace(), picked;
    for (size_t i = from; i < all.size(); ++i) {
      if (all[i].value("node", "") == node && (op.empty() || all[i].value("op", "") == op)) picked.push_back(all[i]);
    }
    return picked;
  }

  // The data of the property writes to one node from position from on.
  std::vector<std::string> SetData(const std::string& node, size_t from) {
    std::vector<std::string> data;
    for (const nlohmann::json& line : TraceOf(node, "set", from)) data.push_back(line.value("data", ""));
    return data;
  }

  // Polls until check is true or the time is up (the streaming thread stops on its own time, slowly under a
  // sanitizer).
  bool WaitUntil(const std::function<bool()>& check, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = PluginTestHost::Clock::now() + timeout;
    while (!check()) {
      if (PluginTestHost::Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  bool PreviewStopsAfter(size_t mark, const std::string& node = kNode1) {
    return WaitUntil([&] {
      auto states = TraceOf(node, "state", mark);
      return !states.empty() && states.back()["state"] == "stopped";
    });
  }

  nlohmann::json SettingsAfter(const nlohmann::json& message) {
    m_host.Send(message);
    return m_host.WaitForEvent("setSettings");
  }

  // Waits until the plug-in has handled everything sent so far (its answer to a device status request comes after
  // them); the messages before the answer go to before. Each request has a context of its own: while an
  // inspector is open, device changes are reported to the last asker too. The detected devices' names.
  std::vector<std::string> Handled(std::vector<nlohmann::json>* before = nullptr) {
    const std::string sync = "SYNC" + std::to_string(++m_syncs);
    m_host.Send(Event("sendToPlugin", sync, nlohmann::json{{"method", "getDeviceStatus"}}));
    const nlohmann::json reply = m_host.WaitFor([&](const nlohmann::json& m) {
      const bool answer = m.value("event", "") == "sendToPropertyInspector" && m.value("context", "") == sync &&
                          m["payload"].contains("deviceStatus");
      if (!answer && before) before->push_back(m);
      return answer;
    });
    EXPECT_TRUE(reply.is_object()) << "the plug-in stopped answering";
    if (!reply.is_object()) return {};
    return reply["payload"]["deviceStatus"]["detected"].get<std::vector<std::string>>();
  }

  // Everything that arrives until the plug-in has handled what was sent so far, and for one more round trip:
  // what that handling set off on another thread (an image already on its way) has left by the second answer.
  // For proving that nothing came back. While an inspector is open, device changes go to the round trips'
  // contexts from then on (see Handled).
  std::vector<nlohmann::json> ArrivedUntilHandled() {
    std::vector<nlohmann::json> arrived;
    Handled(&arrived);
    Handled(&arrived);
    return arrived;
  }

  // Rewrites the control file as the development host does: a new file renamed over the old one.
  void Control(const std::string& text) {
    WriteFile(m_controlPath + ".new", text);
    std::filesystem::rename(m_controlPath + ".new", m_controlPath);
  }

  PluginTestHost m_host;
  std::string m_tracePath;
  std::string m_outputPath;
  std::string m_controlPath;
  int m_syncs = 0;
};
