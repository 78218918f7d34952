// The trace facility's public operations: registration and unregistration with their notices, the settings of
// every thread, and trace lines. Each takes the two-level lock itself (trace_shared_block.cpp).
#include "trace/trace.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <cwchar>

#include "trace/process_cache.h"
#include "trace/trace_detail.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"
#include "trace/trace_state.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;
using qvtrace::kMaxProcesses;
using qvtrace::kMaxThreads;
using qvtrace::ProcessCache;
using qvtrace::ProcInfo;
using qvtrace::ThreadInfo;
using qvtrace::detail::CallHeader;
using qvtrace::detail::g_state;
using qvtrace::detail::kCallHeaderChars;
using qvtrace::detail::kLineChars;
using qvtrace::detail::TraceLockScope;
using qvtrace::detail::WakeWriter;

namespace {

constexpr int32_t kMemoryKB = static_cast<int32_t>(sizeof(ThreadInfo) * kMaxThreads * kMaxProcesses / 1024);  // 26232

const wchar_t kBuildDate[] = L"" __DATE__;
const wchar_t kBuildTime[] = L"" __TIME__;

// Applies change to every registered thread record of the calling process.
template <typename Change>
void ChangeEveryThread(Change change) {
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(platform::CurrentProcessId(), 1, 0);
  if (proc == nullptr) return;
  for (ThreadInfo& thread : proc->threads) {
    if (thread.threadId != 0) change(&thread);
  }
}

}  // namespace

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
  if (g_state.writer != nullptr) platform::CloseWriterThread(g_state.writer);
  uint64_t handleValue = 0;
  g_state.writer =
      platform::StartWriterThread(&qvtrace::detail::TraceLogWriterThread, ++g_state.writerEpoch, &handleValue);
  proc->writerThread = g_state.writer != nullptr ? handleValue : 0;

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
  ChangeEveryThread([level](ThreadInfo* thread) { thread->verboseLevel = level; });
}

void TraceSetContext(uint32_t flags) {
  TraceLockScope lock;
  TraceRawOutput(L"%ls(0x%08X)", L"TraceSetContext", flags);
  ChangeEveryThread([flags](ThreadInfo* thread) { thread->contextFlags = flags; });
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

void TraceTerminateThread(uint32_t threadId, int32_t clear, int32_t quiet) {
  TraceLockScope lock;
  const uint32_t processId = platform::CurrentProcessId();
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
  if (proc == nullptr) return;
  TraceFlushLog();

  // The waiting thread owns the writer's handle meanwhile, so no other thread waits on it or closes it.
  platform::WriterThread* writer = nullptr;
  if (proc->refCount == 1 && g_state.writer != nullptr && proc->writerThread != 0 && proc->writerRunning != 0) {
    proc->writerStop = 1;
    WakeWriter();
    writer = g_state.writer;
    g_state.writer = nullptr;
    TraceUnlock();
    const bool ended = platform::WaitWriterThread(writer, 1000);
    TraceLock();
    if (ended) {
      platform::CloseWriterThread(writer);
      writer = nullptr;
    } else if (g_state.writer == nullptr) {
      g_state.writer = writer;
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
  if (threadAfter == 0 && clear == 1) qvtrace::detail::MakeThreadFresh(thread, 0);
  if (quiet == 0) {
    TraceRawOutput(L"%ls Reference count - Process %d -> %d / Thread  %d -> %d %ls", header, processBefore,
                   processAfter, threadBefore, threadAfter, threadAfter == 0 ? L"/ LAST THREAD REF released" : L"");
  }
  if (processAfter != 0) return;

  if (g_state.writer != nullptr) platform::CloseWriterThread(g_state.writer);
  g_state.writer = nullptr;
  ++g_state.writerEpoch;
  WakeWriter();
  qvtrace::detail::FreeProcInfo(proc);
  g_state.ownRecordPid = 0;
  TraceRawOutput(L"%ls Last reference for this process was removed!", header);

  TraceReclaimDeadProcesses();
  bool anyRegistered = false;
  if (ProcessCache* cache = qvtrace::detail::MapProcessCache(false)) {
    for (const ProcInfo& other : cache->processes) {
      if (other.refCount != 0) anyRegistered = true;
    }
  }
  if (!anyRegistered) {
    TraceRawOutput(L"%ls Last process was removed!", header);
    TraceFreeProcessCache(true);
  }
  g_state.closeMutexAtUnlock = true;
}

void TraceSetThreadName(uint32_t threadId, const char* name) {
  if (name == nullptr) return;
  char full[256];
  std::snprintf(full, sizeof(full), "%s %s", "NX: ", name);
  platform::NameThread(threadId, full);
}
