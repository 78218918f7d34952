// The trace facility's unconditional debugger notices (registration, reference counts, errors), written whatever
// the filters say, and the time and call headers that they and the trace lines share. Nothing here touches the
// shared block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvtrace {
namespace detail {

constexpr size_t kCallHeaderChars = 128;

// "hh:mm:ss.mmm" in format's shape, local time now.
void TimeText(wchar_t* buf, size_t cap, const wchar_t* format);
// "hh:mm:ss.mmm                     PPPP-TTTT: " into buf of cap characters.
void TimeHeader(wchar_t* buf, size_t cap, const wchar_t* time, uint32_t processId, uint32_t threadId);
// "                          PPPP-TTTT:      Name()" into buf of kCallHeaderChars.
void CallHeader(wchar_t* buf, uint32_t processId, uint32_t threadId, const wchar_t* name);
// The notice for a process record that exists but is not registered.
void NotRegisteredNotice();

}  // namespace detail
}  // namespace qvtrace

// An unconditional debugger notice: the time, "NX:    " and the formatted message.
void TraceRawOutput(const wchar_t* format, ...);
