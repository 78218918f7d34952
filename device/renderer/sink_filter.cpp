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

HRESULT SinkFilter::Stop() {
  const HRESULT hr = FilterBase::Stop();
  // A frame that passed its state check before the stop may still be in the callback: the caller is told
  // "stopped" only once it is out (the key it was meant for may be gone by then).
  WaitForCallback();
  return hr;
}

void SinkFilter::WaitForCallback() { CriticalSection::Scoped lock(m_callbackLock); }

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

  // The sample's own type is ours to delete from here on.
  MediaTypePtr ownType;
  const bool carriesType = sample->GetMediaType(ownType.Receive()) == S_OK && ownType;

  // Written before the callback lock: the warning may wait for the trace facility, and nobody waiting for a
  // callback to end should wait for that as well.
  if (timeResult == VFW_E_SAMPLE_TIME_NOT_SET) {
    start = 0;
    stop = 0;
    if (!m_timestampWarningGiven) {
      WriteTimestampWarning();
      m_timestampWarningGiven = true;
    }
  }

  // Held from the state check to the end of the callback: Stop and BeginFlush change the state first and then
  // take this lock, so no sample passes the check once they have returned.
  CriticalSection::Scoped lock(m_callbackLock);
  if (m_pInputPin) {
    // Stopped: VFW_E_WRONG_STATE; flushing: S_FALSE. Paused delivers like running: nothing here is scheduled
    // against the clock, so there is no first sample to hold back until the graph runs.
    const HRESULT streaming = m_pInputPin->CheckStreaming();
    if (streaming != S_OK) return streaming;
  }

  // The connection type is copied only once, for the first sample that is let through.
  MediaType connectionType;
  const AM_MEDIA_TYPE* type = carriesType ? ownType.Get() : nullptr;
  if (carriesType || m_attachConnectionType) {
    if (!carriesType && m_pInputPin) {
      hr = m_pInputPin->ConnectionMediaType(connectionType.Get());
      if (FAILED(hr)) return hr;
      type = connectionType.Get();
    }
    m_attachConnectionType = false;
  }

  if (FAILED(timeResult) && timeResult != VFW_E_SAMPLE_TIME_NOT_SET) return timeResult;

  // Times come from upstream as they are: wrap rather than overflow on absurd ones.
  const int64_t duration = static_cast<int64_t>(static_cast<uint64_t>(stop) - static_cast<uint64_t>(start));
  const int32_t discontinuity = sample->IsDiscontinuity() == S_OK ? 1 : 0;
  const int32_t syncPoint = sample->IsSyncPoint() == S_OK ? 1 : 0;

  if (m_callback) {
    // The streaming thread belongs to the platform: nothing thrown by the callback may reach it. The frame is
    // dropped and the next one is delivered as usual.
    try {
      m_callback(data, length, start, duration, discontinuity, syncPoint, type, m_callbackContext);
    } catch (...) {
    }
  }
  // Every delivered sample is answered S_OK, with times or without: a capture pin stops delivering at any
  // other answer, so a device stamping no stop time (or no time) would freeze the preview after one frame.
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
