// The trace facility's inner operations, for the control tool and the tests. Product code uses trace/trace.h.
// Everything here takes the system-wide mutex itself; pointers into the shared memory are valid only while the
// caller holds TraceLock.
#pragma once

#include <cstdint>

#include "trace/process_cache.h"
#include "trace/trace.h"

// The mapped shared memory (mapped on first use), or null when it cannot be had.
qvtrace::ProcessCache* QVTRACE_GM_GetProcessCachePtr();
qvtrace::ProcInfo* QVTRACE_GetProcInfoPtr(uint32_t processId, int32_t warn, int32_t create);
int32_t TraceInitInternal(uint32_t processId, uint32_t threadId, int32_t* processWasRegistered);
// Threads with a record in processId's record, or -1 when the process has none.
int32_t TraceCountThreads(uint32_t processId);
bool TraceShouldOutput(const qvtrace::ThreadInfo* thread, int32_t level, uint32_t contextMask);
void TraceOutputLine(uint32_t processId, uint32_t threadId, int32_t level, uint32_t contextMask, const wchar_t* text);
void TraceFlushLog();
void TraceAppendToFile(uint32_t outputFlags, const wchar_t* path, const wchar_t* text);
// Unmaps the shared memory; lastUser removes its name too where names outlive their users.
void TraceFreeProcessCache(bool lastUser);
// An unconditional debugger notice: the time, "NX:    " and the formatted message.
void TraceRawOutput(const wchar_t* format, ...);

// Frees the records of processes that no longer exist; returns how many. Mutex taken inside.
int32_t TraceReclaimDeadProcesses();

// For the control tool: never create the shared memory, only open an existing one.
void TraceUseExistingCacheOnly();

// For tests only: object names built from baseName instead of the product's, so test runs never meet a running
// plug-in or each other. Call before the first use in the process.
void TraceSetObjectNamesForTesting(const wchar_t* baseName);
// For tests only: closes this process's handles and removes both named objects where names outlive their users
// (POSIX), so a test run leaves nothing behind. Call when no thread of the process uses the facility any more.
void TraceRemoveObjectsForTesting();
// The names in use (shared memory, mutex).
const wchar_t* TraceCacheName();
const wchar_t* TraceMutexName();
