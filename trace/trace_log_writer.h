// The log file output: lines queued in the process record's pendingLog, and the process's writer thread that takes
// them to the file outside the lock: its start at the first registration, its stop at the last one, the flush.
// Functions that touch records expect the caller to hold the lock.
#pragma once

#include <cstdint>

#include "trace/process_cache.h"

// Writes the pending text of the calling process to the calling thread's log file now.
void TraceFlushLog();
// Appends text to path when outputFlags has the log-file bit and both are present.
void TraceAppendToFile(uint32_t outputFlags, const wchar_t* path, const wchar_t* text);

namespace qvtrace {
namespace detail {

// Queues a line of thread (a record of processId) for its process's log writer.
void TraceQueueLogText(uint32_t processId, ThreadInfo* thread, const wchar_t* line);

// At the first registration of the process: a new writer for a new registration period, its handle in proc.
void StartLogWriter(ProcInfo* proc);
// At the last registration of the process (proc's refCount 1) with its writer running: asks the writer to end
// and waits up to 1000 ms for it, letting the lock go meanwhile, so records must be looked up again. False: the
// lock could not be had back in time and nothing is held.
bool StopLogWriter(ProcInfo* proc);
// When the last registration is gone: the handle is closed and a writer still running ends by itself.
void ForgetLogWriter();

}  // namespace detail
}  // namespace qvtrace
