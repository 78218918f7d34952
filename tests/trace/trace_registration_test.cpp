// Registration and unregistration: counts, the raw notices with their exact texts, inherited settings, the
// 96-thread limit, the renderer's one-line registration, stale records.
#include <atomic>
#include <future>

#include "tests/trace/trace_test_support.h"

namespace {

using trace_test::DebugCapture;
using trace_test::Hex4;
using trace_test::Matching;
using trace_test::Record;

// "NX:    " and the call header of operation for the given thread of this process.
std::string CallHeader(uint32_t threadId, const std::string& operation) {
  return "NX:    " + std::string(26, ' ') + Hex4(TraceCurrentProcessId()) + "-" + Hex4(threadId) + ":      " +
         operation + "()";
}

class TraceRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(trace_test::BlockExists()) << "a test before left the block"; }
  void TearDown() override { EXPECT_FALSE(trace_test::BlockExists()) << "the block outlived its users"; }
};

TEST_F(TraceRegistrationTest, RegistrationsCountAndTheNoticesHaveTheirExactTexts) {
  DebugCapture capture;
  const uint32_t tid = TraceCurrentThreadId();
  ASSERT_EQ(TraceInitEx(), 1);
  ASSERT_EQ(TraceInitEx(), 1);  // a second registration of the same thread only counts
  int processCount = 0;
  EXPECT_EQ(Record(tid, &processCount).refCount, 2);
  EXPECT_EQ(processCount, 2);
  EXPECT_EQ(Record(tid).outputFlags, 0u) << "a new registration writes nowhere";
  std::vector<std::string> notices = capture.Notices();  // read in parts: the channel keeps only a few datagrams
  TraceTerminateThread(tid, 1, 0);
  TraceTerminateThread(tid, 1, 0);
  for (const std::string& notice : capture.Notices()) notices.push_back(notice);
  const std::string terminate = CallHeader(tid, "TraceTerminateThread");
  EXPECT_EQ(notices,
            (std::vector<std::string>{
                CallHeader(tid, "TraceInitEx") + " QVTRACE Version 7: #Processes=32 #Threads=96 Memory=26232 KB\n",
                "NX:    TraceSetVerboseLevel(3)\n",
                "NX:    TraceSetContext(0xFFFFFFFF)\n",
                terminate + " Reference count - Process 2 -> 1 / Thread  2 -> 1 \n",
                terminate + " Reference count - Process 1 -> 0 / Thread  1 -> 0 / LAST THREAD REF released\n",
                terminate + " Last reference for this process was removed!\n",
                terminate + " Last process was removed!\n",
            }));
}

TEST_F(TraceRegistrationTest, UnregisteredProcessIsLeftAlone) {
  DebugCapture capture;
  // Without a record nothing is written and the block is not brought into being (it would outlive us).
  TraceMessage(1, 0xFFFFFFFF, L"nobody");
  TraceTerminateThread(TraceCurrentThreadId(), 1, 0);
  TraceSetVerboseLevel(5);
  EXPECT_EQ(capture.Notices(), std::vector<std::string>{"NX:    TraceSetVerboseLevel(5)\n"});
  EXPECT_FALSE(trace_test::BlockExists());
}

// Every further thread takes the first record's settings (not its prefix; a log file path without terminator
// cut to the field), up to 96 threads; the 97th is refused with the notices.
TEST_F(TraceRegistrationTest, ThreadsInheritTheFirstRecordsSettingsUpToTheLimit) {
  ASSERT_EQ(TraceInitEx(), 1);
  trace_test::ChangeOwnThread([](qvtrace::ThreadInfo* first) {
    first->headerMode = 2;
    first->contextFlags = 0x30;
    first->verboseLevel = 5;
    first->prefix[0] = u'P';
    for (char16_t& unit : first->logFile) unit = u'a';
  });
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::vector<std::thread> threads;
  std::atomic<int> registered{0};
  std::atomic<int> failures{0};
  qvtrace::ThreadInfo inherited{};
  for (int i = 0; i < 95; ++i) {
    threads.emplace_back([&, i] {
      if (TraceInitEx() != 1) ++failures;
      if (i == 94) inherited = Record(TraceCurrentThreadId());
      ++registered;
      released.wait();
      TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    });
  }
  while (registered < 95) std::this_thread::yield();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(TraceCountThreads(TraceCurrentProcessId()), 96);
  EXPECT_EQ(inherited.headerMode, 2u);
  EXPECT_EQ(inherited.contextFlags, 0x30u);
  EXPECT_EQ(inherited.verboseLevel, 5);
  EXPECT_EQ(inherited.prefix[0], 0);
  EXPECT_EQ(std::u16string(inherited.logFile), std::u16string(255, u'a'));

  DebugCapture capture;
  uint32_t refusedId = 0;
  int refused = -1;
  std::thread([&] {
    refusedId = TraceCurrentThreadId();
    refused = TraceInitEx();
  }).join();
  EXPECT_EQ(refused, 0);
  // Unregistering a thread without record: ERROR while the table is full, WARNING otherwise.
  TraceTerminateThread(refusedId, 1, 0);
  release.set_value();
  for (std::thread& thread : threads) thread.join();
  TraceTerminateThread(refusedId, 1, 0);
  const std::string thread = " Thread " + Hex4(refusedId) + " not found: ";
  const std::string full = "Max. number of threads (96) reached!!!\n";
  EXPECT_EQ(capture.Notices(), (std::vector<std::string>{
                                   CallHeader(refusedId, "TraceInitInternal") + thread + full,
                                   CallHeader(refusedId, "TraceTerminateThread") + " ERROR:" + thread + full,
                                   CallHeader(refusedId, "TraceTerminateThread") + " WARNING:" + thread +
                                       "Currently 1 threads are active!!!\n",
                               }));
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

// The renderer's one warning on a new (streaming) thread, with the process registered nowhere else: registered for
// the line only, quietly, and the last one out removes the block. (With the process registered by another thread,
// the renderer's own tests show the streaming thread's record going.)
TEST_F(TraceRegistrationTest, OneShotRegistrationLeavesNothingOfItsOwnBehind) {
  DebugCapture capture;
  uint32_t streamingId = 0;
  std::thread([&] {
    streamingId = TraceCurrentThreadId();
    TraceOneShotMessage(100, 3, 0xFFFFFFFF, L"%ls() - Timestamps not set for %ls", L"SinkFilter::Receive",
                        L"Video Sink");
  }).join();
  const std::vector<std::string> notices = capture.Notices();
  EXPECT_TRUE(Matching(notices, "Reference count").empty()) << "quiet";
  const std::string terminate = CallHeader(streamingId, "TraceTerminateThread");
  EXPECT_EQ(Matching(notices, "Last"),
            (std::vector<std::string>{terminate + " Last reference for this process was removed!\n",
                                      terminate + " Last process was removed!\n"}));
}

TEST_F(TraceRegistrationTest, RecordLeftUnderOurIdentifierByAnEarlierProcessIsNotInherited) {
  // As if a crashed process with the same identifier had left its registration behind.
  TraceLock();
  qvtrace::ProcInfo& stale = QVTRACE_GM_GetProcessCachePtr()->processes[5];
  stale.processId = TraceCurrentProcessId();
  stale.refCount = 3;
  stale.threads[0].threadId = TraceCurrentThreadId();
  stale.threads[0].refCount = 2;
  stale.threads[0].outputFlags = 7;
  TraceUnlock();

  DebugCapture capture;
  ASSERT_EQ(TraceInitEx(), 1);
  EXPECT_EQ(Matching(capture.Notices(), "QVTRACE Version 7").size(), 1u) << "a first registration";
  int processCount = 0;
  const qvtrace::ThreadInfo thread = Record(TraceCurrentThreadId(), &processCount);
  EXPECT_EQ(processCount, 1);
  EXPECT_EQ(thread.refCount, 1);
  EXPECT_EQ(thread.outputFlags, 0u);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

}  // namespace
