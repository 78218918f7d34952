// Small stand-ins for what the renderer meets upstream: a media sample and an allocator, each on the test's
// stack (its count is observed, never used to delete it); the upstream pin is a TestSink facing out.
#pragma once

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "device/renderer/sink_filter.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/media_type.h"
#include "tests/platform/test_sink.h"

namespace renderer_test {

// The count an object holds now, read without changing it.
inline ULONG Refs(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

template <class Interface>
class StackObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, Iid())) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }

  std::atomic<ULONG> refs{0};

 private:
  virtual REFIID Iid() const = 0;
};

enum class SampleTime { kSet, kStartOnly, kNotSet, kFails };

// A sample offering what the sample step reads; everything else answers E_NOTIMPL.
class FakeSample : public StackObject<IMediaSample> {
 public:
  std::vector<uint8_t> bytes = std::vector<uint8_t>(16, 0xAB);
  LONG actualLength = 16;
  HRESULT pointerResult = S_OK;
  SampleTime time = SampleTime::kSet;
  REFERENCE_TIME start = 1000;
  REFERENCE_TIME stop = 1400;
  const AM_MEDIA_TYPE* ownType = nullptr;  // handed out as a fresh copy on each GetMediaType

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    if (FAILED(pointerResult)) return pointerResult;
    *buffer = bytes.data();
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(bytes.size()); }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* startOut, REFERENCE_TIME* stopOut) override {
    if (time == SampleTime::kNotSet) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (time == SampleTime::kFails) return E_UNEXPECTED;
    *startOut = start;
    // Start only: as the platform's samples do, the stop time is made up as start + 1.
    *stopOut = time == SampleTime::kSet ? stop : start + 1;
    return time == SampleTime::kSet ? S_OK : VFW_S_NO_STOP_TIME;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return actualLength; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
    *type = ownType ? CreateMediaType(ownType) : nullptr;
    return !ownType ? S_FALSE : *type ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  REFIID Iid() const override { return IID_IMediaSample; }
};

// An allocator whose decommit answer the test chooses.
class FakeAllocator : public StackObject<IMemAllocator> {
 public:
  HRESULT decommitResult = S_OK;

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES*, ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Commit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Decommit() override { return decommitResult; }
  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

 private:
  REFIID Iid() const override { return IID_IMemAllocator; }
};

// An RGB24 video type with a VIDEOINFOHEADER format block of the given size.
inline MediaType MakeVideoType(LONG width, LONG height) {
  MediaType type;
  type->majortype = MEDIATYPE_Video;
  type->subtype = MEDIASUBTYPE_RGB24;
  type->formattype = FORMAT_VideoInfo;
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormat(sizeof(VIDEOINFOHEADER)));
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = 24;
  return type;
}

// A new sink filter and the interfaces the tests drive it through.
struct Sink {
  Sink() {
    EXPECT_EQ(S_OK, (new SinkFilter())->NonDelegatingQueryInterface(IID_IBaseFilter, filter.ReceiveVoid()));
    EXPECT_EQ(S_OK, filter.As(IID_INorvexSink, &sink));
    EXPECT_EQ(S_OK, filter->FindPin(L"Input", pin.Receive()));
    EXPECT_EQ(S_OK, pin.As(IID_IMemInputPin, &input));
  }
  ComPtr<IBaseFilter> filter;
  ComPtr<INorvexSink> sink;
  ComPtr<IPin> pin;
  ComPtr<IMemInputPin> input;
};

}  // namespace renderer_test
