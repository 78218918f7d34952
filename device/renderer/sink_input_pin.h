// SinkInputPin: the preview renderer's one input pin, "Input". Accepts every media type and hands each
// received sample to its SinkFilter.
//
// Threads: Receive and ReceiveMultiple run on the upstream's streaming thread; m_threadName and
// m_threadAnnounced are read there and written by SetThreadName on the control thread, which must happen before
// the graph runs (no lock guards them; m_threadAnnounced is atomic so that the flag itself never tears).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/filters/input_pin_base.h"

class SinkFilter;

class SinkInputPin : public InputPinBase {
 public:
  static constexpr size_t kMaxThreadNameLength = 255;

  // filter may be null (the pin then consumes nothing); lock is the filter's.
  SinkInputPin(SinkFilter* filter, CriticalSection* lock);
  ~SinkInputPin() override;

  // IPin: sets the flushing flag, then waits for a callback in progress, so that no sample reaches the
  // callback once this has returned (until EndFlush).
  HRESULT STDMETHODCALLTYPE BeginFlush() override;

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

  // Keeps at most kMaxThreadNameLength characters of name; the next sample announces its thread under it.
  void SetThreadName(const char* name);

 protected:
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;

 private:
  SinkFilter* const m_sinkFilter;  // uncounted back pointer: the filter owns the pin
  std::atomic<int32_t> m_threadAnnounced{0};
  char m_threadName[kMaxThreadNameLength + 1] = {};
};
