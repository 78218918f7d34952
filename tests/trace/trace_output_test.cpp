// Trace lines: filtering by level and context, level tags, prefix, the header modes, the single line end, the
// log file written by the writer thread, and the bounded text helpers behind them.
#include <regex>

#include "tests/trace/trace_test_support.h"

namespace {

using trace_test::ChangeOwnThread;
using trace_test::DebugCapture;
using trace_test::Hex4;

// The calling thread is registered; a test sets its record as another process (qvtrace) would.
class TraceOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TraceInitEx(), 1); }
  void TearDown() override {
    TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    EXPECT_FALSE(trace_test::BlockExists());
  }
  // Lines of the calling thread go to the debugger only, headed as headerMode says.
  static void DebuggerOnly(uint32_t headerMode, const wchar_t* prefix = L"") {
    ChangeOwnThread([&](qvtrace::ThreadInfo* thread) {
      thread->outputFlags = 1;
      thread->headerMode = headerMode;
      thread->lastWorkingSetKB = 0;
      qvtrace::CopyToUtf16(thread->prefix, qvtrace::kPrefixChars, prefix);
    });
  }
  static void LogTo(const std::string& path) {
    ChangeOwnThread([&](qvtrace::ThreadInfo* thread) {
      thread->outputFlags = 4;
      thread->headerMode = 1;
      qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, qvtrace::Utf8ToWide(path).c_str());
    });
  }
};

TEST_F(TraceOutputTest, LinesPassOnlyWhenLevelContextOutputAndHeaderAllowThem) {
  struct Case {
    const char* name;
    int32_t level;
    uint32_t mask;
    uint32_t contextFlags;
    int32_t verboseLevel;
    uint32_t outputFlags;
    uint32_t headerMode;
    const wchar_t* message;
    const char* expected;  // null: nothing written
  };
  const Case cases[] = {
      {"message level", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"hello", "MSG  hello\n"},
      {"error level", 2, 1, 0xFFFFFFFF, 3, 1, 1, L"e", "ERR  e\n"},
      {"warning level", 3, 1, 0xFFFFFFFF, 3, 1, 1, L"w", "WRN  w\n"},
      {"user level", 4, 1, 0xFFFFFFFF, 4, 1, 1, L"u", "USR  u\n"},
      {"other level has four spaces", 5, 1, 0xFFFFFFFF, 5, 1, 1, L"x", "     x\n"},
      {"level 0 never", 0, 1, 0xFFFFFFFF, 3, 1, 1, L"x", nullptr},
      {"level above verboseLevel", 4, 1, 0xFFFFFFFF, 3, 1, 1, L"x", nullptr},
      {"negative level passes", -1, 1, 0xFFFFFFFF, 3, 1, 1, L"n", "     n\n"},
      {"signed comparison", 1, 1, 0xFFFFFFFF, -1, 1, 1, L"x", nullptr},
      {"context does not meet mask", 1, 0x2, 0x1, 3, 1, 1, L"x", nullptr},
      {"context meets mask", 1, 0x6, 0x4, 3, 1, 1, L"c", "MSG  c\n"},
      {"output off", 1, 1, 0xFFFFFFFF, 3, 0, 1, L"x", nullptr},
      {"header mode 0", 1, 1, 0xFFFFFFFF, 3, 1, 0, L"x", nullptr},
      {"console only: not on the debugger", 1, 1, 0xFFFFFFFF, 3, 2, 1, L"x", nullptr},
      {"line end is not doubled", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"end\n", "MSG  end\n"},
      {"wide arguments", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"%ls=%d \u00e9\U0001F600", "MSG  v=7 \xC3\xA9\xF0\x9F\x98\x80\n"},
  };
  DebugCapture capture;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChangeOwnThread([&](qvtrace::ThreadInfo* thread) {
      thread->contextFlags = c.contextFlags;
      thread->verboseLevel = c.verboseLevel;
      thread->outputFlags = c.outputFlags;
      thread->headerMode = c.headerMode;
    });
    if (c.outputFlags == 2) testing::internal::CaptureStdout();
    TraceMessage(c.level, c.mask, c.message, L"v", 7);
    if (c.outputFlags == 2) {
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "MSG  x\n");
    }
    const std::vector<std::string> lines = capture.Lines(30);
    EXPECT_EQ(lines, c.expected == nullptr ? std::vector<std::string>{} : std::vector<std::string>{c.expected});
  }
}

TEST_F(TraceOutputTest, PrefixComesBeforeTheMessageAndLongTextIsCut) {
  DebugCapture capture;
  DebuggerOnly(1, L"[cam]");
  TraceMessage(1, 1, L"%d", 42);
  EXPECT_EQ(capture.Lines(30), std::vector<std::string>{"MSG [cam] 42\n"});
  // A message far beyond 4096 characters: the line is cut at its buffer, without its line end.
  TraceMessage(1, 1, L"%ls", std::wstring(10000, L'y').c_str());
  const std::vector<std::string> lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "MSG [cam] " + std::string(4085, 'y'));
}

TEST_F(TraceOutputTest, HeaderModesShapeTheLineStart) {
  DebugCapture capture;
  const std::string ids = Hex4(TraceCurrentProcessId()) + "-" + Hex4(TraceCurrentThreadId());
  const std::string time = R"(\d\d:\d\d:\d\d\.\d\d\d )";
  DebuggerOnly(2);
  TraceMessage(1, 1, L"two");
  std::vector<std::string> lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(time + R"(0x\?\?\?: MSG  two\n)"))) << lines[0];

  // Full header: the first line shows the whole working set as its change (the stored value starts at 0).
  DebuggerOnly(3);
  TraceMessage(1, 1, L"three");
  lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  std::smatch parts;
  const std::regex full(time + R"(( {0,6}\d+)K\(( *\+\d+)\) )" + ids + ": MSG  three\n");
  ASSERT_TRUE(std::regex_match(lines[0], parts, full)) << lines[0];
  EXPECT_EQ(parts[1].length(), 7);
  EXPECT_EQ(parts[2].length(), 9);
  EXPECT_EQ(std::stoll(parts[1].str()), std::stoll(parts[2].str()));
  uint64_t stored = 0;
  ChangeOwnThread([&](qvtrace::ThreadInfo* thread) { stored = thread->lastWorkingSetKB; });
  EXPECT_EQ(stored, static_cast<uint64_t>(std::stoll(parts[1].str())));

  // A record of a process that has ended: its memory cannot be read, so the change is 0 and the plain time
  // header is used.
  trace_test::Child ended({"/bin/true"}, false);
  ASSERT_EQ(ended.Wait(), 0);
  const uint32_t deadId = static_cast<uint32_t>(ended.pid());
  TraceLock();
  qvtrace::ThreadInfo* dead = QVTRACE_GetThreadInfoPtr(deadId, 77, 0, 1);
  ASSERT_NE(dead, nullptr);
  QVTRACE_GetProcInfoPtr(deadId, 0, 0)->refCount = 1;
  dead->outputFlags = 1;
  dead->contextFlags = 1;
  dead->lastWorkingSetKB = 5;
  TraceUnlock();
  TraceOutputLine(deadId, 77, 1, 1, L" text");
  lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  const std::regex plain(time + std::string(20, ' ') + Hex4(deadId) + "-004D: MSG  text\n");
  EXPECT_TRUE(std::regex_match(lines[0], plain)) << lines[0];
  EXPECT_EQ(TraceReclaimDeadProcesses(), 1);
}

TEST_F(TraceOutputTest, LogFileIsWrittenByTheWriterThreadAsUtf8) {
  const std::string path = trace_test::TempPath("writer.log");
  LogTo(path);
  TraceMessage(1, 1, L"first \u00e9");
  TraceMessage(2, 1, L"second");
  // No flush from this thread: only the writer thread can bring them to the file.
  EXPECT_TRUE(trace_test::WaitForFileText(path, "MSG  first \xC3\xA9\nERR  second\n"));

  // A log file that cannot be opened loses its text quietly; the writer goes on.
  LogTo("/nonexistent-folder/x.log");
  TraceMessage(1, 1, L"lost");
  auto pending = [] {
    TraceLock();
    const bool queued = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 1, 0)->pendingLog[0] != 0;
    TraceUnlock();
    return queued;
  };
  for (int i = 0; i < 2000 && pending(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  LogTo(path);
  TraceMessage(1, 1, L"third");
  EXPECT_TRUE(trace_test::WaitForFileText(path, "third\n"));
  EXPECT_EQ(trace_test::ReadFile(path).find("lost"), std::string::npos);
}

TEST_F(TraceOutputTest, PendingTextIsFlushedWhenTheThreadUnregisters) {
  const std::string path = trace_test::TempPath("flush.log");
  // A second registration keeps the process registered; its line is queued and left for the flush.
  ASSERT_EQ(TraceInitEx(), 1);
  LogTo(path);
  TraceLock();  // holding the lock keeps the writer out until the flush
  TraceMessage(1, 1, L"queued");
  TraceTerminateThread(TraceCurrentThreadId(), 0, 1);
  EXPECT_EQ(trace_test::ReadFile(path), "MSG  queued\n");
  TraceUnlock();
}

// The bounded UTF-16 helpers behind the shared text fields: cutting never splits a character or overruns.
TEST(TraceTextTest, AppendingToAFieldCutsWithoutSplittingACharacter) {
  struct Case {
    const char* name;
    std::u16string before;  // the field's content; size 4 means no terminator
    std::wstring text;
    std::u16string after;
  };
  const Case cases[] = {
      {"fits", u"a", L"bc", u"abc"},
      {"cut at the end", u"", L"abcdef", u"abc"},
      {"pair that does not fit is left out", u"ab", L"\U0001F600", u"ab"},
      {"pair that fits", u"a", L"\U0001F600", u"a\U0001F600"},
      {"field without terminator is treated as full", u"wxyz", L"q", u"wxy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char16_t field[5] = {u'#', u'#', u'#', u'#', u'!'};  // [4] is a guard outside the field
    c.before.copy(field, c.before.size());
    if (c.before.size() < 4) field[c.before.size()] = 0;
    qvtrace::AppendUtf16(field, 4, c.text.c_str());
    EXPECT_EQ(std::u16string(field), c.after);
    EXPECT_EQ(field[4], u'!');
  }
}

}  // namespace
