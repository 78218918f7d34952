// The filter graph and capture graph builder with an emulated node and the recording sink: connection with
// allocator agreement, sample times, running, stopping, removal and filter enumeration.
#include <thread>

#include "tests/platform/platform_test_util.h"

namespace {

const char kConfig[] = R"({"frame": {"width": 64, "height": 48, "fps": 100}})";

TEST_F(GraphTest, ConnectionAgreesOnAnAllocatorAndSamplesCarryStreamTimes) {
  Build(kConfig);
  for (bool offer : {true, false}) {
    SCOPED_TRACE(offer ? "sink offers an allocator" : "sink offers none");
    AddSink(offer);
    Connect();
    ASSERT_NE(sink_->NotifiedAllocator(), nullptr);
    EXPECT_EQ(sink_->NotifiedAllocator() == sink_->OfferedAllocator(), offer);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(sink_->NotifiedAllocator()->GetProperties(&props), S_OK);
    EXPECT_GE(props.cbBuffer, 64 * 48 * 3);
    EXPECT_EQ(sink_->ConnectionType()->subtype, MEDIASUBTYPE_RGB24);

    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(sink_->WaitForSamples(6, std::chrono::seconds(5)));
    ASSERT_EQ(control_->Stop(), S_OK);
    std::vector<ReceivedSample> samples = sink_->Samples();
    EXPECT_EQ(samples[0].start, 0);
    for (size_t i = 0; i < samples.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(samples[i].allocatorSeen, sink_->NotifiedAllocator());
      EXPECT_EQ(samples[i].length, 64 * 48 * 3);
      // Consecutive stream times at the configured rate; only the first sample follows a gap.
      EXPECT_EQ(samples[i].timeResult, S_OK);
      EXPECT_EQ(samples[i].stop - samples[i].start, 100000);
      EXPECT_EQ(samples[i].start % 100000, 0);
      EXPECT_TRUE(samples[i].syncPoint);
      EXPECT_EQ(samples[i].discontinuity, i == 0);
      EXPECT_TRUE(i == 0 || samples[i].start > samples[i - 1].start);
    }
    ASSERT_EQ(graph_->RemoveFilter(sink_->Filter()), S_OK);
    ComPtr<IPin> peer;
    EXPECT_EQ(out_->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
    sink_.Reset();
  }
}

TEST_F(GraphTest, ConnectRefusesWhatThePlatformRefuses) {
  Build(kConfig);
  AddSink();
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

TEST_F(GraphTest, RunPausesFirstStopEndsDeliveryAndReleaseDismantles) {
  BuildConnected(kConfig);
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

  // Releasing a running graph stops and dismantles it.
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForSamples(stopped + 1, std::chrono::seconds(5)));
  config_.Reset();
  out_.Reset();
  control_.Reset();
  graph_.Reset();
  EXPECT_EQ(source_->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  FILTER_INFO info;
  ASSERT_EQ(source_->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
  ComPtr<IPin> peer;
  EXPECT_EQ(sink_->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
}

TEST_F(GraphTest, FilterNamesDuplicatesAndEnumeration) {
  Build(kConfig);
  ComPtr<IBaseFilter> found;
  EXPECT_EQ(graph_->FindFilterByName(kHdmi1, found.Receive()), S_OK);
  EXPECT_EQ(found.Get(), source_.Get());
  ComPtr<IBaseFilter> second = BindNode(kHdmi1);
  ASSERT_TRUE(second);
  EXPECT_NE(second.Get(), source_.Get());  // every bind makes a new filter object
  EXPECT_EQ(graph_->AddFilter(second.Get(), kHdmi1), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph_->AddFilter(second.Get(), L"again"), VFW_E_DUPLICATE_NAME);
  ASSERT_EQ(graph_->RemoveFilter(second.Get()), S_OK);
  AddSink();
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

TEST_F(GraphTest, CaptureGraphBuilderFindsPinsByDirectionCategoryAndConnection) {
  Build(kConfig);
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
  AddSink();
  Connect();
  EXPECT_EQ(builder->FindPin(source_.Get(), PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, pin.Receive()), E_FAIL);
}

}  // namespace
