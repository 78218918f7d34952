// The trace facility's unconditional debugger notices and the headers they share with the trace lines. The texts
// here are what the control tool and log readers parse.
#include "trace/trace_notices.h"

#include <cstdarg>
#include <ctime>

#include "trace/trace_platform.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;

namespace {

constexpr size_t kRawChars = 512;
const wchar_t kRawTag[] = L"NX: ";

}  // namespace

namespace qvtrace {
namespace detail {

void TimeText(wchar_t* buf, size_t cap, const wchar_t* format) {
  std::tm now{};
  int ms = 0;
  platform::LocalNow(&now, &ms);
  FormatWide(buf, cap, format, now.tm_hour, now.tm_min, now.tm_sec, ms);
}

void TimeHeader(wchar_t* buf, size_t cap, const wchar_t* time, uint32_t processId, uint32_t threadId) {
  FormatWide(buf, cap, L"%ls                     %04X-%04X: ", time, processId, threadId);
}

void CallHeader(wchar_t* buf, uint32_t processId, uint32_t threadId, const wchar_t* name) {
  FormatWide(buf, kCallHeaderChars, L"                          %04X-%04X:      %ls()", processId, threadId, name);
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

void TraceRawOutput(const wchar_t* format, ...) {
  wchar_t time[16];
  qvtrace::detail::TimeText(time, 16, L"%02d:%02d:%02d.%03d ");
  platform::DebugOutput(time);

  wchar_t line[kRawChars];
  qvtrace::FormatWide(line, kRawChars, L"%-6ls ", kRawTag);
  wchar_t message[kRawChars];
  va_list args;
  va_start(args, format);
  qvtrace::FormatWideV(message, kRawChars, format, args);
  va_end(args);
  qvtrace::AppendWide(line, kRawChars, message);
  if (!qvtrace::EndsWithNewline(line, kRawChars)) qvtrace::AppendWide(line, kRawChars, L"\n");
  platform::DebugOutput(line);
}
