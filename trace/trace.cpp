// QVTRACE: registration, filtering, headed lines and the log writer. Every access to the shared records happens
// with the system-wide mutex held; the process-local state below is guarded by g_localLock, which a thread holds
// exactly as long as it holds the system-wide mutex.
#include "trace/trace.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <ctime>
#include <cwchar>
#include <mutex>
#include <vector>

#include "trace/process_cache.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"
#include "trace/trace_text.h"

using qvtrace::kMaxProcesses;
using qvtrace::kMaxThreads;
using qvtrace::ProcessCache;
using qvtrace::ProcInfo;
using qvtrace::ThreadInfo;
namespace platform = qvtrace::platform;

namespace {

constexpr size_t kLineChars = 4096;
constexpr size_t kRawChars = 512;
constexpr size_t kCallHeaderChars = 128;
constexpr int32_t kMemoryKB =
    static_cast<int32_t>(sizeof(ThreadInfo) * kMaxThreads * kMaxProcesses / 1024);  // 26232

const wchar_t kRawTag[] = L"NX: ";
const wchar_t kBuildDate[] = L"" __DATE__;
const wchar_t kBuildTime[] = L"" __TIME__;

// Process-local state. Held together with the system-wide mutex, so that no other thread of the process ever
// waits on a mutex handle that is being closed or reads a view that is being unmapped.
std::recursive_mutex g_localLock;
thread_local int t_lockDepth = 0;
thread_local bool t_systemLocked = false;

bool g_namesBuilt = false;
wchar_t g_cacheName[64];
wchar_t g_mutexName[256];
bool g_existingOnly = false;

platform::SystemMutex* g_mutex = nullptr;
bool g_closeMutexAtUnlock = false;
platform::SharedMemory* g_memory = nullptr;
ProcessCache* g_view = nullptr;

// The process that took a record through this process-local state: a record under our own identifier that we
// did not take was left by an earlier process with the same identifier.
uint32_t g_ownRecordPid = 0;

// Where the last look-ups found records. Every record searched costs a page or more of the block, so a hint
// that is checked before use saves most of a line's cost when its output is off.
size_t g_processHint = 0;
thread_local const ProcInfo* t_threadHintRecord = nullptr;
thread_local size_t t_threadHint = 0;

// The length of the own record's pendingLog after the last append.
const ProcInfo* g_pendingRecord = nullptr;
size_t g_pendingLength = 0;

// The log writer of the current registration period; older writers see a changed epoch and end.
platform::WriterThread* g_writer = nullptr;
uint64_t g_writerEpoch = 0;

// Wakes this process's log writer, which sleeps until a line is queued, it is asked to end or its period or
// mapping changes. Only this process queues its lines and ends its writer, so a local signal is enough.
std::mutex g_writerWakeLock;
std::condition_variable g_writerWake;
uint64_t g_writerWakes = 0;

void WakeWriter() {
  {
    std::lock_guard<std::mutex> hold(g_writerWakeLock);
    ++g_writerWakes;
  }
  g_writerWake.notify_all();
}

void BuildNames(const wchar_t* baseName) {
  if (baseName != nullptr) {
    qvtrace::FormatWide(g_cacheName, sizeof(g_cacheName) / sizeof(wchar_t), L"%ls", baseName);
  } else {
    qvtrace::FormatWide(g_cacheName, sizeof(g_cacheName) / sizeof(wchar_t), L"QVTRACE_PROCESS_CACHE_VERSION_X64_%02d",
                        qvtrace::kVersion);
  }
  qvtrace::FormatWide(g_mutexName, sizeof(g_mutexName) / sizeof(wchar_t), L"%ls_Mutex", g_cacheName);
  platform::SetDebugChannel(g_cacheName);
  g_namesBuilt = true;
}

// A scope holding the facility's lock.
class TraceLockScope {
 public:
  TraceLockScope() { TraceLock(); }
  ~TraceLockScope() { TraceUnlock(); }
  TraceLockScope(const TraceLockScope&) = delete;
  TraceLockScope& operator=(const TraceLockScope&) = delete;
};

void TimeText(wchar_t* buf, size_t cap, const wchar_t* format) {
  std::tm now{};
  int ms = 0;
  platform::LocalNow(&now, &ms);
  qvtrace::FormatWide(buf, cap, format, now.tm_hour, now.tm_min, now.tm_sec, ms);
}

// "                          PPPP-TTTT:      Name()"
void CallHeader(wchar_t* buf, uint32_t processId, uint32_t threadId, const wchar_t* name) {
  qvtrace::FormatWide(buf, kCallHeaderChars, L"                          %04X-%04X:      %ls()", processId, threadId,
                      name);
}

// "hh:mm:ss.mmm                     PPPP-TTTT: "
void TimeHeader(wchar_t* buf, size_t cap, const wchar_t* time, uint32_t processId, uint32_t threadId) {
  qvtrace::FormatWide(buf, cap, L"%ls                     %04X-%04X: ", time, processId, threadId);
}

void NotRegisteredNotice() {
  wchar_t time[16];
  TimeText(time, 16, L"%02d:%02d:%02d.%03d");
  wchar_t header[kCallHeaderChars];
  TimeHeader(header, kCallHeaderChars, time, platform::CurrentProcessId(), platform::CurrentThreadId());
  TraceRawOutput(L"%ls %ls() - ERROR function called before TraceInitInternal()", header, L"QVTRACE_GetProcInfoPtr");
}

void MakeThreadFresh(ThreadInfo* thread, uint32_t owner) {
  std::memset(thread, 0, sizeof(*thread));
  thread->magic = qvtrace::kThreadMagic;
  thread->threadId = owner;
  thread->headerMode = 3;
  thread->verboseLevel = 3;
}

// Frees a process record: no owner, no registrations, all thread records fresh, nothing pending.
void FreeProcInfo(ProcInfo* proc) {
  for (ThreadInfo& thread : proc->threads) MakeThreadFresh(&thread, 0);
  proc->refCount = 0;
  proc->processId = 0;
  proc->pendingLogThreadId = 0;
  proc->pendingLog[0] = 0;
  proc->writerThread = 0;
  proc->writerRunning = 0;
  proc->writerStop = 1;
  WakeWriter();
}

ThreadInfo* FindThread(ProcInfo* proc, uint32_t threadId) {
  if (threadId == 0) return nullptr;
  if (t_threadHintRecord == proc && proc->threads[t_threadHint].threadId == threadId) {
    return &proc->threads[t_threadHint];
  }
  for (size_t i = 0; i < kMaxThreads; ++i) {
    if (proc->threads[i].threadId == threadId) {
      t_threadHintRecord = proc;
      t_threadHint = i;
      return &proc->threads[i];
    }
  }
  return nullptr;
}

bool EndsWithNewline(const wchar_t* text, size_t cap) {
  size_t length = qvtrace::BoundedLength(text, cap);
  return length > 0 && text[length - 1] == L'\n';
}

const wchar_t* LevelTag(int32_t level) {
  switch (level) {
    case 1:
      return L"MSG ";
    case 2:
      return L"ERR ";
    case 3:
      return L"WRN ";
    case 4:
      return L"USR ";
    default:
      return L"    ";
  }
}

// Queues a line of thread (a record of processId) for its process's log writer.
void TraceQueueLogText(uint32_t processId, ThreadInfo* thread, const wchar_t* line) {
  if ((thread->outputFlags & qvtrace::kOutputLogFile) == 0) return;
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 0, 0);
  if (proc == nullptr || proc->refCount <= 0) return;
  proc->pendingLogThreadId = thread->threadId;
  // The length found last time saves scanning up to 51200 units per line while the writer lags behind; it is
  // used only while the text still ends there.
  char16_t* pending = proc->pendingLog;
  size_t used = g_pendingLength;
  const bool hintHolds = g_pendingRecord == proc && used < qvtrace::kPendingLogChars && pending[used] == 0 &&
                         (used == 0 || (pending[0] != 0 && pending[used - 1] != 0));
  if (!hintHolds) {
    used = qvtrace::BoundedLength(pending, qvtrace::kPendingLogChars);
    if (used == qvtrace::kPendingLogChars) used = qvtrace::kPendingLogChars - 1;
  }
  g_pendingLength = qvtrace::AppendUtf16At(pending, qvtrace::kPendingLogChars, used, line);
  g_pendingRecord = proc;
  WakeWriter();
}

int32_t TraceLogWriterThread(uint64_t epoch) {
  std::vector<wchar_t> text(qvtrace::kPendingLogChars);
  wchar_t path[qvtrace::kLogFileChars];
  const uint32_t processId = platform::CurrentProcessId();
  for (;;) {
    uint64_t wakes = 0;
    {
      // Taken before the look, so that a wake-up given while looking is not lost.
      std::lock_guard<std::mutex> hold(g_writerWakeLock);
      wakes = g_writerWakes;
    }
    bool stop = false;
    uint32_t flags = 0;
    path[0] = 0;
    text[0] = 0;
    {
      // A writer of an earlier registration period, or one whose shared memory this process released, ends
      // without touching any shared object (a late start must not bring the mutex back).
      std::lock_guard<std::recursive_mutex> local(g_localLock);
      if (epoch != g_writerEpoch || g_view == nullptr) return -1;
      TraceLockScope lock;
      ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
      if (proc == nullptr) return -1;
      stop = proc->writerStop != 0;
      proc->writerRunning = 1;
      if (proc->pendingLog[0] != 0) {
        qvtrace::Utf16ToWide(proc->pendingLog, qvtrace::kPendingLogChars, text.data(), text.size());
        uint32_t threadId = proc->pendingLogThreadId;
        proc->pendingLog[0] = 0;
        if (ThreadInfo* thread = FindThread(proc, threadId)) {
          flags = thread->outputFlags;
          qvtrace::Utf16ToWide(thread->logFile, qvtrace::kLogFileChars, path, qvtrace::kLogFileChars);
        }
      }
    }
    if (flags != 0 && path[0] != 0 && text[0] != 0) {
      TraceAppendToFile(flags, path, text.data());
      if (stop) return 0;
      continue;
    }
    if (stop) return 0;
    std::unique_lock<std::mutex> hold(g_writerWakeLock);
    g_writerWake.wait(hold, [wakes] { return g_writerWakes != wakes; });
  }
}

}  // namespace

// ---- Locking and the shared memory -------------------------------------------------------------------------

namespace {

// Takes the local lock and the system-wide mutex, without limit when deadline is null. False: the deadline
// passed first and nothing is held. A mutex that cannot be had at all is no reason to wait: the lock is then
// held without it, and every operation finds no records.
bool AcquireLock(const std::chrono::steady_clock::time_point* deadline) {
  if (deadline == nullptr) {
    g_localLock.lock();
  } else {
    // Polled: another thread of the process may hold the local lock while it waits on the system-wide mutex.
    while (!g_localLock.try_lock()) {
      if (std::chrono::steady_clock::now() >= *deadline) return false;
      platform::SleepMilliseconds(1);
    }
  }
  if (t_lockDepth++ > 0) return true;
  if (!g_namesBuilt) BuildNames(nullptr);
  if (g_mutex == nullptr) g_mutex = platform::OpenSystemMutex(g_mutexName, g_existingOnly);
  platform::LockResult result = platform::LockResult::kFailed;
  if (g_mutex != nullptr) {
    uint32_t wait = platform::kWaitForever;
    if (deadline != nullptr) {
      using std::chrono::milliseconds;
      const milliseconds left = std::chrono::duration_cast<milliseconds>(*deadline - std::chrono::steady_clock::now());
      wait = static_cast<uint32_t>(std::max<int64_t>(0, left.count()));
    }
    result = platform::LockSystemMutex(g_mutex, wait);
  }
  if (result == platform::LockResult::kTimedOut) {
    --t_lockDepth;
    g_localLock.unlock();
    return false;
  }
  t_systemLocked = result == platform::LockResult::kLocked;
  return true;
}

}  // namespace

void TraceLock() { AcquireLock(nullptr); }

bool TraceLockWithin(uint32_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  return AcquireLock(&deadline);
}

void TraceUnlock() {
  if (t_lockDepth <= 0) return;  // an unlock without its lock: nothing is held
  if (--t_lockDepth == 0) {
    if (t_systemLocked) platform::UnlockSystemMutex(g_mutex);
    t_systemLocked = false;
    // Closed only when nothing is held any more; the next use opens it again.
    if (g_closeMutexAtUnlock && g_mutex != nullptr) {
      platform::CloseSystemMutex(g_mutex);
      g_mutex = nullptr;
    }
    g_closeMutexAtUnlock = false;
  }
  g_localLock.unlock();
}

namespace {

// The mapped block; create false: only an existing block is mapped (without notices), as a block that does
// not exist holds no records and one made only to look would outlive the process where names persist.
ProcessCache* MapProcessCache(bool create) {
  create = create && !g_existingOnly;
  TraceLockScope lock;
  if (!t_systemLocked) return nullptr;
  if (g_view != nullptr && !platform::SharedMemoryCurrent(g_memory, g_mutex)) {
    // Another process released the block while this one kept an old mapping: use the current one.
    platform::UnmapSharedMemory(g_memory, false, g_mutex);
    g_memory = nullptr;
    g_view = nullptr;
    WakeWriter();
    g_ownRecordPid = 0;
  }
  if (g_view == nullptr) {
    void* view = nullptr;
    bool created = false;
    platform::MapResult result = platform::MapSharedMemory(g_cacheName, qvtrace::kProcessCacheBytes, !create, g_mutex,
                                                           &g_memory, &view, &created);
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
    g_view = static_cast<ProcessCache*>(view);
  }
  return g_view;
}

}  // namespace

ProcessCache* QVTRACE_GM_GetProcessCachePtr() { return MapProcessCache(true); }

void TraceFreeProcessCache(bool lastUser) {
  TraceLockScope lock;
  if (g_memory != nullptr) platform::UnmapSharedMemory(g_memory, lastUser, g_mutex);
  g_memory = nullptr;
  g_view = nullptr;
  WakeWriter();
}

// ---- Records ------------------------------------------------------------------------------------------------

int32_t TraceReclaimDeadProcesses() {
  TraceLockScope lock;
  ProcessCache* cache = MapProcessCache(false);
  if (cache == nullptr) return 0;
  const uint32_t self = platform::CurrentProcessId();
  int32_t reclaimed = 0;
  for (ProcInfo& proc : cache->processes) {
    if (proc.processId == 0 || proc.processId == self) continue;
    if (!platform::ProcessExists(proc.processId)) {
      FreeProcInfo(&proc);
      ++reclaimed;
    }
  }
  return reclaimed;
}

ProcInfo* QVTRACE_GetProcInfoPtr(uint32_t processId, int32_t warn, int32_t create) {
  TraceLockScope lock;
  ProcessCache* cache = MapProcessCache(create != 0);
  if (cache == nullptr || processId == 0) return nullptr;
  ProcInfo* found = nullptr;
  if (cache->processes[g_processHint].processId == processId) {
    found = &cache->processes[g_processHint];
  } else {
    for (size_t i = 0; i < kMaxProcesses; ++i) {
      if (cache->processes[i].processId == processId) {
        found = &cache->processes[i];
        g_processHint = i;
        break;
      }
    }
  }
  if (found != nullptr && processId == platform::CurrentProcessId() && g_ownRecordPid != processId) {
    // Left behind by a process that died with our identifier: it must not pass its registration on.
    FreeProcInfo(found);
    found = nullptr;
  }
  if (found != nullptr) {
    if (warn != 0 && found->refCount <= 0) {
      NotRegisteredNotice();
      return nullptr;
    }
    return found;
  }
  if (create == 0) return nullptr;
  TraceReclaimDeadProcesses();
  for (ProcInfo& proc : cache->processes) {
    if (proc.processId != 0) continue;
    FreeProcInfo(&proc);
    proc.processId = processId;
    proc.refCount = 0;
    if (processId == platform::CurrentProcessId()) g_ownRecordPid = processId;
    return &proc;
  }
  return nullptr;
}

ThreadInfo* QVTRACE_GetThreadInfoPtr(uint32_t processId, uint32_t threadId, int32_t warn, int32_t create) {
  TraceLockScope lock;
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, warn, create);
  if (proc == nullptr || threadId == 0) return nullptr;
  if (ThreadInfo* thread = FindThread(proc, threadId)) return thread;
  if (create == 0) return nullptr;
  for (ThreadInfo& thread : proc->threads) {
    if (thread.threadId != 0) continue;
    MakeThreadFresh(&thread, threadId);
    const ThreadInfo& first = proc->threads[0];
    if (&thread != &first && first.threadId != 0) {
      thread.outputFlags = first.outputFlags;
      thread.headerMode = first.headerMode;
      thread.contextFlags = first.contextFlags;
      thread.verboseLevel = first.verboseLevel;
      thread.lastWorkingSetKB = first.lastWorkingSetKB;
      size_t length = qvtrace::BoundedLength(first.logFile, qvtrace::kLogFileChars - 1);
      std::memcpy(thread.logFile, first.logFile, length * sizeof(char16_t));
      thread.logFile[length] = 0;
    }
    return &thread;
  }
  return nullptr;
}

int32_t TraceCountThreads(uint32_t processId) {
  TraceLockScope lock;
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 0, 0);
  if (proc == nullptr) return -1;
  int32_t count = 0;
  for (const ThreadInfo& thread : proc->threads) {
    if (thread.threadId != 0) ++count;
  }
  return count;
}

int32_t TraceInitInternal(uint32_t processId, uint32_t threadId, int32_t* processWasRegistered) {
  TraceLockScope lock;
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 0, 1);
  if (proc == nullptr) return 0;
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 0, 1);
  if (thread == nullptr) {
    wchar_t header[kCallHeaderChars];
    CallHeader(header, processId, threadId, L"TraceInitInternal");
    int32_t count = TraceCountThreads(processId);
    if (count < kMaxThreads) {
      TraceRawOutput(L"%ls Thread %04X not found: Currently %d threads are active!!!", header, threadId, count);
    } else {
      TraceRawOutput(L"%ls Thread %04X not found: Max. number of threads (%d) reached!!!", header, threadId,
                     kMaxThreads);
    }
    return 0;
  }
  if (proc->refCount <= 0 && thread->refCount <= 0) thread->outputFlags = 0;
  const bool wasRegistered = proc->refCount > 0;
  thread->refCount = static_cast<int8_t>(thread->refCount + 1);
  proc->refCount = static_cast<int16_t>(proc->refCount + 1);
  if (processWasRegistered != nullptr) *processWasRegistered = wasRegistered ? 1 : 0;
  return 1;
}

// ---- Public operations ----------------------------------------------------------------------------------------

uint32_t TraceCurrentProcessId() { return platform::CurrentProcessId(); }
uint32_t TraceCurrentThreadId() { return platform::CurrentThreadId(); }

int32_t TraceInitEx() {
  TraceLockScope lock;
  const uint32_t processId = platform::CurrentProcessId();
  const uint32_t threadId = platform::CurrentThreadId();
  int32_t wasRegistered = 0;
  int32_t result = TraceInitInternal(processId, threadId, &wasRegistered);
  if (result != 1) return result;
  if (wasRegistered == 0) {
    wchar_t header[kCallHeaderChars];
    CallHeader(header, processId, threadId, L"TraceInitEx");
    TraceRawOutput(L"%ls QVTRACE Version %d: #Processes=%d #Threads=%d Memory=%d KB", header, qvtrace::kVersion,
                   kMaxProcesses, kMaxThreads, kMemoryKB);
  }
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 1, 0);
  if (proc == nullptr || thread == nullptr) return 0;
  if (wasRegistered != 0) return 1;

  TraceSetVerboseLevel(3);
  TraceSetContext(0xFFFFFFFF);

  proc->writerStop = 0;
  if (g_writer != nullptr) platform::CloseWriterThread(g_writer);
  uint64_t handleValue = 0;
  g_writer = platform::StartWriterThread(&TraceLogWriterThread, ++g_writerEpoch, &handleValue);
  proc->writerThread = g_writer != nullptr ? handleValue : 0;

  std::tm now{};
  int ms = 0;
  platform::LocalNow(&now, &ms);
  wchar_t runTime[256];
  if (std::wcsftime(runTime, 256, L"%b %d %Y, %X", &now) == 0) runTime[0] = 0;
  wchar_t logFile[qvtrace::kLogFileChars];
  qvtrace::Utf16ToWide(thread->logFile, qvtrace::kLogFileChars, logFile, qvtrace::kLogFileChars);
  const int32_t verboseLevel = thread->verboseLevel;
  const uint32_t contextFlags = thread->contextFlags;

  TraceMessage(1, 0xFFFFFFFF, L"--- QVTRACE -----------------------------------------------");
  TraceMessage(1, 0xFFFFFFFF, L"Build time    = %ls, %ls (last rebuild of QVTRACE)", kBuildDate, kBuildTime);
  TraceMessage(1, 0xFFFFFFFF, L"Run time      = %ls", runTime);
  TraceMessage(1, 0xFFFFFFFF, L"Logfile       = %ls", logFile);
  TraceMessage(1, 0xFFFFFFFF, L"Debug level   = %d", verboseLevel);
  TraceMessage(1, 0xFFFFFFFF, L"Context flags = 0x%08X", contextFlags);
  TraceMessage(1, 0xFFFFFFFF, L"-----------------------------------------------------------");
  return 1;
}

void TraceSetVerboseLevel(int32_t level) {
  TraceLockScope lock;
  TraceRawOutput(L"%ls(%d)", L"TraceSetVerboseLevel", level);
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(platform::CurrentProcessId(), 1, 0);
  if (proc == nullptr) return;
  for (ThreadInfo& thread : proc->threads) {
    if (thread.threadId != 0) thread.verboseLevel = level;
  }
}

void TraceSetContext(uint32_t flags) {
  TraceLockScope lock;
  TraceRawOutput(L"%ls(0x%08X)", L"TraceSetContext", flags);
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(platform::CurrentProcessId(), 1, 0);
  if (proc == nullptr) return;
  for (ThreadInfo& thread : proc->threads) {
    if (thread.threadId != 0) thread.contextFlags = flags;
  }
}

bool TraceShouldOutput(const ThreadInfo* thread, int32_t level, uint32_t contextMask) {
  return level != 0 && level <= thread->verboseLevel && (thread->contextFlags & contextMask) != 0 &&
         thread->outputFlags != 0 && thread->headerMode != 0;
}

namespace {

void TraceMessageV(int32_t level, uint32_t contextMask, const wchar_t* format, va_list args) {
  TraceLockScope lock;
  const uint32_t processId = platform::CurrentProcessId();
  const uint32_t threadId = platform::CurrentThreadId();
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 1, 0);
  if (thread == nullptr || !TraceShouldOutput(thread, level, contextMask)) return;

  wchar_t message[kLineChars];
  qvtrace::FormatWideV(message, kLineChars, format, args);
  wchar_t prefix[qvtrace::kPrefixChars];
  qvtrace::Utf16ToWide(thread->prefix, qvtrace::kPrefixChars, prefix, qvtrace::kPrefixChars);
  wchar_t text[kLineChars];
  qvtrace::FormatWide(text, kLineChars, L"%ls %ls", prefix, message);
  TraceOutputLine(processId, threadId, level, contextMask, text);
}

}  // namespace

void TraceMessage(int32_t level, uint32_t contextMask, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  TraceMessageV(level, contextMask, format, args);
  va_end(args);
}

void TraceOneShotMessage(uint32_t waitMs, int32_t level, uint32_t contextMask, const wchar_t* format, ...) {
  // One hold for the whole line: every step inside takes the mutex again without waiting, and the new log
  // writer cannot reach its loop meanwhile, so the unregistration has no writer to wait for.
  if (!TraceLockWithin(waitMs)) return;
  const uint32_t threadId = platform::CurrentThreadId();
  const bool registered = QVTRACE_GetThreadInfoPtr(platform::CurrentProcessId(), threadId, 1, 0) != nullptr;
  if (!registered) TraceInitEx();
  va_list args;
  va_start(args, format);
  TraceMessageV(level, contextMask, format, args);
  va_end(args);
  if (!registered) TraceTerminateThread(threadId, 1, 1);
  TraceUnlock();
}

void TraceOutputLine(uint32_t processId, uint32_t threadId, int32_t level, uint32_t contextMask, const wchar_t* text) {
  TraceLockScope lock;
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 1, 0);
  if (thread == nullptr || !TraceShouldOutput(thread, level, contextMask)) return;

  wchar_t line[kLineChars];
  line[0] = 0;
  if (thread->headerMode != 1) {
    wchar_t time[16];
    TimeText(time, 16, L"%02d:%02d:%02d.%03d");
    int32_t kilobytes = 0;
    int32_t delta = 0;
    uint64_t bytes = 0;
    if (platform::ReadWorkingSetBytes(processId, &bytes)) {
      const uint64_t current = bytes >> 10;
      // Unsigned arithmetic: the stored value may be anything another process wrote.
      delta = static_cast<int32_t>(static_cast<uint32_t>(current - thread->lastWorkingSetKB));
      kilobytes = static_cast<int32_t>(static_cast<uint32_t>(current));
      thread->lastWorkingSetKB = current;
    }
    if (thread->headerMode == 2) {
      qvtrace::FormatWide(line, kLineChars, L"%ls 0x???: ", time);
    } else if (delta != 0) {
      qvtrace::FormatWide(line, kLineChars, L"%ls %7dK(%+9d) %04X-%04X: ", time, kilobytes, delta, processId,
                          threadId);
    } else {
      TimeHeader(line, kLineChars, time, processId, threadId);
    }
  }
  qvtrace::AppendWide(line, kLineChars, LevelTag(level));
  qvtrace::AppendWide(line, kLineChars, text);
  if (!EndsWithNewline(line, kLineChars)) qvtrace::AppendWide(line, kLineChars, L"\n");

  const uint32_t flags = thread->outputFlags;
  if ((flags & qvtrace::kOutputDebugger) != 0) platform::DebugOutput(line);
  if ((flags & qvtrace::kOutputConsole) != 0) platform::ConsoleOutput(line);
  if ((flags & qvtrace::kOutputLogFile) != 0) TraceQueueLogText(processId, thread, line);
}

void TraceFlushLog() {
  TraceLockScope lock;
  const uint32_t processId = platform::CurrentProcessId();
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, platform::CurrentThreadId(), 1, 0);
  if (proc == nullptr || thread == nullptr || proc->pendingLog[0] == 0) return;
  std::vector<wchar_t> text(qvtrace::kPendingLogChars);
  qvtrace::Utf16ToWide(proc->pendingLog, qvtrace::kPendingLogChars, text.data(), text.size());
  wchar_t path[qvtrace::kLogFileChars];
  qvtrace::Utf16ToWide(thread->logFile, qvtrace::kLogFileChars, path, qvtrace::kLogFileChars);
  TraceAppendToFile(thread->outputFlags, path, text.data());
  proc->pendingLog[0] = 0;
}

void TraceAppendToFile(uint32_t outputFlags, const wchar_t* path, const wchar_t* text) {
  if ((outputFlags & qvtrace::kOutputLogFile) == 0 || path == nullptr || text == nullptr || path[0] == 0) return;
  platform::AppendToFile(path, text);
}

void TraceTerminateThread(uint32_t threadId, int32_t clear, int32_t quiet) {
  TraceLockScope lock;
  const uint32_t processId = platform::CurrentProcessId();
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
  if (proc == nullptr) return;
  TraceFlushLog();

  // The waiting thread owns the writer's handle meanwhile, so no other thread waits on it or closes it.
  platform::WriterThread* writer = nullptr;
  if (proc->refCount == 1 && g_writer != nullptr && proc->writerThread != 0 && proc->writerRunning != 0) {
    proc->writerStop = 1;
    WakeWriter();
    writer = g_writer;
    g_writer = nullptr;
    TraceUnlock();
    const bool ended = platform::WaitWriterThread(writer, 1000);
    TraceLock();
    if (ended) {
      platform::CloseWriterThread(writer);
      writer = nullptr;
    } else if (g_writer == nullptr) {
      g_writer = writer;
      writer = nullptr;
    }
    proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
    if (proc == nullptr) {
      if (writer != nullptr) platform::CloseWriterThread(writer);
      return;
    }
  }
  if (writer != nullptr) platform::CloseWriterThread(writer);

  wchar_t header[kCallHeaderChars];
  CallHeader(header, processId, threadId, L"TraceTerminateThread");
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 1, 0);
  if (thread == nullptr) {
    int32_t count = TraceCountThreads(processId);
    if (count < kMaxThreads) {
      TraceRawOutput(L"%ls WARNING: Thread %04X not found: Currently %d threads are active!!!", header, threadId,
                     count);
    } else {
      TraceRawOutput(L"%ls ERROR: Thread %04X not found: Max. number of threads (%d) reached!!!", header, threadId,
                     kMaxThreads);
    }
    return;
  }

  const int32_t processBefore = proc->refCount;
  const int32_t threadBefore = thread->refCount;
  proc->refCount = static_cast<int16_t>(processBefore - 1);
  thread->refCount = static_cast<int8_t>(threadBefore - 1);
  const int32_t processAfter = proc->refCount;
  const int32_t threadAfter = thread->refCount;
  if (threadAfter == 0 && clear == 1) MakeThreadFresh(thread, 0);
  if (quiet == 0) {
    TraceRawOutput(L"%ls Reference count - Process %d -> %d / Thread  %d -> %d %ls", header, processBefore,
                   processAfter, threadBefore, threadAfter, threadAfter == 0 ? L"/ LAST THREAD REF released" : L"");
  }
  if (processAfter != 0) return;

  if (g_writer != nullptr) platform::CloseWriterThread(g_writer);
  g_writer = nullptr;
  ++g_writerEpoch;
  WakeWriter();
  FreeProcInfo(proc);
  g_ownRecordPid = 0;
  TraceRawOutput(L"%ls Last reference for this process was removed!", header);

  TraceReclaimDeadProcesses();
  bool anyRegistered = false;
  if (ProcessCache* cache = MapProcessCache(false)) {
    for (const ProcInfo& other : cache->processes) {
      if (other.refCount != 0) anyRegistered = true;
    }
  }
  if (!anyRegistered) {
    TraceRawOutput(L"%ls Last process was removed!", header);
    TraceFreeProcessCache(true);
  }
  g_closeMutexAtUnlock = true;
}

void TraceSetThreadName(uint32_t threadId, const char* name) {
  if (name == nullptr) return;
  char full[256];
  std::snprintf(full, sizeof(full), "%s %s", "NX: ", name);
  platform::NameThread(threadId, full);
}

void TraceRawOutput(const wchar_t* format, ...) {
  wchar_t time[16];
  TimeText(time, 16, L"%02d:%02d:%02d.%03d ");
  platform::DebugOutput(time);

  wchar_t line[kRawChars];
  qvtrace::FormatWide(line, kRawChars, L"%-6ls ", kRawTag);
  wchar_t message[kRawChars];
  va_list args;
  va_start(args, format);
  qvtrace::FormatWideV(message, kRawChars, format, args);
  va_end(args);
  qvtrace::AppendWide(line, kRawChars, message);
  if (!EndsWithNewline(line, kRawChars)) qvtrace::AppendWide(line, kRawChars, L"\n");
  platform::DebugOutput(line);
}

// ---- Tool and test hooks ------------------------------------------------------------------------------------

void TraceUseExistingCacheOnly() {
  std::lock_guard<std::recursive_mutex> local(g_localLock);
  g_existingOnly = true;
}

void TraceSetObjectNamesForTesting(const wchar_t* baseName) {
  std::lock_guard<std::recursive_mutex> local(g_localLock);
  if (g_memory != nullptr) platform::UnmapSharedMemory(g_memory, false, g_mutex);
  g_memory = nullptr;
  g_view = nullptr;
  WakeWriter();
  if (g_mutex != nullptr) platform::CloseSystemMutex(g_mutex);
  g_mutex = nullptr;
  BuildNames(baseName);
}

void TraceRemoveObjectsForTesting() {
  std::lock_guard<std::recursive_mutex> local(g_localLock);
  if (!g_namesBuilt) BuildNames(nullptr);
  if (g_memory != nullptr) platform::UnmapSharedMemory(g_memory, false, g_mutex);
  g_memory = nullptr;
  g_view = nullptr;
  WakeWriter();
  if (g_mutex != nullptr) platform::CloseSystemMutex(g_mutex);
  g_mutex = nullptr;
  platform::RemoveNamedObjects(g_cacheName, g_mutexName);
}

const wchar_t* TraceCacheName() {
  std::lock_guard<std::recursive_mutex> local(g_localLock);
  if (!g_namesBuilt) BuildNames(nullptr);
  return g_cacheName;
}

const wchar_t* TraceMutexName() {
  std::lock_guard<std::recursive_mutex> local(g_localLock);
  if (!g_namesBuilt) BuildNames(nullptr);
  return g_mutexName;
}
