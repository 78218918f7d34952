// The trace facility's two-level lock (the process-local lock, then the system-wide mutex) and the shared block it
// guards: names, mapping, release, and the tool and test hooks that change them. TraceLock, TraceUnlock and
// TraceLockWithin themselves are declared in trace/trace.h.
#pragma once

#include <cstdint>

#include "trace/process_cache.h"
#include "trace/trace.h"

// The mapped shared memory (mapped on first use), or null when it cannot be had. Waits for the mutex without limit.
qvtrace::ProcessCache* QVTRACE_GM_GetProcessCachePtr();
// Unmaps the shared memory; lastUser removes its name too where names outlive their users.
void TraceFreeProcessCache(bool lastUser);

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

namespace qvtrace {
namespace detail {

// The longest a line (and the log writer) waits for the system-wide mutex, however long another process holds it.
constexpr uint32_t kLockWaitMs = 100;
// The same for registrations, unregistrations and settings changes: rare, and put off when they cannot wait, so
// that contention alone should not make them run out (once one did, they wait kLockWaitMs).
constexpr uint32_t kOperationWaitMs = 1000;

// As TraceLock, without waiting. False: nothing is held.
bool TraceLockNow();
// As TraceLock, waiting at most kOperationWaitMs; while the mutex is known to be stuck (such a wait for it ran out
// and it has not been had since), at most kLockWaitMs. False: nothing is held.
bool TraceLockBounded();
// As TraceLock, waiting at most kLockWaitMs; while the mutex is known to be stuck, not at all (for lines and the
// log writer, which come often).
bool TraceLockUnlessStuck();

// A scope holding the facility's lock, waiting without limit: for operations that run inside a hold already
// taken with a bound, and for the tool's and tests' operations.
class TraceLockScope {
 public:
  TraceLockScope() { TraceLock(); }
  ~TraceLockScope() { TraceUnlock(); }
  TraceLockScope(const TraceLockScope&) = delete;
  TraceLockScope& operator=(const TraceLockScope&) = delete;
};

// The mapped block; create false: only an existing block is mapped (without notices), as a block that does not
// exist holds no records and one made only to look would outlive the process where names persist.
ProcessCache* MapProcessCache(bool create);

}  // namespace detail
}  // namespace qvtrace
