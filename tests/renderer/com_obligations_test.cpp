// The renderer's COM obligations seen through its interfaces: identities, counts, pins, enumerators, states and
// connection answers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "platform/filters/enum_media_types.h"
#include "platform/filters/input_pin_base.h"
#include "tests/renderer/renderer_fakes.h"

namespace {

using renderer_test::FakeAllocator;
using renderer_test::FakePin;
using renderer_test::MakeVideoType;

ComPtr<IBaseFilter> MakeSink() {
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(S_OK, (new SinkFilter())->NonDelegatingQueryInterface(IID_IBaseFilter, filter.ReceiveVoid()));
  return filter;
}

ComPtr<IPin> InputOf(const ComPtr<IBaseFilter>& filter) {
  ComPtr<IPin> pin;
  EXPECT_EQ(S_OK, filter->FindPin(L"Input", pin.Receive()));
  return pin;
}

void* Query(IUnknown* object, REFIID iid, HRESULT expected) {
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(expected, object->QueryInterface(iid, &out));
  if (out) static_cast<IUnknown*>(out)->Release();
  return out;
}

TEST(RendererComTest, FilterInterfaceTable) {
  ComPtr<IBaseFilter> filter = MakeSink();
  IUnknown* unknown = static_cast<IUnknown*>(Query(filter.Get(), IID_IUnknown, S_OK));
  void* base = Query(filter.Get(), IID_IBaseFilter, S_OK);
  EXPECT_EQ(filter.Get(), base);
  EXPECT_EQ(base, Query(filter.Get(), IID_IMediaFilter, S_OK));
  EXPECT_EQ(base, Query(filter.Get(), IID_IPersist, S_OK));
  EXPECT_NE(nullptr, Query(filter.Get(), IID_IAMovieSetup, S_OK));
  void* sink = Query(filter.Get(), IID_INorvexSink, S_OK);
  ASSERT_NE(nullptr, sink);
  // Every interface leads back to the same unknown.
  EXPECT_EQ(unknown, Query(static_cast<INorvexSink*>(sink), IID_IUnknown, S_OK));
  EXPECT_EQ(nullptr, Query(filter.Get(), IID_IPin, E_NOINTERFACE));
  EXPECT_EQ(nullptr, Query(filter.Get(), IID_IMemInputPin, E_NOINTERFACE));
  EXPECT_EQ(E_POINTER, filter->QueryInterface(IID_IBaseFilter, nullptr));
  EXPECT_EQ(E_POINTER, filter->GetClassID(nullptr));
}

TEST(RendererComTest, PinInterfaceTable) {
  ComPtr<IBaseFilter> filter = MakeSink();
  ComPtr<IPin> pin = InputOf(filter);
  void* unknown = Query(pin.Get(), IID_IUnknown, S_OK);
  EXPECT_EQ(pin.Get(), Query(pin.Get(), IID_IPin, S_OK));
  EXPECT_NE(nullptr, Query(pin.Get(), IID_IMemInputPin, S_OK));
  void* quality = Query(pin.Get(), IID_IQualityControl, S_OK);
  EXPECT_NE(nullptr, quality);
  EXPECT_EQ(quality, Query(pin.Get(), kAlternateQualityControlIid, S_OK));
  EXPECT_EQ(unknown, Query(static_cast<IQualityControl*>(quality), IID_IUnknown, S_OK));
  EXPECT_EQ(nullptr, Query(pin.Get(), IID_IBaseFilter, E_NOINTERFACE));
  EXPECT_EQ(nullptr, Query(pin.Get(), IID_INorvexSink, E_NOINTERFACE));
}

// Counts are real, the pin counts on the filter, and the last release deletes the filter with its pin, which
// lets go of whatever it held.
TEST(RendererComTest, CountsAndSelfDeletion) {
  auto* sink = new SinkFilter();
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(S_OK, sink->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
  EXPECT_EQ(2u, filter->AddRef());
  EXPECT_EQ(1u, filter->Release());

  IPin* pin = nullptr;
  ASSERT_EQ(S_OK, filter->FindPin(L"Input", &pin));
  EXPECT_EQ(3u, pin->AddRef());
  EXPECT_EQ(2u, pin->Release());

  FakeAllocator allocator;
  FakePin upstream(PINDIR_OUTPUT);
  MediaType type = MakeVideoType(64, 36);
  ASSERT_EQ(S_OK, pin->ReceiveConnection(&upstream, type.Get()));
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(S_OK, ComPtr<IPin>(pin).As(IID_IMemInputPin, &input));
  ASSERT_EQ(S_OK, input->NotifyAllocator(&allocator, TRUE));
  input.Reset();
  EXPECT_EQ(1u, allocator.refs.load());
  EXPECT_EQ(1u, upstream.refs.load());

  EXPECT_EQ(1u, filter->Release());  // the pin's reference keeps the filter alive
  EXPECT_EQ(1u, allocator.refs.load());
  EXPECT_EQ(0u, pin->Release());
  EXPECT_EQ(0u, allocator.refs.load());
  EXPECT_EQ(0u, upstream.refs.load());
}

TEST(RendererComTest, PinLookup) {
  ComPtr<IBaseFilter> filter = MakeSink();
  auto* sink = static_cast<SinkFilter*>(filter.Get());
  EXPECT_EQ(1, sink->GetPinCount());
  EXPECT_NE(nullptr, sink->GetPin(0));
  EXPECT_EQ(nullptr, sink->GetPin(1));
  EXPECT_EQ(nullptr, sink->GetPin(-1));

  IPin* pin = reinterpret_cast<IPin*>(0x1);
  EXPECT_EQ(VFW_E_NOT_FOUND, filter->FindPin(L"input", &pin));
  EXPECT_EQ(nullptr, pin);
  EXPECT_EQ(VFW_E_NOT_FOUND, filter->FindPin(L"Input ", &pin));
  EXPECT_EQ(E_POINTER, filter->FindPin(L"Input", nullptr));
}

TEST(RendererComTest, PinEnumerator) {
  ComPtr<IBaseFilter> filter = MakeSink();
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, filter->EnumPins(pins.Receive()));

  IPin* got[2] = {};
  ULONG fetched = 7;
  EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
  EXPECT_EQ(S_FALSE, pins->Next(2, got, &fetched));
  EXPECT_EQ(1u, fetched);
  EXPECT_EQ(InputOf(filter).Get(), got[0]);
  got[0]->Release();
  EXPECT_EQ(S_FALSE, pins->Next(1, got, &fetched));
  EXPECT_EQ(0u, fetched);

  EXPECT_EQ(S_OK, pins->Reset());
  EXPECT_EQ(S_OK, pins->Skip(1));
  EXPECT_EQ(S_FALSE, pins->Skip(1));
  EXPECT_EQ(S_OK, pins->Reset());
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(S_OK, pins->Clone(clone.Receive()));
  EXPECT_EQ(S_OK, clone->Next(1, got, nullptr));
  got[0]->Release();

  // The enumerators keep the filter alive.
  ComPtr<IPin> pin = InputOf(filter);
  IPin* raw = pin.Get();
  pin.Reset();
  filter.Reset();
  EXPECT_EQ(3u, raw->AddRef());  // two enumerators and this one
  raw->Release();
}

// A filter of the base layer whose pins can change, to see the enumerators fall out of sync.
class ChangingPin : public InputPinBase {
 public:
  ChangingPin(FilterBase* filter, CriticalSection* lock, const WCHAR* name) : InputPinBase(filter, lock, name) {}
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample*) override { return S_OK; }
  void ChangeTypes() { IncrementMediaTypeVersion(); }

 protected:
  HRESULT CheckMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
};

class ChangingFilter : public FilterBase {
 public:
  ChangingFilter() : FilterBase(GUID_NULL, &m_section) {}
  int GetPinCount() override { return static_cast<int>(m_count); }
  PinBase* GetPin(int index) override {
    return index >= 0 && index < GetPinCount() ? m_pins[index].get() : nullptr;
  }
  void SetPinCount(size_t count) {
    m_count = count;
    IncrementPinVersion();
  }
  ChangingPin* Pin(int index) { return m_pins[index].get(); }

 private:
  CriticalSection m_section;
  std::unique_ptr<ChangingPin> m_pins[2] = {std::make_unique<ChangingPin>(this, &m_section, L"A"),
                                            std::make_unique<ChangingPin>(this, &m_section, L"B")};
  size_t m_count = 1;
};

TEST(RendererComTest, PinEnumeratorOutOfSync) {
  ComPtr<IBaseFilter> filter;
  auto* changing = new ChangingFilter();
  ASSERT_EQ(S_OK, changing->NonDelegatingQueryInterface(IID_IBaseFilter, filter.ReceiveVoid()));
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, filter->EnumPins(pins.Receive()));
  IPin* got[2] = {};
  ULONG fetched = 0;
  ASSERT_EQ(S_OK, pins->Next(1, got, &fetched));
  EXPECT_EQ(static_cast<IPin*>(changing->Pin(0)), got[0]);
  got[0]->Release();

  changing->SetPinCount(2);
  ComPtr<IEnumPins> clone;
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Skip(1));
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Clone(clone.Receive()));
  // Next starts over but does not hand out pin A again.
  EXPECT_EQ(S_FALSE, pins->Next(2, got, &fetched));
  ASSERT_EQ(1u, fetched);
  EXPECT_EQ(static_cast<IPin*>(changing->Pin(1)), got[0]);
  got[0]->Release();
  EXPECT_EQ(S_OK, pins->Reset());
  EXPECT_EQ(S_OK, pins->Next(2, got, &fetched));
  EXPECT_EQ(2u, fetched);
  got[0]->Release();
  got[1]->Release();
  EXPECT_EQ(S_OK, pins->Clone(clone.Receive()));
}

// The sink's pin offers no type; an enumerator whose pin changed its types is out of sync until Reset.
TEST(RendererComTest, MediaTypeEnumeratorOffersNothingAndFallsOutOfSync) {
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, InputOf(MakeSink())->EnumMediaTypes(types.Receive()));
  AM_MEDIA_TYPE* got = nullptr;
  ULONG fetched = 9;
  EXPECT_EQ(S_FALSE, types->Next(1, &got, &fetched));
  EXPECT_EQ(0u, fetched);
  EXPECT_EQ(S_OK, types->Skip(0));
  EXPECT_EQ(S_FALSE, types->Skip(1));
  EXPECT_EQ(S_FALSE, types->Skip(0xFFFFFFFFu));

  ComPtr<IBaseFilter> filter;
  auto* changing = new ChangingFilter();
  ASSERT_EQ(S_OK, changing->NonDelegatingQueryInterface(IID_IBaseFilter, filter.ReceiveVoid()));
  ASSERT_EQ(S_OK, changing->Pin(0)->EnumMediaTypes(types.Receive()));
  changing->Pin(0)->ChangeTypes();
  ComPtr<IEnumMediaTypes> clone;
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, &got, &fetched));
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(1));
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Clone(clone.Receive()));
  EXPECT_EQ(S_OK, types->Reset());
  EXPECT_EQ(S_FALSE, types->Next(1, &got, &fetched));
  EXPECT_EQ(S_OK, types->Clone(clone.Receive()));
}

TEST(RendererComTest, StateChanges) {
  ComPtr<IBaseFilter> filter = MakeSink();
  FILTER_STATE state;
  ASSERT_EQ(S_OK, filter->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  EXPECT_EQ(S_OK, filter->Run(0));  // pauses on the way
  ASSERT_EQ(S_OK, filter->GetState(5000, &state));
  EXPECT_EQ(State_Running, state);
  EXPECT_EQ(S_OK, filter->Pause());
  ASSERT_EQ(S_OK, filter->GetState(0, &state));
  EXPECT_EQ(State_Paused, state);
  EXPECT_EQ(S_OK, filter->Stop());
  EXPECT_EQ(S_OK, filter->Stop());

  // A connected pin whose allocator cannot be decommitted: the failure is reported, the filter stops anyway.
  ComPtr<IPin> pin = InputOf(filter);
  FakePin upstream(PINDIR_OUTPUT);
  FakeAllocator allocator;
  MediaType type = MakeVideoType(64, 36);
  ASSERT_EQ(S_OK, pin->ReceiveConnection(&upstream, type.Get()));
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(S_OK, pin.As(IID_IMemInputPin, &input));
  ASSERT_EQ(S_OK, input->NotifyAllocator(&allocator, FALSE));
  EXPECT_EQ(S_OK, filter->Run(0));
  allocator.decommitResult = E_FAIL;
  EXPECT_EQ(E_FAIL, filter->Stop());
  ASSERT_EQ(S_OK, filter->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  // Nor can it disconnect while the allocator holds on.
  EXPECT_EQ(E_FAIL, pin->Disconnect());
  ComPtr<IPin> connected;
  EXPECT_EQ(S_OK, pin->ConnectedTo(connected.Receive()));
  allocator.decommitResult = S_OK;
  connected.Reset();
  EXPECT_EQ(S_OK, pin->Disconnect());
  EXPECT_EQ(0u, allocator.refs.load());
}

TEST(RendererComTest, ConnectionAnswers) {
  ComPtr<IBaseFilter> filter = MakeSink();
  ComPtr<IPin> pin = InputOf(filter);
  FakePin output(PINDIR_OUTPUT);
  FakePin otherInput(PINDIR_INPUT);
  MediaType type = MakeVideoType(64, 36);

  AM_MEDIA_TYPE copy;
  ComPtr<IPin> connected;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectionMediaType(&copy));
  EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectedTo(connected.Receive()));
  EXPECT_EQ(S_FALSE, pin->Disconnect());

  EXPECT_EQ(E_POINTER, pin->ReceiveConnection(nullptr, type.Get()));
  EXPECT_EQ(E_POINTER, pin->ReceiveConnection(&output, nullptr));
  EXPECT_EQ(VFW_E_INVALID_DIRECTION, pin->ReceiveConnection(&otherInput, type.Get()));
  EXPECT_EQ(0u, otherInput.refs.load());
  ASSERT_EQ(S_OK, filter->Pause());
  EXPECT_EQ(VFW_E_NOT_STOPPED, pin->ReceiveConnection(&output, type.Get()));
  ASSERT_EQ(S_OK, filter->Stop());

  ASSERT_EQ(S_OK, pin->ReceiveConnection(&output, type.Get()));
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, pin->ReceiveConnection(&output, type.Get()));
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, pin->Connect(&output, type.Get()));
  ASSERT_EQ(S_OK, pin->ConnectionMediaType(&copy));
  // A deep copy: the format block is the caller's to free.
  EXPECT_TRUE(IsEqualGUID(copy.subtype, MEDIASUBTYPE_RGB24));
  ASSERT_EQ(sizeof(VIDEOINFOHEADER), copy.cbFormat);
  EXPECT_NE(type.Get()->pbFormat, copy.pbFormat);
  EXPECT_EQ(0, std::memcmp(copy.pbFormat, type.Get()->pbFormat, copy.cbFormat));
  FreeMediaType(copy);
  ASSERT_EQ(S_OK, pin->ConnectedTo(connected.Receive()));
  EXPECT_EQ(static_cast<IPin*>(&output), connected.Get());
  connected.Reset();

  ASSERT_EQ(S_OK, filter->Run(0));
  EXPECT_EQ(VFW_E_NOT_STOPPED, pin->Disconnect());
  EXPECT_EQ(VFW_E_NO_ALLOCATOR, filter->Stop());  // reported, but the filter stops
  EXPECT_EQ(S_OK, pin->Disconnect());
  EXPECT_EQ(0u, output.refs.load());

  // Every type is accepted, even one without a format block.
  AM_MEDIA_TYPE bare{};
  EXPECT_EQ(S_OK, pin->QueryAccept(&bare));
  ASSERT_EQ(S_OK, pin->ReceiveConnection(&output, &bare));
  ASSERT_EQ(S_OK, pin->ConnectionMediaType(&copy));
  EXPECT_EQ(nullptr, copy.pbFormat);
  FreeMediaType(copy);
  EXPECT_EQ(S_OK, pin->Disconnect());
}

TEST(RendererComTest, NameFromTheGraphIsCopiedAndCut) {
  ComPtr<IBaseFilter> filter = MakeSink();
  FILTER_INFO info;
  std::wstring name = L"Video Sink";
  const std::wstring longName(200, L'n');
  const std::pair<const wchar_t*, std::wstring> cases[] = {
      {name.c_str(), L"Video Sink"}, {longName.c_str(), longName.substr(0, 127)}, {nullptr, L""}};
  ASSERT_EQ(S_OK, filter->QueryFilterInfo(&info));
  EXPECT_EQ(std::wstring(), info.achName);
  EXPECT_EQ(nullptr, info.pGraph);
  for (const auto& c : cases) {
    ASSERT_EQ(S_OK, filter->JoinFilterGraph(nullptr, c.first));
    name[0] = L'X';  // the filter keeps its own copy
    ASSERT_EQ(S_OK, filter->QueryFilterInfo(&info));
    EXPECT_EQ(c.second, info.achName);
  }
}

}  // namespace
