// A soak of the real plug-in process against two emulated devices at 1920x1080, 60 frames per second: many
// cycles of keys appearing, an inspector opening, edits, a preview image, a switch to the other device and
// back, the inspector closing and the keys disappearing. Prints the process's memory, threads and open files
// against their values at the start, the COM objects the emulated device still counted at exit and the
// trace facility's shared-memory objects left behind. Usage: plugin_soak [CYCLES] (default 1000).
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "tests/plugin/plugin_test_host.h"

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
  long rssKb = 0;
  long threads = 0;
  long files = 0;
};

long StatusField(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
  }
  return -1;
}

std::set<std::string> FolderEntries(const std::string& path) {
  std::set<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.insert(entry->d_name);
    }
    closedir(dir);
  }
  return names;
}

Figures Read(pid_t pid) {
  Figures f;
  f.rssKb = StatusField(pid, "VmRSS");
  f.threads = StatusField(pid, "Threads");
  f.files = static_cast<long>(FolderEntries("/proc/" + std::to_string(pid) + "/fd").size());
  return f;
}

void Print(const char* when, const Figures& f) {
  std::printf("%-28s RSS %7ld kB   threads %3ld   open files %3ld\n", when, f.rssKb, f.threads, f.files);
}

json Event(const std::string& event, const std::string& context, const json& payload = json()) {
  json message = {{"event", event}, {"action", "com.brelvon.multiview.action"}, {"context", context},
                  {"device", "PANEL1"}};
  if (!payload.is_null()) message["payload"] = payload;
  return message;
}

json Settings(const char* device, uint32_t layout, int first) {
  json sources = json::array();
  for (int i = 0; i < 4; ++i) sources.push_back((first + i) % 4 + 1);
  json entry = {{"multiViewLayout", layout}, {"multiViewSources", sources}};
  return json{{"settings", {{"currentDevice", device}, {"devices", {entry, entry}}}}};
}

bool IsImage(const json& m) {
  return m.is_object() && m.value("event", "") == "sendToPropertyInspector" && m.contains("payload") &&
         m["payload"].is_object() && m["payload"].contains("imageData");
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
  const std::string config = TempPath("devices.json");
  const std::string exitReport = TempPath("exit-report.json");
  WriteFile(config, R"({"frame": {"width": 1920, "height": 1080, "fps": 60}, "devices": [{}, {"number": 2}]})");
  const std::set<std::string> shmBefore = FolderEntries("/dev/shm");

  PluginTestHost host;
  if (!host.Launch(PNX_PLUGIN_EXECUTABLE, {"PNX_SIM_DEVICES=" + config, "PNX_SIM_EXIT_REPORT=" + exitReport},
                   "")) {
    std::fprintf(stderr, "the plug-in did not register\n");
    return 1;
  }
  const pid_t pid = host.Pid();
  const Figures atRegistration = Read(pid);

  int missingAnswers = 0;
  int missingImages = 0;
  auto expect = [&](const char* event) {
    if (host.WaitForEvent(event).is_null()) ++missingAnswers;
  };
  Figures atStart;
  const auto begin = Clock::now();
  // The first cycles build every graph and buffer once; the start figures are read after them.
  const int warmUp = 5;
  for (int cycle = 0; cycle < warmUp + cycles; ++cycle) {
    if (cycle == warmUp) {
      // The start figures are a baseline, not a check: the warm-up's last threads get a moment to end.
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      atStart = Read(pid);
    }
    host.Send(Event("willAppear", "key-1", Settings("Brelvon", 100, 0)));
    expect("setSettings");
    host.Send(Event("willAppear", "key-2", Settings("Brelvon 2", 100, 1)));
    expect("setSettings");

    host.Send(Event("propertyInspectorDidAppear", "key-1"));
    host.Send(Event("didReceiveSettings", "key-1", Settings("Brelvon", cycle % 2 ? 0 : 100, cycle)));
    expect("setSettings");
    host.Send(Event("sendToPlugin", "key-1", json{{"method", "startSendingImages"}}));
    if (host.WaitFor(IsImage).is_null()) ++missingImages;
    host.Send(Event("didReceiveSettings", "key-1", Settings("Brelvon 2", 0, cycle + 1)));
    expect("setSettings");
    host.Send(Event("didReceiveSettings", "key-1", Settings("Brelvon", 100, cycle + 2)));
    expect("setSettings");
    host.Send(Event("propertyInspectorDidDisappear", "key-1"));

    host.Send(Event("willDisappear", "key-2"));
    host.Send(Event("willDisappear", "key-1"));
    // The answer to a device status request comes after the cycle's events were handled.
    host.Send(Event("sendToPlugin", "sync", json{{"method", "getDeviceStatus"}}));
    if (host.WaitFor([](const json& m) { return m.value("context", "") == "sync"; }).is_null()) ++missingAnswers;
    host.TakeAllText();
    if (cycle >= warmUp && (cycle + 1 - warmUp) % 100 == 0) {
      const Figures now = Read(pid);
      std::printf("cycle %4d: RSS %ld kB, threads %ld, open files %ld\n", cycle + 1 - warmUp, now.rssKb,
                  now.threads, now.files);
      std::fflush(stdout);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  // The last preview graph stops with the last "willDisappear"; its threads end on their own time (up to 10 s
  // for them to come back to the start's count).
  for (int i = 0; i < 500 && Read(pid).threads > atStart.threads; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  host.TakeAllText();
  const Figures atEnd = Read(pid);

  const int code = host.CloseAndWait();
  const std::string report = ReadFile(exitReport);
  std::set<std::string> shmLeft;
  for (const std::string& name : FolderEntries("/dev/shm")) {
    if (!shmBefore.count(name)) shmLeft.insert(name);
  }

  std::printf("\n%d cycles (+%d warm-up) in %.1f s (%.1f ms per cycle); %d answers and %d images missing\n", cycles,
              warmUp, seconds, 1000.0 * seconds / (cycles + warmUp), missingAnswers, missingImages);
  Print("at registration", atRegistration);
  Print("start (after warm-up)", atStart);
  Print("end", atEnd);
  std::printf("RSS end - start: %+ld kB (target within 5120 kB); threads %+ld; open files %+ld\n",
              atEnd.rssKb - atStart.rssKb, atEnd.threads - atStart.threads, atEnd.files - atStart.files);
  std::printf("exit code %d; exit report: %s", code, report.empty() ? "(none)\n" : report.c_str());
  std::printf("/dev/shm entries new since the start: %zu", shmLeft.size());
  for (const std::string& name : shmLeft) std::printf(" %s", name.c_str());
  std::printf("\n/dev/shm trace entries present after exit:");
  for (const std::string& name : FolderEntries("/dev/shm")) {
    if (name.find("QVTRACE") != std::string::npos) std::printf(" %s%s", name.c_str(), shmBefore.count(name) ? " (there before)" : "");
  }
  std::printf("\n");
  return code == 0 ? 0 : 1;
}
