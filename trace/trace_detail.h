// What the trace facility's source files share among themselves, grouped by the file that provides it; nothing
// here is for use outside trace/. Functions that touch records expect the caller to hold TraceLock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trace/process_cache.h"
#include "trace/trace.h"
#include "trace/trace_state.h"

namespace qvtrace {
namespace detail {

constexpr size_t kLineChars = 4096;
constexpr size_t kCallHeaderChars = 128;
// The longest an operation of the facility waits for the system-wide mutex, however long another process holds it.
constexpr uint32_t kLockWaitMs = 100;

// ---- trace_shared_block.cpp: the two-level lock and the mapped block ----

// A scope holding the facility's lock.
class TraceLockScope {
 public:
  TraceLockScope() { TraceLock(); }
  ~TraceLockScope() { TraceUnlock(); }
  TraceLockScope(const TraceLockScope&) = delete;
  TraceLockScope& operator=(const TraceLockScope&) = delete;
};

// As TraceLock, without waiting. False: nothing is held.
bool TraceLockNow();
// As TraceLock, waiting at most kLockWaitMs. False: nothing is held.
bool TraceLockBounded();
// As TraceLockBounded, but without waiting while the mutex is known to be stuck (for lines and the log writer,
// which come often).
bool TraceLockUnlessStuck();

// The mapped block; create false: only an existing block is mapped (without notices), as a block that does not
// exist holds no records and one made only to look would outlive the process where names persist.
ProcessCache* MapProcessCache(bool create);

// ---- trace_records.cpp: the record registry ----

// A thread record with no settings but the defaults, owned by owner (0: free).
void MakeThreadFresh(ThreadInfo* thread, uint32_t owner);
// Frees a process record: no owner, no registrations, all thread records fresh, nothing pending.
void FreeProcInfo(ProcInfo* proc);
ThreadInfo* FindThread(ProcInfo* proc, uint32_t threadId);

// ---- trace_lines.cpp: headers and line output ----

// "hh:mm:ss.mmm" in format's shape, local time now.
void TimeText(wchar_t* buf, size_t cap, const wchar_t* format);
// "                          PPPP-TTTT:      Name()" into buf of kCallHeaderChars.
void CallHeader(wchar_t* buf, uint32_t processId, uint32_t threadId, const wchar_t* name);
// The settings of thread that decide whether its lines pass.
LineFilter FilterOf(const ThreadInfo& thread);
// The raw notice for a record that exists but is not registered.
void NotRegisteredNotice();

// ---- trace_log_writer.cpp: the log writer ----

void WakeWriter();
// Queues a line of thread (a record of processId) for its process's log writer.
void TraceQueueLogText(uint32_t processId, ThreadInfo* thread, const wchar_t* line);
// The writer thread's body for the registration period epoch.
int32_t TraceLogWriterThread(uint64_t epoch);

}  // namespace detail
}  // namespace qvtrace
