// A minimal renderer for the platform tests: one input pin that records what reaches it.
// Thread rule: Receive runs on the source's streaming thread; the record is guarded by mutex_, and the test
// thread reads it through the waiting accessors.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/dshow.h"
#include "platform/media_type.h"

struct ReceivedSample {
  LONG length = 0;
  HRESULT timeResult = S_OK;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  bool syncPoint = false;
  bool discontinuity = false;
  IMemAllocator* allocatorSeen = nullptr;  // identity only
};

class TestSink final : public pnx::ComObject, public IBaseFilter, public IPin, public IMemInputPin {
 public:
  // offerAllocator: GetAllocator hands out an allocator of its own (else VFW_E_NO_ALLOCATOR).
  explicit TestSink(bool offerAllocator = true) : offerAllocator_(offerAllocator) {}

  static ComPtr<TestSink> Make(bool offerAllocator = true) {
    ComPtr<TestSink> sink(new TestSink(offerAllocator));
    return sink;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  PNX_COM_REFCOUNT

  // IBaseFilter
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample**, LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

  // For the tests.
  IPin* Pin() { return static_cast<IPin*>(this); }
  IBaseFilter* Filter() { return static_cast<IBaseFilter*>(this); }
  bool WaitForSamples(size_t count, std::chrono::milliseconds limit);
  std::vector<ReceivedSample> Samples();
  std::vector<uint8_t> LastFrame();
  IMemAllocator* OfferedAllocator() { return offered_.Get(); }
  IMemAllocator* NotifiedAllocator() { return notified_.Get(); }
  void SetReceiveAnswer(HRESULT hr);
  // Whether Receive keeps a copy of the last frame (off for measurements).
  void SetKeepFrames(bool keep);
  MediaType ConnectionType();

 private:
  const bool offerAllocator_;
  std::mutex mutex_;
  std::condition_variable received_;
  FILTER_STATE state_ = State_Stopped;
  IFilterGraph* graph_ = nullptr;
  ComPtr<IPin> connected_;
  MediaType type_;
  ComPtr<IMemAllocator> offered_;
  ComPtr<IMemAllocator> notified_;
  HRESULT receiveAnswer_ = S_OK;
  bool keepFrames_ = true;
  std::vector<ReceivedSample> samples_;
  std::vector<uint8_t> lastFrame_;
};
