// The record registry in the shared block: finding, taking, counting and freeing process and thread records,
// and the registration count. Every function takes the lock itself (the helpers expect it held).
#include "trace/trace_records.h"

#include <cstring>

#include "trace/trace_notices.h"
#include "trace/trace_platform.h"
#include "trace/trace_shared_block.h"
#include "trace/trace_state.h"
#include "trace/trace_text.h"

namespace platform = qvtrace::platform;
using qvtrace::kMaxProcesses;
using qvtrace::kMaxThreads;
using qvtrace::ProcessCache;
using qvtrace::ProcInfo;
using qvtrace::ThreadInfo;
using qvtrace::detail::g_state;
using qvtrace::detail::t_state;
using qvtrace::detail::TraceLockScope;

namespace qvtrace {
namespace detail {

void MakeThreadFresh(ThreadInfo* thread, uint32_t owner) {
  std::memset(thread, 0, sizeof(*thread));
  thread->magic = kThreadMagic;
  thread->threadId = owner;
  thread->headerMode = 3;
  thread->verboseLevel = 3;
}

void FreeProcInfo(ProcInfo* proc) {
  for (ThreadInfo& thread : proc->threads) MakeThreadFresh(&thread, 0);
  proc->refCount = 0;
  proc->processId = 0;
  proc->pendingLogThreadId = 0;
  proc->pendingLog[0] = 0;
  proc->writerThread = 0;
  proc->writerRunning = 0;
  proc->writerStop = 1;
  g_state.WakeWriter();
}

ThreadInfo* FindThread(ProcInfo* proc, uint32_t threadId) {
  if (threadId == 0) return nullptr;
  if (t_state.threadHintRecord == proc && proc->threads[t_state.threadHint].threadId == threadId) {
    return &proc->threads[t_state.threadHint];
  }
  for (size_t i = 0; i < kMaxThreads; ++i) {
    if (proc->threads[i].threadId == threadId) {
      t_state.threadHintRecord = proc;
      t_state.threadHint = i;
      return &proc->threads[i];
    }
  }
  return nullptr;
}

void ReleaseProcessRecord(ProcInfo* proc, const wchar_t* header) {
  FreeProcInfo(proc);
  g_state.ownRecordPid = 0;
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
  g_state.closeMutexAtUnlock = true;
}

}  // namespace detail
}  // namespace qvtrace

using qvtrace::detail::FindThread;
using qvtrace::detail::FreeProcInfo;
using qvtrace::detail::MapProcessCache;

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
  if (cache->processes[g_state.processHint].processId == processId) {
    found = &cache->processes[g_state.processHint];
  } else {
    for (size_t i = 0; i < kMaxProcesses; ++i) {
      if (cache->processes[i].processId == processId) {
        found = &cache->processes[i];
        g_state.processHint = i;
        break;
      }
    }
  }
  if (found != nullptr && processId == platform::CurrentProcessId() && g_state.ownRecordPid != processId) {
    // Left behind by a process that died with our identifier: it must not pass its registration on.
    FreeProcInfo(found);
    found = nullptr;
  }
  if (found != nullptr) {
    if (warn != 0 && found->refCount <= 0) {
      qvtrace::detail::NotRegisteredNotice();
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
    if (processId == platform::CurrentProcessId()) g_state.ownRecordPid = processId;
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
    qvtrace::detail::MakeThreadFresh(&thread, threadId);
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
    wchar_t header[qvtrace::detail::kCallHeaderChars];
    qvtrace::detail::CallHeader(header, processId, threadId, L"TraceInitInternal");
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
