// The trace facility on POSIX: shared-memory objects for the block and the mutex, a local datagram channel as
// the debugger output, /proc for memory figures and thread names.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "trace/debug_channel_posix.h"
#include "trace/object_names_posix.h"
#include "trace/trace_platform.h"
#include "trace/trace_text.h"

namespace qvtrace {
namespace platform {
namespace {

// The mutex object: initialised once by whichever process moves state from 0 to 1. The generation counts the
// removals of the shared block's name, so a process can tell that its old mapping is no longer the current one.
struct MutexBlock {
  std::atomic<uint32_t> state;  // 0 new, 1 being initialised, 2 ready
  uint32_t cacheGeneration;     // changed only with the mutex held
  pthread_mutex_t mutex;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free, "the state word is shared between processes");

constexpr uint32_t kStateNew = 0;
constexpr uint32_t kStateInitialising = 1;
constexpr uint32_t kStateReady = 2;
constexpr int kReadyWaitMs = 2000;

// Only objects of our own user that nobody else may open are trusted.
bool TrustedObject(int fd, struct stat* info) {
  if (fstat(fd, info) != 0) return false;
  return info->st_uid == geteuid() && (info->st_mode & 077) == 0;
}

struct timespec RealtimeAfter(uint32_t milliseconds) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_sec += milliseconds / 1000;
  ts.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (ts.tv_nsec >= 1000000000L) {
    ts.tv_sec += 1;
    ts.tv_nsec -= 1000000000L;
  }
  return ts;
}

// Debugger channel: one non-blocking datagram socket per process; nothing is sent when nobody listens.
std::mutex g_channelLock;
int g_channelSocket = -1;
std::string g_channelAddress;

}  // namespace

struct SystemMutex {
  int fd;
  MutexBlock* block;
};

struct SharedMemory {
  int fd;
  void* view;
  size_t size;
  uint32_t generation;
  std::string path;
};

struct WriterThread {
  pthread_t thread;
  bool joined;
};

SystemMutex* OpenSystemMutex(const wchar_t* name, bool existingOnly) {
  const std::string path = SharedObjectPath(name);
  int fd = shm_open(path.c_str(), O_RDWR | O_CLOEXEC | (existingOnly ? 0 : O_CREAT), 0600);
  if (fd < 0) return nullptr;
  struct stat info;
  if (!TrustedObject(fd, &info)) {
    close(fd);
    return nullptr;
  }
  // Growing is harmless when two processes race here: the new bytes read as zero, which is state "new".
  if (info.st_size < static_cast<off_t>(sizeof(MutexBlock)) && ftruncate(fd, sizeof(MutexBlock)) != 0) {
    close(fd);
    return nullptr;
  }
  void* view = mmap(nullptr, sizeof(MutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  auto* block = static_cast<MutexBlock*>(view);
  uint32_t expected = kStateNew;
  if (block->state.compare_exchange_strong(expected, kStateInitialising, std::memory_order_acq_rel)) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    int rc = pthread_mutex_init(&block->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    block->cacheGeneration = 0;
    block->state.store(rc == 0 ? kStateReady : kStateNew, std::memory_order_release);
  }
  // Another process may be initialising it at this moment.
  for (int waited = 0; block->state.load(std::memory_order_acquire) != kStateReady; ++waited) {
    if (waited >= kReadyWaitMs) {
      munmap(view, sizeof(MutexBlock));
      close(fd);
      return nullptr;
    }
    SleepMilliseconds(1);
  }
  SystemMutex* mutex = new (std::nothrow) SystemMutex{fd, block};
  if (mutex == nullptr) {
    munmap(view, sizeof(MutexBlock));
    close(fd);
  }
  return mutex;
}

LockResult LockSystemMutex(SystemMutex* mutex, uint32_t milliseconds) {
  int rc = 0;
  if (milliseconds == kWaitForever) {
    rc = pthread_mutex_lock(&mutex->block->mutex);
  } else if (milliseconds == 0) {
    rc = pthread_mutex_trylock(&mutex->block->mutex);
    if (rc == EBUSY) rc = ETIMEDOUT;
  } else {
    const struct timespec deadline = RealtimeAfter(milliseconds);
    rc = pthread_mutex_timedlock(&mutex->block->mutex, &deadline);
  }
  if (rc == EOWNERDEAD) {
    // The holder died; as with an abandoned Windows mutex, the next waiter owns it and goes on.
    pthread_mutex_consistent(&mutex->block->mutex);
    return LockResult::kLocked;
  }
  if (rc == ETIMEDOUT) return LockResult::kTimedOut;
  return rc == 0 ? LockResult::kLocked : LockResult::kFailed;
}

void UnlockSystemMutex(SystemMutex* mutex) { pthread_mutex_unlock(&mutex->block->mutex); }

void CloseSystemMutex(SystemMutex* mutex) {
  // The object itself stays: removing its name while another process waits on it would let two processes
  // hold two different mutexes for the same block.
  munmap(mutex->block, sizeof(MutexBlock));
  close(mutex->fd);
  delete mutex;
}

MapResult MapSharedMemory(const wchar_t* name, size_t size, bool existingOnly, SystemMutex* mutex,
                          SharedMemory** memory, void** view, bool* created) {
  const std::string path = SharedObjectPath(name);
  *created = false;
  int fd = -1;
  if (!existingOnly) {
    fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      *created = true;
    } else if (errno != EEXIST) {
      return MapResult::kCreateFailed;
    }
  }
  if (fd < 0) fd = shm_open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return MapResult::kCreateFailed;
  struct stat info;
  // A block that is too short would fault on access; a creator that died before sizing it left it empty.
  if (!TrustedObject(fd, &info) ||
      (info.st_size < static_cast<off_t>(size) && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    close(fd);
    if (*created) shm_unlink(path.c_str());
    return MapResult::kCreateFailed;
  }
  void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  SharedMemory* result = mapped == MAP_FAILED
                             ? nullptr
                             : new (std::nothrow) SharedMemory{fd, mapped, size, mutex->block->cacheGeneration, path};
  if (result == nullptr) {
    if (mapped != MAP_FAILED) munmap(mapped, size);
    close(fd);
    if (*created) shm_unlink(path.c_str());
    return MapResult::kMapFailed;
  }
  *memory = result;
  *view = mapped;
  return MapResult::kMapped;
}

bool SharedMemoryCurrent(SharedMemory* memory, SystemMutex* mutex) {
  return memory->generation == mutex->block->cacheGeneration;
}

void UnmapSharedMemory(SharedMemory* memory, bool lastUser, SystemMutex* mutex) {
  munmap(memory->view, memory->size);
  close(memory->fd);
  if (lastUser && mutex != nullptr && SharedMemoryCurrent(memory, mutex)) {
    shm_unlink(memory->path.c_str());
    ++mutex->block->cacheGeneration;
  }
  delete memory;
}

void RemoveNamedObjects(const wchar_t* memoryName, const wchar_t* mutexName) {
  shm_unlink(SharedObjectPath(memoryName).c_str());
  shm_unlink(SharedObjectPath(mutexName).c_str());
}

void SetDebugChannel(const wchar_t* baseName) {
  std::lock_guard<std::mutex> lock(g_channelLock);
  g_channelAddress = DebugChannelAddress(baseName);
}

void DebugOutput(const wchar_t* text) {
  const std::string bytes = WideToUtf8(text);
  std::lock_guard<std::mutex> lock(g_channelLock);
  if (g_channelAddress.empty()) return;
  if (g_channelSocket < 0) {
    g_channelSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (g_channelSocket < 0) return;
  }
  struct sockaddr_un address;
  socklen_t length = FillDebugChannelAddress(g_channelAddress, &address);
  // Nobody listening, or a listener that is behind: the text is dropped, never waited for.
  sendto(g_channelSocket, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
         reinterpret_cast<const struct sockaddr*>(&address), length);
}

void ConsoleOutput(const wchar_t* text) {
  const std::string bytes = WideToUtf8(text);
  std::fputs(bytes.c_str(), stdout);
  std::fflush(stdout);
}

void AppendToFile(const wchar_t* path, const wchar_t* text) {
  const std::string file = WideToUtf8(path);
  int fd = open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string bytes = WideToUtf8(text);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  fdatasync(fd);  // committed, as the log must survive a crash of the process right after
  close(fd);
}

void NameThread(uint32_t threadId, const char* fullName) {
  // The system keeps 15 bytes of a thread's name; cut at a character boundary.
  char name[16];
  size_t length = strnlen(fullName, 15);
  while (length > 0 && length < std::strlen(fullName) &&
         (static_cast<unsigned char>(fullName[length]) & 0xC0) == 0x80) {
    --length;
  }
  std::memcpy(name, fullName, length);
  name[length] = 0;
  if (threadId == CurrentThreadId()) {
    pthread_setname_np(pthread_self(), name);
    return;
  }
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/self/task/%u/comm", threadId);
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  ssize_t ignored = write(fd, name, length);
  (void)ignored;
  close(fd);
}

namespace {
// getpid and gettid are system calls on every use, so both are kept; a forked child forgets them.
std::atomic<uint32_t> g_processId{0};
std::atomic<uint32_t> g_forks{0};
void ForgetIds() {
  g_processId.store(0, std::memory_order_relaxed);
  g_forks.fetch_add(1, std::memory_order_relaxed);
}
void WatchForks() {
  static const int registered = pthread_atfork(nullptr, nullptr, &ForgetIds);
  (void)registered;
}
}  // namespace

uint32_t CurrentProcessId() {
  uint32_t id = g_processId.load(std::memory_order_relaxed);
  if (id == 0) {
    WatchForks();
    id = static_cast<uint32_t>(getpid());
    g_processId.store(id, std::memory_order_relaxed);
  }
  return id;
}

uint32_t CurrentThreadId() {
  thread_local uint32_t id = 0;
  thread_local uint32_t forks = 0;
  const uint32_t now = g_forks.load(std::memory_order_relaxed);
  if (id == 0 || forks != now) {
    WatchForks();
    id = static_cast<uint32_t>(gettid());
    forks = now;
  }
  return id;
}

bool ReadWorkingSetBytes(uint32_t processId, uint64_t* bytes) {
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/%u/statm", processId);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[128];
  ssize_t n = read(fd, text, sizeof(text) - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = 0;
  unsigned long long total = 0;
  unsigned long long resident = 0;
  if (std::sscanf(text, "%llu %llu", &total, &resident) != 2) return false;
  *bytes = resident * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
  return true;
}

bool ProcessExists(uint32_t processId) {
  // 0 and values that read as negative would address process groups.
  if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX)) return false;
  return kill(static_cast<pid_t>(processId), 0) == 0 || errno != ESRCH;
}

void LocalNow(std::tm* time, int* milliseconds) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  localtime_r(&ts.tv_sec, time);
  *milliseconds = static_cast<int>(ts.tv_nsec / 1000000L);
}

void SleepMilliseconds(uint32_t milliseconds) {
  struct timespec ts = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace {
// Owned by the new thread: the handle may be closed before the thread first runs.
struct WriterStart {
  int32_t (*entry)(uint64_t);
  uint64_t epoch;
};

void* WriterEntry(void* argument) {
  WriterStart start = *static_cast<WriterStart*>(argument);
  delete static_cast<WriterStart*>(argument);
  start.entry(start.epoch);
  return nullptr;
}
}  // namespace

WriterThread* StartWriterThread(int32_t (*entry)(uint64_t), uint64_t epoch, uint64_t* recordValue) {
  auto* thread = new (std::nothrow) WriterThread{};
  auto* start = new (std::nothrow) WriterStart{entry, epoch};
  if (thread == nullptr || start == nullptr || pthread_create(&thread->thread, nullptr, &WriterEntry, start) != 0) {
    delete thread;
    delete start;
    return nullptr;
  }
  *recordValue = static_cast<uint64_t>(thread->thread);
  return thread;
}

bool WaitWriterThread(WriterThread* thread, uint32_t milliseconds) {
  if (thread->joined) return true;
  struct timespec deadline = RealtimeAfter(milliseconds);
  if (pthread_timedjoin_np(thread->thread, nullptr, &deadline) == 0) thread->joined = true;
  return thread->joined;
}

void CloseWriterThread(WriterThread* thread) {
  if (!thread->joined) pthread_detach(thread->thread);
  delete thread;
}

}  // namespace platform
}  // namespace qvtrace
