// The record registry in the shared block: finding, taking, counting and freeing process and thread records, and
// the registration count. QVTRACE_GetThreadInfoPtr is declared in trace/trace.h. Every function takes the lock
// itself (without limit; callers that must not stall hold it already); pointers are valid while it is held.
#pragma once

#include <cstdint>

#include "trace/process_cache.h"
#include "trace/trace.h"

qvtrace::ProcInfo* QVTRACE_GetProcInfoPtr(uint32_t processId, int32_t warn, int32_t create);
int32_t TraceInitInternal(uint32_t processId, uint32_t threadId, int32_t* processWasRegistered);
// Threads with a record in processId's record, or -1 when the process has none.
int32_t TraceCountThreads(uint32_t processId);
// Frees the records of processes that no longer exist; returns how many.
int32_t TraceReclaimDeadProcesses();

namespace qvtrace {
namespace detail {

// A thread record with no settings but the defaults, owned by owner (0: free).
void MakeThreadFresh(ThreadInfo* thread, uint32_t owner);
// Frees a process record: no owner, no registrations, all thread records fresh, nothing pending.
void FreeProcInfo(ProcInfo* proc);
ThreadInfo* FindThread(ProcInfo* proc, uint32_t threadId);
// After the last unregistration of the calling process: frees its record, with the notices (each after header),
// and the shared memory when no process is registered any more. The mutex handle is closed when the hold ends.
void ReleaseProcessRecord(ProcInfo* proc, const wchar_t* header);

}  // namespace detail
}  // namespace qvtrace
