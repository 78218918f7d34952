// A minimal filter of one pin for the tests: as an input pin it records what reaches it (the platform tests'
// renderer), as an output pin it stands for the upstream pin a renderer connects to.
// Thread rule: Receive and QueryAccept run on the source's streaming thread; the record and the answer are
// guarded by m_mutex, and the test thread reads and sets them through the accessors.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/com_enumerator.h"
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
  // The bitmap size in the media type the sample carries (a format change); 0 x 0 when it carries none.
  int32_t typeWidth = 0;
  int32_t typeHeight = 0;
};

class TestSink final : public pnx::ComObject, public IBaseFilter, public IPin, public IMemInputPin {
  using Lock = std::lock_guard<std::mutex>;

 public:
  explicit TestSink(PIN_DIRECTION direction = PINDIR_INPUT) : m_direction(direction) {}
  static ComPtr<TestSink> Make(PIN_DIRECTION direction = PINDIR_INPUT) {
    return ComPtr<TestSink>(new TestSink(direction));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
      return pnx::HandOut(Filter(), ppv);
    if (riid == IID_IPin) return pnx::HandOut(Pin(), ppv);
    if (riid == IID_IMemInputPin) return pnx::HandOut(static_cast<IMemInputPin*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

  // IBaseFilter
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    *clsid = GUID_NULL;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override { return SetState(State_Stopped); }
  HRESULT STDMETHODCALLTYPE Pause() override { return SetState(State_Paused); }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return SetState(State_Running); }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    Lock lock(m_mutex);
    *state = m_state;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    *clock = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override {
    return pnx::CreateComObject<OnePinEnum>(IID_IEnumPins, reinterpret_cast<void**>(ppEnum), this);
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin** pin) override {
    return pnx::HandOut(Pin(), reinterpret_cast<void**>(pin));
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    info->achName[0] = 0;
    info->pGraph = m_graph;
    if (m_graph) m_graph->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR) override {
    m_graph = graph;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override {
    if (!connector || !pmt) return E_POINTER;
    if (m_connected) return VFW_E_ALREADY_CONNECTED;
    m_connected = ComPtr<IPin>(connector);
    return m_type.Set(*pmt);
  }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    if (!m_connected) return S_FALSE;
    m_connected.Reset();
    m_notified.Reset();
    m_type.Clear();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    *pin = nullptr;
    return m_connected ? m_connected.CopyTo(pin) : VFW_E_NOT_CONNECTED;
  }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override {
    return m_connected ? CopyMediaType(pmt, m_type.Get()) : VFW_E_NOT_CONNECTED;
  }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override {
    info->pFilter = Filter();
    info->pFilter->AddRef();
    info->dir = m_direction;
    info->achName[0] = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
    *dir = m_direction;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override {
    Lock lock(m_mutex);
    ++m_queries;
    m_received.notify_all();
    return m_acceptAnswer;
  }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override {
    *allocator = nullptr;
    if (!m_offered) {
      HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                    m_offered.ReceiveVoid());
      if (FAILED(hr)) return hr;
    }
    return m_offered.CopyTo(allocator);
  }
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL) override {
    if (!allocator) return E_POINTER;
    m_notified = ComPtr<IMemAllocator>(allocator);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
    ReceivedSample record;
    record.length = sample->GetActualDataLength();
    record.timeResult = sample->GetTime(&record.start, &record.stop);
    record.syncPoint = sample->IsSyncPoint() == S_OK;
    record.discontinuity = sample->IsDiscontinuity() == S_OK;
    MediaTypePtr type;
    if (sample->GetMediaType(type.Receive()) == S_OK && type && type->formattype == FORMAT_VideoInfo &&
        type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
      record.typeWidth = info->bmiHeader.biWidth;
      record.typeHeight = info->bmiHeader.biHeight;
    }
    Lock lock(m_mutex);
    record.allocatorSeen = m_notified.Get();
    m_samples.push_back(record);
    m_received.notify_all();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample**, LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_OK; }

  // For the tests.
  IPin* Pin() { return static_cast<IPin*>(this); }
  IBaseFilter* Filter() { return static_cast<IBaseFilter*>(this); }
  bool WaitForSamples(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_received.wait_for(lock, limit, [&] { return m_samples.size() >= count; });
  }
  std::vector<ReceivedSample> Samples() {
    Lock lock(m_mutex);
    return m_samples;
  }
  // What QueryAccept answers from now on (S_OK until then).
  void AnswerQueryAccept(HRESULT answer) {
    Lock lock(m_mutex);
    m_acceptAnswer = answer;
  }
  bool WaitForQueries(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_received.wait_for(lock, limit, [&] { return m_queries >= count; });
  }
  IMemAllocator* OfferedAllocator() { return m_offered.Get(); }
  IMemAllocator* NotifiedAllocator() { return m_notified.Get(); }

 private:
  // Yields the sink's one pin.
  class OnePinEnum final : public pnx::Enumerator<OnePinEnum, IEnumPins, IPin> {
   public:
    explicit OnePinEnum(TestSink* sink) : Enumerator(IID_IEnumPins), m_sink(sink) {}

   private:
    size_t Count() override { return 1; }
    HRESULT Make(size_t, IPin** slot) override { return pnx::HandOut(m_sink->Pin(), reinterpret_cast<void**>(slot)); }
    ComPtr<TestSink> m_sink;
  };

  HRESULT SetState(FILTER_STATE state) {
    Lock lock(m_mutex);
    m_state = state;
    return S_OK;
  }

  const PIN_DIRECTION m_direction;
  std::mutex m_mutex;
  std::condition_variable m_received;
  FILTER_STATE m_state = State_Stopped;
  IFilterGraph* m_graph = nullptr;
  ComPtr<IPin> m_connected;
  MediaType m_type;
  ComPtr<IMemAllocator> m_offered;
  ComPtr<IMemAllocator> m_notified;
  std::vector<ReceivedSample> m_samples;
  HRESULT m_acceptAnswer = S_OK;
  size_t m_queries = 0;  // QueryAccept calls
};
