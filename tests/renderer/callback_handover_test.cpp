// Taking the callback off while the streaming thread is inside it: the caller waits for that frame to end, and
// no frame reaches the old callback afterwards. Meant to run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "tests/renderer/renderer_fakes.h"

namespace {

using renderer_test::FakeSample;

// The callback's side: it signals when it has entered and holds the frame until released.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool release = false;
  int calls = 0;     // guarded by the renderer's callback lock, read by the test after the hand-over
  int finished = 0;  // likewise

  static int32_t Callback(const uint8_t*, int32_t, int64_t, int64_t, int32_t, int32_t, const AM_MEDIA_TYPE*,
                          void* context) {
    auto* gate = static_cast<Gate*>(context);
    ++gate->calls;
    std::unique_lock<std::mutex> lock(gate->mutex);
    gate->entered = true;
    gate->changed.notify_all();
    gate->changed.wait(lock, [gate] { return gate->release; });
    ++gate->finished;
    return 0;
  }
};

TEST(CallbackHandoverTest, RemovingTheCallbackWaitsForTheFrameInProgress) {
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, (new SinkFilter())->NonDelegatingQueryInterface(IID_IBaseFilter, filter.ReceiveVoid()));
  ComPtr<INorvexSink> sink;
  ASSERT_EQ(S_OK, filter.As(IID_INorvexSink, &sink));
  ComPtr<IPin> pin;
  ASSERT_EQ(S_OK, filter->FindPin(L"Input", pin.Receive()));
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(S_OK, pin.As(IID_IMemInputPin, &input));

  Gate gate;
  ASSERT_EQ(S_OK, sink->SetSampleCallback(&Gate::Callback, &gate));
  // Samples carry their own type so that no connection is needed.
  MediaType type = renderer_test::MakeVideoType(4, 4);
  FakeSample sample;
  sample.ownType = type.Get();

  std::atomic<bool> streaming{true};
  std::atomic<int> samplesSent{0};
  std::thread streamer([&] {
    while (streaming) {
      input->Receive(&sample);
      ++samplesSent;
    }
  });

  {
    std::unique_lock<std::mutex> lock(gate.mutex);
    gate.changed.wait(lock, [&] { return gate.entered; });
  }
  std::atomic<bool> removed{false};
  std::thread control([&] {
    EXPECT_EQ(S_OK, sink->SetSampleCallback(nullptr, nullptr));
    removed = true;
  });
  // The control thread stays blocked while the frame is held.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(removed);
  {
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.release = true;
  }
  gate.changed.notify_all();
  control.join();
  EXPECT_TRUE(removed);

  // From here on the old callback is never entered again, however many samples follow.
  const int callsAtHandover = gate.calls;
  EXPECT_EQ(callsAtHandover, gate.finished);
  const int sentAtHandover = samplesSent;
  while (samplesSent < sentAtHandover + 100) std::this_thread::yield();
  streaming = false;
  streamer.join();
  EXPECT_EQ(callsAtHandover, gate.calls);
}

}  // namespace
