// The renderer's COM obligations seen through its interfaces: identities, counts, stopping and connection answers.
#include <gtest/gtest.h>

#include <iterator>

#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "tests/device/renderer/renderer_fakes.h"

namespace {

using renderer_test::FakeAllocator;
using renderer_test::MakeVideoType;
using renderer_test::Refs;

// The interface asked for, released at once: null when refused (the answer must then be E_NOINTERFACE).
void* Query(IUnknown* object, REFIID iid) {
  void* out = reinterpret_cast<void*>(0x1);
  const HRESULT hr = object->QueryInterface(iid, &out);
  EXPECT_EQ(out ? S_OK : E_NOINTERFACE, hr);
  if (out) static_cast<IUnknown*>(out)->Release();
  return out;
}

// Filter and pin are two COM objects: each answers its own interfaces, every interface of one leads back to that
// one's unknown, and neither hands out the other's.
TEST(RendererComTest, InterfaceTables) {
  renderer_test::Sink s;
  IUnknown* filterUnknown = static_cast<IUnknown*>(Query(s.filter.Get(), IID_IUnknown));
  IUnknown* pinUnknown = static_cast<IUnknown*>(Query(s.pin.Get(), IID_IUnknown));
  const struct {
    IUnknown* object;
    const IID* iid;
    bool offered;
  } rows[] = {
      {s.filter.Get(), &IID_IBaseFilter, true},   {s.filter.Get(), &IID_IMediaFilter, true},
      {s.filter.Get(), &IID_IPersist, true},      {s.filter.Get(), &IID_IAMovieSetup, true},
      {s.filter.Get(), &IID_INorvexSink, true},   {s.filter.Get(), &IID_IPin, false},
      {s.filter.Get(), &IID_IMemInputPin, false}, {s.pin.Get(), &IID_IMemInputPin, true},
      {s.pin.Get(), &IID_IQualityControl, true},  {s.pin.Get(), &kAlternateQualityControlIid, true},
      {s.pin.Get(), &IID_IBaseFilter, false},     {s.pin.Get(), &IID_INorvexSink, false},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    void* got = Query(rows[i].object, *rows[i].iid);
    ASSERT_EQ(rows[i].offered, got != nullptr);
    IUnknown* unknown = rows[i].object == s.filter.Get() ? filterUnknown : pinUnknown;
    if (got) {
      EXPECT_EQ(unknown, Query(static_cast<IUnknown*>(got), IID_IUnknown));
    }
  }
  EXPECT_EQ(Query(s.pin.Get(), IID_IQualityControl), Query(s.pin.Get(), kAlternateQualityControlIid));
  EXPECT_EQ(E_POINTER, s.filter->QueryInterface(IID_IBaseFilter, nullptr));
  EXPECT_EQ(E_POINTER, s.filter->GetClassID(nullptr));
}

// Counts are real, the pin counts on the filter, and the last release deletes the filter with its pin, which
// lets go of whatever it held.
TEST(RendererComTest, CountsAndSelfDeletion) {
  auto* sink = new SinkFilter();
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(S_OK, sink->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
  EXPECT_EQ(1u, Refs(filter));
  IPin* pin = nullptr;
  ASSERT_EQ(S_OK, filter->FindPin(L"Input", &pin));
  EXPECT_EQ(2u, Refs(pin));

  FakeAllocator allocator;
  ComPtr<TestSink> upstream = TestSink::Make(PINDIR_OUTPUT);
  MediaType type = MakeVideoType(64, 36);
  ASSERT_EQ(S_OK, pin->ReceiveConnection(upstream->Pin(), type.Get()));
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(S_OK, ComPtr<IPin>(pin).As(IID_IMemInputPin, &input));
  ASSERT_EQ(S_OK, input->NotifyAllocator(&allocator, TRUE));
  input.Reset();
  EXPECT_EQ(1u, allocator.refs.load());
  EXPECT_EQ(2u, Refs(upstream->Pin()));

  EXPECT_EQ(1u, filter->Release());  // the pin's reference keeps the filter alive
  EXPECT_EQ(1u, allocator.refs.load());
  EXPECT_EQ(0u, pin->Release());
  EXPECT_EQ(0u, allocator.refs.load());
  EXPECT_EQ(1u, Refs(upstream->Pin()));
}

// A connected pin whose allocator cannot be decommitted: the failure is reported, the filter stops anyway, and
// the pin keeps its connection until the allocator lets go.
TEST(RendererComTest, StopReportsAFailedDecommitButStops) {
  renderer_test::Sink s;
  ComPtr<TestSink> upstream = TestSink::Make(PINDIR_OUTPUT);
  FakeAllocator allocator;
  MediaType type = MakeVideoType(64, 36);
  ASSERT_EQ(S_OK, s.pin->ReceiveConnection(upstream->Pin(), type.Get()));
  ASSERT_EQ(S_OK, s.input->NotifyAllocator(&allocator, FALSE));
  EXPECT_EQ(S_OK, s.filter->Run(0));
  allocator.decommitResult = E_FAIL;
  EXPECT_EQ(E_FAIL, s.filter->Stop());
  FILTER_STATE state;
  ASSERT_EQ(S_OK, s.filter->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  EXPECT_EQ(E_FAIL, s.pin->Disconnect());
  ComPtr<IPin> connected;
  EXPECT_EQ(S_OK, s.pin->ConnectedTo(connected.Receive()));
  allocator.decommitResult = S_OK;
  EXPECT_EQ(S_OK, s.pin->Disconnect());
  EXPECT_EQ(0u, allocator.refs.load());
}

TEST(RendererComTest, ConnectionAnswers) {
  renderer_test::Sink s;
  ComPtr<TestSink> output = TestSink::Make(PINDIR_OUTPUT);
  ComPtr<TestSink> otherInput = TestSink::Make(PINDIR_INPUT);
  MediaType type = MakeVideoType(64, 36);
  AM_MEDIA_TYPE copy;
  ComPtr<IPin> connected;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, s.pin->ConnectionMediaType(&copy));
  EXPECT_EQ(VFW_E_NOT_CONNECTED, s.pin->ConnectedTo(connected.Receive()));
  EXPECT_EQ(S_FALSE, s.pin->Disconnect());
  EXPECT_EQ(E_POINTER, s.pin->ReceiveConnection(nullptr, type.Get()));
  EXPECT_EQ(E_POINTER, s.pin->ReceiveConnection(output->Pin(), nullptr));
  EXPECT_EQ(VFW_E_INVALID_DIRECTION, s.pin->ReceiveConnection(otherInput->Pin(), type.Get()));
  EXPECT_EQ(1u, Refs(otherInput->Pin()));
  ASSERT_EQ(S_OK, s.filter->Pause());
  EXPECT_EQ(VFW_E_NOT_STOPPED, s.pin->ReceiveConnection(output->Pin(), type.Get()));
  ASSERT_EQ(S_OK, s.filter->Stop());

  ASSERT_EQ(S_OK, s.pin->ReceiveConnection(output->Pin(), type.Get()));
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, s.pin->ReceiveConnection(output->Pin(), type.Get()));
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, s.pin->Connect(output->Pin(), type.Get()));
  ASSERT_EQ(S_OK, s.pin->ConnectionMediaType(&copy));
  FreeMediaType(copy);  // a deep copy (the media type tests): freeing it leaves the pin's own intact
  ASSERT_EQ(S_OK, s.pin->ConnectedTo(connected.Receive()));
  EXPECT_EQ(output->Pin(), connected.Get());
  connected.Reset();

  ASSERT_EQ(S_OK, s.filter->Run(0));
  EXPECT_EQ(VFW_E_NOT_STOPPED, s.pin->Disconnect());
  EXPECT_EQ(VFW_E_NO_ALLOCATOR, s.filter->Stop());  // reported, but the filter stops
  EXPECT_EQ(S_OK, s.pin->Disconnect());
  EXPECT_EQ(1u, Refs(output->Pin()));

  // Every type is accepted, even one without a format block.
  AM_MEDIA_TYPE bare{};
  EXPECT_EQ(S_OK, s.pin->QueryAccept(&bare));
  ASSERT_EQ(S_OK, s.pin->ReceiveConnection(output->Pin(), &bare));
  ASSERT_EQ(S_OK, s.pin->ConnectionMediaType(&copy));
  EXPECT_EQ(nullptr, copy.pbFormat);
  FreeMediaType(copy);
  EXPECT_EQ(S_OK, s.pin->Disconnect());
}

}  // namespace
