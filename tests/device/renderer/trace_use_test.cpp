// What the renderer does with the trace facility: it names the streaming thread on its first sample, and writes
// the missing-timestamp warning once, registering the streaming thread for that one line only.
#include <string>
#include <thread>

#include "tests/device/renderer/renderer_fakes.h"
#include "tests/trace/trace_test_support.h"

namespace {

using renderer_test::FakeSample;
using renderer_test::SampleTime;

class TraceUseTest : public ::testing::Test {
 protected:
  void SetUp() override { sample.ownType = type.Get(); }

  // Receives the sample count times on a new thread; returns that thread's trace identifier.
  uint32_t ReceiveOnNewThread(int count, bool registerFirst = false) {
    uint32_t id = 0;
    std::thread streaming([&] {
      id = TraceCurrentThreadId();
      if (registerFirst) TraceInitEx();
      for (int i = 0; i < count; ++i) s.input->Receive(&sample);
      threadName = trace_test::ReadFile("/proc/thread-self/comm");
    });
    streaming.join();
    return id;
  }

  MediaType type = renderer_test::MakeVideoType(4, 4);
  FakeSample sample;
  renderer_test::Sink s;
  std::string threadName;
};

TEST_F(TraceUseTest, StreamingThreadIsNamedOnItsFirstSampleAndAgainAfterRenaming) {
  ReceiveOnNewThread(1);
  EXPECT_NE("NX:  VideoSink\n", threadName);  // no name given: nothing announced

  ASSERT_EQ(S_OK, s.sink->SetStreamThreadName("VideoSink"));
  ReceiveOnNewThread(1);
  EXPECT_EQ("NX:  VideoSink\n", threadName);
  // Announced once: a later sample on another thread keeps that thread's own name.
  ReceiveOnNewThread(1);
  EXPECT_NE("NX:  VideoSink\n", threadName);

  ASSERT_EQ(S_OK, s.sink->SetStreamThreadName("Preview"));
  ReceiveOnNewThread(1);
  EXPECT_EQ("NX:  Preview\n", threadName);
}

// The warning goes out once however many samples lack a time, through a registration made for it alone.
TEST_F(TraceUseTest, TimestampWarningIsWrittenOnceWithAOneShotRegistration) {
  trace_test::DebugCapture capture;
  ASSERT_EQ(S_OK, s.filter->JoinFilterGraph(nullptr, L"Video Sink"));

  // The main thread registers first and switches debugger output on; a new thread's record inherits that.
  ASSERT_EQ(1, TraceInitEx());
  trace_test::ChangeOwnThread([](qvtrace::ThreadInfo* self) { self->outputFlags = qvtrace::kOutputDebugger; });

  sample.time = SampleTime::kNotSet;
  const uint32_t first = ReceiveOnNewThread(3);
  const uint32_t second = ReceiveOnNewThread(2);
  EXPECT_EQ(0u, trace_test::Record(first).threadId);  // registered for the line only
  EXPECT_EQ(0u, trace_test::Record(second).threadId);

  const std::vector<std::string> warnings = trace_test::Matching(capture.Lines(200), "Timestamps not set");
  ASSERT_EQ(1u, warnings.size());
  EXPECT_NE(std::string::npos, warnings[0].find("WRN  SinkFilter::Receive() - Timestamps not set for Video Sink\n"))
      << warnings[0];

  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST_F(TraceUseTest, AlreadyRegisteredStreamingThreadStaysRegistered) {
  sample.time = SampleTime::kNotSet;
  const uint32_t id = ReceiveOnNewThread(1, /*registerFirst=*/true);
  EXPECT_EQ(id, trace_test::Record(id).threadId);
  TraceTerminateThread(id, 1, 1);
  EXPECT_EQ(0u, trace_test::Record(id).threadId);
}

}  // namespace
