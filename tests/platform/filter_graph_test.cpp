// The filter graph and capture graph builder with an emulated node and the recording sink: connection with
// allocator agreement, running, stopping, removal and filter enumeration.
#include <thread>

#include "tests/platform/platform_test_util.h"
#include "tests/platform/test_sink.h"

namespace {

class GraphTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    ASSERT_TRUE(emulator::LoadConfigurationText(R"({"frame": {"width": 64, "height": 48, "fps": 100}})"));
    graph_ = NewGraph();
    ASSERT_TRUE(graph_);
    ASSERT_EQ(graph_.As(IID_IMediaControl, &control_), S_OK);
    source_ = BindNode(kHdmi1);
    ASSERT_TRUE(source_);
    ASSERT_TRUE(SUCCEEDED(graph_->AddFilter(source_.Get(), kHdmi1)));
    out_ = OutputPinOf(source_.Get());
    ASSERT_TRUE(out_);
  }
  void TearDown() override {
    out_.Reset();
    source_.Reset();
    control_.Reset();
    graph_.Reset();
    sink_.Reset();
    PlatformTest::TearDown();
  }
  void AddSink(bool offerAllocator) {
    sink_ = TestSink::Make(offerAllocator);
    ASSERT_EQ(graph_->AddFilter(sink_->Filter(), L"Video Sink"), S_OK);
  }

  ComPtr<IFilterGraph2> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IBaseFilter> source_;
  ComPtr<IPin> out_;
  ComPtr<TestSink> sink_;
};

TEST_F(GraphTest, ConnectionUsesTheDownstreamAllocatorOrElseAStandardOne) {
  for (bool offer : {true, false}) {
    SCOPED_TRACE(offer ? "sink offers an allocator" : "sink offers none");
    AddSink(offer);
    ASSERT_EQ(graph_->ConnectDirect(out_.Get(), sink_->Pin(), nullptr), S_OK);
    ASSERT_NE(sink_->NotifiedAllocator(), nullptr);
    if (offer) {
      EXPECT_EQ(sink_->NotifiedAllocator(), sink_->OfferedAllocator());
    }
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(sink_->NotifiedAllocator()->GetProperties(&props), S_OK);
    EXPECT_GE(props.cbBuffer, 64 * 48 * 3);
    MediaType type = sink_->ConnectionType();
    EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);

    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(sink_->WaitForSamples(3, std::chrono::seconds(5)));
    ASSERT_EQ(control_->Stop(), S_OK);
    for (const ReceivedSample& sample : sink_->Samples()) {
      EXPECT_EQ(sample.allocatorSeen, sink_->NotifiedAllocator());
      EXPECT_EQ(sample.length, 64 * 48 * 3);
    }
    ASSERT_EQ(graph_->RemoveFilter(sink_->Filter()), S_OK);
    ComPtr<IPin> peer;
    EXPECT_EQ(out_->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
    sink_.Reset();
  }
}

TEST_F(GraphTest, ConnectRefusesWhatThePlatformRefuses) {
  AddSink(true);
  EXPECT_EQ(graph_->ConnectDirect(sink_->Pin(), out_.Get(), nullptr), VFW_E_INVALID_DIRECTION);
  ComPtr<TestSink> outsider = TestSink::Make();
  EXPECT_EQ(graph_->ConnectDirect(out_.Get(), outsider->Pin(), nullptr), VFW_E_NOT_IN_GRAPH);
  MediaType yuy2;
  yuy2->majortype = MEDIATYPE_Video;
  yuy2->subtype = MEDIASUBTYPE_YUY2;
  EXPECT_EQ(graph_->ConnectDirect(out_.Get(), sink_->Pin(), yuy2.Get()), VFW_E_NO_ACCEPTABLE_TYPES);
  ASSERT_EQ(graph_->Connect(out_.Get(), sink_->Pin()), S_OK);
  EXPECT_EQ(graph_->Connect(out_.Get(), sink_->Pin()), VFW_E_ALREADY_CONNECTED);
  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(out_->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(graph_->ConnectDirect(out_.Get(), sink_->Pin(), nullptr), VFW_E_NOT_STOPPED);
  OAFilterState state = -1;
  EXPECT_EQ(control_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_EQ(control_->Stop(), S_OK);
}

TEST_F(GraphTest, RunPausesFirstAndStopEndsDelivery) {
  AddSink(true);
  ASSERT_EQ(graph_->ConnectDirect(out_.Get(), sink_->Pin(), nullptr), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  FILTER_STATE state;
  EXPECT_EQ(source_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  ASSERT_TRUE(sink_->WaitForSamples(2, std::chrono::seconds(5)));
  // Paused live sources deliver nothing and say so.
  ASSERT_EQ(control_->Pause(), S_OK);
  EXPECT_EQ(source_->GetState(0, &state), VFW_S_CANT_CUE);
  EXPECT_EQ(state, State_Paused);
  size_t paused = sink_->Samples().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(sink_->Samples().size(), paused);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForSamples(paused + 2, std::chrono::seconds(5)));
  ASSERT_EQ(control_->Stop(), S_OK);
  size_t stopped = sink_->Samples().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(sink_->Samples().size(), stopped);
}

TEST_F(GraphTest, ReleasingARunningGraphStopsAndDismantlesIt) {
  AddSink(true);
  ASSERT_EQ(graph_->ConnectDirect(out_.Get(), sink_->Pin(), nullptr), S_OK);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForSamples(1, std::chrono::seconds(5)));
  out_.Reset();
  control_.Reset();
  graph_.Reset();
  FILTER_STATE state;
  EXPECT_EQ(source_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  FILTER_INFO info;
  ASSERT_EQ(source_->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
  ComPtr<IPin> peer;
  EXPECT_EQ(sink_->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
}

TEST_F(GraphTest, FilterEnumerationGoesOutOfSyncUntilReset) {
  AddSink(true);
  ComPtr<IEnumFilters> filters;
  ASSERT_EQ(graph_->EnumFilters(filters.Receive()), S_OK);
  ComPtr<IBaseFilter> filter;
  int count = 0;
  while (filters->Next(1, filter.Receive(), nullptr) == S_OK) ++count;
  EXPECT_EQ(count, 2);
  ASSERT_EQ(filters->Reset(), S_OK);
  ASSERT_EQ(filters->Next(1, filter.Receive(), nullptr), S_OK);
  ASSERT_EQ(graph_->RemoveFilter(filter.Get()), S_OK);
  EXPECT_EQ(filters->Next(1, filter.Receive(), nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  ASSERT_EQ(filters->Reset(), S_OK);
  ASSERT_EQ(filters->Next(1, filter.Receive(), nullptr), S_OK);
  ASSERT_EQ(graph_->RemoveFilter(filter.Get()), S_OK);
  ASSERT_EQ(filters->Reset(), S_OK);
  EXPECT_EQ(filters->Next(1, filter.Receive(), nullptr), S_FALSE);
  EXPECT_EQ(graph_->RemoveFilter(source_.Get()), VFW_E_NOT_FOUND);
}

TEST_F(GraphTest, AddFilterNamesAndDuplicates) {
  ComPtr<IBaseFilter> found;
  EXPECT_EQ(graph_->FindFilterByName(kHdmi1, found.Receive()), S_OK);
  EXPECT_EQ(found.Get(), source_.Get());
  ComPtr<IBaseFilter> second = BindNode(kHdmi1);
  ASSERT_TRUE(second);
  EXPECT_NE(second.Get(), source_.Get());  // every bind makes a new filter object
  EXPECT_EQ(graph_->AddFilter(second.Get(), kHdmi1), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph_->AddFilter(second.Get(), L"again"), VFW_E_DUPLICATE_NAME);
}

TEST_F(GraphTest, CaptureGraphBuilderFindsPinsByDirectionCategoryAndConnection) {
  ComPtr<ICaptureGraphBuilder2> builder;
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                             builder.ReceiveVoid()),
            S_OK);
  ComPtr<IGraphBuilder> asBuilder;
  ASSERT_EQ(graph_.As(IID_IGraphBuilder, &asBuilder), S_OK);
  EXPECT_EQ(builder->SetFiltergraph(asBuilder.Get()), S_OK);
  EXPECT_EQ(builder->SetFiltergraph(asBuilder.Get()), E_UNEXPECTED);
  ComPtr<IPin> pin;
  EXPECT_EQ(builder->FindPin(source_.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, TRUE, 0,
                             pin.Receive()),
            S_OK);
  EXPECT_EQ(pin.Get(), out_.Get());
  EXPECT_EQ(builder->FindPin(source_.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE, 0, pin.Receive()),
            E_FAIL);
  EXPECT_EQ(builder->FindPin(source_.Get(), PINDIR_INPUT, nullptr, nullptr, FALSE, 0, pin.Receive()), E_FAIL);
  EXPECT_EQ(builder->FindPin(source_.Get(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 1, pin.Receive()), E_FAIL);
  AddSink(true);
  ASSERT_EQ(graph_->ConnectDirect(out_.Get(), sink_->Pin(), nullptr), S_OK);
  EXPECT_EQ(builder->FindPin(source_.Get(), PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, pin.Receive()), E_FAIL);
}

}  // namespace
