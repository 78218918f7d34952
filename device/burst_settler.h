// Turns a burst of notifications into one call, made once the notifications have stopped for a while. Notify
// may be called from any thread; the call runs on a thread of the settler's own, which exists only while a
// burst is settling or its call runs. One lock, m_lock, guards every field below the constants.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class BurstSettler {
 public:
  // settled runs quiet after the last Notify of a burst. It should only hand the news on.
  BurstSettler(std::chrono::milliseconds quiet, std::function<void()> settled);
  ~BurstSettler();
  BurstSettler(const BurstSettler&) = delete;
  BurstSettler& operator=(const BurstSettler&) = delete;

  // Starts a burst, or moves the call of the current one to quiet from now. Ignored after Stop.
  void Notify();
  // Drops a pending call and waits for one in progress; once it returns, settled is not called again.
  // Idempotent. Not from inside settled.
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;
  void Settle();

  const std::chrono::milliseconds m_quiet;
  const std::function<void()> m_settled;

  std::mutex m_lock;
  std::condition_variable m_wake;
  std::thread m_thread;
  bool m_threadActive = false;  // m_thread has not yet taken its last step under the lock
  bool m_pending = false;       // a Notify that settled has not answered yet
  bool m_stopped = false;
  Clock::time_point m_due;
};
