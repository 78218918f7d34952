// The renderer's sample step, driven through the pin's IMemInputPin with fake samples.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "tests/renderer/renderer_fakes.h"

namespace {

using renderer_test::FakePin;
using renderer_test::FakeSample;
using renderer_test::MakeVideoType;
using renderer_test::SampleTime;

struct Delivery {
  const uint8_t* data;
  int32_t length;
  int64_t start;
  int64_t duration;
  int32_t discontinuity;
  int32_t syncPoint;
  bool hasType;
  LONG width;  // from the type's format block, 0 without a type
};

int32_t Record(const uint8_t* data, int32_t length, int64_t start, int64_t duration, int32_t discontinuity,
               int32_t syncPoint, const AM_MEDIA_TYPE* type, void* context) {
  LONG width = 0;
  if (type && type->cbFormat >= sizeof(VIDEOINFOHEADER) && type->pbFormat) {
    width = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth;
  }
  static_cast<std::vector<Delivery>*>(context)->push_back(
      {data, length, start, duration, discontinuity, syncPoint, type != nullptr, width});
  return 0;
}

class SampleStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, (new SinkFilter())->NonDelegatingQueryInterface(IID_IBaseFilter, filter.ReceiveVoid()));
    ASSERT_EQ(S_OK, filter.As(IID_INorvexSink, &sink));
    ASSERT_EQ(S_OK, filter->FindPin(L"Input", pin.Receive()));
    ASSERT_EQ(S_OK, pin.As(IID_IMemInputPin, &input));
    ASSERT_EQ(S_OK, sink->SetSampleCallback(&Record, &deliveries));
  }

  void Connect() {
    ASSERT_EQ(S_OK, pin->ReceiveConnection(&upstream, connectionType.Get()));
  }

  MediaType connectionType = MakeVideoType(640, 360);
  MediaType ownType = MakeVideoType(320, 180);
  FakePin upstream{PINDIR_OUTPUT};
  ComPtr<IBaseFilter> filter;
  ComPtr<INorvexSink> sink;
  ComPtr<IPin> pin;
  ComPtr<IMemInputPin> input;
  std::vector<Delivery> deliveries;
};

// One sample of each kind on a connected pin: what reaches the callback and what upstream is told.
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
      {"start only", 16, S_OK, SampleTime::kStartOnly, VFW_S_NO_STOP_TIME, true, 1000, 1},
      {"no time", 16, S_OK, SampleTime::kNotSet, S_FALSE, true, 0, 0},
      {"time fails", 16, S_OK, SampleTime::kFails, E_UNEXPECTED, false, 0, 0},
      {"empty", 0, S_OK, SampleTime::kSet, S_FALSE, false, 0, 0},
      {"negative length", -5, S_OK, SampleTime::kSet, S_FALSE, false, 0, 0},
      {"no pointer", 16, E_FAIL, SampleTime::kSet, E_FAIL, false, 0, 0},
  };
  Connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    deliveries.clear();
    FakeSample sample;
    sample.actualLength = c.length;
    sample.pointerResult = c.pointerResult;
    sample.time = c.time;
    EXPECT_EQ(c.answer, input->Receive(&sample));
    ASSERT_EQ(c.delivered ? 1u : 0u, deliveries.size());
    if (c.delivered) {
      EXPECT_EQ(sample.bytes.data(), deliveries[0].data);  // in place, not copied
      EXPECT_EQ(c.length, deliveries[0].length);
      EXPECT_EQ(c.start, deliveries[0].start);
      EXPECT_EQ(c.duration, deliveries[0].duration);
    }
    EXPECT_EQ(0u, sample.refs.load());
  }
}

TEST_F(SampleStepTest, FirstTypelessSampleCarriesTheConnectionTypeOnce) {
  Connect();
  FakeSample empty;
  empty.actualLength = 0;
  FakeSample plain;
  EXPECT_EQ(S_FALSE, input->Receive(&empty));  // does not use up the one-shot type
  EXPECT_EQ(S_OK, input->Receive(&plain));
  EXPECT_EQ(S_OK, input->Receive(&plain));
  ASSERT_EQ(2u, deliveries.size());
  EXPECT_TRUE(deliveries[0].hasType);
  EXPECT_EQ(640, deliveries[0].width);
  EXPECT_FALSE(deliveries[1].hasType);
}

TEST_F(SampleStepTest, SampleTypeIsPassedAndUsesUpTheOneShot) {
  Connect();
  FakeSample typed;
  typed.ownType = ownType.Get();
  FakeSample plain;
  EXPECT_EQ(S_OK, input->Receive(&typed));
  EXPECT_EQ(S_OK, input->Receive(&plain));
  EXPECT_EQ(S_OK, input->Receive(&typed));
  ASSERT_EQ(3u, deliveries.size());
  EXPECT_EQ(320, deliveries[0].width);
  EXPECT_FALSE(deliveries[1].hasType);
  EXPECT_EQ(320, deliveries[2].width);
}

TEST_F(SampleStepTest, UnconnectedPinCannotSupplyTheFirstType) {
  FakeSample plain;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, input->Receive(&plain));
  EXPECT_TRUE(deliveries.empty());
  // A sample with its own type needs no connection.
  FakeSample typed;
  typed.ownType = ownType.Get();
  EXPECT_EQ(S_OK, input->Receive(&typed));
  EXPECT_EQ(1u, deliveries.size());
}

// Neither flushing, nor a stopped filter, nor a running one holds a sample back.
TEST_F(SampleStepTest, DeliversInEveryStateAndWhileFlushing) {
  Connect();
  FakeSample sample;
  EXPECT_EQ(S_OK, input->Receive(&sample));  // stopped
  EXPECT_EQ(S_OK, pin->BeginFlush());
  EXPECT_EQ(S_OK, input->Receive(&sample));
  EXPECT_EQ(S_OK, pin->EndFlush());
  renderer_test::FakeAllocator allocator;
  EXPECT_EQ(S_OK, input->NotifyAllocator(&allocator, FALSE));
  EXPECT_EQ(S_OK, filter->Run(0));
  EXPECT_EQ(S_OK, input->Receive(&sample));
  EXPECT_EQ(S_OK, filter->Stop());
  EXPECT_EQ(3u, deliveries.size());
  EXPECT_EQ(S_OK, pin->Disconnect());
  EXPECT_EQ(0u, allocator.refs.load());
}

TEST_F(SampleStepTest, WithoutCallbackSamplesAreConsumed) {
  Connect();
  ASSERT_EQ(S_OK, sink->SetSampleCallback(nullptr, nullptr));
  FakeSample sample;
  EXPECT_EQ(S_OK, input->Receive(&sample));
  sample.time = SampleTime::kNotSet;
  EXPECT_EQ(S_FALSE, input->Receive(&sample));
  EXPECT_TRUE(deliveries.empty());
}

// A callback that throws loses its frame; the streaming thread goes on and the next frame is delivered.
TEST_F(SampleStepTest, ExceptionFromCallbackStopsAtTheRenderer) {
  Connect();
  struct Context {
    int calls = 0;
  } context;
  auto throwing = [](const uint8_t*, int32_t, int64_t, int64_t, int32_t, int32_t, const AM_MEDIA_TYPE*,
                     void* c) -> int32_t {
    if (++static_cast<Context*>(c)->calls == 1) throw std::runtime_error("no room");
    return 0;
  };
  ASSERT_EQ(S_OK, sink->SetSampleCallback(throwing, &context));
  FakeSample sample;
  EXPECT_EQ(S_OK, input->Receive(&sample));
  EXPECT_EQ(S_OK, input->Receive(&sample));
  EXPECT_EQ(2, context.calls);
}

TEST_F(SampleStepTest, ReceiveMultipleStopsAtTheFirstAnswerOtherThanOk) {
  Connect();
  FakeSample timed;
  FakeSample empty;
  empty.actualLength = 0;
  IMediaSample* batch[] = {&timed, &timed, &empty, &timed};
  LONG processed = -1;
  EXPECT_EQ(S_FALSE, input->ReceiveMultiple(batch, 4, &processed));
  EXPECT_EQ(2, processed);
  EXPECT_EQ(2u, deliveries.size());
  EXPECT_EQ(S_OK, input->ReceiveMultiple(batch, 0, &processed));
  EXPECT_EQ(0, processed);
  EXPECT_EQ(S_OK, input->ReceiveMultiple(batch, -3, &processed));
  EXPECT_EQ(0, processed);
}

}  // namespace
