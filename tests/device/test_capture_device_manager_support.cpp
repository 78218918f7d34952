// Test helpers for the device manager's tests (see the header).
#include "tests/device/test_capture_device_manager_support.h"

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "platform/com_ptr.h"
#include "platform/emulator_control.h"

namespace {

// One trace file for the whole test process.
const std::string& TracePath() {
  static const std::string path = [] {
    std::string p = "/tmp/pnx_device_tests_" + std::to_string(getpid()) + ".trace";
    std::remove(p.c_str());
    return p;
  }();
  return path;
}

long long TraceSize() {
  std::ifstream in(TracePath(), std::ios::binary | std::ios::ate);
  return in ? static_cast<long long>(in.tellg()) : 0;
}

std::vector<nlohmann::json> Events(long long from) {
  std::vector<nlohmann::json> events;
  std::ifstream in(TracePath(), std::ios::binary);
  if (!in) return events;
  in.seekg(from);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_object()) events.push_back(std::move(event));
  }
  return events;
}

}  // namespace

bool UseDevices(const std::string& json) {
  emulator::SetTracePath(TracePath());
  return emulator::LoadConfigurationText(json);
}

long LiveComObjects() { return PnxLiveComObjectCount(); }

TraceRecorder::TraceRecorder() : start_(TraceSize()) {}

std::vector<std::string> TraceRecorder::Lines() const {
  std::vector<std::string> lines;
  for (const nlohmann::json& event : Events(start_)) lines.push_back(event.dump());
  return lines;
}

std::vector<std::string> TraceRecorder::Requests() const {
  std::vector<std::string> requests;
  for (const nlohmann::json& event : Events(start_)) {
    const std::string op = event.value("op", "");
    if (op != "get" && op != "set") continue;
    requests.push_back(op + " " + std::to_string(event.value("id", 0)) + " " + event.value("data", "") + " " +
                       std::to_string(event.value("hr", 0)));
  }
  return requests;
}

std::vector<std::string> TraceRecorder::Formats() const {
  std::vector<std::string> formats;
  for (const nlohmann::json& event : Events(start_)) {
    if (event.value("op", "") != "format") continue;
    formats.push_back(event.value("subtype", "") + " " + std::to_string(event.value("width", 0)) + "x" +
                      std::to_string(event.value("height", 0)));
  }
  return formats;
}

bool TraceRecorder::HasState(const std::string& node, const std::string& state) const {
  for (const nlohmann::json& event : Events(start_)) {
    if (event.value("op", "") == "state" && event.value("node", "") == node && event.value("state", "") == state) {
      return true;
    }
  }
  return false;
}

std::string FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return "";
  ComPtr<IFilterGraph> graph;
  graph.Attach(info.pGraph);  // handed out counted
  std::string name;
  for (const auto* c = info.achName; *c; ++c) name.push_back(static_cast<char>(*c));
  return name;
}

IFilterGraph* FilterGraph(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return nullptr;
  ComPtr<IFilterGraph> graph;
  graph.Attach(info.pGraph);
  return graph.Get();
}
