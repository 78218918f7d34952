// The log file output: lines queued in the process record's pendingLog, the process's writer thread that takes
// them to the file outside the lock (its start, its loop, its stop), and the flush at unregistration.
#include "trace/trace_log_writer.h"

#include <mutex>
#include <vector>

#include "trace/trace_platform.h"
#include "trace/trace_records.h"
#include "trace/trace_shared_block.h"
#include "trace/trace_state.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;
using qvtrace::ProcInfo;
using qvtrace::ThreadInfo;
using qvtrace::detail::g_state;
using qvtrace::detail::TraceLockScope;

namespace qvtrace {
namespace detail {
namespace {

int32_t TraceLogWriterThread(uint64_t epoch);

}  // namespace

void TraceQueueLogText(uint32_t processId, ThreadInfo* thread, const wchar_t* line) {
  if ((thread->outputFlags & kOutputLogFile) == 0) return;
  ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 0, 0);
  if (proc == nullptr || proc->refCount <= 0) return;
  proc->pendingLogThreadId = thread->threadId;
  // The length found last time saves scanning up to 51200 units per line while the writer lags behind; it is
  // used only while the text still ends there.
  char16_t* pending = proc->pendingLog;
  size_t used = g_state.pendingLength;
  const bool hintHolds = g_state.pendingRecord == proc && used < kPendingLogChars && pending[used] == 0 &&
                         (used == 0 || (pending[0] != 0 && pending[used - 1] != 0));
  if (!hintHolds) {
    used = BoundedLength(pending, kPendingLogChars);
    if (used == kPendingLogChars) used = kPendingLogChars - 1;
  }
  g_state.pendingLength = AppendUtf16At(pending, kPendingLogChars, used, line);
  g_state.pendingRecord = proc;
  g_state.WakeWriter();
}

void StartLogWriter(ProcInfo* proc) {
  proc->writerStop = 0;
  if (g_state.writer != nullptr) platform::CloseWriterThread(g_state.writer);
  uint64_t handleValue = 0;
  g_state.writer = platform::StartWriterThread(&TraceLogWriterThread, ++g_state.writerEpoch, &handleValue);
  proc->writerThread = g_state.writer != nullptr ? handleValue : 0;
}

bool StopLogWriter(ProcInfo* proc) {
  if (proc->refCount != 1 || g_state.writer == nullptr || proc->writerThread == 0 || proc->writerRunning == 0) {
    return true;
  }
  proc->writerStop = 1;
  g_state.WakeWriter();
  // The waiting thread owns the writer's handle meanwhile, so no other thread waits on it or closes it.
  platform::WriterThread* writer = g_state.writer;
  g_state.writer = nullptr;
  TraceUnlock();
  const bool ended = platform::WaitWriterThread(writer, 1000);
  if (!TraceLockBounded()) {
    // The handle cannot go back without the lock; closed, a writer still running ends by itself.
    platform::CloseWriterThread(writer);
    return false;
  }
  if (!ended && g_state.writer == nullptr) {
    g_state.writer = writer;
  } else {
    platform::CloseWriterThread(writer);
  }
  return true;
}

void ForgetLogWriter() {
  if (g_state.writer != nullptr) platform::CloseWriterThread(g_state.writer);
  g_state.writer = nullptr;
  ++g_state.writerEpoch;
  g_state.WakeWriter();
}

namespace {

int32_t TraceLogWriterThread(uint64_t epoch) {
  std::vector<wchar_t> text(kPendingLogChars);
  wchar_t path[kLogFileChars];
  const uint32_t processId = platform::CurrentProcessId();
  for (;;) {
    uint64_t wakes = 0;
    {
      // Taken before the look, so that a wake-up given while looking is not lost.
      std::lock_guard<std::mutex> hold(g_state.writerWakeLock);
      wakes = g_state.writerWakes;
    }
    bool stop = false;
    bool held = false;
    uint32_t flags = 0;
    path[0] = 0;
    text[0] = 0;
    {
      // A writer of an earlier registration period, or one whose shared memory this process released, ends
      // without touching any shared object (a late start must not bring the mutex back).
      std::lock_guard<std::recursive_mutex> local(g_state.localLock);
      if (epoch != g_state.writerEpoch || g_state.view == nullptr) return -1;
      held = TraceLockUnlessStuck();
      if (held) {
        ProcInfo* proc = QVTRACE_GetProcInfoPtr(processId, 1, 0);
        if (proc != nullptr) {
          stop = proc->writerStop != 0;
          proc->writerRunning = 1;
          if (proc->pendingLog[0] != 0) {
            Utf16ToWide(proc->pendingLog, kPendingLogChars, text.data(), text.size());
            uint32_t threadId = proc->pendingLogThreadId;
            proc->pendingLog[0] = 0;
            if (ThreadInfo* thread = FindThread(proc, threadId)) {
              flags = thread->outputFlags;
              Utf16ToWide(thread->logFile, kLogFileChars, path, kLogFileChars);
            }
          }
        }
        TraceUnlock();
        if (proc == nullptr) return -1;
      }
    }
    if (!held) {
      // Another process holds the mutex: look again after a while. Not on the wake-up: a writer that has not
      // shown itself running yet is not waited for when the process ends.
      platform::SleepMilliseconds(kLockWaitMs);
      continue;
    }
    if (flags != 0 && path[0] != 0 && text[0] != 0) {
      TraceAppendToFile(flags, path, text.data());
      if (stop) return 0;
      continue;
    }
    if (stop) return 0;
    std::unique_lock<std::mutex> hold(g_state.writerWakeLock);
    g_state.writerWake.wait(hold, [wakes] { return g_state.writerWakes != wakes; });
  }
}

}  // namespace
}  // namespace detail
}  // namespace qvtrace

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
