// The shared block between processes: its byte layout read back raw, two processes sharing records, processes
// racing for it, a killed lock holder, a crashed process's record, garbage written by others, and qvtrace.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/trace/trace_test_support.h"
#include "trace/object_names_posix.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

namespace {

using trace_test::Child;
using trace_test::DebugCapture;
using trace_test::Matching;

class TraceSharedTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(trace_test::SharedObjectExists()); }
  void TearDown() override { EXPECT_FALSE(trace_test::SharedObjectExists()) << "the block outlived its users"; }
};

// Starts a helper that registers and writes a line every 5 ms; returns its process and thread identifiers.
bool StartHolder(Child& child, uint32_t* processId, uint32_t* threadId) {
  std::string line;
  if (!child.ReadLine(&line)) return false;
  std::istringstream ids(line);
  return static_cast<bool>(ids >> *processId >> *threadId);
}

template <typename T>
T Raw(const unsigned char* bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes + offset, sizeof(T));
  return value;
}

TEST_F(TraceSharedTest, LayoutReadBackRawMatchesTheContract) {
  ASSERT_EQ(TraceInitEx(), 1);
  TraceLock();
  qvtrace::ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), TraceCurrentThreadId(), 1, 0);
  ASSERT_NE(thread, nullptr);
  qvtrace::CopyToUtf16(thread->prefix, qvtrace::kPrefixChars, L"p\U0001F600");
  qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, L"L");
  thread->outputFlags = 0x11223344;
  TraceUnlock();

  // A mapping of our own, as another program would make it.
  int fd = shm_open(qvtrace::SharedObjectPath(TraceCacheName()).c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  struct stat info;
  ASSERT_EQ(fstat(fd, &info), 0);
  EXPECT_EQ(info.st_size, 30139648);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  void* view = mmap(nullptr, 30139648, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  ASSERT_NE(view, MAP_FAILED);
  const auto* bytes = static_cast<const unsigned char*>(view);
  size_t record = 0;
  while (record < 32 && Raw<uint32_t>(bytes, record * 941864 + 8) != TraceCurrentProcessId()) ++record;
  ASSERT_LT(record, 32u);
  const unsigned char* proc = bytes + record * 941864;
  EXPECT_EQ(Raw<int16_t>(proc, 0), 1);
  EXPECT_NE(Raw<uint64_t>(proc, 941848), 0u) << "writer thread handle";
  EXPECT_EQ(proc[941857], 0) << "writerStop";
  const unsigned char* first = proc + 16;
  EXPECT_EQ(Raw<uint32_t>(first, 0), 0xDEADBEEF);
  EXPECT_EQ(Raw<uint32_t>(first, 4), TraceCurrentThreadId());
  EXPECT_EQ(Raw<uint16_t>(first, 16), u'p');
  EXPECT_EQ(Raw<uint16_t>(first, 18), 0xD83D);
  EXPECT_EQ(Raw<uint16_t>(first, 20), 0xDE00);
  EXPECT_EQ(Raw<uint16_t>(first, 22), 0);
  EXPECT_EQ(Raw<uint32_t>(first, 8208), 0x11223344u);
  EXPECT_EQ(Raw<uint32_t>(first, 8212), 3u);
  EXPECT_EQ(Raw<uint32_t>(first, 8216), 0xFFFFFFFFu);
  EXPECT_EQ(Raw<int32_t>(first, 8220), 3);
  EXPECT_EQ(static_cast<int8_t>(first[8224]), 1);
  EXPECT_EQ(Raw<uint16_t>(first, 8228), u'L');
  const unsigned char* second = first + 8744;
  EXPECT_EQ(Raw<uint32_t>(second, 0), 0xDEADBEEF);
  EXPECT_EQ(Raw<uint32_t>(second, 4), 0u);
  munmap(view, 30139648);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST_F(TraceSharedTest, TwoProcessesShareTheBlockAndTheLastOneRemovesIt) {
  Child holder({"hold"});
  uint32_t holderPid = 0;
  uint32_t holderTid = 0;
  ASSERT_TRUE(StartHolder(holder, &holderPid, &holderTid));

  DebugCapture capture;
  ASSERT_EQ(TraceInitEx(), 1);
  EXPECT_EQ(TraceCountThreads(holderPid), 1);
  EXPECT_EQ(TraceCountThreads(TraceCurrentProcessId()), 1);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  std::vector<std::string> lines = capture.Lines();
  EXPECT_EQ(Matching(lines, "Last reference for this process was removed!").size(), 1u);
  EXPECT_TRUE(Matching(lines, "Last process was removed!").empty());
  EXPECT_TRUE(trace_test::SharedObjectExists()) << "the other process still uses it";

  holder.Write("quit\n");
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(Matching(capture.Lines(), "Last process was removed!").size(), 1u);
}

TEST_F(TraceSharedTest, RacingProcessesKeepOneBlockAndOneMutex) {
  std::vector<std::unique_ptr<Child>> children;
  for (int i = 0; i < 4; ++i) children.push_back(std::make_unique<Child>(std::vector<std::string>{"cycle", "40"}));
  // This process takes part too, from two threads.
  auto cycle = [] {
    for (int i = 0; i < 40; ++i) {
      if (TraceInitEx() != 1) ADD_FAILURE() << "registration failed";
      TraceMessage(1, 1, L"cycle");
      TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    }
  };
  std::thread other(cycle);
  cycle();
  other.join();
  for (auto& child : children) {
    std::string line;
    EXPECT_TRUE(child->ReadLine(&line, 30000));
    EXPECT_EQ(line, "done");
    EXPECT_EQ(child->Wait(), 0);
  }
}

TEST_F(TraceSharedTest, KilledLockHolderDoesNotBlockOthers) {
  {
    Child holder({"lock"});
    std::string line;
    ASSERT_TRUE(holder.ReadLine(&line));
    ASSERT_EQ(line, "locked");
    holder.Kill();
    EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
  }
  auto registered = std::async(std::launch::async, [] {
    int32_t result = TraceInitEx();
    TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    return result;
  });
  ASSERT_EQ(registered.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the lock was never freed";
  EXPECT_EQ(registered.get(), 1);
}

// A process that holds the mutex and never lets go (hung, or stopped in a debugger). The one-shot line waits
// for it only as long as it was told, drops the line and leaves no registration behind; with this process
// registered, its log writer waits on the mutex holding the process's own lock, which bounds the wait too.
TEST_F(TraceSharedTest, StuckLockHolderCostsAOneShotLineOnlyItsBoundedWait) {
  for (const bool processRegistered : {false, true}) {
    if (processRegistered) {
      ASSERT_EQ(TraceInitEx(), 1);
    }
    Child holder({"lock"});
    std::string line;
    ASSERT_TRUE(holder.ReadLine(&line));
    ASSERT_EQ(line, "locked");
    auto oneShot = std::async(std::launch::async, [] { TraceOneShotMessage(50, 1, 0xFFFFFFFF, L"dropped"); });
    EXPECT_EQ(oneShot.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the wait had no bound (process registered: " << processRegistered << ")";
    holder.Kill();
    EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
    oneShot.wait();
    EXPECT_EQ(TraceCountThreads(TraceCurrentProcessId()), processRegistered ? 1 : -1) << processRegistered;
    if (processRegistered) TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  }
}

// Another user's owner-only objects under the names without a user id (here: objects this user refuses as it
// would refuse those) leave this user's tracing alone.
TEST_F(TraceSharedTest, ObjectsUnderTheNamesOfOtherUsersDoNotLockThisUserOut) {
  std::vector<std::string> others;
  for (const wchar_t* name : {TraceCacheName(), TraceMutexName()}) {
    others.push_back("/" + qvtrace::WideToUtf8(name));
    int fd = shm_open(others.back().c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << others.back();
    EXPECT_EQ(ftruncate(fd, 4096), 0);
    close(fd);
  }
  EXPECT_EQ(TraceInitEx(), 1);
  EXPECT_TRUE(trace_test::SharedObjectExists());
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  for (const std::string& path : others) shm_unlink(path.c_str());
}

TEST_F(TraceSharedTest, CrashedProcessRecordIsReclaimed) {
  {
    Child crasher({"hold"});
    uint32_t crashedPid = 0;
    uint32_t crashedTid = 0;
    ASSERT_TRUE(StartHolder(crasher, &crashedPid, &crashedTid));
    crasher.Kill();
    EXPECT_EQ(crasher.Wait(), 128 + SIGKILL);
    EXPECT_EQ(TraceCountThreads(crashedPid), 1) << "the record is left behind";
  }
  DebugCapture capture;
  ASSERT_EQ(TraceInitEx(), 1);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  // The dead process's registration does not keep the block alive.
  EXPECT_EQ(Matching(capture.Lines(), "Last process was removed!").size(), 1u);
}

TEST_F(TraceSharedTest, GarbageInSharedRecordsIsHandledWithinBounds) {
  ASSERT_EQ(TraceInitEx(), 1);
  const std::string path = trace_test::TempPath("garbage.log");
  std::mt19937 random(7);
  auto fill = [&](void* target, size_t size) {
    auto* bytes = static_cast<unsigned char*>(target);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(random() | 1);  // never a zero byte
  };
  qvtrace::ProcessCache* cache = trace_test::LockedCache();
  ASSERT_NE(cache, nullptr);
  qvtrace::ProcInfo* own = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 1, 0);
  ASSERT_NE(own, nullptr);
  const auto saved = std::make_unique<qvtrace::ProcInfo>(*own);
  // Every other record: random bytes, including processIds of no process and absurd counts.
  for (qvtrace::ProcInfo& proc : cache->processes) {
    if (&proc != own) fill(&proc, sizeof(proc));
  }
  // Our own record: unterminated texts everywhere, absurd settings, except what keeps it ours.
  qvtrace::ThreadInfo* mine = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), TraceCurrentThreadId(), 1, 0);
  ASSERT_NE(mine, nullptr);
  const uint32_t myId = mine->threadId;
  fill(own->threads, sizeof(own->threads));
  fill(own->pendingLog, sizeof(own->pendingLog));
  own->pendingLogThreadId = 0xFFFFFFFF;
  mine->threadId = myId;
  mine->refCount = 127;
  mine->verboseLevel = 0x7FFFFFFF;
  mine->contextFlags = 0xFFFFFFFF;
  mine->outputFlags = 0xFFFFFFF5;  // debugger and log file, not the console
  mine->headerMode = 0xABCDEF;
  mine->lastWorkingSetKB = 0xFFFFFFFFFFFFFFFFull;
  own->refCount = 0x7FFF;
  trace_test::UnlockCache();

  DebugCapture capture;
  TraceMessage(1, 1, L"garbage");
  TraceMessage(0x7FFFFFFF, 1, L"%ls", std::wstring(5000, L'g').c_str());
  TraceSetVerboseLevel(9);
  EXPECT_GT(TraceCountThreads(TraceCurrentProcessId()), 0);
  // The unterminated prefix fills the line; what is written is cut at the line's end.
  std::vector<std::string> lines = capture.Lines(50);
  EXPECT_FALSE(Matching(lines, "TraceSetVerboseLevel(9)").empty());
  // A full line has no room for its line end, so two of them run together here.
  for (const std::string& line : lines) EXPECT_LE(line.size(), 2u * 3u * 4096);
  // qvtrace reads the same garbage.
  {
    Child list({QVTRACE_TOOL, "--cache", trace_test::BaseName(), "list"}, false, true);
    EXPECT_EQ(list.Wait(30000), 0);
  }
  // A log file path without terminator and a pending text without one are cut, never overrun.
  cache = trace_test::LockedCache();
  own = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 1, 0);
  ASSERT_NE(own, nullptr);
  fill(own->pendingLog, sizeof(own->pendingLog));
  own->pendingLogThreadId = myId;
  mine = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), TraceCurrentThreadId(), 1, 0);
  ASSERT_NE(mine, nullptr);
  mine->outputFlags = 4;
  fill(mine->logFile, sizeof(mine->logFile));
  trace_test::UnlockCache();
  TraceMessage(1, 1, L"more");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  // Back to sane values so the last unregistration can free the block.
  cache = trace_test::LockedCache();
  for (qvtrace::ProcInfo& proc : cache->processes) {
    if (&proc != own) std::memset(&proc, 0, sizeof(proc));
  }
  *own = *saved;
  trace_test::UnlockCache();
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

TEST_F(TraceSharedTest, QvtraceSendsARunningProcessesLinesToALogFile) {
  {
    // Nobody registered: an empty list, and nobody to change; no object is left behind.
    Child list({QVTRACE_TOOL, "--cache", trace_test::BaseName(), "list"}, false);
    std::string line;
    EXPECT_FALSE(list.ReadLine(&line, 2000));
    EXPECT_EQ(list.Wait(), 0);
    Child set({QVTRACE_TOOL, "--cache", trace_test::BaseName(), "set", "--pid", "1", "--level", "1"}, false);
    EXPECT_EQ(set.Wait(), 2);
    EXPECT_FALSE(trace_test::SharedObjectExists("_Mutex") && trace_test::SharedObjectExists());
  }
  Child holder({"hold"});
  uint32_t holderPid = 0;
  uint32_t holderTid = 0;
  ASSERT_TRUE(StartHolder(holder, &holderPid, &holderTid));
  const std::string path = trace_test::TempPath("qvtrace.log");
  const std::string cache = trace_test::BaseName();

  {
    Child set({QVTRACE_TOOL, "--cache", cache, "set", "--pid", std::to_string(holderPid), "--output", "logfile",
               "--header", "1", "--prefix", "[h]", "--logfile", path},
              false);
    EXPECT_EQ(set.Wait(), 0);
  }
  EXPECT_TRUE(trace_test::WaitForFileText(path, "MSG [h] tick"));

  {
    Child list({QVTRACE_TOOL, "--cache", cache, "list"}, false);
    std::string all;
    std::string line;
    while (list.ReadLine(&line, 2000)) all += line + "\n";
    EXPECT_EQ(list.Wait(), 0);
    EXPECT_NE(all.find("process " + std::to_string(holderPid)), std::string::npos) << all;
    EXPECT_NE(all.find("thread " + std::to_string(holderTid)), std::string::npos) << all;
    EXPECT_NE(all.find("output logfile"), std::string::npos) << all;
    EXPECT_NE(all.find(path), std::string::npos) << all;
  }

  const std::vector<std::string> refusals[] = {
      {"set", "--pid", "1", "--level", "2"},  // not registered
      {"set", "--pid", std::to_string(holderPid), "--tid", "1", "--level", "2"},  // no such thread
      {"set", "--pid", std::to_string(holderPid)},  // nothing to set
      {"set", "--level", "2"},  // no process
      {"set", "--pid", "12x", "--level", "2"},
      {"set", "--pid", std::to_string(holderPid), "--output", "printer"},
      {"set", "--pid", std::to_string(holderPid), "--logfile", std::string(300, 'a')},
      {"frobnicate"},
      {"list", "--level", "2"},
      {},
  };
  for (const std::vector<std::string>& refusal : refusals) {
    std::vector<std::string> args = {QVTRACE_TOOL, "--cache", cache};
    args.insert(args.end(), refusal.begin(), refusal.end());
    Child tool(args, false);
    EXPECT_EQ(tool.Wait(), 2) << args.back();
  }

  holder.Write("quit\n");
  EXPECT_EQ(holder.Wait(), 0);
}

}  // namespace
