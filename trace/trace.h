// QVTRACE, the trace facility: per-thread filtered trace lines whose settings live in one shared-memory block
// that every process using the facility maps, guarded by one system-wide recursive mutex.
// Every function may be called from any thread; each takes and releases that mutex itself. None of the
// operations below stalls behind another process that holds the mutex (stopped in a debugger, suspended, hung): a
// line waits for it at most 100 ms, a registration, unregistration or settings change at most 1 s; once such a
// wait has run out, until the mutex is had again, a line does not wait at all and the others at most 100 ms.
#pragma once

#include <cstdint>

namespace qvtrace {
struct ThreadInfo;  // the shared record of one registered thread (trace/process_cache.h)
}

// Registers the calling thread. 1: registered (again), 0: no record could be had (table full, no shared memory).
// The first registration in a process also starts the process's log writer thread.
// When the mutex cannot be had in time, the registration is kept by the process and made, with its notices, at
// the thread's next operation that has the mutex; the result is then 1, the thread's lines are dropped until
// then, and a TraceTerminateThread of the calling thread meanwhile only takes it back.
int32_t TraceInitEx();

// Drops one registration of threadId in the calling process. clear 1 resets the thread's record when its count
// reaches 0; quiet non-zero suppresses the reference-count notice. The last registration of the process frees
// its record, and the shared memory when no other process is registered.
// When the mutex cannot be had in time, the unregistration is kept by the process and done by the next operation
// of any of its threads that has the mutex, or at the latest when the process ends (with the same bound).
void TraceTerminateThread(uint32_t threadId, int32_t clear, int32_t quiet);

// One trace line for the calling thread, dropped unless the thread is registered and its settings let it pass.
// The format follows C99 wide printf: wide string arguments are written with "%ls" (const wchar_t*), narrow
// ones with "%s" (plain ASCII only). Texts are cut at 4096 characters.
// Whether the line is wanted is judged, while another holds the mutex, from the thread's settings as it last saw
// them; an unwanted line then returns at once. A wanted line that cannot have the mutex in time is dropped and
// counted; the thread's next operation that has the mutex writes one line with the count, at the most important
// level among the dropped lines.
void TraceMessage(int32_t level, uint32_t contextMask, const wchar_t* format, ...);

// One line as TraceMessage writes it, for a thread that must not stall behind another process's hold of the
// mutex (the renderer's streaming thread). The thread is registered for this line only, unless it is
// registered already. All of it runs under one hold of the mutex, waited for at most waitMs in all; when the
// wait runs out the line is dropped and nothing is changed.
void TraceOneShotMessage(uint32_t waitMs, int32_t level, uint32_t contextMask, const wchar_t* format, ...);

// Names a thread for the debugger as "NX: " followed by a space and name. A null name does nothing.
void TraceSetThreadName(uint32_t threadId, const char* name);

// Set verboseLevel / contextFlags of every registered thread of the calling process. A change that cannot have the
// mutex in time is lost (the notice is still written).
void TraceSetVerboseLevel(int32_t level);
void TraceSetContext(uint32_t flags);

// The identifiers the facility files records under; pass these to TraceTerminateThread and TraceSetThreadName.
uint32_t TraceCurrentProcessId();
uint32_t TraceCurrentThreadId();

// The system-wide mutex, recursive for the owning thread. Callers that look at records themselves
// (QVTRACE_GetThreadInfoPtr) hold it around the look-up only, and pair every TraceLock with one TraceUnlock.
// TraceLock waits without limit: for tools and tests, never for a thread that must not stall.
void TraceLock();
void TraceUnlock();
// As TraceLock, waiting at most milliseconds in all. False: the wait ran out, nothing is held, and no
// TraceUnlock follows.
bool TraceLockWithin(uint32_t milliseconds);

// The record of threadId in processId's record, or null. warn non-zero: a process record that exists but is not
// registered yields null and a "called before TraceInitInternal" notice. create non-zero: takes free records.
// The pointer is valid only while the caller holds TraceLock.
qvtrace::ThreadInfo* QVTRACE_GetThreadInfoPtr(uint32_t processId, uint32_t threadId, int32_t warn, int32_t create);
