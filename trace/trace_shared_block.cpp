// The trace facility's two-level lock (the process-local lock, then the system-wide mutex) and the shared block
// it guards: names, mapping, release, and the tool and test hooks that change them.
#include "trace/trace_shared_block.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "trace/trace_platform.h"
#include "trace/trace_state.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;
using qvtrace::ProcessCache;
using qvtrace::detail::g_state;
using qvtrace::detail::t_state;
using qvtrace::detail::TraceLockScope;

namespace {

void BuildNames(const wchar_t* baseName) {
  if (baseName != nullptr) {
    qvtrace::FormatWide(g_state.cacheName, sizeof(g_state.cacheName) / sizeof(wchar_t), L"%ls", baseName);
  } else {
    qvtrace::FormatWide(g_state.cacheName, sizeof(g_state.cacheName) / sizeof(wchar_t),
                        L"QVTRACE_PROCESS_CACHE_VERSION_X64_%02d", qvtrace::kVersion);
  }
  qvtrace::FormatWide(g_state.mutexName, sizeof(g_state.mutexName) / sizeof(wchar_t), L"%ls_Mutex", g_state.cacheName);
  platform::SetDebugChannel(g_state.cacheName);
  g_state.namesBuilt = true;
}

// Drops this process's mapping and mutex handle (the named objects stay); local lock held.
void CloseHandles() {
  if (g_state.memory != nullptr) platform::UnmapSharedMemory(g_state.memory, false, g_state.mutex);
  g_state.memory = nullptr;
  g_state.view = nullptr;
  g_state.WakeWriter();
  if (g_state.mutex != nullptr) platform::CloseSystemMutex(g_state.mutex);
  g_state.mutex = nullptr;
}

// Takes the local lock and the system-wide mutex, waiting at most waitMs in all (kWaitForever: without limit).
// False: the time ran out first and nothing is held. A mutex that cannot be had at all is no reason to wait: the
// lock is then held without it, and every operation finds no records.
bool AcquireLock(uint32_t waitMs) {
  using Clock = std::chrono::steady_clock;
  const bool bounded = waitMs != platform::kWaitForever;
  Clock::time_point deadline;
  if (bounded && waitMs > 0) deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  if (!bounded) {
    g_state.localLock.lock();
  } else {
    // Polled: another thread of the process may hold the local lock while it waits on the system-wide mutex.
    while (!g_state.localLock.try_lock()) {
      if (waitMs == 0 || Clock::now() >= deadline) return false;
      platform::SleepMilliseconds(1);
    }
  }
  if (t_state.lockDepth++ > 0) return true;
  if (!g_state.namesBuilt) BuildNames(nullptr);
  if (g_state.mutex == nullptr) g_state.mutex = platform::OpenSystemMutex(g_state.mutexName, g_state.existingOnly);
  platform::LockResult result = platform::LockResult::kFailed;
  if (g_state.mutex != nullptr) {
    uint32_t wait = waitMs;
    if (bounded && wait > 0) {
      using std::chrono::milliseconds;
      const milliseconds left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      wait = static_cast<uint32_t>(std::max<int64_t>(0, left.count()));
    }
    result = platform::LockSystemMutex(g_state.mutex, wait);
  }
  if (result == platform::LockResult::kTimedOut) {
    --t_state.lockDepth;
    g_state.localLock.unlock();
    if (waitMs > 0) {
      g_state.lockStuck.store(true);
      if (waitMs >= qvtrace::detail::kOperationWaitMs) g_state.lockStuckLong.store(true);
    }
    return false;
  }
  t_state.systemLocked = result == platform::LockResult::kLocked;
  if (t_state.systemLocked) {
    g_state.lockStuck.store(false);
    g_state.lockStuckLong.store(false);
  }
  return true;
}

}  // namespace

void TraceLock() { AcquireLock(platform::kWaitForever); }

bool TraceLockWithin(uint32_t milliseconds) {
  // Any bound, however long, is kept a bound.
  return AcquireLock(milliseconds == platform::kWaitForever ? milliseconds - 1 : milliseconds);
}

namespace qvtrace {
namespace detail {

bool TraceLockNow() { return AcquireLock(0); }

bool TraceLockBounded() { return AcquireLock(g_state.lockStuckLong.load() ? kLockWaitMs : kOperationWaitMs); }

bool TraceLockUnlessStuck() { return AcquireLock(g_state.lockStuck.load() ? 0 : kLockWaitMs); }

}  // namespace detail
}  // namespace qvtrace

void TraceUnlock() {
  if (t_state.lockDepth <= 0) return;  // an unlock without its lock: nothing is held
  if (--t_state.lockDepth == 0) {
    if (t_state.systemLocked) platform::UnlockSystemMutex(g_state.mutex);
    t_state.systemLocked = false;
    // Closed only when nothing is held any more; the next use opens it again.
    if (g_state.closeMutexAtUnlock && g_state.mutex != nullptr) {
      platform::CloseSystemMutex(g_state.mutex);
      g_state.mutex = nullptr;
    }
    g_state.closeMutexAtUnlock = false;
  }
  g_state.localLock.unlock();
}

namespace qvtrace {
namespace detail {

ProcessCache* MapProcessCache(bool create) {
  create = create && !g_state.existingOnly;
  TraceLockScope lock;
  if (!t_state.systemLocked) return nullptr;
  if (g_state.view != nullptr && !platform::SharedMemoryCurrent(g_state.memory, g_state.mutex)) {
    // Another process released the block while this one kept an old mapping: use the current one.
    platform::UnmapSharedMemory(g_state.memory, false, g_state.mutex);
    g_state.memory = nullptr;
    g_state.view = nullptr;
    g_state.WakeWriter();
    g_state.ownRecordPid = 0;
  }
  if (g_state.view == nullptr) {
    void* view = nullptr;
    bool created = false;
    platform::MapResult result = platform::MapSharedMemory(g_state.cacheName, kProcessCacheBytes, !create,
                                                           g_state.mutex, &g_state.memory, &view, &created);
    if (result == platform::MapResult::kCreateFailed) {
      if (create) {
        platform::DebugOutput(L"QVTRACE_GM_GetProcessCachePtr(): ERROR: Could not create file mapping object.");
      }
      return nullptr;
    }
    if (result == platform::MapResult::kMapFailed) {
      platform::DebugOutput(L"QVTRACE_GM_GetProcessCachePtr(): ERROR: Could not map view of file.");
      return nullptr;
    }
    // A block that did not exist before comes zero-filled from the system; writing the zeros again would only
    // commit all of its pages.
    g_state.view = static_cast<ProcessCache*>(view);
  }
  return g_state.view;
}

}  // namespace detail
}  // namespace qvtrace

ProcessCache* QVTRACE_GM_GetProcessCachePtr() { return qvtrace::detail::MapProcessCache(true); }

void TraceFreeProcessCache(bool lastUser) {
  TraceLockScope lock;
  if (g_state.memory != nullptr) platform::UnmapSharedMemory(g_state.memory, lastUser, g_state.mutex);
  g_state.memory = nullptr;
  g_state.view = nullptr;
  g_state.WakeWriter();
}

void TraceUseExistingCacheOnly() {
  std::lock_guard<std::recursive_mutex> local(g_state.localLock);
  g_state.existingOnly = true;
}

void TraceSetObjectNamesForTesting(const wchar_t* baseName) {
  std::lock_guard<std::recursive_mutex> local(g_state.localLock);
  CloseHandles();
  BuildNames(baseName);
}

void TraceRemoveObjectsForTesting() {
  std::lock_guard<std::recursive_mutex> local(g_state.localLock);
  if (!g_state.namesBuilt) BuildNames(nullptr);
  CloseHandles();
  platform::RemoveNamedObjects(g_state.cacheName, g_state.mutexName);
}

const wchar_t* TraceCacheName() {
  std::lock_guard<std::recursive_mutex> local(g_state.localLock);
  if (!g_state.namesBuilt) BuildNames(nullptr);
  return g_state.cacheName;
}

const wchar_t* TraceMutexName() {
  std::lock_guard<std::recursive_mutex> local(g_state.localLock);
  if (!g_state.namesBuilt) BuildNames(nullptr);
  return g_state.mutexName;
}
