// The emulated node's source filter; see source_filter.h.
#include "platform/emulator/source_filter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cwchar>

#include "platform/emulator/emulator.h"
#include "platform/emulator/multiview_frame.h"

namespace emulator {
namespace {

using pnx::CreateComObject;
using pnx::EnumNext;
using pnx::EnumSkip;
using pnx::HandOut;

// KSPROPSETID_VendorControl of the device.
const GUID kVendorControlSet = {0xd1e5209f, 0x68fd, 0x4529, {0xbe, 0xe0, 0x5e, 0x7a, 0x1f, 0x47, 0x92, 0x26}};
const wchar_t kPinName[] = L"Capture";
const REFERENCE_TIME kUnitsPerSecond = 10000000;

void CopyName(const std::wstring& from, WCHAR* to, size_t capacity) {
  size_t count = std::min(from.size(), capacity - 1);
  for (size_t i = 0; i < count; ++i) to[i] = static_cast<WCHAR>(from[i]);
  to[count] = 0;
}

HRESULT MakeMediaType(const Format& format, int32_t fps, MediaType* out) {
  out->Clear();
  AM_MEDIA_TYPE* mt = out->Get();
  size_t bytes = FrameBytes(format);
  mt->majortype = MEDIATYPE_Video;
  mt->subtype = format.subtype;
  mt->bFixedSizeSamples = format.subtype == MEDIASUBTYPE_MJPG ? FALSE : TRUE;
  mt->bTemporalCompression = FALSE;
  mt->lSampleSize = static_cast<ULONG>(bytes);
  mt->formattype = FORMAT_VideoInfo;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(out->AllocFormat(sizeof(VIDEOINFOHEADER)));
  if (!vih) return E_OUTOFMEMORY;
  vih->AvgTimePerFrame = fps > 0 ? kUnitsPerSecond / fps : 0;
  vih->dwBitRate = static_cast<DWORD>(std::min<uint64_t>(uint64_t{bytes} * 8 * static_cast<uint64_t>(fps), 0xFFFFFFFFu));
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = format.width;
  vih->bmiHeader.biHeight = BitmapHeight(format);  // positive: bottom-up rows
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = FormatBitCount(format);
  vih->bmiHeader.biCompression = IsRgbFormat(format) ? BI_RGB : format.subtype.Data1;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(bytes);
  return S_OK;
}

bool Matches(const GUID& wanted, const GUID& actual) { return wanted == GUID_NULL || wanted == actual; }

class PinEnum final : public pnx::ComObject, public IEnumPins {
 public:
  PinEnum(IBaseFilter* filter, IPin* pin, ULONG position) : filter_(filter), pin_(pin), position_(position) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumPins) return HandOut(static_cast<IEnumPins*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    if (count != 1 && !fetched) return E_POINTER;
    ULONG done = 0;
    if (count > 0 && position_ == 0) {
      pins[done++] = pin_;
      pin_->AddRef();
      position_ = 1;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    ULONG left = 1 - position_;
    position_ = std::min<ULONG>(1, position_ + count);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    return CreateComObject<PinEnum>(IID_IEnumPins, reinterpret_cast<void**>(ppEnum), filter_.Get(), pin_,
                                    position_);
  }

 private:
  ComPtr<IBaseFilter> filter_;  // keeps the pin alive
  IPin* pin_;
  ULONG position_;
};

class MediaTypeEnum final : public pnx::ComObject, public IEnumMediaTypes {
 public:
  MediaTypeEnum(IPin* pin, std::vector<MediaType> types, size_t position)
      : pin_(pin), types_(std::move(types)), position_(position) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) return HandOut(static_cast<IEnumMediaTypes*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    return EnumNext(position_, types_.size(), count, types, fetched, [this](size_t i, AM_MEDIA_TYPE** slot) {
      *slot = CreateMediaType(types_[i].Get());
      return *slot != nullptr;
    });
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return EnumSkip(position_, types_.size(), count); }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) override {
    if (!ppEnum) return E_POINTER;
    return CreateComObject<MediaTypeEnum>(IID_IEnumMediaTypes, reinterpret_cast<void**>(ppEnum), pin_.Get(), types_,
                                          position_);
  }

 private:
  ComPtr<IPin> pin_;
  std::vector<MediaType> types_;
  size_t position_;
};

}  // namespace

// ---- CapturePin ------------------------------------------------------------------------------------------

CapturePin::~CapturePin() { StopStreaming(); }

HRESULT CapturePin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPin) return HandOut(static_cast<IPin*>(this), ppv);
  if (riid == IID_IAMStreamConfig) return HandOut(static_cast<IAMStreamConfig*>(this), ppv);
  if (riid == IID_IKsPropertySet) return HandOut(static_cast<IKsPropertySet*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CapturePin::AddRef() { return filter_->AddRef(); }
ULONG CapturePin::Release() { return filter_->Release(); }

std::vector<CapturePin::Candidate> CapturePin::Candidates() const {
  std::vector<Candidate> out;
  auto node = filter_->NodeLocked();
  int32_t fps = node ? node->fps : 0;
  std::vector<Format> formats = formatSet_ ? std::vector<Format>{setFormat_} : formats_;
  for (const Format& format : formats) {
    Candidate candidate;
    candidate.format = format;
    if (SUCCEEDED(MakeMediaType(format, fps, &candidate.type))) out.push_back(std::move(candidate));
  }
  return out;
}

bool CapturePin::FindFormat(const AM_MEDIA_TYPE& pmt, Format* format) const {
  if (pmt.majortype != MEDIATYPE_Video || pmt.formattype != FORMAT_VideoInfo) return false;
  if (pmt.cbFormat < sizeof(VIDEOINFOHEADER) || !pmt.pbFormat) return false;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt.pbFormat);
  for (const Format& candidate : formats_) {
    if (candidate.subtype == pmt.subtype && candidate.width == vih->bmiHeader.biWidth &&
        BitmapHeight(candidate) == vih->bmiHeader.biHeight) {
      *format = candidate;
      return true;
    }
  }
  return false;
}

HRESULT CapturePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* pmt) {
  if (!receivePin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (filter_->StateLocked() != State_Stopped) return VFW_E_NOT_STOPPED;
  PIN_DIRECTION dir;
  HRESULT hr = receivePin->QueryDirection(&dir);
  if (FAILED(hr)) return hr;
  if (dir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  ComPtr<IMemInputPin> input;
  hr = ComPtr<IPin>(receivePin).As(IID_IMemInputPin, &input);
  if (FAILED(hr)) return VFW_E_NO_TRANSPORT;

  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  for (Candidate& candidate : Candidates()) {
    const AM_MEDIA_TYPE& mt = *candidate.type;
    if (pmt && (!Matches(pmt->majortype, mt.majortype) || !Matches(pmt->subtype, mt.subtype) ||
                !Matches(pmt->formattype, mt.formattype))) {
      continue;
    }
    if (pmt && pmt->formattype == FORMAT_VideoInfo && pmt->cbFormat >= sizeof(VIDEOINFOHEADER) && pmt->pbFormat) {
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
      if (vih->bmiHeader.biWidth != candidate.format.width || vih->bmiHeader.biHeight != BitmapHeight(candidate.format))
        continue;
    }
    hr = receivePin->ReceiveConnection(this, &mt);
    if (FAILED(hr)) {
      last = hr;
      continue;
    }
    ComPtr<IMemAllocator> allocator;
    hr = DecideAllocator(input.Get(), candidate.format, &allocator);
    if (FAILED(hr)) {
      receivePin->Disconnect();
      last = hr;
      continue;
    }
    connected_ = ComPtr<IPin>(receivePin);
    input_ = input;
    allocator_ = allocator;
    connectionType_ = candidate.type;
    connectionFormat_ = candidate.format;
    return S_OK;
  }
  return last;
}

// As the platform's output pins do: the downstream pin's allocator when it offers one, else a new standard
// allocator; either way sized for one frame and announced with NotifyAllocator.
HRESULT CapturePin::DecideAllocator(IMemInputPin* input, const Format& format, ComPtr<IMemAllocator>* out) {
  ALLOCATOR_PROPERTIES wanted{};
  input->GetAllocatorRequirements(&wanted);  // optional for the downstream pin
  LONG frameBytes = static_cast<LONG>(FrameBytes(format));
  ALLOCATOR_PROPERTIES request{std::max<LONG>(wanted.cBuffers, 4), std::max(wanted.cbBuffer, frameBytes),
                               std::max<LONG>(wanted.cbAlign, 1), std::max<LONG>(wanted.cbPrefix, 0)};
  auto tryAllocator = [&](IMemAllocator* allocator) -> HRESULT {
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < frameBytes || actual.cBuffers < 1) return E_FAIL;
    return input->NotifyAllocator(allocator, FALSE);
  };
  ComPtr<IMemAllocator> allocator;
  HRESULT hr = input->GetAllocator(allocator.Receive());
  if (SUCCEEDED(hr) && allocator) {
    hr = tryAllocator(allocator.Get());
    if (SUCCEEDED(hr)) {
      *out = allocator;
      return S_OK;
    }
  }
  hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                        allocator.ReceiveVoid());
  if (FAILED(hr)) return hr;
  hr = tryAllocator(allocator.Get());
  if (FAILED(hr)) return hr;
  *out = allocator;
  return S_OK;
}

HRESULT CapturePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
  if (!connector || !pmt) return E_POINTER;
  return VFW_E_INVALID_DIRECTION;  // an output pin never receives a connection
}

HRESULT CapturePin::Disconnect() {
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  if (filter_->StateLocked() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!connected_) return S_FALSE;
  if (allocator_) allocator_->Decommit();
  allocator_.Reset();
  input_.Reset();
  connected_.Reset();
  connectionType_.Clear();
  return S_OK;
}

HRESULT CapturePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  *pin = nullptr;
  if (!connected_) return VFW_E_NOT_CONNECTED;
  return connected_.CopyTo(pin);
}

HRESULT CapturePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  if (!connected_) {
    std::memset(pmt, 0, sizeof(*pmt));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, connectionType_.Get());
}

HRESULT CapturePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = static_cast<IBaseFilter*>(filter_);
  info->pFilter->AddRef();
  info->dir = PINDIR_OUTPUT;
  CopyName(kPinName, info->achName, MAX_PIN_NAME);
  return S_OK;
}

HRESULT CapturePin::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = PINDIR_OUTPUT;
  return S_OK;
}

HRESULT CapturePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  size_t count = std::wcslen(kPinName) + 1;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(count * sizeof(WCHAR)));
  if (!*id) return E_OUTOFMEMORY;
  CopyName(kPinName, *id, count);
  return S_OK;
}

HRESULT CapturePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  Format format;
  return FindFormat(*pmt, &format) ? S_OK : S_FALSE;
}

HRESULT CapturePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  std::vector<MediaType> types;
  {
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    for (Candidate& candidate : Candidates()) types.push_back(candidate.type);
  }
  return CreateComObject<MediaTypeEnum>(IID_IEnumMediaTypes, reinterpret_cast<void**>(ppEnum),
                                        static_cast<IPin*>(this), std::move(types), size_t{0});
}

HRESULT CapturePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
HRESULT CapturePin::EndOfStream() { return E_UNEXPECTED; }
HRESULT CapturePin::BeginFlush() { return E_UNEXPECTED; }
HRESULT CapturePin::EndFlush() { return E_UNEXPECTED; }
HRESULT CapturePin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  Format format;
  bool hadFormat;
  Format previous;
  ComPtr<IFilterGraph> graph;
  bool reconnect;
  {
    std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
    if (filter_->StateLocked() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!FindFormat(*pmt, &format)) return VFW_E_INVALIDMEDIATYPE;
    hadFormat = formatSet_;
    previous = setFormat_;
    formatSet_ = true;
    setFormat_ = format;
    reconnect = connected_ && (format.subtype != connectionFormat_.subtype ||
                               format.width != connectionFormat_.width || format.height != connectionFormat_.height ||
                               format.topDown != connectionFormat_.topDown);
    graph = ComPtr<IFilterGraph>(filter_->GraphLocked());
  }
  if (reconnect) {
    // A connected pin changes its type by reconnecting through the graph, as capture filters do. The graph
    // takes its own lock and then ours, so ours is not held here.
    HRESULT hr = graph ? graph->Reconnect(this) : VFW_E_NOT_IN_GRAPH;
    if (FAILED(hr)) {
      std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
      formatSet_ = hadFormat;
      setFormat_ = previous;
      return hr;
    }
  }
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  filter_->TraceFormatChange(format);
  return S_OK;
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** pmt) {
  if (!pmt) return E_POINTER;
  *pmt = nullptr;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  if (connected_) {
    *pmt = CreateMediaType(connectionType_.Get());
    return *pmt ? S_OK : E_OUTOFMEMORY;
  }
  std::vector<Candidate> candidates = Candidates();
  if (candidates.empty()) return E_FAIL;
  *pmt = CreateMediaType(candidates.front().type.Get());
  return *pmt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  *count = static_cast<int>(formats_.size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* caps) {
  if (!pmt || !caps) return E_POINTER;
  *pmt = nullptr;
  std::lock_guard<std::recursive_mutex> lock(filter_->Lock());
  if (index < 0) return E_INVALIDARG;
  if (static_cast<size_t>(index) >= formats_.size()) return S_FALSE;
  const Format& format = formats_[static_cast<size_t>(index)];
  auto node = filter_->NodeLocked();
  MediaType type;
  HRESULT hr = MakeMediaType(format, node ? node->fps : 0, &type);
  if (FAILED(hr)) return hr;
  VIDEO_STREAM_CONFIG_CAPS scc{};
  scc.guid = FORMAT_VideoInfo;
  scc.InputSize = scc.MinCroppingSize = scc.MaxCroppingSize = {format.width, format.height};
  scc.MinOutputSize = scc.MaxOutputSize = {format.width, format.height};
  scc.CropGranularityX = scc.CropGranularityY = scc.CropAlignX = scc.CropAlignY = 1;
  scc.OutputGranularityX = scc.OutputGranularityY = 1;
  scc.MinFrameInterval = scc.MaxFrameInterval = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame;
  scc.MinBitsPerSecond = scc.MaxBitsPerSecond =
      static_cast<LONG>(std::min<DWORD>(reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->dwBitRate, 0x7FFFFFFF));
  std::memcpy(caps, &scc, sizeof(scc));
  *pmt = CreateMediaType(type.Get());
  return *pmt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::Set(REFGUID set, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
  return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT CapturePin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (!data) return E_POINTER;
  if (size < sizeof(GUID)) return E_UNEXPECTED;
  std::memcpy(data, &PIN_CATEGORY_CAPTURE, sizeof(GUID));
  if (returned) *returned = sizeof(GUID);
  return S_OK;
}

HRESULT CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

void CapturePin::SetFormats(std::vector<Format> formats) {
  formats_ = std::move(formats);
  formatSet_ = false;
}

HRESULT CapturePin::Active() {
  if (!allocator_) return S_OK;
  return allocator_->Commit();
}

void CapturePin::Inactive() {
  StopStreaming();
  if (allocator_) allocator_->Decommit();
}

void CapturePin::StartStreaming(REFERENCE_TIME timeOffset) {
  auto node = filter_->NodeLocked();
  if (!connected_ || !node || node->fps <= 0) return;
  {
    std::lock_guard<std::mutex> lock(streamMutex_);
    delivering_ = true;
    ++runNumber_;
    timeOffset_ = timeOffset;
    if (!thread_.joinable()) stopping_ = false;
  }
  if (thread_.joinable()) {
    streamWake_.notify_all();  // the paused thread resumes
    return;
  }
  thread_ = std::thread(&CapturePin::StreamLoop, this, allocator_, input_, connectionFormat_, node);
}

void CapturePin::PauseStreaming() {
  {
    std::lock_guard<std::mutex> lock(streamMutex_);
    delivering_ = false;
  }
  streamWake_.notify_all();
}

void CapturePin::StopStreaming() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(streamMutex_);
    stopping_ = true;
    delivering_ = false;
  }
  streamWake_.notify_all();
  if (thread_.get_id() == std::this_thread::get_id()) {
    // The last reference went away inside a delivery on the streaming thread itself.
    thread_.detach();
  } else {
    thread_.join();
  }
}

// While running, delivers frame n at n/fps seconds after the run began with its stream times (shifted by
// the run's time offset), dropping frames when late; while paused, waits. The picture is redrawn only when a
// device's view changed.
void CapturePin::StreamLoop(ComPtr<IMemAllocator> allocator, ComPtr<IMemInputPin> input, Format format,
                            std::shared_ptr<const NodeConfig> node) {
  using Clock = std::chrono::steady_clock;
  const int64_t fps = node->fps;
  std::vector<uint8_t> frame;
  uint64_t drawnVersion = 0;
  for (;;) {
    uint64_t run = 0;
    REFERENCE_TIME timeOffset = 0;
    {
      std::unique_lock<std::mutex> lock(streamMutex_);
      streamWake_.wait(lock, [this] { return stopping_ || delivering_; });
      if (stopping_) return;
      run = runNumber_;
      timeOffset = timeOffset_;
    }
    // Ends this run: Stop, Pause, or a new Run that came before the thread saw the pause.
    auto runOver = [this, run] { return stopping_ || !delivering_ || runNumber_ != run; };
    const Clock::time_point t0 = Clock::now();
    bool first = true;
    for (int64_t n = 0;;) {
      const REFERENCE_TIME due = n * kUnitsPerSecond / fps;
      REFERENCE_TIME start = timeOffset + due;
      REFERENCE_TIME stop = timeOffset + (n + 1) * kUnitsPerSecond / fps;
      {
        std::unique_lock<std::mutex> lock(streamMutex_);
        if (streamWake_.wait_until(lock, t0 + std::chrono::microseconds(due / 10), runOver)) break;
      }
      if (node->deviceNumber != 0 && !DevicePresent(node->deviceNumber)) {
        // The device went away: the stream ends as a removed capture source ends it, and nothing more is
        // delivered until the graph stops or runs again.
        ComPtr<IPin> pin;
        if (SUCCEEDED(input->QueryInterface(IID_IPin, pin.ReceiveVoid()))) pin->EndOfStream();
        std::unique_lock<std::mutex> lock(streamMutex_);
        streamWake_.wait(lock, runOver);
        break;
      }
      uint64_t version = ViewVersion();
      if (frame.empty() || version != drawnVersion) {
        drawnVersion = version;
        DeviceView view;
        bool isDevice = node->deviceNumber != 0 && ReadDeviceView(node->deviceNumber, &view);
        if (node->deviceNumber != 0 && !isDevice) view.signal[0] = view.signal[1] = view.signal[2] = view.signal[3] = false;
        DrawFrame(format, node->deviceNumber != 0 ? &view : nullptr, &frame);
      }
      ComPtr<IMediaSample> sample;
      HRESULT hr = allocator->GetBuffer(sample.Receive(), nullptr, nullptr, AM_GBF_NOWAIT);
      if (SUCCEEDED(hr)) {
        BYTE* data = nullptr;
        hr = sample->GetPointer(&data);
        if (SUCCEEDED(hr)) {
          LONG length = static_cast<LONG>(std::min<size_t>(frame.size(), static_cast<size_t>(std::max<LONG>(sample->GetSize(), 0))));
          std::memcpy(data, frame.data(), static_cast<size_t>(length));
          sample->SetActualDataLength(length);
          // Some devices stamp a start time only, or none at all.
          sample->SetTime(node->times == SampleTimes::kNone ? nullptr : &start,
                          node->times == SampleTimes::kStartAndStop ? &stop : nullptr);
          sample->SetSyncPoint(TRUE);
          sample->SetDiscontinuity(first ? TRUE : FALSE);
          hr = input->Receive(sample.Get());
          first = false;
        }
        sample.Reset();
        if (hr != S_OK) {
          // Downstream asked for no more samples: wait for Stop, Pause or the next Run.
          std::unique_lock<std::mutex> lock(streamMutex_);
          streamWake_.wait(lock, runOver);
          break;
        }
      } else if (hr != VFW_E_TIMEOUT) {
        return;  // decommitted
      }
      // No free buffer (VFW_E_TIMEOUT) drops this frame; a late thread skips to the current slot.
      int64_t elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count() * 10;
      n = std::max(n + 1, elapsed * fps / kUnitsPerSecond);
    }
  }
}

// ---- SourceFilter ----------------------------------------------------------------------------------------

SourceFilter::SourceFilter() : pin_(this) {}

SourceFilter::~SourceFilter() {
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  pin_.Inactive();
}

HRESULT SourceFilter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter)
    return HandOut(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IPersistPropertyBag) return HandOut(static_cast<IPersistPropertyBag*>(this), ppv);
  std::shared_ptr<const NodeConfig> node;
  {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    node = node_;
  }
  if (riid == IID_IAMAnalogVideoDecoder && node && node->decoder)
    return HandOut(static_cast<IAMAnalogVideoDecoder*>(this), ppv);
  if (riid == IID_IKsPropertySet && node && node->propertySet) return HandOut(static_cast<IKsPropertySet*>(this), ppv);
  return E_NOINTERFACE;
}

HRESULT SourceFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_BrelvonEmulatedSource;
  return S_OK;
}

void SourceFilter::SetStateLocked(FILTER_STATE state) {
  if (state_ == state) return;
  state_ = state;
  if (node_) TraceState(node_->nameUtf8, state);
}

void SourceFilter::TraceFormatChange(const Format& format) {
  if (node_) TraceFormat(node_->nameUtf8, format);
}

HRESULT SourceFilter::Stop() {
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  if (state_ != State_Stopped) pin_.Inactive();
  SetStateLocked(State_Stopped);
  return S_OK;
}

// A live source: it has nothing to show while paused, which the platform reports as VFW_S_CANT_CUE.
HRESULT SourceFilter::Pause() {
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  if (state_ == State_Stopped) {
    HRESULT hr = pin_.Active();
    if (FAILED(hr)) return hr;
  } else if (state_ == State_Running) {
    pin_.PauseStreaming();
  }
  SetStateLocked(State_Paused);
  return VFW_S_CANT_CUE;
}

HRESULT SourceFilter::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  if (state_ == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (state_ != State_Running) {
    // Samples carry stream times: the graph clock's time at capture less the start time given here. A
    // graph may start the stream ahead of its clock (wine's by 200 ms); stamping from zero instead would
    // make a renderer that waits on the clock hold every sample that much longer.
    REFERENCE_TIME now = 0, offset = 0;
    if (clock_ && SUCCEEDED(clock_->GetTime(&now))) offset = now - start;
    pin_.StartStreaming(offset);
    SetStateLocked(State_Running);
  }
  return S_OK;
}

HRESULT SourceFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  *state = state_;
  return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT SourceFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  clock_ = ComPtr<IReferenceClock>(clock);
  return S_OK;
}

HRESULT SourceFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  return clock_.CopyTo(clock);
}

HRESULT SourceFilter::EnumPins(IEnumPins** ppEnum) {
  if (!ppEnum) return E_POINTER;
  return CreateComObject<PinEnum>(IID_IEnumPins, reinterpret_cast<void**>(ppEnum), static_cast<IBaseFilter*>(this),
                                  static_cast<IPin*>(&pin_), ULONG{0});
}

HRESULT SourceFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  if (std::wcscmp(id, kPinName) != 0) return VFW_E_NOT_FOUND;
  return HandOut(static_cast<IPin*>(&pin_), reinterpret_cast<void**>(pin));
}

HRESULT SourceFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT SourceFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  graph_ = graph;
  name_ = name ? std::wstring(name) : std::wstring();
  return S_OK;
}

HRESULT SourceFilter::QueryVendorInfo(LPWSTR* info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT SourceFilter::get_AvailableTVFormats(LONG* formats) {
  if (!formats) return E_POINTER;
  *formats = 0;  // no analog standard
  return S_OK;
}
HRESULT SourceFilter::put_TVFormat(LONG) { return E_NOTIMPL; }
HRESULT SourceFilter::get_TVFormat(LONG* format) {
  if (!format) return E_POINTER;
  *format = 0;
  return S_OK;
}

HRESULT SourceFilter::get_HorizontalLocked(LONG* locked) {
  if (!locked) return E_POINTER;
  std::shared_ptr<const NodeConfig> node;
  {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    node = node_;
  }
  DeviceView view;
  if (node && !DevicePresent(node->deviceNumber)) return HRESULT_FROM_WIN32(1167);  // not connected
  if (!node || !ReadDeviceView(node->deviceNumber, &view)) return E_FAIL;
  *locked = view.signal[node->input - 1] ? 1 : 0;
  return S_OK;
}

HRESULT SourceFilter::put_VCRHorizontalLocking(LONG) { return E_NOTIMPL; }
HRESULT SourceFilter::get_VCRHorizontalLocking(LONG*) { return E_NOTIMPL; }
HRESULT SourceFilter::get_NumberOfLines(LONG*) { return E_NOTIMPL; }
HRESULT SourceFilter::put_OutputEnable(LONG) { return E_NOTIMPL; }
HRESULT SourceFilter::get_OutputEnable(LONG* value) {
  if (!value) return E_POINTER;
  *value = 1;
  return S_OK;
}

HRESULT SourceFilter::Set(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size) {
  if (set != kVendorControlSet) return E_PROP_SET_UNSUPPORTED;
  std::shared_ptr<const NodeConfig> node;
  {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    node = node_;
  }
  if (!node) return E_UNEXPECTED;
  const BYTE* bytes = static_cast<const BYTE*>(data);
  HRESULT hr = bytes ? SetDeviceProperty(node->deviceNumber, id, bytes, size) : E_POINTER;
  TraceProperty(node->nameUtf8, true, id, bytes, size, hr);
  return hr;
}

HRESULT SourceFilter::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) {
  if (set != kVendorControlSet) return E_PROP_SET_UNSUPPORTED;
  std::shared_ptr<const NodeConfig> node;
  {
    std::lock_guard<std::recursive_mutex> lock(filterLock_);
    node = node_;
  }
  if (!node) return E_UNEXPECTED;
  BYTE* bytes = static_cast<BYTE*>(data);
  DWORD count = 0;
  HRESULT hr = bytes ? GetDeviceProperty(node->deviceNumber, id, bytes, size, &count) : E_POINTER;
  if (returned) *returned = count;
  TraceProperty(node->nameUtf8, false, id, SUCCEEDED(hr) ? bytes : nullptr, count, hr);
  return hr;
}

HRESULT SourceFilter::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != kVendorControlSet) return E_PROP_SET_UNSUPPORTED;
  if (!support) return E_POINTER;
  if (!PropertyIdKnown(id, false)) return E_PROP_ID_UNSUPPORTED;
  *support = KSPROPERTY_SUPPORT_GET | (PropertyIdKnown(id, true) ? KSPROPERTY_SUPPORT_SET : 0);
  return S_OK;
}

HRESULT SourceFilter::InitNew() { return S_OK; }

HRESULT SourceFilter::Load(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_POINTER;
  VARIANT name;
  VariantInit(&name);
  name.vt = VT_BSTR;
  HRESULT hr = bag->Read(L"FriendlyName", &name, log);
  if (FAILED(hr)) return hr;
  std::wstring friendlyName = name.vt == VT_BSTR && name.bstrVal ? std::wstring(name.bstrVal) : std::wstring();
  VariantClear(&name);
  std::shared_ptr<const NodeConfig> node = FindNode(friendlyName);
  if (!node) return E_FAIL;
  std::lock_guard<std::recursive_mutex> lock(filterLock_);
  if (node_) return E_UNEXPECTED;  // a filter serves one node for its life
  node_ = node;
  pin_.SetFormats(node->formats);
  return S_OK;
}

HRESULT SourceFilter::Save(IPropertyBag*, BOOL, BOOL) { return E_NOTIMPL; }

HRESULT CreateSourceFilter(REFIID riid, void** ppv) { return CreateComObject<SourceFilter>(riid, ppv); }

}  // namespace emulator
