// The trace facility's public operations: registration and unregistration with their notices, the settings of
// every thread, and trace lines; and the work put off while another process held the mutex. Each operation takes
// the two-level lock itself (trace_shared_block.cpp), with a bound.
#include "trace/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <mutex>

#include "trace/process_cache.h"
#include "trace/trace_lines.h"
#include "trace/trace_log_writer.h"
#include "trace/trace_notices.h"
#include "trace/trace_platform.h"
#include "trace/trace_records.h"
#include "trace/trace_shared_block.h"
#include "trace/trace_state.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;
using qvtrace::kMaxProcesses;
using qvtrace::kMaxThreads;
using qvtrace::ProcInfo;
using qvtrace::ThreadInfo;
using qvtrace::detail::CallHeader;
using qvtrace::detail::g_state;
using qvtrace::detail::kCallHeaderChars;
using qvtrace::detail::kLineChars;
using qvtrace::detail::OutputMessage;
using qvtrace::detail::ProcessState;
using qvtrace::detail::t_state;
using qvtrace::detail::TraceLockBounded;
using qvtrace::detail::TraceLockNow;
using qvtrace::detail::TraceLockUnlessStuck;

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

// A thread's record counts at most this many registrations.
constexpr int kMaxThreadRegistrations = 127;

bool RegisterHeld(int32_t* result);
bool TerminateHeld(uint32_t threadId, int32_t clear, int32_t quiet);

// What the calling thread's record showed, for judging its lines while the mutex cannot be had.
void RememberRecord(const ThreadInfo* thread) {
  t_state.seenRegistered = thread != nullptr;
  if (thread != nullptr) t_state.seenFilter = qvtrace::detail::FilterOf(*thread);
}

bool SeenWanted(int32_t level, uint32_t contextMask) {
  return t_state.seenRegistered && t_state.seenFilter.Passes(level, contextMask);
}

void CountDroppedLine(int32_t level) {
  if (t_state.droppedLines == 0 || level < t_state.droppedLevel) t_state.droppedLevel = level;
  if (t_state.droppedLines < 0xFFFFFFFFu) ++t_state.droppedLines;
}

int32_t DeferRegistration() {
  if (t_state.deferredRegistrations >= kMaxThreadRegistrations) return 0;
  ++t_state.deferredRegistrations;
  return 1;
}

bool CatchUp();

// The last chance for unregistrations put off when no operation followed them.
void CatchUpAtExit() {
  if (g_state.deferredCount.load() == 0 || !TraceLockBounded()) return;
  if (CatchUp()) TraceUnlock();
}

void DeferUnregistration(uint32_t threadId, int32_t clear, int32_t quiet) {
  static const bool atExit = std::atexit(&CatchUpAtExit) == 0;
  (void)atExit;
  std::lock_guard<std::mutex> hold(g_state.deferredLock);
  if (g_state.deferredCount < ProcessState::kDeferredCapacity) {
    g_state.deferred[g_state.deferredCount++] = {threadId, clear, quiet};
  }
}

bool TakeDeferredUnregistration(ProcessState::DeferredUnregistration* next) {
  if (g_state.deferredCount.load(std::memory_order_relaxed) == 0) return false;
  std::lock_guard<std::mutex> hold(g_state.deferredLock);
  if (g_state.deferredCount == 0) return false;
  *next = g_state.deferred[0];
  for (size_t i = 1; i < g_state.deferredCount; ++i) g_state.deferred[i - 1] = g_state.deferred[i];
  --g_state.deferredCount;
  return true;
}

// One line for the lines of this thread that were dropped, at the most important level among them, when its
// record still lets such a line pass.
void ReportDroppedLines() {
  if (t_state.droppedLines == 0) return;
  const uint32_t count = t_state.droppedLines;
  const int32_t level = t_state.droppedLevel;
  t_state.droppedLines = 0;
  const uint32_t processId = platform::CurrentProcessId();
  const uint32_t threadId = platform::CurrentThreadId();
  const ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 0, 0);
  if (thread == nullptr || !TraceShouldOutput(thread, level, 0xFFFFFFFF)) return;
  wchar_t message[kLineChars];
  qvtrace::FormatWide(message, kLineChars, L"QVTRACE: %u line(s) dropped while the trace mutex was held elsewhere",
                      count);
  OutputMessage(processId, threadId, thread, level, 0xFFFFFFFF, message);
}

// Work left over from times the mutex could not be had: unregistrations of any thread of the process, this
// thread's registrations, and the report of its dropped lines. Done at the outermost hold only. False: the
// mutex was lost on the way (an unregistration let it go to wait for the log writer and could not have it back).
bool CatchUp() {
  if (t_state.lockDepth != 1 || t_state.catchingUp) return true;
  t_state.catchingUp = true;
  bool held = true;
  ProcessState::DeferredUnregistration next{};
  while (held && TakeDeferredUnregistration(&next)) held = TerminateHeld(next.threadId, next.clear, next.quiet);
  int32_t ignored = 0;
  while (held && t_state.deferredRegistrations > 0) {
    --t_state.deferredRegistrations;
    held = RegisterHeld(&ignored);
  }
  if (held) ReportDroppedLines();
  t_state.catchingUp = false;
  return held;
}

// The mutex for an operation, within the bound, with the work left over done. False: nothing is held.
bool HoldForOperation() { return TraceLockBounded() && CatchUp(); }

// The registration of the calling thread, with the mutex held. Always true: it never lets the mutex go.
bool RegisterHeld(int32_t* result) {
  const uint32_t processId = platform::CurrentProcessId();
  const uint32_t threadId = platform::CurrentThreadId();
  int32_t wasRegistered = 0;
  *result = TraceInitInternal(processId, threadId, &wasRegistered);
  if (*result != 1) return true;
  if (wasRegistered == 0) {
    wchar_t header[kCallHeaderChars];
    CallHeader(header, processId, threadId, L"TraceInitEx");
    TraceRawOutput(L"%ls QVTRACE Version %d: #Processes=%d #Threads=%d Memory=%d KB", header, qvtrace::kVersion,
                   kMaxProcesses, kMaxThreads, kMemoryKB);
  }
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
  ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 1, 0);
  RememberRecord(thread);
  if (proc == nullptr || thread == nullptr) {
    *result = 0;
    return true;
  }
  if (wasRegistered != 0) return true;

  TraceSetVerboseLevel(3);
  TraceSetContext(0xFFFFFFFF);

  qvtrace::detail::StartLogWriter(proc);

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
  return true;
}

// The unregistration of threadId, with the mutex held. False: the mutex was let go to wait for the log writer and
// could not be had back in time; the rest of the unregistration is then left for the next operation.
bool TerminateHeld(uint32_t threadId, int32_t clear, int32_t quiet) {
  const uint32_t processId = platform::CurrentProcessId();
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
  if (proc == nullptr) return true;
  TraceFlushLog();

  if (!qvtrace::detail::StopLogWriter(proc)) {
    DeferUnregistration(threadId, clear, quiet);
    return false;
  }
  proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
  if (proc == nullptr) return true;

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
    return true;
  }

  const int32_t processBefore = proc->refCount;
  const int32_t threadBefore = thread->refCount;
  proc->refCount = static_cast<int16_t>(processBefore - 1);
  thread->refCount = static_cast<int8_t>(threadBefore - 1);
  const int32_t processAfter = proc->refCount;
  const int32_t threadAfter = thread->refCount;
  if (threadAfter == 0 && clear == 1) qvtrace::detail::MakeThreadFresh(thread, 0);
  if (threadId == platform::CurrentThreadId()) RememberRecord(thread->threadId == threadId ? thread : nullptr);
  if (quiet == 0) {
    TraceRawOutput(L"%ls Reference count - Process %d -> %d / Thread  %d -> %d %ls", header, processBefore,
                   processAfter, threadBefore, threadAfter, threadAfter == 0 ? L"/ LAST THREAD REF released" : L"");
  }
  if (processAfter != 0) return true;

  if (threadId == platform::CurrentThreadId()) RememberRecord(nullptr);
  qvtrace::detail::ForgetLogWriter();
  qvtrace::detail::ReleaseProcessRecord(proc, header);
  return true;
}

}  // namespace

uint32_t TraceCurrentProcessId() { return platform::CurrentProcessId(); }
uint32_t TraceCurrentThreadId() { return platform::CurrentThreadId(); }

int32_t TraceInitEx() {
  if (!HoldForOperation()) return DeferRegistration();
  int32_t result = 0;
  RegisterHeld(&result);
  TraceUnlock();
  return result;
}

void TraceSetVerboseLevel(int32_t level) {
  const bool held = HoldForOperation();
  TraceRawOutput(L"%ls(%d)", L"TraceSetVerboseLevel", level);
  if (!held) return;
  ChangeEveryThread([level](ThreadInfo* thread) { thread->verboseLevel = level; });
  TraceUnlock();
}

void TraceSetContext(uint32_t flags) {
  const bool held = HoldForOperation();
  TraceRawOutput(L"%ls(0x%08X)", L"TraceSetContext", flags);
  if (!held) return;
  ChangeEveryThread([flags](ThreadInfo* thread) { thread->contextFlags = flags; });
  TraceUnlock();
}

namespace {

// The mutex for a line of the calling thread, never waited for in vain: taken at once when it is free;
// otherwise only when the thread's record, as last seen, lets the line pass, and then within the bound. A wanted
// line that does not get it is counted. False: nothing is held.
bool HoldForLine(int32_t level, uint32_t contextMask) {
  if (!TraceLockNow()) {
    if (!SeenWanted(level, contextMask)) return false;
    if (!TraceLockUnlessStuck()) {
      CountDroppedLine(level);
      return false;
    }
  }
  if (CatchUp()) return true;
  if (SeenWanted(level, contextMask)) CountDroppedLine(level);
  return false;
}

// The line, with the mutex held.
void WriteMessageHeld(int32_t level, uint32_t contextMask, const wchar_t* format, va_list args) {
  const uint32_t processId = platform::CurrentProcessId();
  const uint32_t threadId = platform::CurrentThreadId();
  const ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(processId, threadId, 1, 0);
  RememberRecord(thread);
  if (thread == nullptr || !TraceShouldOutput(thread, level, contextMask)) return;
  wchar_t message[kLineChars];
  qvtrace::FormatWideV(message, kLineChars, format, args);
  OutputMessage(processId, threadId, thread, level, contextMask, message);
}

}  // namespace

void TraceMessage(int32_t level, uint32_t contextMask, const wchar_t* format, ...) {
  if (!HoldForLine(level, contextMask)) return;
  va_list args;
  va_start(args, format);
  WriteMessageHeld(level, contextMask, format, args);
  va_end(args);
  TraceUnlock();
}

void TraceOneShotMessage(uint32_t waitMs, int32_t level, uint32_t contextMask, const wchar_t* format, ...) {
  // One hold for the whole line: every step inside takes the mutex again without waiting, and the new log
  // writer cannot reach its loop meanwhile, so the unregistration has no writer to wait for.
  if (!TraceLockWithin(waitMs) || !CatchUp()) {
    if (SeenWanted(level, contextMask)) CountDroppedLine(level);
    return;
  }
  const uint32_t threadId = platform::CurrentThreadId();
  const bool registered = QVTRACE_GetThreadInfoPtr(platform::CurrentProcessId(), threadId, 1, 0) != nullptr;
  if (!registered) TraceInitEx();
  va_list args;
  va_start(args, format);
  WriteMessageHeld(level, contextMask, format, args);
  va_end(args);
  if (!registered) TraceTerminateThread(threadId, 1, 1);
  TraceUnlock();
}

void TraceTerminateThread(uint32_t threadId, int32_t clear, int32_t quiet) {
  // A registration that never reached the shared block is only taken back.
  if (threadId == platform::CurrentThreadId() && t_state.deferredRegistrations > 0) {
    --t_state.deferredRegistrations;
    return;
  }
  if (!HoldForOperation()) {
    DeferUnregistration(threadId, clear, quiet);
    return;
  }
  if (TerminateHeld(threadId, clear, quiet)) TraceUnlock();
}

void TraceSetThreadName(uint32_t threadId, const char* name) {
  if (name == nullptr) return;
  char full[256];
  std::snprintf(full, sizeof(full), "%s %s", "NX: ", name);
  platform::NameThread(threadId, full);
}
