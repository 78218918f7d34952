// A measured run of the real plug-in process against the emulated device (two devices, 1920x1080 at 60
// frames per second): idle CPU and wake-ups, the "keyUp" -> "setSettings" round trip, and the CPU cost of
// streaming the preview above the same graph running without a preview request. Prints one report.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "tests/plugin/plugin_test_host.h"

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

struct Usage {
  double cpuSeconds = 0;
  long long switches = 0;  // voluntary + involuntary, all threads
  double runNanoseconds = 0;  // time on a CPU of all threads, from the scheduler (finer than clock ticks)
};

Usage ReadUsage(pid_t pid) {
  Usage usage;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::vector<std::string> f;
  std::string word;
  while (fields >> word) f.push_back(word);
  if (f.size() > 12) usage.cpuSeconds = (std::stod(f[11]) + std::stod(f[12])) / sysconf(_SC_CLK_TCK);
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* dir = opendir(tasks.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
      double run = 0;
      if (schedstat >> run) usage.runNanoseconds += run;
      std::ifstream status(tasks + "/" + entry->d_name + "/status");
      std::string line;
      while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
          usage.switches += std::stoll(line.substr(line.find(':') + 1));
        }
      }
    }
    closedir(dir);
  }
  return usage;
}

// CPU seconds per thread, by thread name and id.
std::map<std::string, double> ThreadTimes(pid_t pid) {
  std::map<std::string, double> times;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  if (DIR* dir = opendir(tasks.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream stat(tasks + "/" + entry->d_name + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      const size_t open = text.find('('), close = text.rfind(')');
      if (open == std::string::npos || close == std::string::npos) continue;
      std::istringstream fields(text.substr(close + 2));
      std::vector<std::string> f;
      std::string word;
      while (fields >> word) f.push_back(word);
      if (f.size() <= 12) continue;
      const std::string name = text.substr(open + 1, close - open - 1) + "/" + entry->d_name;
      times[name] = (std::stod(f[11]) + std::stod(f[12])) / sysconf(_SC_CLK_TCK);
    }
    closedir(dir);
  }
  return times;
}

Usage Measure(pid_t pid, int seconds) {
  Usage before = ReadUsage(pid);
  const auto threadsBefore = ThreadTimes(pid);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  Usage after = ReadUsage(pid);
  for (const auto& [name, time] : ThreadTimes(pid)) {
    auto it = threadsBefore.find(name);
    const double used = time - (it == threadsBefore.end() ? 0.0 : it->second);
    if (used > 0) std::printf("    thread %-24s %.3f s\n", name.c_str(), used);
  }
  return {after.cpuSeconds - before.cpuSeconds, after.switches - before.switches,
          after.runNanoseconds - before.runNanoseconds};
}

json Event(const std::string& event, const std::string& context, const json& payload = json()) {
  json message = {{"event", event}, {"action", "com.brelvon.multiview.action"}, {"context", context},
                  {"device", "PANEL1"}};
  if (!payload.is_null()) message["payload"] = payload;
  return message;
}

}  // namespace

int main() {
  const int seconds = 10;
  const std::string config = TempPath("devices.json");
  WriteFile(config, R"({"frame": {"width": 1920, "height": 1080, "fps": 60}, "devices": [{}, {"number": 2}]})");
  PluginTestHost host;
  if (!host.Launch(PNX_PLUGIN_EXECUTABLE, {"PNX_SIM_DEVICES=" + config}, "")) {
    std::fprintf(stderr, "the plug-in did not register\n");
    return 1;
  }
  const pid_t pid = host.Pid();
  host.Send(Event("willAppear", "K", json{{"settings", json::object()}}));
  host.WaitForEvent("setSettings");
  // Each figure is CPU use over a stretch of time, which is what it measures; the second before it lets the
  // previous step's start-up work fade out of the figure.
  std::this_thread::sleep_for(std::chrono::seconds(1));

  Usage idle = Measure(pid, seconds);
  std::printf("idle, %d s: CPU %.6f s on the scheduler's clock (%.4f%% of one core), %lld context switches\n",
              seconds, idle.runNanoseconds / 1e9, 100.0 * idle.runNanoseconds / 1e9 / seconds, idle.switches);

  // Four keys showing the device's state: the signal locks are looked at once a second.
  for (int k = 1; k <= 4; ++k) {
    const std::string context = "S" + std::to_string(k);
    host.Send(Event("willAppear", context, json{{"settings", {{"showState", true}}}}));
    host.WaitForEvent("setImage");
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const int stateSeconds = 20;
  Usage state = Measure(pid, stateSeconds);
  std::printf("four state keys, %d s: CPU %.6f s on the scheduler's clock (%.4f%% of one core), %lld context "
              "switches\n", stateSeconds, state.runNanoseconds / 1e9, 100.0 * state.runNanoseconds / 1e9 / stateSeconds,
              state.switches);
  for (int k = 1; k <= 4; ++k) host.Send(Event("willDisappear", "S" + std::to_string(k)));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Usage after = Measure(pid, seconds);
  std::printf("state keys gone, %d s: CPU %.3f s (%.2f%% of one core), %lld context switches\n", seconds,
              after.cpuSeconds, 100.0 * after.cpuSeconds / seconds, after.switches);

  std::vector<double> trips;
  const json press = Event("keyUp", "K", json{{"settings", {{"currentDevice", "Brelvon"},
                                                            {"devices", {{{"multiViewSources", {4, 3, 2, 1}}}}}}}});
  for (int i = 0; i < 1000; ++i) {
    const auto start = Clock::now();
    host.Send(press);
    if (host.WaitForEvent("setSettings").is_null()) {
      std::fprintf(stderr, "no answer to press %d\n", i);
      return 1;
    }
    trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(trips.begin(), trips.end());
  std::printf("keyUp -> setSettings over %zu presses: median %.0f us, p99 %.0f us, max %.0f us\n", trips.size(),
              trips[trips.size() / 2], trips[trips.size() * 99 / 100], trips.back());

  // The graph runs without a preview request: an inspector edit moving to device 2 rebuilds and runs it.
  host.Send(Event("propertyInspectorDidAppear", "K"));
  host.Send(Event("didReceiveSettings", "K", json{{"settings", {{"currentDevice", "Brelvon"}}}}));
  host.WaitForEvent("setSettings");
  host.Send(Event("didReceiveSettings", "K", json{{"settings", {{"currentDevice", "Brelvon 2"}}}}));
  host.WaitForEvent("setSettings");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Usage graph = Measure(pid, seconds);
  std::printf("graph running, no preview, %d s: CPU %.3f s (%.2f%% of one core)\n", seconds, graph.cpuSeconds,
              100.0 * graph.cpuSeconds / seconds);

  // K's inspector is still open (it appeared above): the images go to it.
  host.Send(Event("sendToPlugin", "K", json{{"method", "startSendingImages"}}));
  host.WaitFor([](const json& m) { return m.contains("payload") && m["payload"].contains("imageData"); });
  std::this_thread::sleep_for(std::chrono::seconds(1));
  host.TakeAllText();
  Usage preview = Measure(pid, seconds);
  const size_t images = host.TakeAllText().size();
  std::printf("preview streaming, %d s: CPU %.3f s (%.2f%% of one core), %zu images (%.1f/s)\n", seconds,
              preview.cpuSeconds, 100.0 * preview.cpuSeconds / seconds, images, images / double(seconds));
  std::printf("preview cost above the running graph: %.2f%% of one core\n",
              100.0 * (preview.cpuSeconds - graph.cpuSeconds) / seconds);
  const int code = host.CloseAndWait();
  std::printf("exit code %d\n", code);
  return code == 0 ? 0 : 1;
}
