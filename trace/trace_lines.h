// Trace lines: the filter, and the headed line sent to the outputs of its thread's record (debugger, console, log
// file). Functions that touch records take the lock themselves (without limit; callers that must not stall hold
// it already).
#pragma once

#include <cstddef>
#include <cstdint>

#include "trace/process_cache.h"
#include "trace/trace_state.h"

bool TraceShouldOutput(const qvtrace::ThreadInfo* thread, int32_t level, uint32_t contextMask);
void TraceOutputLine(uint32_t processId, uint32_t threadId, int32_t level, uint32_t contextMask, const wchar_t* text);

namespace qvtrace {
namespace detail {

constexpr size_t kLineChars = 4096;

// The settings of thread that decide whether its lines pass.
LineFilter FilterOf(const ThreadInfo& thread);
// The message after thread's prefix (and a space), as one line of thread, a record of processId.
void OutputMessage(uint32_t processId, uint32_t threadId, const ThreadInfo* thread, int32_t level,
                   uint32_t contextMask, const wchar_t* message);

}  // namespace detail
}  // namespace qvtrace
