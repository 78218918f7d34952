// The byte layout of the trace facility's shared memory: the contract with every other process that maps it.
// Any process may change any field at any time under the system-wide mutex, so readers check every value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvtrace {

constexpr int32_t kVersion = 7;
constexpr int32_t kMaxProcesses = 32;
constexpr int32_t kMaxThreads = 96;
constexpr uint32_t kThreadMagic = 0xDEADBEEF;

constexpr size_t kPrefixChars = 4096;
constexpr size_t kLogFileChars = 256;
constexpr size_t kPendingLogChars = 51200;

// Wide text in the block is UTF-16 on every platform, so the block is the same everywhere.
struct ThreadInfo {
  uint32_t magic;
  uint32_t threadId;
  uint64_t lastWorkingSetKB;
  char16_t prefix[kPrefixChars];
  uint32_t outputFlags;
  uint32_t headerMode;
  uint32_t contextFlags;
  int32_t verboseLevel;
  int8_t refCount;
  uint8_t reserved1[3];
  char16_t logFile[kLogFileChars];
  uint8_t reserved2[4];
};

struct ProcInfo {
  int16_t refCount;
  uint8_t reserved1[6];
  uint32_t processId;
  uint8_t reserved2[4];
  ThreadInfo threads[kMaxThreads];
  char16_t pendingLog[kPendingLogChars];
  uint32_t pendingLogThreadId;
  uint8_t reserved3[4];
  uint64_t writerThread;
  uint8_t writerRunning;
  uint8_t writerStop;
  uint8_t reserved4[6];
};

struct ProcessCache {
  ProcInfo processes[kMaxProcesses];
};

// outputFlags bits.
constexpr uint32_t kOutputDebugger = 1u << 0;
constexpr uint32_t kOutputConsole = 1u << 1;
constexpr uint32_t kOutputLogFile = 1u << 2;

constexpr size_t kProcessCacheBytes = 30139648;

static_assert(sizeof(char16_t) == 2, "text fields are UTF-16 code units");
static_assert(offsetof(ThreadInfo, magic) == 0, "layout");
static_assert(offsetof(ThreadInfo, threadId) == 4, "layout");
static_assert(offsetof(ThreadInfo, lastWorkingSetKB) == 8, "layout");
static_assert(offsetof(ThreadInfo, prefix) == 16, "layout");
static_assert(sizeof(ThreadInfo::prefix) == 8192, "layout");
static_assert(offsetof(ThreadInfo, outputFlags) == 8208, "layout");
static_assert(offsetof(ThreadInfo, headerMode) == 8212, "layout");
static_assert(offsetof(ThreadInfo, contextFlags) == 8216, "layout");
static_assert(offsetof(ThreadInfo, verboseLevel) == 8220, "layout");
static_assert(offsetof(ThreadInfo, refCount) == 8224, "layout");
static_assert(offsetof(ThreadInfo, logFile) == 8228, "layout");
static_assert(sizeof(ThreadInfo::logFile) == 512, "layout");
static_assert(sizeof(ThreadInfo) == 8744, "layout");

static_assert(offsetof(ProcInfo, refCount) == 0, "layout");
static_assert(offsetof(ProcInfo, processId) == 8, "layout");
static_assert(offsetof(ProcInfo, threads) == 16, "layout");
static_assert(sizeof(ProcInfo::threads) == 96 * 8744, "layout");
static_assert(offsetof(ProcInfo, pendingLog) == 839440, "layout");
static_assert(sizeof(ProcInfo::pendingLog) == 102400, "layout");
static_assert(offsetof(ProcInfo, pendingLogThreadId) == 941840, "layout");
static_assert(offsetof(ProcInfo, writerThread) == 941848, "layout");
static_assert(offsetof(ProcInfo, writerRunning) == 941856, "layout");
static_assert(offsetof(ProcInfo, writerStop) == 941857, "layout");
static_assert(sizeof(ProcInfo) == 941864, "layout");

static_assert(sizeof(ProcessCache) == kProcessCacheBytes, "layout");
static_assert(sizeof(ProcessCache) == 32 * sizeof(ProcInfo), "layout");

}  // namespace qvtrace
