// The shared block between processes: two processes sharing records, processes racing for it, a stuck or killed
// lock holder, a crashed process's record, garbage written by others, other users' objects, and qvtrace.
#include <sys/stat.h>

#include <cstring>
#include <future>
#include <memory>
#include <random>

#include "tests/trace/trace_test_support.h"

namespace {

using trace_test::Child;
using trace_test::DebugCapture;
using trace_test::Matching;

class TraceSharedTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(trace_test::BlockExists()); }
  void TearDown() override { EXPECT_FALSE(trace_test::BlockExists()) << "the block outlived its users"; }
};

// A helper that registers and writes a line every 5 ms until "quit"; returns its process identifier.
uint32_t StartHolder(Child& child) {
  std::string line;
  uint32_t processId = 0;
  if (child.ReadLine(&line)) std::istringstream(line) >> processId;
  return processId;
}

// A process that crashed leaves its record behind, which must not keep the block alive: the last living process
// to unregister removes it, and the next users meet in a new block.
TEST_F(TraceSharedTest, ProcessesShareTheBlockAndTheLastLivingOneRemovesIt) {
  Child crashed({"hold"});
  ASSERT_NE(StartHolder(crashed), 0u);
  crashed.Kill();
  EXPECT_EQ(crashed.Wait(), 128 + SIGKILL);
  Child holder({"hold"});
  const uint32_t holderPid = StartHolder(holder);

  DebugCapture capture;
  ASSERT_EQ(TraceInitEx(), 1);
  EXPECT_EQ(TraceCountThreads(holderPid), 1);
  // Only this user may open the block.
  struct stat info;
  EXPECT_EQ(stat(("/dev/shm" + qvtrace::SharedObjectPath(TraceCacheName())).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, static_cast<off_t>(qvtrace::kProcessCacheBytes));
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  std::vector<std::string> lines = capture.Lines();
  EXPECT_EQ(Matching(lines, "Last reference for this process was removed!").size(), 1u);
  EXPECT_TRUE(Matching(lines, "Last process was removed!").empty());
  EXPECT_TRUE(trace_test::BlockExists()) << "the other process still uses it";

  holder.Write("quit\n");
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(Matching(capture.Lines(), "Last process was removed!").size(), 1u);

  // This process kept its mapping of the block that is now removed: registering again must meet the others in
  // the new block, not stay alone in the old one.
  ASSERT_EQ(TraceInitEx(), 1);
  Child later({"hold"});
  EXPECT_EQ(TraceCountThreads(StartHolder(later)), 1);
  later.Write("quit\n");
  EXPECT_EQ(later.Wait(), 0);
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
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
    EXPECT_TRUE(child->ReadLine(&line, 30000) && line == "done");
    EXPECT_EQ(child->Wait(), 0);
  }
}

// A process that holds the mutex and never lets go (hung, or stopped in a debugger). The one-shot line waits for
// it only as long as it was told, drops the line and leaves no registration behind; with this process registered,
// its log writer waits on the mutex holding the process's own lock, which bounds the wait too. Once the holder is
// killed, its hold passes on.
TEST_F(TraceSharedTest, StuckLockHolderCostsAOneShotLineItsBoundedWaitAndAKilledOneNothing) {
  for (const bool processRegistered : {false, true}) {
    SCOPED_TRACE(processRegistered ? "registered" : "not registered");
    if (processRegistered) {
      ASSERT_EQ(TraceInitEx(), 1);
    }
    Child holder({"lock"});
    std::string line;
    ASSERT_TRUE(holder.ReadLine(&line) && line == "locked");
    auto oneShot = std::async(std::launch::async, [] { TraceOneShotMessage(50, 1, 0xFFFFFFFF, L"dropped"); });
    EXPECT_EQ(oneShot.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "the wait had no bound";
    holder.Kill();
    EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
    oneShot.wait();
    auto count = std::async(std::launch::async, [] { return TraceCountThreads(TraceCurrentProcessId()); });
    ASSERT_EQ(count.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the lock was never freed";
    EXPECT_EQ(count.get(), processRegistered ? 1 : -1);
    if (processRegistered) TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  }
}

// A holder of the mutex that is stuck for a while and then lets go.
class StuckHolder {
 public:
  StuckHolder() : m_child({"lock"}) {
    std::string line;
    m_locked = m_child.ReadLine(&line) && line == "locked";
  }
  bool Locked() const { return m_locked; }
  void LetGo() {
    m_child.Write("go\n");
    EXPECT_EQ(m_child.Wait(), 0);
  }

 private:
  Child m_child;
  bool m_locked = false;
};

using Clock = std::chrono::steady_clock;
// The facility's longest wait for the mutex for a line.
constexpr auto kBound = std::chrono::milliseconds(100);

// While another process holds the mutex, a line with output off returns at once, and only the first wanted line
// waits (once, within the bound); the wanted ones are dropped and counted, and the count reaches the thread's
// outputs in one line, at the most important level dropped, once the mutex is free.
TEST_F(TraceSharedTest, StuckLockHolderStallsNoLineAndWantedLinesAreCountedThenReported) {
  ASSERT_EQ(TraceInitEx(), 1);
  DebugCapture capture;
  {
    StuckHolder holder;
    ASSERT_TRUE(holder.Locked());
    const auto start = Clock::now();
    for (int i = 0; i < 20; ++i) TraceMessage(1, 0xFFFFFFFF, L"output off %d", i);
    EXPECT_LT(Clock::now() - start, kBound) << "a line that nobody wants waited for the mutex";
    holder.LetGo();
  }
  trace_test::ChangeOwnThread([](qvtrace::ThreadInfo* self) {
    self->outputFlags = qvtrace::kOutputDebugger;
    self->headerMode = 1;
  });
  TraceMessage(3, 1, L"before");
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"WRN  before\n"});
  {
    StuckHolder holder;
    ASSERT_TRUE(holder.Locked());
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i) TraceMessage(i == 4 ? 2 : 3, 1, L"wanted %d", i);
    TraceMessage(5, 1, L"above the level: not wanted, not counted");
    EXPECT_LT(Clock::now() - start, 6 * kBound) << "every wanted line waited";
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{});
    holder.LetGo();
  }
  TraceMessage(3, 1, L"after");
  TraceMessage(3, 1, L"later");
  EXPECT_EQ(capture.Lines(),
            (std::vector<std::string>{"ERR  QVTRACE: 10 line(s) dropped while the trace mutex was held elsewhere\n",
                                      "WRN  after\n", "WRN  later\n"}));
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
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
  EXPECT_TRUE(trace_test::BlockExists());
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  for (const std::string& path : others) shm_unlink(path.c_str());
}

// Any process may write anything into the block: unterminated texts (prefix, log file path, pending log), absurd
// settings and counts are read within their fields (ASan watches), by this process and by qvtrace.
TEST_F(TraceSharedTest, GarbageInSharedRecordsIsHandledWithinBounds) {
  ASSERT_EQ(TraceInitEx(), 1);
  std::mt19937 random(7);
  TraceLock();
  auto* bytes = reinterpret_cast<unsigned char*>(QVTRACE_GM_GetProcessCachePtr());
  qvtrace::ProcInfo* own = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 1, 0);
  ASSERT_TRUE(bytes != nullptr && own != nullptr);
  const auto saved = std::make_unique<qvtrace::ProcInfo>(*own);
  for (size_t i = 0; i < qvtrace::kProcessCacheBytes; ++i) bytes[i] = static_cast<unsigned char>(random() | 1);
  // Of our own record only what keeps it ours and lets lines out to the debugger and the log file.
  own->processId = TraceCurrentProcessId();
  own->refCount = 0x7FFF;
  own->pendingLogThreadId = own->threads[0].threadId = TraceCurrentThreadId();
  own->threads[0].verboseLevel = 0x7FFFFFFF;
  own->threads[0].outputFlags = 0xFFFFFFF5;
  TraceUnlock();

  DebugCapture capture;
  TraceMessage(1, 1, L"garbage");
  TraceMessage(0x7FFFFFFF, 1, L"%ls", std::wstring(5000, L'g').c_str());
  TraceSetVerboseLevel(9);
  EXPECT_GT(TraceCountThreads(TraceCurrentProcessId()), 0);
  const std::vector<std::string> lines = capture.Lines(50);
  EXPECT_FALSE(Matching(lines, "TraceSetVerboseLevel(9)").empty());
  // The unterminated prefix fills the line, which then has no room for its line end: two run together.
  for (const std::string& line : lines) EXPECT_LE(line.size(), 2u * 3u * 4096);
  Child list({QVTRACE_TOOL, "--cache", trace_test::BaseName(), "list"}, false);
  for (std::string line; list.ReadLine(&line, 30000);) {
  }
  EXPECT_EQ(list.Wait(30000), 0);

  // Back to sane values so the last unregistration can free the block.
  TraceLock();
  std::memset(bytes, 0, qvtrace::kProcessCacheBytes);
  *own = *saved;
  TraceUnlock();
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}

// What qvtrace refuses; a change that succeeds is seen in the plug-in's own log tests.
TEST_F(TraceSharedTest, QvtraceRefusesWhatItCannotChangeAndBringsNoBlockIntoBeing) {
  const std::string cache = trace_test::BaseName();
  auto run = [&](std::vector<std::string> args, std::string* output = nullptr) {
    args.insert(args.begin(), {QVTRACE_TOOL, "--cache", cache});
    Child tool(args, false);
    for (std::string line; tool.ReadLine(&line, 2000);) {
      if (output != nullptr) *output += line + "\n";
    }
    return tool.Wait();
  };
  // Nobody registered: an empty list, nobody to change, and no block brought into being.
  std::string listed;
  EXPECT_EQ(run({"list"}, &listed), 0);
  EXPECT_EQ(listed, "");
  EXPECT_EQ(run({"set", "--pid", "1", "--level", "1"}), 2);
  EXPECT_FALSE(trace_test::BlockExists());

  Child holder({"hold"});
  const std::string holderPid = std::to_string(StartHolder(holder));
  // Refused, with nothing written: a thread without record, a path longer than the field.
  for (const std::vector<std::string>& refusal : {std::vector<std::string>{"set", "--pid", holderPid, "--tid", "1",
                                                                          "--level", "2"},
                                                  {"set", "--pid", holderPid, "--logfile", std::string(300, 'a')}}) {
    EXPECT_EQ(run(refusal), 2) << refusal[2];
  }
  holder.Write("quit\n");
  EXPECT_EQ(holder.Wait(), 0);
}

}  // namespace
