// The trace facility on Windows: page-file mapping, named mutex, debugger output and the thread-naming exception.
#include <windows.h>
#include <psapi.h>
#include <share.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "trace/trace_platform.h"

namespace qvtrace {
namespace platform {

struct SystemMutex {
  HANDLE handle;
};

struct SharedMemory {
  HANDLE mapping;
  void* view;
};

struct WriterThread {
  HANDLE handle;
};

namespace {

constexpr DWORD kThreadNameException = 0x406D1388;

#pragma pack(push, 8)
struct ThreadNameInfo {
  DWORD type;  // 0x1000
  LPCSTR name;
  DWORD threadId;
  DWORD flags;
};
#pragma pack(pop)

// Without a debugger nobody handles the naming exception; continuing here makes RaiseException return.
// A debugger sees it first and continues it itself.
LONG CALLBACK DismissThreadNameException(EXCEPTION_POINTERS* info) {
  if (info != nullptr && info->ExceptionRecord != nullptr &&
      info->ExceptionRecord->ExceptionCode == kThreadNameException) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

struct WriterStart {
  int32_t (*entry)(uint64_t);
  uint64_t epoch;
};

DWORD WINAPI WriterEntry(LPVOID argument) {
  WriterStart start = *static_cast<WriterStart*>(argument);
  delete static_cast<WriterStart*>(argument);
  return static_cast<DWORD>(start.entry(start.epoch));
}

}  // namespace

SystemMutex* OpenSystemMutex(const wchar_t* name, bool existingOnly) {
  HANDLE handle = existingOnly ? OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name)
                               : CreateMutexW(nullptr, FALSE, name);
  if (handle == nullptr) return nullptr;
  SystemMutex* mutex = new (std::nothrow) SystemMutex{handle};
  if (mutex == nullptr) CloseHandle(handle);
  return mutex;
}

LockResult LockSystemMutex(SystemMutex* mutex, uint32_t milliseconds) {
  // WAIT_ABANDONED: the owner ended while holding it; this thread owns it now.
  DWORD result = WaitForSingleObject(mutex->handle, milliseconds == kWaitForever ? INFINITE : milliseconds);
  if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) return LockResult::kLocked;
  return result == WAIT_TIMEOUT ? LockResult::kTimedOut : LockResult::kFailed;
}

void UnlockSystemMutex(SystemMutex* mutex) { ReleaseMutex(mutex->handle); }

void CloseSystemMutex(SystemMutex* mutex) {
  CloseHandle(mutex->handle);
  delete mutex;
}

MapResult MapSharedMemory(const wchar_t* name, size_t size, bool existingOnly, SystemMutex*, SharedMemory** memory,
                          void** view, bool* created) {
  *created = false;
  HANDLE mapping = nullptr;
  if (existingOnly) {
    mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name);
  } else {
    const unsigned long long bytes = size;
    mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(bytes >> 32),
                                 static_cast<DWORD>(bytes & 0xFFFFFFFFu), name);
    *created = mapping != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  }
  if (mapping == nullptr) return MapResult::kCreateFailed;
  void* mapped = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  SharedMemory* result = mapped == nullptr ? nullptr : new (std::nothrow) SharedMemory{mapping, mapped};
  if (result == nullptr) {
    if (mapped != nullptr) UnmapViewOfFile(mapped);
    CloseHandle(mapping);
    return MapResult::kMapFailed;
  }
  *memory = result;
  *view = mapped;
  return MapResult::kMapped;
}

// The block lives as long as any process keeps a handle, and its name finds it all that time.
bool SharedMemoryCurrent(SharedMemory*, SystemMutex*) { return true; }

void UnmapSharedMemory(SharedMemory* memory, bool, SystemMutex*) {
  UnmapViewOfFile(memory->view);
  CloseHandle(memory->mapping);
  delete memory;
}

void RemoveNamedObjects(const wchar_t*, const wchar_t*) {}

void SetDebugChannel(const wchar_t*) {}

void DebugOutput(const wchar_t* text) { OutputDebugStringW(text); }

void ConsoleOutput(const wchar_t* text) {
  std::fputws(text, stdout);
  std::fflush(stdout);
}

void AppendToFile(const wchar_t* path, const wchar_t* text) {
  // "c": committed to disk when the stream is flushed at closing.
  FILE* file = _wfsopen(path, L"ac", _SH_DENYNO);
  if (file == nullptr) return;
  std::fputws(text, file);
  std::fclose(file);
}

void NameThread(uint32_t threadId, const char* fullName) {
  static std::once_flag installed;
  std::call_once(installed, [] { AddVectoredExceptionHandler(1, &DismissThreadNameException); });
  ThreadNameInfo info;
  info.type = 0x1000;
  info.name = fullName;
  info.threadId = threadId;
  info.flags = 0;
  RaiseException(kThreadNameException, 0, sizeof(info) / sizeof(ULONG_PTR), reinterpret_cast<ULONG_PTR*>(&info));
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

bool ReadWorkingSetBytes(uint32_t processId, uint64_t* bytes) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  if (process == nullptr) return false;
  PROCESS_MEMORY_COUNTERS counters;
  std::memset(&counters, 0, sizeof(counters));
  counters.cb = sizeof(counters);
  const bool ok = GetProcessMemoryInfo(process, &counters, sizeof(counters)) != 0;
  CloseHandle(process);
  if (ok) *bytes = counters.WorkingSetSize;
  return ok;
}

bool ProcessExists(uint32_t processId) {
  if (processId == 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

void LocalNow(std::tm* time, int* milliseconds) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::memset(time, 0, sizeof(*time));
  time->tm_year = now.wYear - 1900;
  time->tm_mon = now.wMonth - 1;
  time->tm_mday = now.wDay;
  time->tm_wday = now.wDayOfWeek;
  time->tm_hour = now.wHour;
  time->tm_min = now.wMinute;
  time->tm_sec = now.wSecond;
  time->tm_isdst = -1;
  *milliseconds = now.wMilliseconds;
}

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

WriterThread* StartWriterThread(int32_t (*entry)(uint64_t), uint64_t epoch, uint64_t* recordValue) {
  auto* start = new (std::nothrow) WriterStart{entry, epoch};
  auto* thread = new (std::nothrow) WriterThread{nullptr};
  if (start == nullptr || thread == nullptr) {
    delete start;
    delete thread;
    return nullptr;
  }
  thread->handle = CreateThread(nullptr, 0, &WriterEntry, start, 0, nullptr);
  if (thread->handle == nullptr) {
    delete start;
    delete thread;
    return nullptr;
  }
  *recordValue = reinterpret_cast<uint64_t>(thread->handle);
  return thread;
}

bool WaitWriterThread(WriterThread* thread, uint32_t milliseconds) {
  return WaitForSingleObject(thread->handle, milliseconds) == WAIT_OBJECT_0;
}

void CloseWriterThread(WriterThread* thread) {
  CloseHandle(thread->handle);
  delete thread;
}

}  // namespace platform
}  // namespace qvtrace
