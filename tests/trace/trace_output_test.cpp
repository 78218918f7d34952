// Trace lines: filtering by level and context, level tags, prefix, the header modes, the single line end, the
// log file written by the writer thread, and the bounded text helpers behind them.
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/trace/trace_test_support.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

namespace {

using trace_test::DebugCapture;
using trace_test::Hex4;

// Registers the calling thread and lets a test set its record as another process would.
class TraceOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(TraceInitEx(), 1); }
  void TearDown() override {
    TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
    EXPECT_FALSE(trace_test::SharedObjectExists());
  }

  // Until the writer thread has taken the queued text.
  void WaitUntilNothingPending() {
    for (int i = 0; i < 2000; ++i) {
      TraceLock();
      qvtrace::ProcInfo* proc = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 1, 0);
      const bool empty = proc == nullptr || proc->pendingLog[0] == 0;
      TraceUnlock();
      if (empty) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ADD_FAILURE() << "the writer thread never took the queued text";
  }

  template <typename Change>
  void Configure(Change change) {
    TraceLock();
    qvtrace::ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), TraceCurrentThreadId(), 1, 0);
    ASSERT_NE(thread, nullptr);
    change(thread);
    TraceUnlock();
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
    Configure([&](qvtrace::ThreadInfo* thread) {
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
    std::vector<std::string> lines = capture.Lines(30);
    if (c.expected == nullptr) {
      EXPECT_TRUE(lines.empty()) << lines.front();
    } else {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0], c.expected);
    }
  }
}

TEST_F(TraceOutputTest, PrefixComesBeforeTheMessageAndLongTextIsCut) {
  DebugCapture capture;
  Configure([](qvtrace::ThreadInfo* thread) {
    thread->outputFlags = 1;
    thread->headerMode = 1;
    qvtrace::CopyToUtf16(thread->prefix, qvtrace::kPrefixChars, L"[cam]");
  });
  TraceMessage(1, 1, L"%d", 42);
  std::vector<std::string> lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "MSG [cam] 42\n");

  // A message far beyond 4096 characters: the line is cut at its buffer, and nothing overflows.
  std::wstring huge(10000, L'y');
  TraceMessage(1, 1, L"%ls", huge.c_str());
  lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 4095u);
  EXPECT_EQ(lines[0].substr(0, 11), "MSG [cam] y");
}

TEST_F(TraceOutputTest, HeaderModesShapeTheLineStart) {
  DebugCapture capture;
  const std::string ids = Hex4(TraceCurrentProcessId()) + "-" + Hex4(TraceCurrentThreadId());
  Configure([](qvtrace::ThreadInfo* thread) {
    thread->outputFlags = 1;
    thread->headerMode = 2;
  });
  TraceMessage(1, 1, L"two");
  std::vector<std::string> lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d 0x\?\?\?: MSG  two\n)"))) << lines[0];

  // Full header: the first line shows the whole working set as its change (the stored value starts at 0).
  Configure([](qvtrace::ThreadInfo* thread) {
    thread->headerMode = 3;
    thread->lastWorkingSetKB = 0;
  });
  TraceMessage(1, 1, L"three");
  lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(lines[0], parts,
                               std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d ( {0,6}\d+)K\(( *\+\d+)\) ([0-9A-F-]+): MSG  three\n)")))
      << lines[0];
  EXPECT_EQ(parts[1].length(), 7);
  EXPECT_EQ(parts[2].length(), 9);
  EXPECT_EQ(std::stoll(parts[1].str()), std::stoll(parts[2].str()));
  EXPECT_EQ(parts[3].str(), ids);
  uint64_t stored = 0;
  Configure([&](qvtrace::ThreadInfo* thread) { stored = thread->lastWorkingSetKB; });
  EXPECT_EQ(stored, static_cast<uint64_t>(std::stoll(parts[1].str())));
}

TEST_F(TraceOutputTest, UnreadableMemoryGivesTheTimeHeader) {
  // A record of a process that has ended: its memory cannot be read, so the change is 0 and the plain time
  // header is used.
  trace_test::Child ended({"/bin/true"}, false);
  ASSERT_EQ(ended.Wait(), 0);
  const uint32_t deadId = static_cast<uint32_t>(ended.pid());
  TraceLock();
  qvtrace::ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(deadId, 77, 0, 1);
  ASSERT_NE(thread, nullptr);
  QVTRACE_GetProcInfoPtr(deadId, 0, 0)->refCount = 1;
  thread->outputFlags = 1;
  thread->contextFlags = 1;
  thread->lastWorkingSetKB = 5;
  TraceUnlock();
  DebugCapture capture;
  TraceOutputLine(deadId, 77, 1, 1, L" text");
  std::vector<std::string> lines = capture.Lines(30);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d {21})" + Hex4(deadId) +
                                                    "-004D: MSG  text\n")))
      << lines[0];
  EXPECT_EQ(TraceReclaimDeadProcesses(), 1);
}

TEST_F(TraceOutputTest, LogFileIsWrittenByTheWriterThreadAsUtf8) {
  const std::string path = trace_test::TempPath("writer.log");
  Configure([&](qvtrace::ThreadInfo* thread) {
    thread->outputFlags = 4;
    thread->headerMode = 1;
    qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, qvtrace::Utf8ToWide(path).c_str());
  });
  TraceMessage(1, 1, L"first \u00e9");
  TraceMessage(2, 1, L"second");
  // No flush from this thread: only the writer thread can bring them to the file.
  EXPECT_TRUE(trace_test::WaitForFileText(path, "MSG  first \xC3\xA9\nERR  second\n"));

  // A log file that cannot be opened loses its text quietly; the writer goes on.
  Configure([](qvtrace::ThreadInfo* thread) {
    qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, L"/nonexistent-folder/x.log");
  });
  TraceMessage(1, 1, L"lost");
  WaitUntilNothingPending();
  Configure([&](qvtrace::ThreadInfo* thread) {
    qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, qvtrace::Utf8ToWide(path).c_str());
  });
  TraceMessage(1, 1, L"third");
  EXPECT_TRUE(trace_test::WaitForFileText(path, "third\n"));
  EXPECT_EQ(trace_test::ReadFile(path).find("lost"), std::string::npos);
}

TEST_F(TraceOutputTest, PendingTextIsFlushedWhenTheThreadUnregisters) {
  const std::string path = trace_test::TempPath("flush.log");
  // A second registration keeps the process registered; its line is queued and left for the flush.
  ASSERT_EQ(TraceInitEx(), 1);
  Configure([&](qvtrace::ThreadInfo* thread) {
    thread->outputFlags = 4;
    thread->headerMode = 1;
    qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, qvtrace::Utf8ToWide(path).c_str());
  });
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
    for (size_t i = 0; i < c.before.size(); ++i) field[i] = c.before[i];
    if (c.before.size() < 4) field[c.before.size()] = 0;
    qvtrace::AppendUtf16(field, 4, c.text.c_str());
    EXPECT_EQ(std::u16string(field), c.after);
    EXPECT_EQ(field[4], u'!');
  }
}

TEST(TraceTextTest, ReadingAFieldStopsAtItsEndAndReplacesBrokenPairs) {
  const char16_t unterminated[3] = {u'a', u'b', u'c'};
  wchar_t out[8];
  qvtrace::Utf16ToWide(unterminated, 3, out, 8);
  EXPECT_EQ(std::wstring(out), L"abc");
  const char16_t broken[] = {0xD83D, u'x', 0xDE00, 0};
  qvtrace::Utf16ToWide(broken, 4, out, 8);
  EXPECT_EQ(std::wstring(out), L"\uFFFDx\uFFFD");
  qvtrace::Utf16ToWide(unterminated, 3, out, 2);
  EXPECT_EQ(std::wstring(out), L"a");
}

TEST(TraceTextTest, FormattingIsCutAndTerminated) {
  wchar_t out[6];
  qvtrace::FormatWide(out, 6, L"%ls-%d", L"abcdefgh", 12);
  EXPECT_EQ(std::wstring(out), L"abcde");
  EXPECT_EQ(qvtrace::WideToUtf8(L"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(qvtrace::Utf8ToWide("\xC3\xA9\xF0\x9F\x98\x80\xFF"), L"\u00e9\U0001F600\uFFFD");
}

}  // namespace
