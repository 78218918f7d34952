// Cost of TraceMessage for a registered thread: output off (lock and look-up only, or no lock at all while another
// thread holds it), and with the log file on (formatting, header with the memory query, queueing for the writer
// thread). Runs on names of its own.
#include <unistd.h>

#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "trace/process_cache.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_text.h"

namespace {

void Configure(uint32_t outputFlags, uint32_t headerMode, const std::wstring& logFile) {
  TraceLock();
  if (qvtrace::ThreadInfo* thread = QVTRACE_GetThreadInfoPtr(TraceCurrentProcessId(), TraceCurrentThreadId(), 1, 0)) {
    thread->outputFlags = outputFlags;
    thread->headerMode = headerMode;
    qvtrace::CopyToUtf16(thread->logFile, qvtrace::kLogFileChars, logFile.c_str());
  }
  TraceUnlock();
}

void BM_TraceMessageUnregistered(benchmark::State& state) {
  for (auto _ : state) TraceMessage(3, 0xFFFFFFFF, L"%ls() - Timestamps not set for %ls", L"Receive", L"Sink");
}
BENCHMARK(BM_TraceMessageUnregistered);

void BM_TraceMessageOutputOff(benchmark::State& state) {
  TraceInitEx();
  for (auto _ : state) TraceMessage(3, 0xFFFFFFFF, L"%ls() - Timestamps not set for %ls", L"Receive", L"Sink");
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}
BENCHMARK(BM_TraceMessageOutputOff);

// The same while another thread holds the mutex (as a stuck process would): judged from the thread's settings as
// last seen, without the mutex.
void BM_TraceMessageOutputOffWhileHeld(benchmark::State& state) {
  TraceInitEx();
  std::promise<void> held;
  std::promise<void> release;
  std::thread holder([&] {
    TraceLock();
    held.set_value();
    release.get_future().wait();
    TraceUnlock();
  });
  held.get_future().wait();
  for (auto _ : state) TraceMessage(3, 0xFFFFFFFF, L"%ls() - Timestamps not set for %ls", L"Receive", L"Sink");
  release.set_value();
  holder.join();
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
}
BENCHMARK(BM_TraceMessageOutputOffWhileHeld);

void BM_TraceMessageLogFile(benchmark::State& state) {
  const std::string path = "/tmp/qvtrace-bench-" + std::to_string(getpid()) + ".log";
  TraceInitEx();
  Configure(qvtrace::kOutputLogFile, static_cast<uint32_t>(state.range(0)), qvtrace::Utf8ToWide(path));
  for (auto _ : state) TraceMessage(3, 0xFFFFFFFF, L"%ls() - Timestamps not set for %ls", L"Receive", L"Sink");
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  std::remove(path.c_str());
}
// Header mode 1: no header; 3: full header with the working-set query. Lines that find the pending text full
// (the writer lags behind) are cut, so this is the cost seen by the tracing thread.
BENCHMARK(BM_TraceMessageLogFile)->Arg(1)->Arg(3);

bool NothingPending() {
  TraceLock();
  qvtrace::ProcInfo* proc = QVTRACE_GetProcInfoPtr(TraceCurrentProcessId(), 1, 0);
  const bool empty = proc == nullptr || proc->pendingLog[0] == 0;
  TraceUnlock();
  return empty;
}

// Every line reaches the file: after each 200 lines (well within the pending text) the thread waits until the
// writer has taken them, so the wall time per line includes the writer's file work.
void BM_TraceMessageLogFileWritten(benchmark::State& state) {
  const std::string path = "/tmp/qvtrace-bench-" + std::to_string(getpid()) + ".log";
  TraceInitEx();
  Configure(qvtrace::kOutputLogFile, 1, qvtrace::Utf8ToWide(path));
  int lines = 0;
  for (auto _ : state) {
    TraceMessage(3, 0xFFFFFFFF, L"%ls() - Timestamps not set for %ls", L"Receive", L"Sink");
    if (++lines % 200 == 0) {
      while (!NothingPending()) usleep(100);
    }
  }
  TraceTerminateThread(TraceCurrentThreadId(), 1, 1);
  std::remove(path.c_str());
}
BENCHMARK(BM_TraceMessageLogFileWritten)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  TraceSetObjectNamesForTesting(qvtrace::Utf8ToWide("QVTRACE_BENCH_" + std::to_string(getpid())).c_str());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TraceRemoveObjectsForTesting();
  return 0;
}
