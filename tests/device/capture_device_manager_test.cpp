// CaptureDeviceManager against the emulated device: discovery, the graph, signals and the vendor properties,
// checked through the manager's public answers and the requests the device recorded in its trace; and
// RemoveAllFilters against a graph that refuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/capture_device_manager.h"
#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "platform/emulator_control.h"
#include "platform/vendor_properties.h"
#include "tests/device/renderer/renderer_fakes.h"
#include "tests/trace/trace_test_support.h"

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

// Makes the emulated device enumerate the given configuration (PNX_SIM_DEVICES format) from now on.
bool UseDevices(const std::string& json) {
  emulator::SetTracePath(TracePath());
  return emulator::LoadConfigurationText(json);
}

// Reads what the emulated device recorded in its trace file after this recorder was made.
class TraceRecorder {
 public:
  TraceRecorder() : m_start(std::ifstream(TracePath(), std::ios::binary | std::ios::ate).tellg()) {}
  std::vector<nlohmann::json> Events() const {
    std::vector<nlohmann::json> events;
    std::ifstream in(TracePath(), std::ios::binary);
    in.seekg(std::max<std::streamoff>(m_start, 0));
    for (std::string line; std::getline(in, line);) {
      nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
      if (event.is_object()) events.push_back(std::move(event));
    }
    return events;
  }
  // Events of the given ops, each as the values of `fields` joined by spaces.
  std::vector<std::string> Lines(std::vector<std::string> ops, std::vector<std::string> fields) const {
    std::vector<std::string> lines;
    for (const nlohmann::json& e : Events()) {
      if (std::find(ops.begin(), ops.end(), e.value("op", "")) == ops.end()) continue;
      std::string line;
      for (const std::string& field : fields) {
        const nlohmann::json& value = e[field];
        line += (line.empty() ? "" : " ") + (value.is_string() ? value.get<std::string>() : value.dump());
      }
      lines.push_back(line);
    }
    return lines;
  }
  // Property requests as "op id data hr" ("set 632 2143000000000000 0").
  std::vector<std::string> Requests() const { return Lines({"get", "set"}, {"op", "id", "data", "hr"}); }
  // "node subtype width height" of every format the manager applied.
  std::vector<std::string> Formats() const { return Lines({"format"}, {"node", "subtype", "width", "height"}); }

 private:
  std::streamoff m_start;
};

using Bits = std::vector<bool>;

// What one enumeration finds per configuration: the counts the plug-in reads, the input signals (one list per
// device slot, one bit per input slot) and the node connected to the sink, whose RGB24 formats are applied.
TEST(DeviceDiscovery, CountsSignalsAndTheConnectedNode) {
  struct Case {
    const char* name;
    const char* config;
    bool opened;
    int32_t deviceCount;
    std::vector<int32_t> inputCounts;
    std::vector<Bits> signals;
    std::vector<std::string> formats;
  };
  const std::string rgb = " RGB24 1920 1080";
  const Bits all(4, true);
  const Case cases[] = {
      {"two devices with all inputs", R"({"devices": [{"signal": [true, false, false, true]}, {}]})", true, 2,
       {4, 4}, {{true, false, false, true}, all}, {"Brelvon HDMI-1 / Multiview" + rgb}},
      {"a node named exactly Brelvon fills every slot of four devices",
       R"({"devices": [], "otherNodes": ["Brelvon"]})", true, 4, {4, 4, 4, 4}, {all, all, all, all},
       {"Brelvon" + rgb}},
      {"device numbers from 5 on are never probed", R"({"devices": [{"number": 5}]})", true, 0, {}, {}, {}},
      {"a device with only HDMI-2 to HDMI-4", R"({"devices": [{"inputs": [2, 3, 4]}]})", true, 0, {3},
       {{false, true, true, true}}, {}},
      {"a gap in the inputs keeps its bit false", R"({"devices": [{"inputs": [1, 2, 4]}]})", true, 1, {3},
       {{true, true, false, true}}, {"Brelvon HDMI-1 / Multiview" + rgb}},
      {"only device number 2: device 0 has no slots",
       R"({"devices": [{"number": 2, "signal": [false, true, true, true]}]})", false, 1, {0, 4},
       {{}, {false, true, true, true}}, {}},
      {"no decoder counts as a signal", R"({"devices": [{"signal": [false, false, false, false], "decoder": false}]})",
       true, 1, {4}, {all}, {"Brelvon HDMI-1 / Multiview" + rgb}},
      {"other names only", R"({"devices": [], "otherNodes": ["Integrated Camera", "Brelvo"]})", true, 0, {}, {},
       {}},
      {"no RGB24 keeps the format and still connects", R"({"devices": [{"formats": ["YUY2", "MJPG"]}]})", true, 1,
       {4}, {all}, {}},
      {"every RGB24 capability is applied, the last one stays",
       R"({"devices": [{"formats": [{"subtype": "RGB24", "width": 1280, "height": 720}, "YUY2",
                                    {"subtype": "RGB24", "width": 640, "height": 360}]}]})",
       true, 1, {4}, {all},
       {"Brelvon HDMI-1 / Multiview RGB24 1280 720", "Brelvon HDMI-1 / Multiview RGB24 640 360"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(UseDevices(c.config));
    TraceRecorder trace;
    CaptureDeviceManager manager;
    EXPECT_EQ(manager.OpenDevice(0), c.opened);
    EXPECT_EQ(manager.DeviceCount(), c.deviceCount);
    EXPECT_EQ(manager.InputCounts(), c.inputCounts);
    EXPECT_EQ(manager.QueryInputSignals(), c.signals);
    EXPECT_EQ(trace.Formats(), c.formats);
  }
}

// A device that cannot be opened leaves one error line naming the step that failed and its result, for an
// operator who switched the diagnostic log on.
TEST(DeviceDiscovery, AFailedOpenSaysWhichStepFailed) {
  trace_test::DebugCapture capture;
  ASSERT_EQ(1, TraceInitEx());
  trace_test::ChangeOwnThread([](qvtrace::ThreadInfo* self) { self->outputFlags = qvtrace::kOutputDebugger; });
  ASSERT_TRUE(UseDevices(R"({"devices": [{"refuseFormat": true}]})"));
  CaptureDeviceManager manager;
  EXPECT_FALSE(manager.OpenDevice(0));
  const std::vector<std::string> lines = trace_test::Matching(capture.Lines(200), "could not be opened");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("ERR  device 0 could not be opened: ask for the RGB24 format: 0x80040200\n"),
            std::string::npos) << lines[0];
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST(DeviceDiscovery, EmptyCategoryKeepsTheCountsOtherDevicesResetThem) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{}]})"));
  CaptureDeviceManager manager;
  ASSERT_TRUE(manager.OpenDevice(0));
  ASSERT_TRUE(UseDevices(R"({"devices": []})"));
  EXPECT_TRUE(manager.OpenDevice(1));
  EXPECT_EQ(manager.DeviceCount(), 1);
  EXPECT_EQ(manager.InputCounts(), (std::vector<int32_t>{4}));
  ASSERT_TRUE(UseDevices(R"({"devices": [], "otherNodes": ["Integrated Camera"]})"));
  EXPECT_TRUE(manager.OpenDevice(1));
  EXPECT_EQ(manager.DeviceCount(), 0);
  EXPECT_TRUE(manager.InputCounts().empty());
}

// Counts the preview images the frame path makes at 16x9: an image needs frames of the learned size.
struct ImageCounter {
  std::atomic<int> images{0};
  static void Count(std::vector<uint8_t>*, void* context) { ++static_cast<ImageCounter*>(context)->images; }
  void Install(CaptureDeviceManager& manager) {
    manager.SetPreviewSize(16, 9);
    manager.SendImagesTo(&Count, this);
  }
  // Runs the graph until `wanted` images were made (or the wait ends), then stops it.
  int Run(CaptureDeviceManager& manager, int wanted, std::chrono::milliseconds wait = std::chrono::seconds(10)) {
    images = 0;
    if (FAILED(manager.RunGraph())) return 0;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (images < wanted && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    manager.StopGraph();
    return images;
  }
};

// The second device sends another frame size: the preview goes on only if the new sink learns it. Opening the
// current device again touches nothing.
TEST(DeviceSwitch, RebuildsForTheNewDeviceAndLearnsItsFrameSize) {
  ASSERT_TRUE(UseDevices(R"({"frame": {"fps": 120},
      "devices": [{}, {"formats": [{"subtype": "RGB24", "width": 640, "height": 360}]}]})"));
  CaptureDeviceManager manager;
  ImageCounter counter;
  counter.Install(manager);
  ASSERT_TRUE(manager.OpenDevice(0));
  EXPECT_GE(counter.Run(manager, 2), 2);

  TraceRecorder trace;
  ASSERT_TRUE(manager.OpenDevice(1));
  EXPECT_EQ(trace.Formats(), std::vector<std::string>{"Brelvon 2 HDMI-1 / Multiview RGB24 640 360"});
  EXPECT_GE(counter.Run(manager, 2), 2);
  const std::vector<std::string> states = trace.Lines({"state"}, {"node", "state"});
  EXPECT_NE(std::find(states.begin(), states.end(), "Brelvon 2 HDMI-1 / Multiview running"), states.end());

  TraceRecorder again;
  EXPECT_TRUE(manager.OpenDevice(1));  // the current device: nothing is touched
  EXPECT_TRUE(again.Events().empty());
}

TEST(DeviceSwitch, AFailedSwitchAndTheSwitchBackRestoreThePreview) {
  ASSERT_TRUE(UseDevices(R"({"frame": {"fps": 120}, "devices": [{}]})"));
  CaptureDeviceManager manager;
  ImageCounter counter;
  counter.Install(manager);
  ASSERT_TRUE(manager.OpenDevice(0));
  EXPECT_FALSE(manager.OpenDevice(2));
  // No image from a failed switch: shown over 48 frame periods of the 120 fps device.
  EXPECT_EQ(counter.Run(manager, 1, std::chrono::milliseconds(400)), 0);
  EXPECT_TRUE(manager.OpenDevice(0));
  EXPECT_GE(counter.Run(manager, 2), 2);
}

// The sink of a closed graph makes no image, even fed by a source that did not stop with its graph.
TEST(DeviceSwitch, AClosedGraphsSinkFeedsNothing) {
  ASSERT_TRUE(UseDevices(R"({"frame": {"width": 64, "height": 36, "fps": 120}, "devices": [{}, {}]})"));
  CaptureDeviceManager manager;
  ImageCounter counter;
  counter.Install(manager);
  ASSERT_TRUE(manager.OpenDevice(0));
  EXPECT_GE(counter.Run(manager, 1), 1);
  for (const char* how : {"graph closed", "rebuilt for another device"}) {
    SCOPED_TRACE(how);
    ComPtr<IBaseFilter> old(manager.Sink());
    ComPtr<IPin> pin;
    ComPtr<IMemInputPin> input;
    ASSERT_EQ(S_OK, old->FindPin(L"Input", pin.Receive()));
    ASSERT_EQ(S_OK, pin.As(IID_IMemInputPin, &input));
    if (std::string(how) == "graph closed") {
      manager.CloseGraph();
    } else {
      ASSERT_TRUE(manager.OpenDevice(1));
    }
    ASSERT_EQ(S_OK, old->Run(0));  // as if the stop had not reached it
    MediaType type = renderer_test::MakeVideoType(64, 36);
    renderer_test::FakeSample sample;
    sample.ownType = type.Get();
    sample.bytes.assign(64 * 3 * 36, 0x40);
    sample.actualLength = static_cast<LONG>(sample.bytes.size());
    counter.images = 0;
    for (int i = 0; i < 21; ++i) input->Receive(&sample);
    EXPECT_EQ(0, counter.images.load());
    ASSERT_EQ(S_OK, old->Stop());
    ASSERT_TRUE(manager.OpenDevice(0));
  }
}

TEST(DeviceSwitch, ARebuildBindsEveryInputOfADeviceWithAGap) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{"inputs": [1, 2, 4]}, {"inputs": [2, 3]}, {}]})"));
  CaptureDeviceManager manager;
  ASSERT_TRUE(manager.OpenDevice(0));
  ASSERT_TRUE(manager.OpenDevice(2));
  ASSERT_TRUE(manager.OpenDevice(0));
  EXPECT_EQ(manager.InputCounts(), (std::vector<int32_t>{3, 2, 4}));
  EXPECT_EQ(manager.DeviceCount(), 2);
  EXPECT_EQ(manager.QueryInputSignals(),
            (std::vector<Bits>{{true, true, false, true}, {false, true, true}, {true, true, true, true}}));
}

TEST(ManagerLifetime, NoComObjectOutlivesTheManager) {
  ASSERT_TRUE(UseDevices(R"({"devices": [{}, {}]})"));
  const long before = PnxLiveComObjectCount();
  {
    CaptureDeviceManager manager;
    ImageCounter counter;
    counter.Install(manager);
    ASSERT_TRUE(manager.OpenDevice(0));
    ASSERT_TRUE(manager.OpenDevice(1));
    manager.QueryInputSignals();
    DeviceState state;
    manager.ReadMultiviewState(1, state);
    EXPECT_GE(counter.Run(manager, 1), 1);
    manager.RunGraph();  // left running: destruction must stop it
  }
  EXPECT_EQ(PnxLiveComObjectCount(), before);
}

// --- Emptying a graph that refuses to remove some of its filters: the walk must still end ---

// A graph of a fixed list of filters that refuses to remove those in `refused`. It lives on the test's stack;
// its counts are never used to delete it. A walk that runs away is cut off and noted.
class RefusingGraph : public IFilterGraph, public IEnumFilters {
 public:
  std::vector<IBaseFilter*> filters;
  std::set<IBaseFilter*> refused;
  bool runaway = false;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
    if (refused.count(filter) != 0) return E_FAIL;
    filters.erase(std::find(filters.begin(), filters.end(), filter));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** out) override {
    m_position = 0;
    *out = this;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG, IBaseFilter** out, ULONG*) override {
    if (++m_steps > 1000) runaway = true;
    if (runaway || m_position >= filters.size()) return S_FALSE;
    *out = filters[m_position++];
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_position = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumFilters**) override { return E_NOTIMPL; }

 private:
  size_t m_position = 0;
  int m_steps = 0;
};

TEST(RemoveAllFilters, EndsWithOnlyTheRefusedFiltersLeft) {
  std::vector<ComPtr<IBaseFilter>> sinks;
  for (int i = 0; i < 3; ++i) sinks.emplace_back(new SinkFilter());
  const struct {
    const char* name;
    std::vector<int> refused;
  } cases[] = {{"none refused", {}}, {"first refused", {0}}, {"last refused", {2}}, {"all refused", {0, 1, 2}}};
  for (const auto& c : cases) {
    RefusingGraph graph;
    for (const ComPtr<IBaseFilter>& sink : sinks) graph.filters.push_back(sink.Get());
    std::vector<IBaseFilter*> left;
    for (int index : c.refused) {
      graph.refused.insert(sinks[index].Get());
      left.push_back(sinks[index].Get());
    }
    RemoveAllFilters(&graph);
    EXPECT_FALSE(graph.runaway) << c.name;
    EXPECT_EQ(graph.filters, left) << c.name;
  }
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
  const struct {
    std::vector<int32_t> sources;
    const char* sent;
  } cases[] = {
      {{1, 2, 3, 4}, "2143000000000000"},
      {{17, 1, 1, 1}, "1111000000000000"},
      {{4, 3, 2, 1, 9}, "3412000000000000"},
  };
  for (const auto& c : cases) {
    TraceRecorder trace;
    EXPECT_TRUE(manager->SetMultiviewSources(0, vendor::PackSources(c.sources)));
    EXPECT_EQ(trace.Requests(), (std::vector<std::string>{std::string("set 632 ") + c.sent + " 0"}));
  }
}

TEST_F(PropertyFixture, LayoutIsFollowedByTheReadOfProperty25) {
  Open(R"({"devices": [{"failSet": [631]}]})");
  TraceRecorder trace;
  // Even a refused layout is followed by the read.
  EXPECT_FALSE(manager->SetMultiviewLayout(0, 7));
  const std::vector<std::string> requests = trace.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], "set 631 07000000 -2147467259");
  EXPECT_EQ(requests[1].substr(0, 7), "get 25 ");
}

// A whole state goes back sources first, and sources that fail to go keep the layout from following; a read
// that fails leaves what the caller had.
TEST_F(PropertyFixture, StatesAreReadWholeAndWrittenSourcesFirst) {
  const struct {
    const char* config;
    bool readOk;
    std::vector<std::string> sent;
  } cases[] = {
      {R"({"devices": [{"layout": 3, "sources": [2, 2, 1, 1]}]})", true,
       {"set 632 2211000000000000 0", "set 631 03000000 0"}},
      {R"({"devices": [{"layout": 3, "sources": [2, 2, 1, 1], "failSet": [632]}]})", true,
       {"set 632 2211000000000000 -2147467259"}},
      {R"({"devices": [{"layout": 3, "failGet": [631]}]})", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    Open(c.config);
    DeviceState state{9, 0x4444, false};
    EXPECT_EQ(manager->ReadMultiviewState(0, state), c.readOk);
    if (!c.readOk) {
      EXPECT_EQ(state.layout, 9u);
      EXPECT_FALSE(state.stateRead);
      continue;
    }
    TraceRecorder trace;
    EXPECT_EQ(manager->WriteMultiviewState(0, state), c.sent.size() == 2);
    EXPECT_EQ(trace.Requests(), c.sent);
  }
}

TEST_F(PropertyFixture, ADeviceWithoutPropertySetRefusesEverything) {
  Open(R"({"devices": [{"propertySet": false}]})");
  TraceRecorder trace;
  DeviceState state;
  EXPECT_FALSE(manager->ReadMultiviewState(0, state));
  EXPECT_FALSE(manager->WriteMultiviewState(0, DeviceState{100, 0x4321, true}));
  EXPECT_FALSE(manager->SetMultiviewLayout(0, 100));
  EXPECT_FALSE(manager->SetMultiviewSources(0, 0x4321));
  EXPECT_FALSE(manager->SetMultiviewLayout(-1, 100));
  EXPECT_TRUE(trace.Requests().empty());
}

}  // namespace
