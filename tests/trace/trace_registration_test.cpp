// Registration and unregistration: counts, the raw notices with their exact texts, inherited settings, the
// 96-thread limit, the renderer's one-line registration, stale records, thread names.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/trace/trace_test_support.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"

namespace {

using trace_test::DebugCapture;
using trace_test::Hex4;
using trace_test::Matching;
using trace_test::WithoutTime;

// "NX:    " and the call header of operation for the given thread of this process.
std::string CallHeader(uint32_t threadId, const std::string& operation) {
  return "NX:    " + std::string(26, ' ') + Hex4(TraceCurrentProcessId()) + "-" + Hex4(threadId) + ":      " +
         operation + "()";
}

// A copy of the calling thread's record, or a record with threadId 0 when there is none.
qvtrace::ThreadInfo OwnThread(uint32_t threadId = TraceCurrentThreadId()) {
  qvtrace::ThreadInfo copy{};
  TraceLock();
  if (qvtrace::ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), threadId, 0, 0)) copy = *thread;
  TraceUnlock();
  return copy;
}

int OwnProcessCount() {
  TraceLock();
  qvtrace::ProcInfo* proc = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 0, 0);
  int count = proc != nullptr ? proc->refCount : -1;
  TraceUnlock();
  return count;
}

class TraceRegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(trace_test::SharedObjectExists()) << "a test before left the block"; }
  void TearDown() override { EXPECT_FALSE(trace_test::SharedObjectExists()) << "the block outlived its users"; }
};

TEST_F(TraceRegistrationTest, FirstRegistrationWritesNoticesAndFreshSettingsAndLastOneFreesTheBlock) {
  DebugCapture capture;
  const uint32_t tid = TraceCurrentThreadId();
  ASSERT_EQ(TraceInitEx(), 1);
  EXPECT_TRUE(trace_test::SharedObjectExists());
  std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(WithoutTime(lines[0]),
            CallHeader(tid, "TraceInitEx") + " QVTRACE Version 7: #Processes=32 #Threads=96 Memory=26232 KB\n");
  EXPECT_EQ(WithoutTime(lines[1]), "NX:    TraceSetVerboseLevel(3)\n");
  EXPECT_EQ(WithoutTime(lines[2]), "NX:    TraceSetContext(0xFFFFFFFF)\n");
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(lines[0][0])) && lines[0][2] == ':' && lines[0][8] == '.' &&
              lines[0][12] == ' ')
      << lines[0];

  qvtrace::ThreadInfo thread = OwnThread();
  EXPECT_EQ(thread.magic, 0xDEADBEEF);
  EXPECT_EQ(thread.refCount, 1);
  EXPECT_EQ(thread.verboseLevel, 3);
  EXPECT_EQ(thread.contextFlags, 0xFFFFFFFFu);
  EXPECT_EQ(thread.outputFlags, 0u);
  EXPECT_EQ(thread.headerMode, 3u);
  // Output is off, so lines go nowhere.
  TraceMessage(1, 0xFFFFFFFF, L"dropped");

  // A second registration of the same thread only counts.
  ASSERT_EQ(TraceInitEx(), 1);
  EXPECT_EQ(OwnThread().refCount, 2);
  EXPECT_EQ(OwnProcessCount(), 2);

  TraceTerminateThread(tid, 1, 0);
  TraceTerminateThread(tid, 1, 0);
  lines = capture.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(WithoutTime(lines[0]), CallHeader(tid, "TraceTerminateThread") +
                                       " Reference count - Process 2 -> 1 / Thread  2 -> 1 \n");
  EXPECT_EQ(WithoutTime(lines[1]), CallHeader(tid, "TraceTerminateThread") +
                                       " Reference count - Process 1 -> 0 / Thread  1 -> 0 / LAST THREAD REF released\n");
  EXPECT_EQ(WithoutTime(lines[2]),
            CallHeader(tid, "TraceTerminateThread") + " Last reference for this process was removed!\n");
  EXPECT_EQ(WithoutTime(lines[3]), CallHeader(tid, "TraceTerminateThread") + " Last process was removed!\n");
}

TEST_F(TraceRegistrationTest, UnregisteredProcessIsLeftAloneAndItsUnusedRecordGivesTheNotice) {
  DebugCapture capture;
  // Without a record nothing is written and the block is not brought into being (it would outlive us).
  TraceMessage(1, 0xFFFFFFFF, L"nobody");
  TraceTerminateThread(TraceCurrentThreadId(), 1, 0);
  TraceSetVerboseLevel(5);
  std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(WithoutTime(lines[0]), "NX:    TraceSetVerboseLevel(5)\n");
  EXPECT_FALSE(trace_test::SharedObjectExists());

  // A record taken but never registered (refCount 0) answers "called before TraceInitInternal".
  TraceLock();
  ASSERT_NE(QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 0, 1), nullptr);
  TraceUnlock();
  TraceSetContext(0x10);
  lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WithoutTime(lines[0]), "NX:    TraceSetContext(0x00000010)\n");
  // The notice carries the time header: "NX:    ", the time again, 21 spaces, process and thread.
  const std::string notice = WithoutTime(lines[1]);
  ASSERT_GT(notice.size(), 19u);
  EXPECT_EQ(notice.substr(0, 7), "NX:    ");
  EXPECT_EQ(notice.substr(19), std::string(21, ' ') + Hex4(TraceCurrentProcessId()) + "-" +
                                   Hex4(TraceCurrentThreadId()) +
                                   ":  QVTRACE_GetProcInfoPtr() - ERROR function called before TraceInitInternal()\n");
  // Registering now works and frees everything at the end.
  ASSERT_EQ(TraceInitEx(), 1);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST_F(TraceRegistrationTest, SecondThreadCopiesTheFirstRecordsSettings) {
  ASSERT_EQ(TraceInitEx(), 1);
  TraceLock();
  qvtrace::ThreadInfo* first = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), TraceCurrentThreadId(), 1, 0);
  ASSERT_NE(first, nullptr);
  first->outputFlags = 4;
  first->headerMode = 2;
  first->contextFlags = 0x30;
  first->verboseLevel = 5;
  first->lastWorkingSetKB = 1234;
  first->prefix[0] = u'P';
  first->prefix[1] = 0;
  for (size_t i = 0; i < qvtrace::kLogFileChars; ++i) first->logFile[i] = u'a';  // no terminator
  TraceUnlock();

  qvtrace::ThreadInfo second{};
  std::thread([&] {
    ASSERT_EQ(TraceInitEx(), 1);
    second = OwnThread();
    TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  }).join();
  EXPECT_EQ(second.refCount, 1);
  EXPECT_EQ(second.outputFlags, 4u);
  EXPECT_EQ(second.headerMode, 2u);
  EXPECT_EQ(second.contextFlags, 0x30u);
  EXPECT_EQ(second.verboseLevel, 5);
  EXPECT_EQ(second.lastWorkingSetKB, 1234u);
  EXPECT_EQ(second.prefix[0], 0) << "the prefix is not inherited";
  EXPECT_EQ(std::u16string(second.logFile), std::u16string(255, u'a'));
  EXPECT_EQ(OwnProcessCount(), 1);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST_F(TraceRegistrationTest, NinetySeventhThreadIsRefusedWithTheNotice) {
  ASSERT_EQ(TraceInitEx(), 1);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::vector<std::thread> threads;
  std::atomic<int> registered{0};
  std::atomic<int> failures{0};
  for (int i = 0; i < 95; ++i) {
    threads.emplace_back([&] {
      if (TraceInitEx() != 1) ++failures;
      ++registered;
      released.wait();
      TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    });
  }
  while (registered < 95) std::this_thread::yield();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(TraceCountThreads(TraceCurrentProcessId()), 96);

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
  std::vector<std::string> lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WithoutTime(lines[0]), CallHeader(refusedId, "TraceInitInternal") + " Thread " + Hex4(refusedId) +
                                       " not found: Max. number of threads (96) reached!!!\n");
  EXPECT_EQ(WithoutTime(lines[1]), CallHeader(refusedId, "TraceTerminateThread") + " ERROR: Thread " +
                                       Hex4(refusedId) + " not found: Max. number of threads (96) reached!!!\n");

  release.set_value();
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(OwnProcessCount(), 1);
  TraceTerminateThread(refusedId, 1, 0);
  lines = capture.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(WithoutTime(lines[0]), CallHeader(refusedId, "TraceTerminateThread") + " WARNING: Thread " +
                                       Hex4(refusedId) + " not found: Currently 1 threads are active!!!\n");
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

// The renderer's one warning, on a new (streaming) thread; returns that thread's identifier.
uint32_t WriteOneShotWarning() {
  uint32_t streamingId = 0;
  std::thread([&] {
    streamingId = TraceCurrentThreadId();
    TraceOneShotMessage(100, 3, 0xFFFFFFFF, L"%ls() - Timestamps not set for %ls", L"SinkFilter::Receive",
                        L"Video Sink");
  }).join();
  return streamingId;
}

TEST_F(TraceRegistrationTest, OneShotRegistrationAloneFreesProcessRecordAndBlock) {
  DebugCapture capture;
  const uint32_t streamingId = WriteOneShotWarning();
  std::vector<std::string> lines = capture.Lines();
  EXPECT_TRUE(Matching(lines, "Reference count").empty()) << "quiet";
  ASSERT_EQ(Matching(lines, "Last reference for this process was removed!").size(), 1u);
  EXPECT_EQ(WithoutTime(Matching(lines, "Last reference")[0]),
            CallHeader(streamingId, "TraceTerminateThread") + " Last reference for this process was removed!\n");
  EXPECT_EQ(Matching(lines, "Last process was removed!").size(), 1u);
  EXPECT_FALSE(trace_test::SharedObjectExists());
}

TEST_F(TraceRegistrationTest, OneShotRegistrationBesideARegisteredThreadLeavesOnlyItsRecord) {
  ASSERT_EQ(TraceInitEx(), 1);
  DebugCapture capture;
  const uint32_t streamingId = WriteOneShotWarning();
  EXPECT_EQ(OwnProcessCount(), 1);
  EXPECT_EQ(OwnThread(streamingId).threadId, 0u) << "the streaming thread's record was cleared";
  EXPECT_EQ(TraceCountThreads(TraceCurrentProcessId()), 1);
  std::vector<std::string> lines = capture.Lines();
  EXPECT_TRUE(Matching(lines, "Last reference").empty());
  EXPECT_TRUE(Matching(lines, "QVTRACE Version").empty());
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST_F(TraceRegistrationTest, RecordLeftUnderOurIdentifierByAnEarlierProcessIsNotInherited) {
  // As if a crashed process with the same identifier had left its registration behind.
  qvtrace::ProcessCache* cache = trace_test::LockedCache();
  ASSERT_NE(cache, nullptr);
  qvtrace::ProcInfo& stale = cache->processes[5];
  stale.processId = TraceCurrentProcessId();
  stale.refCount = 3;
  stale.threads[0].threadId = TraceCurrentThreadId();
  stale.threads[0].refCount = 2;
  stale.threads[0].outputFlags = 7;
  trace_test::UnlockCache();

  DebugCapture capture;
  ASSERT_EQ(TraceInitEx(), 1);
  EXPECT_EQ(Matching(capture.Lines(), "QVTRACE Version 7").size(), 1u) << "a first registration";
  EXPECT_EQ(OwnProcessCount(), 1);
  qvtrace::ThreadInfo thread = OwnThread();
  EXPECT_EQ(thread.refCount, 1);
  EXPECT_EQ(thread.outputFlags, 0u);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST_F(TraceRegistrationTest, ThreadNameCarriesTheTagCutToWhatTheSystemKeeps) {
  auto comm = [](uint32_t threadId) {
    std::string text = trace_test::ReadFile("/proc/self/task/" + std::to_string(threadId) + "/comm");
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  };
  std::promise<uint32_t> otherId;
  std::promise<void> named;
  std::thread other([&] {
    otherId.set_value(TraceCurrentThreadId());
    named.get_future().wait();
  });
  const uint32_t id = otherId.get_future().get();
  TraceSetThreadName(id, "Sink");
  EXPECT_EQ(comm(id), "NX:  Sink");
  TraceSetThreadName(id, "Preview renderer");
  EXPECT_EQ(comm(id), "NX:  Preview re");
  TraceSetThreadName(id, nullptr);
  EXPECT_EQ(comm(id), "NX:  Preview re");
  named.set_value();
  other.join();

  std::thread([&] {
    TraceSetThreadName(TraceCurrentThreadId(), "Own");
    EXPECT_EQ(comm(TraceCurrentThreadId()), "NX:  Own");
  }).join();
}

}  // namespace
