// pnx-devhost: a development host for the plug-in. Listens on a loopback port, starts the plug-in with the
// host's command line, waits for its registration, plays a scenario and closes. Every message received is
// printed on standard output as one JSON line; progress goes to standard error.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/devhost/child_process.h"
#include "tools/devhost/dev_host_server.h"
#include "tools/devhost/plugin_launch.h"
#include "tools/devhost/scenario_file.h"
#include "tools/devhost/web_host.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kUsage[] =
    "usage: pnx-devhost [options] PLUGIN [SCENARIO.json]\n"
    "  Starts PLUGIN as the key-panel host would, waits for its registration, plays SCENARIO (a JSON array of\n"
    "  steps), closes the connection and reports the plug-in's exit code. Received messages go to standard\n"
    "  output, one JSON line each; progress and sent messages to standard error.\n"
    "options:\n"
    "  --port N            listen on 127.0.0.1:N (default 0: any free port)\n"
    "  --wine              start PLUGIN (a .exe) under wine ($WINE, wine64, wine or /usr/lib/wine/wine64)\n"
    "  --language CODE     \"language\" in the -info block (default en)\n"
    "  --save-images DIR   save the \"imageData\" of each \"sendToPropertyInspector\" as DIR/image-NNNN.bmp\n"
    "  --elide-images      print \"imageData\" arrays as their length only\n"
    "  --timeout-ms N      time allowed for the registration (default 10000)\n"
    "  --plugin-output F   append the plug-in's standard output and error to F (default: discarded)\n"
    "  --quiet             no progress lines on standard error\n"
    "  --exchange          show the whole exchange on standard output: \"-> \" before each message sent,\n"
    "                      \"<- \" before each message received, \"# \" before the scenario's comments\n"
    "scenario steps (objects):\n"
    "  {\"send\": {...}}            send the object as one text message\n"
    "  {\"sendText\": \"...\"}        send the text as it is\n"
    "  {\"sendBinary\": \"...\"}      send the text's bytes as a binary message\n"
    "  {\"wait\": MS}                pause\n"
    "  {\"waitFor\": \"EVENT\", \"timeout\": MS}   wait for a message with that \"event\" (default 5000 ms)\n"
    "  {\"comment\": \"...\"}         print a comment line\n"
    "The web mode (a panel page in a browser): pnx-devhost --web ... PLUGIN_FOLDER; see pnx-devhost --web.\n"
    "exit status: 0 when the plug-in registered, every waitFor was met and the plug-in exited with code 0;\n"
    "1 otherwise; 2 for a usage error.\n";

struct Options {
  std::string plugin;
  std::string scenario;
  uint16_t port = 0;
  bool wine = false;
  std::string language = "en";
  std::string imageFolder;
  bool elideImages = false;
  int registrationTimeoutMs = 10000;
  std::string pluginOutput;
  bool quiet = false;
  bool exchange = false;
};

std::mutex g_printLock;  // keeps the lines of the two streams whole and in order
bool g_quiet = false;
bool g_exchange = false;

void Progress(const std::string& line) {
  if (g_quiet) return;
  std::lock_guard<std::mutex> lock(g_printLock);
  std::cerr << "pnx-devhost: " << line << std::endl;
}

void Fail(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_printLock);
  std::cerr << "pnx-devhost: " << line << std::endl;
}

// A sent message or a scenario comment: part of the exchange on standard output, else progress.
void Exchange(const std::string& line) {
  if (!g_exchange) {
    Progress(line);
    return;
  }
  std::lock_guard<std::mutex> lock(g_printLock);
  std::cout << line << std::endl;
}

bool ParseNumber(const char* text, long min, long max, long& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (!*text || *end || value < min || value > max) return false;
  out = value;
  return true;
}

bool ParseOptions(int argc, char* argv[], Options& options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto needValue = [&](const char*& value) {
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    const char* value = nullptr;
    long number = 0;
    if (arg == "--wine") {
      options.wine = true;
    } else if (arg == "--elide-images") {
      options.elideImages = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--exchange") {
      options.exchange = true;
    } else if (arg == "--port") {
      if (!needValue(value) || !ParseNumber(value, 0, 65535, number)) return false;
      options.port = static_cast<uint16_t>(number);
    } else if (arg == "--timeout-ms") {
      if (!needValue(value) || !ParseNumber(value, 1, 3600000, number)) return false;
      options.registrationTimeoutMs = static_cast<int>(number);
    } else if (arg == "--language") {
      if (!needValue(value)) return false;
      options.language = value;
    } else if (arg == "--save-images") {
      if (!needValue(value)) return false;
      options.imageFolder = value;
    } else if (arg == "--plugin-output") {
      if (!needValue(value)) return false;
      options.pluginOutput = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty() || positional.size() > 2) return false;
  options.plugin = positional[0];
  if (positional.size() == 2) options.scenario = positional[1];
  return true;
}

// The bytes of an "imageData" array, when every element is an integer 0..255.
bool ImageBytes(const nlohmann::json& data, std::string& bytes) {
  if (!data.is_array()) return false;
  bytes.clear();
  bytes.reserve(data.size());
  for (const nlohmann::json& v : data) {
    if (!v.is_number_integer()) return false;
    const auto n = v.get<int64_t>();
    if (n < 0 || n > 255) return false;
    bytes.push_back(static_cast<char>(n));
  }
  return true;
}

class MessagePrinter {
 public:
  explicit MessagePrinter(const Options& options) : m_options(options) {}

  // Runs on the server's thread, one message at a time.
  void operator()(const DevHostServer::Message& message) {
    std::string line = message.text;
    if (message.binary) {
      line = nlohmann::json{{"binaryMessageBytes", message.text.size()}}.dump();
    } else if (m_options.elideImages || !m_options.imageFolder.empty()) {
      HandleImage(line);
    }
    std::lock_guard<std::mutex> lock(g_printLock);
    std::cout << (m_options.exchange ? "<- " : "") << line << std::endl;
  }

 private:
  void HandleImage(std::string& line) {
    nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (!parsed.is_object() || parsed.value("event", "") != "sendToPropertyInspector") return;
    auto payload = parsed.find("payload");
    if (payload == parsed.end() || !payload->is_object()) return;
    auto data = payload->find("imageData");
    if (data == payload->end() || !data->is_array()) return;
    if (!m_options.imageFolder.empty()) Save(*data);
    if (m_options.elideImages) {
      *data = "<" + std::to_string(data->size()) + " numbers>";
      line = parsed.dump();
    }
  }

  void Save(const nlohmann::json& data) {
    std::string bytes;
    if (!ImageBytes(data, bytes)) return;
    char name[32];
    std::snprintf(name, sizeof(name), "image-%04d.bmp", ++m_imageCount);
    const std::string path = m_options.imageFolder + "/" + name;
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) Fail("cannot write " + path);
  }

  const Options& m_options;
  int m_imageCount = 0;
};

bool WaitForRegistration(DevHostServer& server, ChildProcess& child, const PluginLaunch& launch,
                         milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  DevHostServer::Message first;
  while (!server.NextMessage(first, milliseconds(50))) {
    if (!child.Running()) {
      Fail("the plug-in exited with code " + std::to_string(child.ExitCode()) + " before registering");
      return false;
    }
    if (Clock::now() >= deadline) {
      Fail("no registration within " + std::to_string(timeout.count()) + " ms");
      return false;
    }
  }
  const nlohmann::json expected = {{"event", launch.registerEvent}, {"uuid", launch.pluginUUID}};
  if (first.binary || nlohmann::json::parse(first.text, nullptr, false) != expected) {
    Fail("the first message is not the registration " + expected.dump());
    return false;
  }
  Progress("registration received");
  return true;
}

bool PlayScenario(DevHostServer& server, const nlohmann::json& steps) {
  for (const nlohmann::json& step : steps) {
    if (step.contains("comment")) {
      Exchange("# " + step["comment"].get<std::string>());
    } else if (step.contains("wait")) {
      std::this_thread::sleep_for(milliseconds(step["wait"].get<uint64_t>()));
    } else if (step.contains("waitFor")) {
      const std::string event = step["waitFor"].get<std::string>();
      const auto timeout = milliseconds(step.value("timeout", uint64_t{5000}));
      DevHostServer::Message message;
      if (!server.WaitForEvent(event, message, timeout)) {
        Fail("no \"" + event + "\" within " + std::to_string(timeout.count()) + " ms");
        return false;
      }
    } else {
      // Shown before it goes out, so that a quick answer cannot appear above it.
      bool sent = false;
      if (step.contains("send")) {
        const std::string text = step["send"].dump();
        Exchange("-> " + text);
        sent = server.SendText(text);
      } else if (step.contains("sendText")) {
        const std::string text = step["sendText"].get<std::string>();
        Exchange("-> " + text);
        sent = server.SendText(text);
      } else {
        const std::string bytes = step["sendBinary"].get<std::string>();
        Exchange("-> (binary) " + bytes);
        sent = server.SendBinary(bytes);
      }
      if (!sent) {
        Fail("cannot send, the connection has ended");
        return false;
      }
    }
  }
  return true;
}

int RunDevHost(const Options& options) {
  nlohmann::json steps;
  std::string error;
  if (!LoadScenario(options.scenario, steps, error)) {
    Fail(error);
    return 2;
  }
  if (!options.imageFolder.empty()) mkdir(options.imageFolder.c_str(), 0755);

  MessagePrinter printer(options);
  DevHostServer server(options.port, [&printer](const DevHostServer::Message& m) { printer(m); });

  PluginLaunch launch;
  launch.executable = options.plugin;
  launch.underWine = options.wine;
  launch.port = server.Port();
  launch.pluginUUID = NewPluginUUID();
  launch.info = MakeInfoBlock(options.language);
  ChildProcess child;
  if (!child.Start(PluginArguments(launch), options.pluginOutput, error)) {
    Fail(error);
    return 1;
  }
  Progress("listening on 127.0.0.1:" + std::to_string(server.Port()) + ", started " + options.plugin +
           (options.wine ? " under wine" : "") + " (pid " + std::to_string(child.Pid()) + ")");

  bool ok = WaitForRegistration(server, child, launch, milliseconds(options.registrationTimeoutMs)) &&
            PlayScenario(server, steps);

  Progress("closing the connection");
  server.Close(1000);
  if (!child.WaitForExit(milliseconds(15000))) {
    Fail("the plug-in did not exit within 15 s of the close; killing it");
    child.Kill();
    return 1;
  }
  Progress("plug-in exit code " + std::to_string(child.ExitCode()));
  return ok && child.ExitCode() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) != "--web") continue;
    WebHostOptions webOptions;
    if (!ParseWebHostOptions(argc, argv, webOptions)) {
      std::cerr << kWebHostUsage;
      return 2;
    }
    try {
      return RunWebHost(webOptions);
    } catch (const std::exception& e) {
      Fail(e.what());
      return 1;
    }
  }
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << kUsage;
    return 2;
  }
  g_quiet = options.quiet;
  g_exchange = options.exchange;
  try {
    return RunDevHost(options);
  } catch (const std::exception& e) {
    Fail(e.what());
    return 1;
  }
}
