// Learns that capture devices arrived or went away, without polling: the system's device notifications on
// Windows, the emulated device's control file on POSIX (only when one is configured). A burst of news (a
// device's inputs arriving one by one) is one change, reported once it has been quiet for kSettleTime. The
// callback runs on a thread of the watch, never on the caller's; it should only hand the news on (e.g. post
// to an event loop).
#pragma once

#include <chrono>
#include <functional>
#include <memory>

class DeviceWatch {
 public:
  DeviceWatch();
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

  static constexpr std::chrono::milliseconds kSettleTime{250};

  // Starts watching; false when this platform or set-up offers no notifications (nothing runs then).
  bool Start(std::function<void()> changed);
  // Ends the watch; once it returns the callback is neither running nor called again. Idempotent.
  void Stop();

  struct Impl;

 private:
  std::unique_ptr<Impl> m_impl;
};
