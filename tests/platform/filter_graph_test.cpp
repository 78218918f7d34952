// The filter graph with an emulated node and the recording sink: the connection's allocator, sample times and
// removal.
#include "tests/platform/platform_test_util.h"

namespace {

const char kConfig[] = R"({"frame": {"width": 64, "height": 48, "fps": 100}})";

TEST_F(GraphTest, ConnectionAgreesOnTheSinksAllocatorAndSamplesCarryStreamTimes) {
  BuildConnected(kConfig);
  ASSERT_NE(m_sink->NotifiedAllocator(), nullptr);
  EXPECT_EQ(m_sink->NotifiedAllocator(), m_sink->OfferedAllocator());
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(m_sink->NotifiedAllocator()->GetProperties(&props), S_OK);
  EXPECT_GE(props.cbBuffer, 64 * 48 * 3);

  Capture(6);
  std::vector<ReceivedSample> samples = m_sink->Samples();
  EXPECT_EQ(samples[0].start, 0);
  for (size_t i = 0; i < samples.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(samples[i].allocatorSeen, m_sink->NotifiedAllocator());
    EXPECT_EQ(samples[i].length, 64 * 48 * 3);
    // Consecutive stream times at the configured rate; only the first sample follows a gap.
    EXPECT_EQ(samples[i].timeResult, S_OK);
    EXPECT_EQ(samples[i].stop - samples[i].start, 100000);
    EXPECT_TRUE(samples[i].syncPoint);
    EXPECT_EQ(samples[i].discontinuity, i == 0);
    EXPECT_TRUE(i == 0 || samples[i].start > samples[i - 1].start);
  }
  // Removing a filter breaks its connections.
  ASSERT_EQ(m_graph->RemoveFilter(m_sink->Filter()), S_OK);
  ComPtr<IPin> peer;
  EXPECT_EQ(m_out->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(m_sink->ConnectedTo(peer.Receive()), VFW_E_NOT_CONNECTED);
}

}  // namespace
