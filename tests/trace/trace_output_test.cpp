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
  static void DebuggerOnly(uint32_t headerMode) {
    ChangeOwnThread([&](qvtrace::ThreadInfo* thread) {
      thread->outputFlags = 1;
      thread->headerMode = headerMode;
      thread->lastWorkingSetKB = 0;
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
  const std::wstring huge(10000, L'y');
  struct Case {
    const char* name;
    int32_t level;
    uint32_t mask, contextFlags;
    int32_t verboseLevel;
    uint32_t outputFlags, headerMode;
    const wchar_t* prefix;
    const wchar_t* message;
    std::string expected;  // empty: nothing written
  };
  const Case cases[] = {
      {"message level", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"", L"hello", "MSG  hello\n"},
      {"error level", 2, 1, 0xFFFFFFFF, 3, 1, 1, L"", L"e", "ERR  e\n"},
      {"warning level", 3, 1, 0xFFFFFFFF, 3, 1, 1, L"", L"w", "WRN  w\n"},
      {"user level", 4, 1, 0xFFFFFFFF, 4, 1, 1, L"", L"u", "USR  u\n"},
      {"other level has four spaces", 5, 1, 0xFFFFFFFF, 5, 1, 1, L"", L"x", "     x\n"},
      {"level 0 never", 0, 1, 0xFFFFFFFF, 3, 1, 1, L"", L"x", ""},
      {"level above verboseLevel", 4, 1, 0xFFFFFFFF, 3, 1, 1, L"", L"x", ""},
      {"signed comparison", 1, 1, 0xFFFFFFFF, -1, 1, 1, L"", L"x", ""},
      {"context does not meet mask", 1, 0x2, 0x1, 3, 1, 1, L"", L"x", ""},
      {"output off", 1, 1, 0xFFFFFFFF, 3, 0, 1, L"", L"x", ""},
      {"header mode 0", 1, 1, 0xFFFFFFFF, 3, 1, 0, L"", L"x", ""},
      {"console only: not on the debugger", 1, 1, 0xFFFFFFFF, 3, 2, 1, L"", L"x", ""},
      {"line end is not doubled", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"", L"end\n", "MSG  end\n"},
      {"wide arguments", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"", L"%ls=%d \u00e9\U0001F600",
       "MSG  v=7 \xC3\xA9\xF0\x9F\x98\x80\n"},
      {"prefix before the message", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"[cam]", L"%ls", "MSG [cam] v\n"},
      // Cut at the line's buffer, which leaves no room for the line end.
      {"long text", 1, 1, 0xFFFFFFFF, 3, 1, 1, L"[cam]", huge.c_str(), "MSG [cam] " + std::string(4085, 'y')},
  };
  DebugCapture capture;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChangeOwnThread([&](qvtrace::ThreadInfo* thread) {
      thread->contextFlags = c.contextFlags;
      thread->verboseLevel = c.verboseLevel;
      thread->outputFlags = c.outputFlags;
      thread->headerMode = c.headerMode;
      qvtrace::CopyToUtf16(thread->prefix, qvtrace::kPrefixChars, c.prefix);
    });
    if (c.outputFlags == 2) testing::internal::CaptureStdout();
    TraceMessage(c.level, c.mask, c.message, L"v", 7);
    if (c.outputFlags == 2) {
      EXPECT_EQ(testing::internal::GetCapturedStdout(), "MSG  x\n");
    }
    EXPECT_EQ(capture.Lines(30),
              c.expected.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.expected});
  }
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

}

TEST_F(TraceOutputTest, LogFileIsWrittenByTheWriterThreadAndFlushedAtUnregistration) {
  const std::string path = trace_test::TempPath("writer.log");
  LogTo(path);
  TraceMessage(1, 1, L"first \u00e9");
  TraceMessage(2, 1, L"second");
  // No flush from this thread: only the writer thread can bring them to the file.
  EXPECT_TRUE(trace_test::WaitForFileText(path, "MSG  first \xC3\xA9\nERR  second\n"));

  // A line still queued when the thread unregisters is written by the unregistration itself: holding the lock
  // keeps the writer out, and a second registration keeps the process registered.
  ASSERT_EQ(TraceInitEx(), 1);
  TraceLock();
  TraceMessage(1, 1, L"queued");
  TraceTerminateThread(TraceCurrentThreadId(), 0, 1);
  EXPECT_TRUE(trace_test::ReadFile(path).find("second\nMSG  queued\n") != std::string::npos);
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
