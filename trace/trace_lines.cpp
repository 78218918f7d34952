// Trace line output: the filter, the header, and the headed trace line to the outputs of its thread's record. The
// texts here are what the control tool and log readers parse.
#include "trace/trace_lines.h"

#include "trace/trace_log_writer.h"
#include "trace/trace_notices.h"
#include "trace/trace_platform.h"
#include "trace/trace_records.h"
#include "trace/trace_shared_block.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;
using qvtrace::ThreadInfo;
using qvtrace::detail::kLineChars;
using qvtrace::detail::TimeHeader;
using qvtrace::detail::TimeText;
using qvtrace::detail::TraceLockScope;

namespace {

const wchar_t* LevelTag(int32_t level) {
  switch (level) {
    case 1:
      return L"MSG ";
    case 2:
      return L"ERR ";
    case 3:
      return L"WRN ";
    case 4:
      return L"USR ";
    default:
      return L"    ";
  }
}

}  // namespace

namespace qvtrace {
namespace detail {

LineFilter FilterOf(const ThreadInfo& thread) {
  LineFilter filter;
  filter.verboseLevel = thread.verboseLevel;
  filter.contextFlags = thread.contextFlags;
  filter.outputFlags = thread.outputFlags;
  filter.headerMode = thread.headerMode;
  return filter;
}

void OutputMessage(uint32_t processId, uint32_t threadId, const ThreadInfo* thread, int32_t level,
                   uint32_t contextMask, const wchar_t* message) {
  wchar_t prefix[kPrefixChars];
  Utf16ToWide(thread->prefix, kPrefixChars, prefix, kPrefixChars);
  wchar_t text[kLineChars];
  FormatWide(text, kLineChars, L"%ls %ls", prefix, message);
  TraceOutputLine(processId, threadId, level, contextMask, text);
}

}  // namespace detail
}  // namespace qvtrace

bool TraceShouldOutput(const ThreadInfo* thread, int32_t level, uint32_t contextMask) {
  return qvtrace::detail::FilterOf(*thread).Passes(level, contextMask);
}

void TraceOutputLine(uint32_t processId, uint32_t threadId, int32_t level, uint32_t contextMask, const wchar_t* text) {
  TraceLockScope lock;
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 1, 0);
  if (thread == nullptr || !TraceShouldOutput(thread, level, contextMask)) return;

  wchar_t line[kLineChars];
  line[0] = 0;
  if (thread->headerMode != 1) {
    wchar_t time[16];
    TimeText(time, 16, L"%02d:%02d:%02d.%03d");
    int32_t kilobytes = 0;
    int32_t delta = 0;
    uint64_t bytes = 0;
    if (platform::ReadWorkingSetBytes(processId, &bytes)) {
      const uint64_t current = bytes >> 10;
      // Unsigned arithmetic: the stored value may be anything another process wrote.
      delta = static_cast<int32_t>(static_cast<uint32_t>(current - thread->lastWorkingSetKB));
      kilobytes = static_cast<int32_t>(static_cast<uint32_t>(current));
      thread->lastWorkingSetKB = current;
    }
    if (thread->headerMode == 2) {
      qvtrace::FormatWide(line, kLineChars, L"%ls 0x???: ", time);
    } else if (delta != 0) {
      qvtrace::FormatWide(line, kLineChars, L"%ls %7dK(%+9d) %04X-%04X: ", time, kilobytes, delta, processId, threadId);
    } else {
      TimeHeader(line, kLineChars, time, processId, threadId);
    }
  }
  qvtrace::AppendWide(line, kLineChars, LevelTag(level));
  qvtrace::AppendWide(line, kLineChars, text);
  if (!qvtrace::EndsWithNewline(line, kLineChars)) qvtrace::AppendWide(line, kLineChars, L"\n");

  const uint32_t flags = thread->outputFlags;
  if ((flags & qvtrace::kOutputDebugger) != 0) platform::DebugOutput(line);
  if ((flags & qvtrace::kOutputConsole) != 0) platform::ConsoleOutput(line);
  if ((flags & qvtrace::kOutputLogFile) != 0) qvtrace::detail::TraceQueueLogText(processId, thread, line);
}
