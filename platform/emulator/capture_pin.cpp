// The emulated node's capture pin; see capture_pin.h.
#include "platform/emulator/capture_pin.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/emulator/multiview_frame.h"
#include "platform/emulator/source_filter.h"

namespace emulator {
namespace {

const WCHAR kPinName[] = {'C', 'a', 'p', 't', 'u', 'r', 'e', 0};
const REFERENCE_TIME kUnitsPerSecond = 10000000;

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

// The format among formats that pmt describes (subtype, width and signed height), if any.
bool FindFormat(const AM_MEDIA_TYPE& pmt, const std::vector<Format>& formats, Format* format) {
  if (pmt.majortype != MEDIATYPE_Video || pmt.formattype != FORMAT_VideoInfo) return false;
  if (pmt.cbFormat < sizeof(VIDEOINFOHEADER) || !pmt.pbFormat) return false;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt.pbFormat);
  for (const Format& candidate : formats) {
    if (candidate.subtype == pmt.subtype && candidate.width == vih->bmiHeader.biWidth &&
        BitmapHeight(candidate) == vih->bmiHeader.biHeight) {
      *format = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

CapturePin::CapturePin(SourceFilter* filter, CriticalSection* lock)
    : OutputPinBase(filter, lock, kPinName), m_source(filter) {}

CapturePin::~CapturePin() { StopStreaming(); }

HRESULT CapturePin::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IAMStreamConfig)) return pnx::HandOut(static_cast<IAMStreamConfig*>(this), out);
  if (IsEqualIID(iid, IID_IKsPropertySet)) return pnx::HandOut(static_cast<IKsPropertySet*>(this), out);
  return OutputPinBase::NonDelegatingQueryInterface(iid, out);
}

std::vector<Format> CapturePin::Offered() const { return m_formatSet ? std::vector<Format>{m_setFormat} : m_formats; }

HRESULT CapturePin::GetMediaType(int position, AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  CriticalSection::Scoped lock(*m_lock);
  const std::vector<Format> offered = Offered();
  if (static_cast<size_t>(position) >= offered.size()) return VFW_S_NO_MORE_ITEMS;
  auto node = m_source->Node();
  MediaType made;
  HRESULT hr = MakeMediaType(offered[static_cast<size_t>(position)], node ? node->fps : 0, &made);
  if (FAILED(hr)) return hr;
  return CopyMediaType(type, made.Get());
}

HRESULT CapturePin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  Format format;
  return FindFormat(*type, Offered(), &format) ? S_OK : S_FALSE;
}

HRESULT CapturePin::SetMediaType(const AM_MEDIA_TYPE* type) {
  if (!FindFormat(*type, Offered(), &m_connectionFormat)) return VFW_E_TYPE_NOT_ACCEPTED;
  m_sentFormat = m_connectionFormat;
  return OutputPinBase::SetMediaType(type);
}

LONG CapturePin::SampleBytes() { return static_cast<LONG>(FrameBytes(m_connectionFormat)); }

HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  Format format;
  bool hadFormat;
  Format previous;
  ComPtr<IFilterGraph> graph;
  bool reconnect;
  {
    CriticalSection::Scoped lock(*m_lock);
    if (!m_filter->IsStopped()) return VFW_E_NOT_STOPPED;
    if (m_refuseFormat || !FindFormat(*pmt, m_formats, &format)) return VFW_E_INVALIDMEDIATYPE;
    hadFormat = m_formatSet;
    previous = m_setFormat;
    m_formatSet = true;
    m_setFormat = format;
    IncrementMediaTypeVersion();
    reconnect = IsConnected() && (format.subtype != m_connectionFormat.subtype ||
                                  format.width != m_connectionFormat.width ||
                                  format.height != m_connectionFormat.height ||
                                  format.topDown != m_connectionFormat.topDown);
    graph = m_filter->Graph();
  }
  if (reconnect) {
    // A connected pin changes its type by reconnecting through the graph, as capture filters do. The graph
    // takes its own lock and then ours, so ours is not held here.
    HRESULT hr = graph ? graph->Reconnect(this) : VFW_E_NOT_IN_GRAPH;
    if (FAILED(hr)) {
      CriticalSection::Scoped lock(*m_lock);
      m_formatSet = hadFormat;
      m_setFormat = previous;
      IncrementMediaTypeVersion();
      return hr;
    }
  }
  CriticalSection::Scoped lock(*m_lock);
  m_source->TraceFormatChange(format);
  return S_OK;
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** pmt) {
  if (!pmt) return E_POINTER;
  *pmt = nullptr;
  CriticalSection::Scoped lock(*m_lock);
  MediaType type;
  HRESULT hr = ConnectionMediaType(type.Get());
  if (hr == VFW_E_NOT_CONNECTED) hr = GetMediaType(0, type.Get());
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  *pmt = CreateMediaType(type.Get());
  return *pmt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  *count = static_cast<int>(m_formats.size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* caps) {
  if (!pmt || !caps) return E_POINTER;
  *pmt = nullptr;
  CriticalSection::Scoped lock(*m_lock);
  if (index < 0) return E_INVALIDARG;
  if (static_cast<size_t>(index) >= m_formats.size()) return S_FALSE;
  const Format& format = m_formats[static_cast<size_t>(index)];
  auto node = m_source->Node();
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

void CapturePin::SetFormats(std::vector<Format> formats, bool refuseFormat) {
  m_formats = std::move(formats);
  m_refuseFormat = refuseFormat;
  m_formatSet = false;
  IncrementMediaTypeVersion();
}

HRESULT CapturePin::Inactive() {
  StopStreaming();
  return OutputPinBase::Inactive();
}

// Samples carry stream times: the graph clock's time at capture less the start time given here. A graph may
// start the stream ahead of its clock (wine's by 200 ms); stamping from zero instead would make a renderer that
// waits on the clock hold every sample that much longer.
HRESULT CapturePin::Run(REFERENCE_TIME start) {
  ComPtr<IReferenceClock> clock;
  REFERENCE_TIME now = 0, offset = 0;
  if (SUCCEEDED(m_filter->GetSyncSource(clock.Receive())) && clock && SUCCEEDED(clock->GetTime(&now))) {
    offset = now - start;
  }
  StartStreaming(offset);
  return S_OK;
}

void CapturePin::StartStreaming(REFERENCE_TIME timeOffset) {
  auto node = m_source->Node();
  if (!IsConnected() || !node || node->fps <= 0) return;
  {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    m_delivering = true;
    ++m_runNumber;
    m_timeOffset = timeOffset;
    if (!m_thread.joinable()) m_stopping = false;
  }
  if (m_thread.joinable()) {
    m_streamWake.notify_all();  // the paused thread resumes
    return;
  }
  m_thread = std::thread(&CapturePin::StreamLoop, this, m_allocator, m_input, m_connectionFormat, m_sentFormat, node);
}

void CapturePin::EndRun() {
  {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    m_delivering = false;
  }
  m_streamWake.notify_all();
}

void CapturePin::StopStreaming() {
  if (!m_thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    m_stopping = true;
    m_delivering = false;
  }
  m_streamWake.notify_all();
  if (m_thread.get_id() == std::this_thread::get_id()) {
    // The last reference went away inside a delivery on the streaming thread itself.
    m_thread.detach();
  } else {
    m_thread.join();
  }
}

// While running, delivers frame n at n/fps seconds after the run began with its stream times (shifted by
// the run's time offset), dropping frames when late; while paused, waits. The still picture is redrawn only
// when a device's view or the running frame size changed; the moving part is drawn on every frame. A new frame
// size goes out as a dynamic format change does: the downstream pin is asked with QueryAccept, and the first
// sample of the new size carries the new media type.
void CapturePin::StreamLoop(ComPtr<IMemAllocator> allocator, ComPtr<IMemInputPin> input, Format connection,
                            Format sent, std::shared_ptr<const NodeConfig> node) {
  using Clock = std::chrono::steady_clock;
  const int64_t fps = node->fps;
  ALLOCATOR_PROPERTIES buffers{};
  allocator->GetProperties(&buffers);
  ComPtr<IPin> downstream;
  input->QueryInterface(IID_IPin, downstream.ReceiveVoid());
  Format format = sent;  // of the frames delivered now
  bool announce = false;  // the next sample carries format's media type
  std::vector<uint8_t> frame;
  DeviceView view;
  uint64_t drawnVersion = 0;
  uint64_t frameNumber = 0;
  for (;;) {
    uint64_t run = 0;
    REFERENCE_TIME timeOffset = 0;
    {
      std::unique_lock<std::mutex> lock(m_streamMutex);
      m_streamWake.wait(lock, [this] { return m_stopping || m_delivering; });
      if (m_stopping) return;
      run = m_runNumber;
      timeOffset = m_timeOffset;
    }
    // Ends this run: Stop, Pause, or a new Run that came before the thread saw the pause.
    auto runOver = [this, run] { return m_stopping || !m_delivering || m_runNumber != run; };
    const Clock::time_point t0 = Clock::now();
    bool first = true;
    for (int64_t n = 0;;) {
      const REFERENCE_TIME due = n * kUnitsPerSecond / fps;
      REFERENCE_TIME start = timeOffset + due;
      REFERENCE_TIME stop = timeOffset + (n + 1) * kUnitsPerSecond / fps;
      {
        std::unique_lock<std::mutex> lock(m_streamMutex);
        if (m_streamWake.wait_until(lock, t0 + std::chrono::microseconds(due / 10), runOver)) break;
      }
      if (node->deviceNumber != 0 && !DevicePresent(node->deviceNumber)) {
        // The device went away: the stream ends as a removed capture source ends it, and nothing more is
        // delivered until the graph stops or runs again.
        if (downstream) downstream->EndOfStream();
        std::unique_lock<std::mutex> lock(m_streamMutex);
        m_streamWake.wait(lock, runOver);
        break;
      }
      uint64_t version = ViewVersion();
      if (frame.empty() || version != drawnVersion) {
        drawnVersion = version;
        Format wanted = connection;
        if (ReadRunningFrameSize(&wanted.width, &wanted.height) &&
            (wanted.width != format.width || wanted.height != format.height) &&
            FrameBytes(wanted) > static_cast<size_t>(std::max<LONG>(buffers.cbBuffer, 0))) {
          wanted = format;  // it would not fit the buffers: the stream keeps its size
        }
        if (wanted.width != format.width || wanted.height != format.height) {
          MediaType type;
          if (SUCCEEDED(MakeMediaType(wanted, node->fps, &type)) && downstream &&
              downstream->QueryAccept(type.Get()) == S_OK) {
            format = wanted;
            announce = true;
            m_sentFormat = format;
          }
        }
        view = DeviceView();
        bool isDevice = node->deviceNumber != 0 && ReadDeviceView(node->deviceNumber, &view);
        if (node->deviceNumber != 0 && !isDevice) view.signal[0] = view.signal[1] = view.signal[2] = view.signal[3] = false;
        DrawFrame(format, node->deviceNumber != 0 ? &view : nullptr, &frame);
      }
      ComPtr<IMediaSample> sample;
      HRESULT hr = allocator->GetBuffer(sample.Receive(), nullptr, nullptr, AM_GBF_NOWAIT);
      if (SUCCEEDED(hr)) {
        BYTE* data = nullptr;
        hr = sample->GetPointer(&data);
        bool typed = !announce;
        if (SUCCEEDED(hr) && announce) {
          // A frame of the new size never goes out without its type: when the type cannot be attached, the
          // frame is dropped and the next one tries again.
          MediaType type;
          typed = SUCCEEDED(MakeMediaType(format, node->fps, &type)) && SUCCEEDED(sample->SetMediaType(type.Get()));
          announce = !typed;
        }
        if (SUCCEEDED(hr) && typed) {
          LONG length = static_cast<LONG>(std::min<size_t>(frame.size(), static_cast<size_t>(std::max<LONG>(sample->GetSize(), 0))));
          std::memcpy(data, frame.data(), static_cast<size_t>(length));
          if (static_cast<size_t>(length) == frame.size() && !node->still) {
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
            StampFrame(format, node->deviceNumber != 0 ? &view : nullptr, frameNumber, static_cast<uint32_t>(ms), data);
          }
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
          std::unique_lock<std::mutex> lock(m_streamMutex);
          m_streamWake.wait(lock, runOver);
          break;
        }
      } else if (hr != VFW_E_TIMEOUT) {
        return;  // decommitted
      }
      // No free buffer (VFW_E_TIMEOUT) drops this frame; a late thread skips to the current slot.
      int64_t elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count() * 10;
      const int64_t next = std::max(n + 1, elapsed * fps / kUnitsPerSecond);
      frameNumber += static_cast<uint64_t>(next - n);
      n = next;
    }
  }
}

}  // namespace emulator
