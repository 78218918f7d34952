// The filter graph with an emulated node and the recording sink: the connection's allocator, sample times,
// removal, and a capture pin that stops at a refusal.
#include <thread>

#include "tests/platform/platform_test_util.h"

namespace {

const char kConfig[] = R"({"frame": {"width": 64, "height": 48, "fps": 100}})";

TEST_F(GraphTest, ConnectionAgreesOnTheSinksAllocatorAndSamplesCarryStreamTimes) {
  BuildConnected(kConfig);
  ASSERT_NE(sink_->NotifiedAllocator(), nullptr);
  EXPECT_EQ(sink_->NotifiedAllocator(), sink_->OfferedAllocator());
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(sink_->NotifiedAllocator()->GetProperties(&props), S_OK);
  EXPECT_GE(props.cbBuffer, 64 * 48 * 3);

  Capture(6);
  std::vector<ReceivedSample> samples = sink_->Samples();
  EXPECT_EQ(samples[0].start, 0);
  for (size_t i = 0; i < samples.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(samples[i].allocatorSeen, sink_->NotifiedAllocator());
    EXPECT_EQ(samples[i].length, 64 * 48 * 3);
    // Consecutive stream times at the configured rate; only the first sample follows a gap.
    EXPECT_EQ(samples[i].timeResult, S_OK);
    EXPECT_EQ(samples[i].stop - samples[i].start, 100000);
    EXPECT_TRUE(samples[i].syncPoint);
    EXPECT_EQ(samples[i].discontinuity, i == 0);
    EXPECT_TRUE(i == 0 || samples[i].start > samples[i - 1].start);
  }
  // Removing a filter breaks its connections.
  ASSERT_EQ(graph_->RemoveFilter(sink_->Filter()), S_OK);
  ComPtr<IPin> peer;
  EXPECT_EQ(out_->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(sink_->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
}

// The renderer answers S_OK to every delivered sample because a capture pin stops at any other answer.
TEST_F(GraphTest, NoFramesAfterADownstreamRefusal) {
  BuildConnected(R"({"frame": {"width": 8, "height": 8, "fps": 500}})");
  sink_->SetReceiveAnswer(S_FALSE);
  ASSERT_EQ(control_->Run(), S_OK);
  ASSERT_TRUE(sink_->WaitForSamples(1, std::chrono::seconds(5)));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(sink_->Samples().size(), 1u);
  ASSERT_EQ(control_->Stop(), S_OK);
}

}  // namespace
