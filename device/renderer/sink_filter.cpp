// SinkFilter: the preview renderer's filter and its sample step.
#include "device/renderer/sink_filter.h"

#include <cstring>
#include <new>

#include "platform/com_object.h"
#include "trace/trace.h"

namespace {
constexpr int32_t kTraceLevelWarning = 3;
constexpr uint32_t kTraceAllContexts = 0xFFFFFFFF;
// The longest the streaming thread waits for the trace mutex (see WriteTimestampWarning).
constexpr uint32_t kTraceWaitMs = 100;
// Room for the filter's name in the warning; the graph's names are at most 127 characters.
constexpr size_t kMaxNameLength = 127;
}  // namespace

SinkFilter::SinkFilter()
    : FilterBase(CLSID_NorvexSinkFilter, &m_filterLock),
      // Without memory for the pin the filter still exists, answering as a filter with no pin would.
      m_pInputPin(new (std::nothrow) SinkInputPin(this, &m_filterLock)) {}

SinkFilter::~SinkFilter() = default;

HRESULT SinkFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_INorvexSink)) return pnx::HandOut(static_cast<INorvexSink*>(this), out);
  return FilterBase::NonDelegatingQueryInterface(iid, out);
}

HRESULT SinkFilter::QueryInterface(REFIID iid, void** out) { return NonDelegatingQueryInterface(iid, out); }
ULONG SinkFilter::AddRef() { return NonDelegatingAddRef(); }
ULONG SinkFilter::Release() { return NonDelegatingRelease(); }

HRESULT SinkFilter::SetSampleCallback(SampleCallback callback, void* context) {
  // Waits here while ProcessSample runs the previous callback.
  CriticalSection::Scoped lock(m_callbackLock);
  m_callback = callback;
  m_callbackContext = context;
  return S_OK;
}

HRESULT SinkFilter::SetStreamThreadName(const char* name) {
  if (!name || !m_pInputPin) return E_POINTER;
  m_pInputPin->SetThreadName(name);
  return S_OK;
}

int SinkFilter::GetPinCount() { return 1; }

PinBase* SinkFilter::GetPin(int index) { return index == 0 ? m_pInputPin.get() : nullptr; }

HRESULT SinkFilter::ProcessSample(IMediaSample* sample) {
  if (!sample) return E_POINTER;

  const LONG length = sample->GetActualDataLength();
  if (length <= 0) return S_FALSE;

  BYTE* data = nullptr;
  HRESULT hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;

  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  const HRESULT timeResult = sample->GetTime(&start, &stop);

  // The sample's own type is ours to delete from here on; the connection type is copied only once.
  MediaTypePtr ownType;
  MediaType connectionType;
  const AM_MEDIA_TYPE* type = nullptr;
  const bool carriesType = sample->GetMediaType(ownType.Receive()) == S_OK && ownType;
  if (carriesType) type = ownType.Get();
  if (carriesType || m_attachConnectionType) {
    if (!carriesType && m_pInputPin) {
      hr = m_pInputPin->ConnectionMediaType(connectionType.Get());
      if (FAILED(hr)) return hr;
      type = connectionType.Get();
    }
    m_attachConnectionType = false;
  }

  // Every delivered sample is answered S_OK, with times or without: a capture pin stops delivering at any
  // other answer, so a device stamping no stop time (or no time) would freeze the preview after one frame.
  if (timeResult == VFW_E_SAMPLE_TIME_NOT_SET) {
    start = 0;
    stop = 0;
    if (!m_timestampWarningGiven) {
      WriteTimestampWarning();
      m_timestampWarningGiven = true;
    }
  } else if (FAILED(timeResult)) {
    return timeResult;
  }

  // Times come from upstream as they are: wrap rather than overflow on absurd ones.
  const int64_t duration = static_cast<int64_t>(static_cast<uint64_t>(stop) - static_cast<uint64_t>(start));
  const int32_t discontinuity = sample->IsDiscontinuity() == S_OK ? 1 : 0;
  const int32_t syncPoint = sample->IsSyncPoint() == S_OK ? 1 : 0;

  CriticalSection::Scoped lock(m_callbackLock);
  if (m_callback) {
    // The streaming thread belongs to the platform: nothing thrown by the callback may reach it. The frame is
    // dropped and the next one is delivered as usual.
    try {
      m_callback(data, length, start, duration, discontinuity, syncPoint, type, m_callbackContext);
    } catch (...) {
    }
  }
  return S_OK;
}

void SinkFilter::WriteTimestampWarning() {
  // The name is the control thread's; copy it under the filter lock (once in the filter's life).
  wchar_t name[kMaxNameLength + 1];
  {
    CriticalSection::Scoped lock(m_filterLock);
    const WCHAR* source = Name();
    size_t n = 0;
    for (; n < kMaxNameLength && source[n] != 0; ++n) name[n] = source[n];
    name[n] = 0;
  }

  // The streaming thread is registered for this one line only, unless it was registered already. Another
  // process that holds the trace mutex and hangs must not freeze the preview: past the bound the line is
  // dropped. A healthy holder keeps it for one line's work (at most a log file append), far below the bound;
  // the bound is less than one preview image's interval (every seventh frame: 117 ms at 60 per second).
  TraceOneShotMessage(kTraceWaitMs, kTraceLevelWarning, kTraceAllContexts, L"%ls() - Timestamps not set for %ls",
                      L"SinkFilter::Receive", name);
}
