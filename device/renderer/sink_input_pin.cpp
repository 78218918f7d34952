// SinkInputPin: the renderer's input pin.
#include "device/renderer/sink_input_pin.h"

#include "device/renderer/sink_filter.h"
#include "trace/trace.h"

namespace {
constexpr WCHAR kPinName[] = {'I', 'n', 'p', 'u', 't', 0};
}

SinkInputPin::SinkInputPin(SinkFilter* filter, CriticalSection* lock)
    : InputPinBase(filter, lock, kPinName), m_sinkFilter(filter) {}

SinkInputPin::~SinkInputPin() = default;

HRESULT SinkInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) { return type ? S_OK : E_POINTER; }

void SinkInputPin::SetThreadName(const char* name) {
  size_t n = 0;
  for (; n < kMaxThreadNameLength && name[n] != 0; ++n) m_threadName[n] = name[n];
  m_threadName[n] = 0;
  m_threadAnnounced = 0;
}

HRESULT SinkInputPin::BeginFlush() {
  const HRESULT hr = InputPinBase::BeginFlush();
  if (m_sinkFilter) m_sinkFilter->WaitForCallback();
  return hr;
}

HRESULT SinkInputPin::Receive(IMediaSample* sample) {
  if (m_threadAnnounced == 0) {
    if (m_threadName[0] != 0) TraceSetThreadName(TraceCurrentThreadId(), m_threadName);
    m_threadAnnounced = 1;
  }
  // The filter looks at its state and the flushing flag under its callback lock (see ProcessSample).
  if (!m_sinkFilter) return S_FALSE;
  return m_sinkFilter->ProcessSample(sample);
}
