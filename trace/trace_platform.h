// What the trace facility needs from the operating system; trace_platform_win.cpp and trace_platform_posix.cpp
// provide it. Callers serialise the mutex and memory functions with the process-local lock (trace_state.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace qvtrace {
namespace platform {

struct SystemMutex;
struct SharedMemory;
struct WriterThread;

// The system-wide recursive mutex of the given name, created or opened (existingOnly: only opened); null when
// that fails.
SystemMutex* OpenSystemMutex(const wchar_t* name, bool existingOnly);
enum class LockResult { kLocked, kTimedOut, kFailed };
constexpr uint32_t kWaitForever = 0xFFFFFFFF;
// Waits up to milliseconds (kWaitForever: without limit). An owner that died releases it to the next waiter
// (which goes on as the owner). kFailed only when the mutex is broken beyond use.
LockResult LockSystemMutex(SystemMutex* mutex, uint32_t milliseconds);
void UnlockSystemMutex(SystemMutex* mutex);
void CloseSystemMutex(SystemMutex* mutex);

enum class MapResult { kMapped, kCreateFailed, kMapFailed };

// Creates or opens the named shared memory of size bytes and maps all of it read-write; with existingOnly a
// missing block is not created (kCreateFailed). *created tells whether it did not exist before. Called with
// mutex held.
MapResult MapSharedMemory(const wchar_t* name, size_t size, bool existingOnly, SystemMutex* mutex,
                          SharedMemory** memory, void** view, bool* created);
// False when the mapped block is no longer the one its name stands for (it was removed since); mutex held.
bool SharedMemoryCurrent(SharedMemory* memory, SystemMutex* mutex);
// Unmaps and closes; lastUser: no registered process is left, so the name goes too where names outlive their
// users (POSIX). Called with mutex held.
void UnmapSharedMemory(SharedMemory* memory, bool lastUser, SystemMutex* mutex);

// Removes the named objects where names outlive their users (POSIX); nothing elsewhere.
void RemoveNamedObjects(const wchar_t* memoryName, const wchar_t* mutexName);

// Debugger output: the text as it is, without a line end of its own. Where there is no system debugger channel
// (POSIX) the lines go to a channel named after baseName that `qvtrace monitor` reads.
void SetDebugChannel(const wchar_t* baseName);
void DebugOutput(const wchar_t* text);
void ConsoleOutput(const wchar_t* text);
// Appends text to the file at path, shared with other writers and readers, committed at close. A file that
// cannot be opened is skipped.
void AppendToFile(const wchar_t* path, const wchar_t* text);
// Raises the debugger's thread-naming event for threadId with the full name (already "NX:  ..."); execution
// always goes on.
void NameThread(uint32_t threadId, const char* fullName);

uint32_t CurrentProcessId();
uint32_t CurrentThreadId();
// False when the process cannot be opened or read.
bool ReadWorkingSetBytes(uint32_t processId, uint64_t* bytes);
// False only when the process certainly no longer exists.
bool ProcessExists(uint32_t processId);

// Local time now, with milliseconds.
void LocalNow(std::tm* time, int* milliseconds);
void SleepMilliseconds(uint32_t milliseconds);

// The log writer thread: started with default stack, handed epoch; recordValue is what the shared record shows
// as its handle. Wait returns true when the thread has ended within the time. Close lets a thread that is still
// running go on by itself and frees the handle.
WriterThread* StartWriterThread(int32_t (*entry)(uint64_t epoch), uint64_t epoch, uint64_t* recordValue);
bool WaitWriterThread(WriterThread* thread, uint32_t milliseconds);
void CloseWriterThread(WriterThread* thread);

}  // namespace platform
}  // namespace qvtrace
