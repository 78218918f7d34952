// BurstSettler: one call per burst, a quiet time after its last notification; nothing after Stop.
#include "device/burst_settler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kQuiet{250};
// How late a call may come on a busy machine (sanitizers, other builds) and still count as on time.
constexpr milliseconds kLateness{400};

// Records when each call came and on which thread.
struct Calls {
  std::mutex lock;
  std::vector<Clock::time_point> times;
  std::vector<std::thread::id> threads;

  void Record() {
    std::lock_guard<std::mutex> hold(lock);
    times.push_back(Clock::now());
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<Clock::time_point> Times() {
    std::lock_guard<std::mutex> hold(lock);
    return times;
  }
};

// Notifies count times, spacing apart, and returns when the last one was made.
Clock::time_point Burst(BurstSettler& settler, int count, milliseconds spacing) {
  Clock::time_point last;
  for (int i = 0; i < count; ++i) {
    if (i > 0) std::this_thread::sleep_for(spacing);
    last = Clock::now();
    settler.Notify();
  }
  return last;
}

// One alone; a device's four inputs arriving one by one; a long burst that lasts longer than the quiet time.
// A second burst long after the first gets a call of its own.
TEST(BurstSettler, OneCallPerBurstAQuietTimeAfterItsLastNotification) {
  struct Case {
    int count;
    milliseconds spacing;
  };
  for (const Case& c : {Case{1, milliseconds(0)}, Case{4, milliseconds(60)}, Case{12, milliseconds(50)}}) {
    SCOPED_TRACE(c.count);
    Calls calls;
    BurstSettler settler(kQuiet, [&] { calls.Record(); });
    Clock::time_point last = Burst(settler, c.count, c.spacing);
    for (size_t burst = 1;; ++burst) {
      // Waits for the call with a generous limit; when it came is checked below.
      for (int i = 0; i < 1000 && calls.Times().size() < burst; ++i) std::this_thread::sleep_for(milliseconds(10));
      const std::vector<Clock::time_point> times = calls.Times();
      ASSERT_EQ(times.size(), burst);
      EXPECT_GE(times.back() - last, kQuiet);
      EXPECT_LT(times.back() - last, kQuiet + kLateness);
      EXPECT_NE(calls.threads.back(), std::this_thread::get_id());
      if (burst == 2) break;
      last = Burst(settler, 3, milliseconds(30));
    }
  }
}

// News that arrives while the call runs is not lost: it gets a call of its own once it has settled.
TEST(BurstSettler, ANotificationDuringTheCallGetsAnotherCall) {
  std::promise<void> inFirstCall;
  std::promise<void> releaseFirstCall;
  std::shared_future<void> released = releaseFirstCall.get_future().share();
  std::atomic<int> count{0};
  BurstSettler settler(milliseconds(50), [&] {
    if (++count == 1) {
      inFirstCall.set_value();
      released.wait();
    }
  });
  settler.Notify();
  inFirstCall.get_future().wait();
  settler.Notify();
  releaseFirstCall.set_value();
  for (int i = 0; i < 200 && count < 2; ++i) std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(count, 2);
  // No third call: shown only over the quiet time, four of them.
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(count, 2);
}

// Stop while a burst settles drops its call at once rather than waiting for it, and later news is ignored.
TEST(BurstSettler, StopDuringAPendingSettleCallsNothingAfterwards) {
  constexpr milliseconds kLongQuiet{2000};
  std::atomic<int> count{0};
  BurstSettler settler(kLongQuiet, [&] { ++count; });
  Burst(settler, 3, milliseconds(10));
  const Clock::time_point before = Clock::now();
  settler.Stop();
  EXPECT_LT(Clock::now() - before, kLongQuiet / 2);
  settler.Notify();
  settler.Stop();
  // Past the quiet time: a call that Stop failed to drop would have come by now.
  std::this_thread::sleep_for(kLongQuiet + milliseconds(300));
  EXPECT_EQ(count, 0);
}

// Stop while the call runs waits for it to end.
TEST(BurstSettler, StopWaitsForACallInProgress) {
  std::promise<void> inCall;
  std::atomic<bool> finished{false};
  BurstSettler settler(milliseconds(10), [&] {
    inCall.set_value();
    std::this_thread::sleep_for(milliseconds(200));
    finished = true;
  });
  settler.Notify();
  inCall.get_future().wait();
  settler.Stop();
  EXPECT_TRUE(finished);
}

}  // namespace
