// The platform tests' recording renderer; see test_sink.h.
#include "tests/platform/test_sink.h"

#include <cstring>

using pnx::HandOut;

HRESULT TestSink::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
    return HandOut(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IPin) return HandOut(static_cast<IPin*>(this), ppv);
  if (riid == IID_IMemInputPin) return HandOut(static_cast<IMemInputPin*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT TestSink::GetClassID(CLSID* clsid) {
  *clsid = GUID_NULL;
  return S_OK;
}
HRESULT TestSink::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = State_Stopped;
  return S_OK;
}
HRESULT TestSink::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = State_Paused;
  return S_OK;
}
HRESULT TestSink::Run(REFERENCE_TIME) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = State_Running;
  return S_OK;
}
HRESULT TestSink::GetState(DWORD, FILTER_STATE* state) {
  std::lock_guard<std::mutex> lock(mutex_);
  *state = state_;
  return S_OK;
}
HRESULT TestSink::GetSyncSource(IReferenceClock** clock) {
  *clock = nullptr;
  return S_OK;
}
namespace {
// Yields the sink's one pin.
class OnePinEnum final : public pnx::ComObject, public IEnumPins {
 public:
  explicit OnePinEnum(TestSink* sink) : sink_(sink) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IEnumPins) return HandOut(static_cast<IEnumPins*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    ULONG done = 0;
    if (count > 0 && !given_) {
      HandOut(sink_->Pin(), reinterpret_cast<void**>(&pins[0]));
      given_ = true;
      done = 1;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    given_ = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins**) override { return E_NOTIMPL; }

 private:
  ComPtr<TestSink> sink_;
  bool given_ = false;
};
}  // namespace

HRESULT TestSink::EnumPins(IEnumPins** ppEnum) {
  return pnx::CreateComObject<OnePinEnum>(IID_IEnumPins, reinterpret_cast<void**>(ppEnum), this);
}
HRESULT TestSink::FindPin(LPCWSTR, IPin** pin) { return HandOut(Pin(), reinterpret_cast<void**>(pin)); }
HRESULT TestSink::QueryFilterInfo(FILTER_INFO* info) {
  info->achName[0] = 0;
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}
HRESULT TestSink::JoinFilterGraph(IFilterGraph* graph, LPCWSTR) {
  graph_ = graph;
  return S_OK;
}

HRESULT TestSink::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
  if (!connector || !pmt) return E_POINTER;
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  connected_ = ComPtr<IPin>(connector);
  return type_.Set(*pmt);
}
HRESULT TestSink::Disconnect() {
  if (!connected_) return S_FALSE;
  connected_.Reset();
  notified_.Reset();
  type_.Clear();
  return S_OK;
}
HRESULT TestSink::ConnectedTo(IPin** pin) {
  *pin = nullptr;
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_.CopyTo(pin);
}
HRESULT TestSink::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return CopyMediaType(pmt, type_.Get());
}
HRESULT TestSink::QueryPinInfo(PIN_INFO* info) {
  info->pFilter = Filter();
  info->pFilter->AddRef();
  info->dir = PINDIR_INPUT;
  info->achName[0] = 0;
  return S_OK;
}
HRESULT TestSink::QueryDirection(PIN_DIRECTION* dir) {
  *dir = PINDIR_INPUT;
  return S_OK;
}

HRESULT TestSink::GetAllocator(IMemAllocator** allocator) {
  *allocator = nullptr;
  if (!offerAllocator_) return VFW_E_NO_ALLOCATOR;
  if (!offered_) {
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  offered_.ReceiveVoid());
    if (FAILED(hr)) return hr;
  }
  return offered_.CopyTo(allocator);
}
HRESULT TestSink::NotifyAllocator(IMemAllocator* allocator, BOOL) {
  if (!allocator) return E_POINTER;
  notified_ = ComPtr<IMemAllocator>(allocator);
  return S_OK;
}

HRESULT TestSink::Receive(IMediaSample* sample) {
  ReceivedSample record;
  record.length = sample->GetActualDataLength();
  record.timeResult = sample->GetTime(&record.start, &record.stop);
  record.syncPoint = sample->IsSyncPoint() == S_OK;
  record.discontinuity = sample->IsDiscontinuity() == S_OK;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  std::lock_guard<std::mutex> lock(mutex_);
  record.allocatorSeen = notified_.Get();
  samples_.push_back(record);
  if (keepFrames_) lastFrame_.assign(data, data + record.length);
  received_.notify_all();
  return receiveAnswer_;
}

bool TestSink::WaitForSamples(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return received_.wait_for(lock, limit, [&] { return samples_.size() >= count; });
}
std::vector<ReceivedSample> TestSink::Samples() {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_;
}
std::vector<uint8_t> TestSink::LastFrame() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastFrame_;
}
void TestSink::SetReceiveAnswer(HRESULT hr) {
  std::lock_guard<std::mutex> lock(mutex_);
  receiveAnswer_ = hr;
}
void TestSink::SetKeepFrames(bool keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  keepFrames_ = keep;
}
MediaType TestSink::ConnectionType() { return type_; }
