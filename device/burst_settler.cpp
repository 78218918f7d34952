// The settling of notification bursts: a short-lived thread that waits until the burst has been quiet.
#include "device/burst_settler.h"

#include <exception>
#include <system_error>
#include <utility>

BurstSettler::BurstSettler(std::chrono::milliseconds quiet, std::function<void()> settled)
    : m_quiet(quiet), m_settled(std::move(settled)) {}

BurstSettler::~BurstSettler() { Stop(); }

void BurstSettler::Notify() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (m_stopped) return;
  m_due = Clock::now() + m_quiet;
  m_pending = true;
  // A waiting thread finds the later time when it wakes at the earlier one.
  if (m_threadActive) return;
  // The previous thread took its last step under the lock already, so joining it here cannot wait for us.
  if (m_thread.joinable()) m_thread.join();
  try {
    m_thread = std::thread([this] { Settle(); });
    m_threadActive = true;
  } catch (const std::system_error&) {
    // No thread to be had: the news stays pending, and the next notification tries again.
  }
}

void BurstSettler::Settle() {
  std::unique_lock<std::mutex> lock(m_lock);
  while (!m_stopped && m_pending) {
    const Clock::time_point due = m_due;
    if (Clock::now() < due) {
      m_wake.wait_until(lock, due);
      continue;
    }
    m_pending = false;
    lock.unlock();
    try {
      m_settled();
    } catch (const std::exception&) {
      // The receiver's failure costs this call only; the thread must not end the process.
    }
    lock.lock();
  }
  m_threadActive = false;
}

void BurstSettler::Stop() {
  std::thread finishing;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopped = true;
    m_pending = false;
    finishing = std::move(m_thread);
  }
  m_wake.notify_all();
  if (finishing.joinable()) finishing.join();
}
