// Trace line output: the headers, the filter, the headed trace line to the outputs of its thread's record, and
// the unconditional raw notices. The texts here are what the control tool and log readers parse.
#include <cstdarg>
#include <ctime>

#include "trace/trace_detail.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"
#include "trace/trace_state.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;
using qvtrace::ThreadInfo;
using qvtrace::detail::kCallHeaderChars;
using qvtrace::detail::kLineChars;
using qvtrace::detail::TimeText;
using qvtrace::detail::TraceLockScope;

namespace {

constexpr size_t kRawChars = 512;
const wchar_t kRawTag[] = L"NX: ";

// "hh:mm:ss.mmm                     PPPP-TTTT: "
void TimeHeader(wchar_t* buf, size_t cap, const wchar_t* time, uint32_t processId, uint32_t threadId) {
  qvtrace::FormatWide(buf, cap, L"%ls                     %04X-%04X: ", time, processId, threadId);
}

bool EndsWithNewline(const wchar_t* text, size_t cap) {
  size_t length = qvtrace::BoundedLength(text, cap);
  return length > 0 && text[length - 1] == L'\n';
}

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

void TimeText(wchar_t* buf, size_t cap, const wchar_t* format) {
  std::tm now{};
  int ms = 0;
  platform::LocalNow(&now, &ms);
  FormatWide(buf, cap, format, now.tm_hour, now.tm_min, now.tm_sec, ms);
}

void CallHeader(wchar_t* buf, uint32_t processId, uint32_t threadId, const wchar_t* name) {
  FormatWide(buf, kCallHeaderChars, L"                          %04X-%04X:      %ls()", processId, threadId, name);
}

LineFilter FilterOf(const ThreadInfo& thread) {
  LineFilter filter;
  filter.verboseLevel = thread.verboseLevel;
  filter.contextFlags = thread.contextFlags;
  filter.outputFlags = thread.outputFlags;
  filter.headerMode = thread.headerMode;
  return filter;
}

void NotRegisteredNotice() {
  wchar_t time[16];
  TimeText(time, 16, L"%02d:%02d:%02d.%03d");
  wchar_t header[kCallHeaderChars];
  TimeHeader(header, kCallHeaderChars, time, platform::CurrentProcessId(), platform::CurrentThreadId());
  TraceRawOutput(L"%ls %ls() - ERROR function called before TraceInitInternal()", header, L"QVTRACE_GetProcInfoPtr");
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
  if (!EndsWithNewline(line, kLineChars)) qvtrace::AppendWide(line, kLineChars, L"\n");

  const uint32_t flags = thread->outputFlags;
  if ((flags & qvtrace::kOutputDebugger) != 0) platform::DebugOutput(line);
  if ((flags & qvtrace::kOutputConsole) != 0) platform::ConsoleOutput(line);
  if ((flags & qvtrace::kOutputLogFile) != 0) qvtrace::detail::TraceQueueLogText(processId, thread, line);
}

void TraceRawOutput(const wchar_t* format, ...) {
  wchar_t time[16];
  TimeText(time, 16, L"%02d:%02d:%02d.%03d ");
  platform::DebugOutput(time);

  wchar_t line[kRawChars];
  qvtrace::FormatWide(line, kRawChars, L"%-6ls ", kRawTag);
  wchar_t message[kRawChars];
  va_list args;
  va_start(args, format);
  qvtrace::FormatWideV(message, kRawChars, format, args);
  va_end(args);
  qvtrace::AppendWide(line, kRawChars, message);
  if (!EndsWithNewline(line, kRawChars)) qvtrace::AppendWide(line, kRawChars, L"\n");
  platform::DebugOutput(line);
}
