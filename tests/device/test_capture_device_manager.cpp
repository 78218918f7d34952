// CaptureDeviceManager against the emulated device: discovery, the graph, signals and the vendor properties,
// checked through the manager's fields and the device's recorded requests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/capture_device_manager.h"
#include "platform/com_ptr.h"
#include "platform/emulator_control.h"

namespace {

// ---- The emulated device's configuration, its recorded requests and filter queries ----

// One trace file for the whole test process.
const std::string& TracePath() {
  static const std::string path = [] {
    std::string p = "/tmp/pnx_device_tests_" + std::to_string(getpid()) + ".trace";
    std::remove(p.c_str());
    return p;
  }();
  return path;
}

// Makes the emulated device enumerate the given configuration (PNX_SIM_DEVICES format) from now on.
bool UseDevices(const std::string& json) {
  emulator::SetTracePath(TracePath());
  return emulator::LoadConfigurationText(json);
}

// Reads what the emulated device recorded in its trace file after this recorder was made.
class TraceRecorder {
 public:
  TraceRecorder() : start_(std::ifstream(TracePath(), std::ios::binary | std::ios::ate).tellg()) {}
  std::vector<nlohmann::json> Events(const char* op = nullptr) const {
    std::vector<nlohmann::json> events;
    std::ifstream in(TracePath(), std::ios::binary);
    in.seekg(std::max<std::streamoff>(start_, 0));
    for (std::string line; std::getline(in, line);) {
      nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
      if (event.is_object() && (!op || event.value("op", "") == op)) events.push_back(std::move(event));
    }
    return events;
  }
  // Property requests as "op id data hr" ("set 632 2143000000000000 0").
  std::vector<std::string> Requests() const {
    std::vector<std::string> requests;
    for (const nlohmann::json& e : Events()) {
      const std::string op = e.value("op", "");
      if (op != "get" && op != "set") continue;
      requests.push_back(op + " " + std::to_string(e.value("id", 0)) + " " + e.value("data", "") + " " +
                         std::to_string(e.value("hr", 0)));
    }
    return requests;
  }

 private:
  std::streamoff start_;
};

// The name a filter was given when it joined its graph, and the graph (not counted).
std::string FilterName(IBaseFilter* filter, IFilterGraph** graphOut = nullptr) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return "";
  ComPtr<IFilterGraph> graph;
  graph.Attach(info.pGraph);  // handed out counted
  if (graphOut) *graphOut = graph.Get();
  std::string name;
  for (const auto* c = info.achName; *c; ++c) name.push_back(static_cast<char>(*c));
  return name;
}

using Bits = std::vector<bool>;

// Bookkeeping after one enumeration, per configuration.
TEST(DeviceDiscovery, NamesNumbersAndCounts) {
  struct Case {
    const char* name;
    const char* config;
    int32_t deviceCount;
    std::vector<int32_t> inputCounts;
    std::vector<size_t> slots;  // m_sourceFilters[d].size()
    size_t propertySets;
    bool opened;
    int32_t currentDevice;
  };
  const Case cases[] = {
      {"two devices with all inputs", R"({"devices": [{}, {}]})", 2, {4, 4}, {4, 4}, 2, true, 0},
      {"a node named exactly Brelvon fills every slot of four devices",
       R"({"devices": [], "otherNodes": ["Brelvon"]})", 4, {4, 4, 4, 4}, {4, 4, 4, 4}, 0, true, 0},
      {"device numbers from 5 on are never probed", R"({"devices": [{"number": 5}]})", 0, {}, {}, 0, true, -1},
      {"a device with only HDMI-2 to HDMI-4", R"({"devices": [{"inputs": [2, 3, 4]}]})", 0, {3}, {4}, 0, true,
       -1},
      {"a gap in the inputs", R"({"devices": [{"inputs": [1, 2, 4]}]})", 1, {3}, {4}, 1, true, 0},
      {"only device number 2", R"({"devices": [{"number": 2}]})", 1, {0, 4}, {0, 4}, 2, false, -1},
      {"other names only", R"({"devices": [], "otherNodes": ["Integrated Camera", "Brelvo"]})", 0, {}, {}, 0,
       true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(UseDevices(c.config));
    CaptureDeviceManager manager;
    EXPECT_EQ(manager.OpenDevice(0), c.opened);
    EXPECT_EQ(manager.m_deviceCount, c.deviceCount);
    EXPECT_EQ(manager.m_inputCounts, c.inputCounts);
    std::vector<size_t> slots;
    for (const auto& device : manager.m_sourceFilters) slots.push_back(device.size());
    EXPECT_EQ(slots, c.slots);
    EXPECT_EQ(manager.m_propertySets.size(), c.propertySets);
    if (c.opened) {
      EXPECT_EQ(std::count(manager.m_propertySets.begin(), manager.m_propertySets.end(), nullptr), 0);
    }
    EXPECT_EQ(manager.m_currentDevice, c.currentDevice);
  }
}

TEST(DeviceDiscovery, EmptyCategoryKeepsTheCountsOtherDevicesResetThem) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{}]})"));
  CaptureDeviceManager manager;
  ASSERT_TRUE(manager.OpenDevice(0));

  ASSERT_TRUE(UseDevices(R"({"devices": []})"));
  EXPECT_TRUE(manager.OpenDevice(1));
  EXPECT_EQ(manager.m_deviceCount, 1);
  EXPECT_EQ(manager.m_inputCounts, (std::vector<int32_t>{4}));
  EXPECT_EQ(manager.m_currentDevice, 0);
  EXPECT_TRUE(manager.m_graph);

  ASSERT_TRUE(UseDevices(R"({"devices": [], "otherNodes": ["Integrated Camera"]})"));
  EXPECT_TRUE(manager.OpenDevice(1));
  EXPECT_EQ(manager.m_deviceCount, 0);
  EXPECT_TRUE(manager.m_inputCounts.empty());
  EXPECT_EQ(manager.m_currentDevice, 0);
}

TEST(InputSignals, LockPerInputAndMissingSlots) {
  struct Case {
    const char* name;
    const char* config;
    std::vector<Bits> signals;
  };
  const Case cases[] = {
      {"signal per input", R"({"devices": [{"signal": [true, false, false, true]}]})",
       {{true, false, false, true}}},
      {"no decoder counts as a signal", R"({"devices": [{"signal": [false, false, false, false], "decoder": false}]})",
       {{true, true, true, true}}},
      {"only device number 2: device 0 has no slots",
       R"({"devices": [{"number": 2, "signal": [false, true, true, true]}]})", {{}, {false, true, true, true}}},
      {"a gap in the inputs keeps its bit false", R"({"devices": [{"inputs": [1, 2, 4]}]})",
       {{true, true, false, true}}},
      {"a device with too few slots", R"({"devices": [{"inputs": [1, 2]}]})", {{true, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(UseDevices(c.config));
    CaptureDeviceManager manager;
    manager.OpenDevice(0);
    std::vector<Bits> signals;
    ASSERT_NO_THROW(signals = manager.QueryInputSignals());
    EXPECT_EQ(signals, c.signals);
  }
}

TEST(CaptureFormat, EveryRgb24CapabilityIsAppliedTheLastStays) {
  struct Case {
    const char* name;
    const char* config;
    std::vector<std::string> applied;
  };
  const Case cases[] = {
      {"no RGB24 keeps the format and still connects", R"({"devices": [{"formats": ["YUY2", "MJPG"]}]})", {}},
      {"several RGB24",
       R"({"devices": [{"formats": [{"subtype": "RGB24", "width": 1280, "height": 720}, "YUY2",
                                    {"subtype": "RGB24", "width": 640, "height": 360}]}]})",
       {"RGB24 1280x720", "RGB24 640x360"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(UseDevices(c.config));
    TraceRecorder trace;
    CaptureDeviceManager manager;
    EXPECT_TRUE(manager.OpenDevice(0));
    EXPECT_EQ(manager.m_currentDevice, 0);
    std::vector<std::string> applied;
    for (const nlohmann::json& e : trace.Events("format")) {
      applied.push_back(e.value("subtype", "") + " " + std::to_string(e.value("width", 0)) + "x" +
                        std::to_string(e.value("height", 0)));
    }
    EXPECT_EQ(applied, c.applied);
  }
}

using FrameCounter = std::atomic<int>;

void CountFrame(const uint8_t*, int32_t, void* context) { ++*static_cast<FrameCounter*>(context); }

// Runs the graph until `frames` forwarded frames came through (or the wait ends), then stops it.
int RunForFrames(CaptureDeviceManager& manager, FrameCounter& counter, int frames,
                 std::chrono::milliseconds wait = std::chrono::seconds(5)) {
  counter = 0;
  if (!manager.m_mediaControl || FAILED(manager.m_mediaControl->Run())) return 0;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (counter < frames && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  manager.m_mediaControl->Stop();
  return counter;
}

void InstallCounter(CaptureDeviceManager& manager, FrameCounter* counter) {
  manager.ChangePreview([&] {
    manager.m_frameCallback = &CountFrame;
    manager.m_frameContext = counter;
  });
}

TEST(DeviceSwitch, OpeningTheCurrentDeviceTouchesNothing) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{}, {}]})"));
  CaptureDeviceManager manager;
  ASSERT_TRUE(manager.OpenDevice(0));
  IFilterGraph2* graph = manager.m_graph.Get();
  IBaseFilter* sink = manager.m_sink.Get();
  TraceRecorder trace;
  EXPECT_TRUE(manager.OpenDevice(0));
  EXPECT_EQ(manager.m_graph.Get(), graph);
  EXPECT_EQ(manager.m_sink.Get(), sink);
  EXPECT_TRUE(trace.Events().empty());
}

TEST(DeviceSwitch, RebuildsForTheNewDeviceAndLearnsItsFrameSize) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{}, {"formats": [{"subtype": "RGB24", "width": 640, "height": 360}]}]})"));
  CaptureDeviceManager manager;
  FrameCounter counter;
  InstallCounter(manager, &counter);
  ASSERT_TRUE(manager.OpenDevice(0));
  EXPECT_GE(RunForFrames(manager, counter, 2), 2);
  manager.ChangePreview([&] { EXPECT_EQ(manager.m_sourceWidth, 1920); });

  TraceRecorder trace;
  ASSERT_TRUE(manager.OpenDevice(1));
  EXPECT_EQ(manager.m_currentDevice, 1);
  EXPECT_EQ(FilterName(manager.m_sourceFilters[1][0].Get()), "Brelvon 2 HDMI-1 / Multiview");
  EXPECT_GE(RunForFrames(manager, counter, 2), 2);
  manager.ChangePreview([&] {
    EXPECT_EQ(manager.m_sourceWidth, 640);
    EXPECT_EQ(manager.m_sourceHeight, 360);
  });
  const std::vector<nlohmann::json> states = trace.Events("state");
  EXPECT_TRUE(std::any_of(states.begin(), states.end(), [](const nlohmann::json& e) {
    return e.value("node", "") == "Brelvon 2 HDMI-1 / Multiview" && e.value("state", "") == "running";
  }));
}

TEST(DeviceSwitch, AFailedSwitchAndTheSwitchBackRestoreThePreview) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{}]})"));
  CaptureDeviceManager manager;
  FrameCounter counter;
  InstallCounter(manager, &counter);
  ASSERT_TRUE(manager.OpenDevice(0));

  EXPECT_FALSE(manager.OpenDevice(2));
  EXPECT_EQ(manager.m_currentDevice, 0);
  EXPECT_EQ(RunForFrames(manager, counter, 1, std::chrono::milliseconds(400)), 0);

  EXPECT_TRUE(manager.OpenDevice(0));
  EXPECT_GE(RunForFrames(manager, counter, 2), 2);
}

TEST(DeviceSwitch, ARebuildBindsEveryInputOfADeviceWithAGap) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{"inputs": [1, 2, 4]}, {"inputs": [2, 3]}, {}]})"));
  CaptureDeviceManager manager;
  ASSERT_TRUE(manager.OpenDevice(0));
  ASSERT_TRUE(manager.OpenDevice(2));
  ASSERT_TRUE(manager.OpenDevice(0));
  EXPECT_EQ(manager.m_inputCounts, (std::vector<int32_t>{3, 2, 4}));
  EXPECT_EQ(manager.m_deviceCount, 2);
  // Every bound filter is a member of the present graph.
  for (const auto& device : manager.m_sourceFilters) {
    for (const ComPtr<IBaseFilter>& filter : device) {
      IFilterGraph* graph = nullptr;
      if (filter) FilterName(filter.Get(), &graph);
      EXPECT_EQ(graph, filter ? static_cast<IFilterGraph*>(manager.m_graph.Get()) : nullptr);
    }
  }
  EXPECT_EQ(manager.QueryInputSignals(),
            (std::vector<Bits>{{true, true, false, true}, {false, true, true}, {true, true, true, true}}));
}

TEST(ManagerLifetime, NoComObjectOutlivesTheManager) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{}, {}]})"));
  const long before = PnxLiveComObjectCount();
  {
    CaptureDeviceManager manager;
    FrameCounter counter;
    InstallCounter(manager, &counter);
    ASSERT_TRUE(manager.OpenDevice(0));
    ASSERT_TRUE(manager.OpenDevice(1));
    manager.QueryInputSignals();
    manager.ReadDeviceState(1);
    EXPECT_GE(RunForFrames(manager, counter, 1), 1);
    manager.m_mediaControl->Run();  // left running: destruction must stop it
  }
  EXPECT_EQ(PnxLiveComObjectCount(), before);
}

// --- The vendor properties ---

struct PropertyFixture : ::testing::Test {
  std::unique_ptr<CaptureDeviceManager> manager;
  void Open(const char* config) {
    EXPECT_TRUE(UseDevices(config));
    manager.reset();
    manager = std::make_unique<CaptureDeviceManager>();
    manager->OpenDevice(0);
  }
};

TEST_F(PropertyFixture, SourcesArePackedOneInputPerNibble) {
  Open(R"({"devices": [{}]})");
  struct Case {
    std::vector<int32_t> sources;
    const char* sent;
  };
  const Case cases[] = {
      {{1, 2, 3, 4}, "2143000000000000"},
      {{3, 3, 3, 3}, "3333000000000000"},
      {{17, 1, 1, 1}, "1111000000000000"},
      {{4, 3, 2, 1, 9}, "3412000000000000"},
  };
  for (const Case& c : cases) {
    TraceRecorder trace;
    EXPECT_TRUE(manager->SetMultiviewSources(0, &c.sources, false));
    EXPECT_EQ(trace.Requests(), (std::vector<std::string>{std::string("set 632 ") + c.sent + " 0"}));
  }
}

TEST_F(PropertyFixture, ThreeSourcesRaiseAndWriteNothing) {
  Open(R"({"devices": [{}]})");
  manager->ReadDeviceState(0);
  const uint64_t remembered = manager->m_deviceStates[0].sources;
  TraceRecorder trace;
  const std::vector<int32_t> three = {1, 2, 3};
  EXPECT_THROW(manager->SetMultiviewSources(0, &three, true), std::out_of_range);
  EXPECT_TRUE(trace.Requests().empty());
  EXPECT_EQ(manager->m_deviceStates[0].sources, remembered);
  EXPECT_FALSE(manager->SetMultiviewSources(0, nullptr, true));
}

TEST_F(PropertyFixture, LayoutIsFollowedByTheReadOfProperty25) {
  Open(R"({"devices": [{"failSet": [631]}]})");
  TraceRecorder trace;
  // Remembering needs a record: on a device never read nothing is stored, but the device is set.
  EXPECT_TRUE(manager->SetMultiviewLayout(0, 7, true));
  EXPECT_TRUE(manager->m_deviceStates.empty());
  const std::vector<std::string> requests = trace.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, 8), "set 631 ");
  EXPECT_EQ(requests[1].substr(0, 7), "get 25 ");
}

TEST_F(PropertyFixture, ReadThenRestoreSendsSourcesThenLayout) {
  Open(R"({"devices": [{"layout": 3, "sources": [2, 2, 1, 1]}]})");
  ASSERT_TRUE(manager->ReadDeviceState(0));
  EXPECT_EQ(manager->m_deviceStates[0].layout, 3u);
  EXPECT_EQ(manager->m_deviceStates[0].sources, 0x1122u);

  // A live edit changes the device only; a key press changes device and record.
  const std::vector<int32_t> edit = {4, 4, 4, 4};
  manager->SetMultiviewLayout(0, 0, false);
  manager->SetMultiviewSources(0, &edit, false);
  const std::vector<int32_t> pressed = {1, 2, 3, 4};
  manager->SetMultiviewSources(0, &pressed, true);
  manager->SetMultiviewLayout(0, 100, true);

  TraceRecorder trace;
  EXPECT_TRUE(manager->RestoreDeviceState(0));
  EXPECT_EQ(trace.Requests(),
            (std::vector<std::string>{"set 632 2143000000000000 0", "set 631 64000000 0"}));
}

TEST_F(PropertyFixture, ARestoreWhoseSourcesFailSkipsTheLayout) {
  Open(R"({"devices": [{"failSet": [632]}]})");
  ASSERT_TRUE(manager->ReadDeviceState(0));
  TraceRecorder trace;
  EXPECT_FALSE(manager->RestoreDeviceState(0));
  const std::vector<std::string> requests = trace.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, 8), "set 632 ");
}

// Reading device 1 also makes a record for device 0, which holds nothing read; a failed read holds nothing either.
TEST_F(PropertyFixture, NothingIsRestoredThatWasNeverReadSuccessfully) {
  const struct {
    const char* config;
    int32_t read;
    bool readOk;
  } cases[] = {{R"({"devices": [{}, {}]})", 1, true}, {R"({"devices": [{"failGet": [631]}]})", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    Open(c.config);
    EXPECT_EQ(manager->ReadDeviceState(c.read), c.readOk);
    TraceRecorder trace;
    EXPECT_FALSE(manager->RestoreDeviceState(0));
    EXPECT_FALSE(manager->RestoreDeviceState(5));
    EXPECT_TRUE(trace.Requests().empty());
  }
}

TEST_F(PropertyFixture, AFailedGetKeepsTheRememberedValues) {
  Open(R"({"devices": [{"layout": 3, "sources": [2, 2, 1, 1]}, {}]})");
  ASSERT_TRUE(manager->ReadDeviceState(0));
  ASSERT_TRUE(UseDevices(R"({"devices": [{"layout": 5, "sources": [4, 4, 4, 4], "failGet": [632]}, {}]})"));
  ASSERT_TRUE(manager->OpenDevice(1));  // binds device 0's HDMI-1 node anew
  EXPECT_FALSE(manager->ReadDeviceState(0));
  EXPECT_EQ(manager->m_deviceStates[0].sources, 0x1122u);
  EXPECT_EQ(manager->m_deviceStates[0].layout, 3u);
  TraceRecorder trace;
  EXPECT_TRUE(manager->RestoreDeviceState(0));
  EXPECT_EQ(trace.Requests(),
            (std::vector<std::string>{"set 632 2211000000000000 0", "set 631 03000000 0"}));
}

TEST_F(PropertyFixture, ADeviceWithoutPropertySetRefusesEverything) {
  Open(R"({"devices": [{"propertySet": false}]})");
  const std::vector<int32_t> sources = {1, 2, 3, 4};
  TraceRecorder trace;
  EXPECT_FALSE(manager->ReadDeviceState(0));
  EXPECT_EQ(manager->m_deviceStates.size(), 1u);
  EXPECT_FALSE(manager->RestoreDeviceState(0));
  EXPECT_FALSE(manager->SetMultiviewLayout(0, 100, true));
  EXPECT_FALSE(manager->SetMultiviewSources(0, &sources, true));
  EXPECT_FALSE(manager->SetMultiviewLayout(-1, 100, true));
  EXPECT_TRUE(trace.Requests().empty());
  EXPECT_EQ(manager->m_deviceCount, 1);
}

}  // namespace
