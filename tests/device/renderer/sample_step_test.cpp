// The renderer's sample step, driven through the pin's IMemInputPin with fake samples, and the hand-over of
// its callback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/device/renderer/renderer_fakes.h"

namespace {

using renderer_test::FakeSample;
using renderer_test::MakeVideoType;
using renderer_test::SampleTime;

struct Delivery {
  const uint8_t* data;
  int32_t length;
  int64_t start;
  int64_t duration;
  LONG width;  // from the type's format block, 0 without a type
};

int32_t Record(const uint8_t* data, int32_t length, int64_t start, int64_t duration, int32_t, int32_t,
               const AM_MEDIA_TYPE* type, void* context) {
  LONG width = 0;
  if (type && type->cbFormat >= sizeof(VIDEOINFOHEADER) && type->pbFormat) {
    width = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth;
  }
  static_cast<std::vector<Delivery>*>(context)->push_back({data, length, start, duration, width});
  return 0;
}

class SampleStepTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, s.sink->SetSampleCallback(&Record, &deliveries)); }
  // Connected and running, as in a capture graph.
  void Connect() {
    ASSERT_EQ(S_OK, s.pin->ReceiveConnection(upstream->Pin(), connectionType.Get()));
    ASSERT_EQ(S_OK, s.filter->Run(0));
  }

  MediaType connectionType = MakeVideoType(640, 360);
  ComPtr<TestSink> upstream = TestSink::Make(PINDIR_OUTPUT);  // outlives the pin that holds it
  renderer_test::Sink s;
  std::vector<Delivery> deliveries;
};

// One sample of each kind on a connected pin, with and without a callback: what reaches the callback and what
// upstream is told.
TEST_F(SampleStepTest, AnswersAndDeliveriesPerSampleKind) {
  struct Case {
    const char* name;
    LONG length;
    HRESULT pointerResult;
    SampleTime time;
    HRESULT answer;
    bool delivered;
    int64_t start;
    int64_t duration;
  };
  const Case cases[] = {
      {"timed", 16, S_OK, SampleTime::kSet, S_OK, true, 1000, 400},
      // Upstream pins stop delivering on any answer but S_OK: a delivered sample is always S_OK.
      {"start only", 16, S_OK, SampleTime::kStartOnly, S_OK, true, 1000, 1},
      {"no time", 16, S_OK, SampleTime::kNotSet, S_OK, true, 0, 0},
      {"time fails", 16, S_OK, SampleTime::kFails, E_UNEXPECTED, false, 0, 0},
      {"empty", 0, S_OK, SampleTime::kSet, S_FALSE, false, 0, 0},
      {"no pointer", 16, E_FAIL, SampleTime::kSet, E_FAIL, false, 0, 0},
  };
  Connect();
  for (bool withCallback : {true, false}) {
    ASSERT_EQ(S_OK, withCallback ? s.sink->SetSampleCallback(&Record, &deliveries)
                                 : s.sink->SetSampleCallback(nullptr, nullptr));
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (withCallback ? "" : ", no callback"));
      deliveries.clear();
      FakeSample sample;
      sample.actualLength = c.length;
      sample.pointerResult = c.pointerResult;
      sample.time = c.time;
      EXPECT_EQ(c.answer, s.input->Receive(&sample));
      ASSERT_EQ(c.delivered && withCallback ? 1u : 0u, deliveries.size());
      if (!deliveries.empty()) {
        EXPECT_EQ(sample.bytes.data(), deliveries[0].data);  // in place, not copied
        EXPECT_EQ(c.length, deliveries[0].length);
        EXPECT_EQ(c.start, deliveries[0].start);
        EXPECT_EQ(c.duration, deliveries[0].duration);
      }
      EXPECT_EQ(0u, sample.refs.load());
    }
  }
}

// The connection type goes with the first sample that has no type of its own; a sample's own type goes with it.
TEST(SampleStepOneShotTest, ConnectionTypeGoesWithTheFirstTypelessSampleOnly) {
  struct Case {
    const char* name;
    bool connect;
    const char* samples;  // e: empty, p: plain, t: with its own type
    std::vector<HRESULT> answers;
    std::vector<LONG> widths;  // of the delivered types, 0: none
  };
  const Case cases[] = {
      {"an empty sample does not use it up", true, "epp", {S_FALSE, S_OK, S_OK}, {640, 0}},
      {"a sample's own type uses it up", true, "tpt", {S_OK, S_OK, S_OK}, {320, 0, 320}},
      {"an unconnected pin has none to give", false, "pt", {VFW_E_NOT_CONNECTED, S_OK}, {320}},
  };
  MediaType connection = MakeVideoType(640, 360);
  MediaType own = MakeVideoType(320, 180);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<TestSink> upstream = TestSink::Make(PINDIR_OUTPUT);
    renderer_test::Sink s;
    std::vector<Delivery> deliveries;
    ASSERT_EQ(S_OK, s.sink->SetSampleCallback(&Record, &deliveries));
    if (c.connect) {
      ASSERT_EQ(S_OK, s.pin->ReceiveConnection(upstream->Pin(), connection.Get()));
    }
    ASSERT_EQ(S_OK, s.filter->Run(0));
    for (size_t i = 0; c.samples[i] != 0; ++i) {
      FakeSample sample;
      if (c.samples[i] == 'e') sample.actualLength = 0;
      if (c.samples[i] == 't') sample.ownType = own.Get();
      EXPECT_EQ(c.answers[i], s.input->Receive(&sample));
    }
    std::vector<LONG> widths;
    for (const Delivery& delivery : deliveries) widths.push_back(delivery.width);
    EXPECT_EQ(c.widths, widths);
  }
}

// What the filter's state and flushing do to a sample: refused while stopped or flushing, delivered while paused
// or running.
TEST(SampleStepStateTest, AnswersPerFilterStateAndFlush) {
  struct Case {
    const char* steps;  // R: Run, P: Pause, S: Stop, F: BeginFlush, E: EndFlush
    HRESULT answer;
  };
  const Case cases[] = {
      {"", VFW_E_WRONG_STATE}, {"P", S_OK}, {"R", S_OK}, {"RS", VFW_E_WRONG_STATE}, {"RF", S_FALSE}, {"RFE", S_OK},
  };
  MediaType connection = MakeVideoType(640, 360);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("steps \"") + c.steps + "\"");
    ComPtr<TestSink> upstream = TestSink::Make(PINDIR_OUTPUT);
    renderer_test::FakeAllocator allocator;
    renderer_test::Sink s;
    std::vector<Delivery> deliveries;
    ASSERT_EQ(S_OK, s.sink->SetSampleCallback(&Record, &deliveries));
    ASSERT_EQ(S_OK, s.pin->ReceiveConnection(upstream->Pin(), connection.Get()));
    ASSERT_EQ(S_OK, s.input->NotifyAllocator(&allocator, FALSE));
    for (const char* step = c.steps; *step; ++step) {
      switch (*step) {
        case 'R': ASSERT_EQ(S_OK, s.filter->Run(0)); break;
        case 'P': ASSERT_EQ(S_OK, s.filter->Pause()); break;
        case 'S': ASSERT_EQ(S_OK, s.filter->Stop()); break;
        case 'F': ASSERT_EQ(S_OK, s.pin->BeginFlush()); break;
        case 'E': ASSERT_EQ(S_OK, s.pin->EndFlush()); break;
      }
    }
    FakeSample sample;
    EXPECT_EQ(c.answer, s.input->Receive(&sample));
    IMediaSample* batch[] = {&sample, &sample};
    LONG processed = -1;
    EXPECT_EQ(c.answer, s.input->ReceiveMultiple(batch, 2, &processed));
    EXPECT_EQ(c.answer == S_OK ? 2 : 0, processed);
    EXPECT_EQ(c.answer == S_OK ? 3u : 0u, deliveries.size());
    EXPECT_EQ(0u, sample.refs.load());
  }
}

// A callback that throws loses its frame; the streaming thread goes on and the next frame is delivered.
TEST_F(SampleStepTest, ExceptionFromCallbackStopsAtTheRenderer) {
  Connect();
  int calls = 0;
  auto throwing = [](const uint8_t*, int32_t, int64_t, int64_t, int32_t, int32_t, const AM_MEDIA_TYPE*,
                     void* c) -> int32_t {
    if (++*static_cast<int*>(c) == 1) throw std::runtime_error("no room");
    return 0;
  };
  ASSERT_EQ(S_OK, s.sink->SetSampleCallback(throwing, &calls));
  FakeSample sample;
  EXPECT_EQ(S_OK, s.input->Receive(&sample));
  EXPECT_EQ(S_OK, s.input->Receive(&sample));
  EXPECT_EQ(2, calls);
}

// A control-thread operation that ends delivery, made while the streaming thread is inside the callback: the
// caller waits for that frame to end, and no frame reaches the callback afterwards; samples get the answer of the
// new state. Meant to run under ThreadSanitizer as well.
TEST(CallbackHandoverTest, EndingDeliveryWaitsForTheFrameInProgress) {
  struct Case {
    const char* name;
    HRESULT (*end)(renderer_test::Sink&);
    HRESULT answerAfter;
  };
  const Case cases[] = {
      {"callback removed", [](renderer_test::Sink& s) { return s.sink->SetSampleCallback(nullptr, nullptr); }, S_OK},
      {"filter stopped", [](renderer_test::Sink& s) { return s.filter->Stop(); }, VFW_E_WRONG_STATE},
      {"flush begun", [](renderer_test::Sink& s) { return s.pin->BeginFlush(); }, S_FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct Gate {
      std::promise<void> entered;
      std::shared_future<void> release;
      int calls = 0;  // guarded by the renderer's callback lock, read by the test after the hand-over
      static int32_t Callback(const uint8_t*, int32_t, int64_t, int64_t, int32_t, int32_t, const AM_MEDIA_TYPE*,
                              void* context) {
        auto* gate = static_cast<Gate*>(context);
        if (++gate->calls == 1) gate->entered.set_value();
        gate->release.wait();  // holds the first frame until released
        return 0;
      }
    } gate;
    std::promise<void> release;
    gate.release = release.get_future().share();
    renderer_test::Sink s;
    ASSERT_EQ(S_OK, s.sink->SetSampleCallback(&Gate::Callback, &gate));
    ASSERT_EQ(S_OK, s.filter->Run(0));
    // Samples carry their own type so that no connection is needed.
    MediaType type = renderer_test::MakeVideoType(4, 4);
    FakeSample sample;
    sample.ownType = type.Get();
    std::atomic<bool> streaming{true};
    std::atomic<int> samplesSent{0};
    std::atomic<HRESULT> lastAnswer{S_OK};
    std::thread streamer([&] {
      for (; streaming; ++samplesSent) lastAnswer = s.input->Receive(&sample);
    });

    gate.entered.get_future().wait();
    std::atomic<bool> ended{false};
    std::thread control([&] {
      EXPECT_EQ(S_OK, c.end(s));
      ended = true;
    });
    // That the control thread stays blocked can be shown only by giving it time to get through.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(ended) << "the control thread stays blocked while the frame is held";
    release.set_value();
    control.join();

    // From here on the callback is never entered again, however many samples follow.
    const int callsAtHandover = gate.calls;
    const int sentAtHandover = samplesSent;
    while (samplesSent < sentAtHandover + 100) std::this_thread::yield();
    streaming = false;
    streamer.join();
    EXPECT_EQ(callsAtHandover, gate.calls);
    EXPECT_EQ(c.answerAfter, lastAnswer.load());
  }
}

}  // namespace
