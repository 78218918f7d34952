// The trace facility's process-local state, in one object, and the per-thread state beside it. Which lock guards
// which member is said here, once; the shared records themselves are guarded by the system-wide mutex.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "trace/process_cache.h"
#include "trace/trace_platform.h"

namespace qvtrace {
namespace detail {

struct ProcessState {
  // The process's half of the two-level lock. A thread holds it exactly as long as it holds the system-wide mutex
  // (TraceLock .. TraceUnlock, both recursive), so that no other thread of the process ever waits on a mutex
  // handle that is being closed or reads a view that is being unmapped. It guards every member up to
  // writerWakeLock. Lock order: localLock, then writerWakeLock or deferredLock; never the other way round.
  std::recursive_mutex localLock;

  // The object names (built on first use or by the test hook) and the control tool's mode, in which the block is
  // only ever opened, never created.
  bool namesBuilt = false;
  wchar_t cacheName[64] = {};
  wchar_t mutexName[256] = {};
  bool existingOnly = false;

  // The system-wide mutex and the mapped block. The mutex is closed only when the outermost hold ends
  // (closeMutexAtUnlock, set by the last unregistration); the next use opens it again.
  platform::SystemMutex* mutex = nullptr;
  bool closeMutexAtUnlock = false;
  platform::SharedMemory* memory = nullptr;
  ProcessCache* view = nullptr;

  // The process that took a record through this state: a record under our own identifier that we did not take
  // was left by an earlier process with the same identifier.
  uint32_t ownRecordPid = 0;

  // Where the last process look-up found its record. Every record searched costs a page or more of the block, so
  // a hint that is checked before use saves most of a line's cost when its output is off.
  size_t processHint = 0;

  // The own record's pendingLog length after the last append, valid only while the text still ends there.
  const ProcInfo* pendingRecord = nullptr;
  size_t pendingLength = 0;

  // The log writer of the current registration period; older writers see a changed epoch and end.
  platform::WriterThread* writer = nullptr;
  uint64_t writerEpoch = 0;

  // Guarded by writerWakeLock: wakes this process's log writer, which sleeps until a line is queued, it is asked
  // to end or its period or mapping changes. Only this process queues its lines and ends its writer, so a local
  // signal is enough.
  std::mutex writerWakeLock;
  std::condition_variable writerWake;
  uint64_t writerWakes = 0;

  // Tells the log writer to look again; called after each change it must see.
  void WakeWriter() {
    {
      std::lock_guard<std::mutex> hold(writerWakeLock);
      ++writerWakes;
    }
    writerWake.notify_all();
  }

  // Set when a wait with a bound for the system-wide mutex ran out (its holder is stopped or hung); cleared
  // when the mutex is had again. Meanwhile lines and the log writer only try it, so a stuck holder costs one
  // wait, not one per line. Registrations and the like shorten their wait only after a wait of their own,
  // longer one ran out (lockStuckLong): contention alone can make a short wait run out.
  std::atomic<bool> lockStuck{false};
  std::atomic<bool> lockStuckLong{false};

  // Guarded by deferredLock, which is never held while waiting for anything else: unregistrations that could
  // not have the system-wide mutex in time, done by the next operation that has it. Beyond the capacity one is
  // lost; its record then stays until the process ends, when another process reclaims it.
  struct DeferredUnregistration {
    uint32_t threadId;
    int32_t clear;
    int32_t quiet;
  };
  static constexpr size_t kDeferredCapacity = 128;
  std::mutex deferredLock;
  DeferredUnregistration deferred[kDeferredCapacity] = {};
  std::atomic<size_t> deferredCount{0};  // also read without the lock, to skip it when there is nothing
};

// A thread record's settings that decide whether a line passes.
struct LineFilter {
  int32_t verboseLevel = 0;
  uint32_t contextFlags = 0;
  uint32_t outputFlags = 0;
  uint32_t headerMode = 0;

  bool Passes(int32_t level, uint32_t contextMask) const {
    return level != 0 && level <= verboseLevel && (contextFlags & contextMask) != 0 && outputFlags != 0 &&
           headerMode != 0;
  }
};

// Per thread, so without a lock.
struct ThreadState {
  int lockDepth = 0;          // TraceLock holds not yet undone by TraceUnlock
  bool systemLocked = false;  // the outermost hold has the system-wide mutex (it may have been unusable)
  // Where this thread's last look-up of a thread record found it (checked before use, as processHint).
  const ProcInfo* threadHintRecord = nullptr;
  size_t threadHint = 0;

  // The thread's record as the thread last saw it with the mutex held (registered: it had a record), so that a
  // line can be judged without the mutex while another process holds it.
  bool seenRegistered = false;
  LineFilter seenFilter;

  // Registrations of this thread that could not have the mutex in time, made at its next operation that has it.
  int deferredRegistrations = 0;
  // Lines of this thread that were wanted but could not have the mutex in time, and the most important level
  // among them; reported in one line at the thread's next operation that has it.
  uint32_t droppedLines = 0;
  int32_t droppedLevel = 0;
  bool catchingUp = false;  // inside the work left over from those times
};

// Never destroyed: a log writer may still wait on its wake-up when the process ends (the last unregistration put
// off behind another process's hold of the mutex), and destroying a condition variable that a thread waits on
// blocks the end of the process.
inline ProcessState& g_state = *new ProcessState;
inline thread_local ThreadState t_state;

}  // namespace detail
}  // namespace qvtrace
