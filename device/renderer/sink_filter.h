// SinkFilter: the preview renderer. One input pin; every sample with data is handed, in place, to the
// callback installed through INorvexSink.
//
// Threads and locks:
// - Control thread: IBaseFilter, IPin and INorvexSink operations. m_filterLock guards the filter state, the
//   connection, the clock, the name and the allocator (held by the base classes).
// - Streaming thread: Receive -> ProcessSample. It takes m_filterLock only briefly and never around the
//   callback: to look at the state and the flushing flag, to copy the connection type for the first sample
//   and to read the name for the missing-timestamp warning. m_attachConnectionType and
//   m_timestampWarningGiven are its own.
// - m_callbackLock guards m_callback and m_callbackContext; ProcessSample holds it from its look at the state
//   to the end of the callback, and SetSampleCallback, Stop and the pin's BeginFlush take it after their
//   change, so each of them waits for a callback in progress. Order: m_callbackLock, then m_filterLock; never
//   the other way round.
//
// Which samples reach the callback: none while stopped (VFW_E_WRONG_STATE) or flushing (S_FALSE); every
// sample with data while paused or running. Once Stop or BeginFlush has returned, no callback runs until the
// filter runs again or the flush ends.
//
// Creation, as the capture graph needs it:
//   SinkFilter* sink = new (std::nothrow) SinkFilter();       // count 0, pin "Input" made; never throws
//   sink->NonDelegatingQueryInterface(IID_IBaseFilter, ...);  // the creator's reference, count 1
// The filter deletes itself when the last reference goes; a reference to its pin keeps it alive.
#pragma once

#include <memory>

#include "device/renderer/norvex_sink.h"
#include "device/renderer/sink_input_pin.h"
#include "platform/com_object.h"
#include "platform/filters/critical_section.h"
#include "platform/filters/filter_base.h"

// {B9B75E3E-F60C-45ED-8E60-352F37E13000}
inline constexpr CLSID CLSID_NorvexSinkFilter = {
    0xb9b75e3e, 0xf60c, 0x45ed, {0x8e, 0x60, 0x35, 0x2f, 0x37, 0xe1, 0x30, 0x00}};

class SinkFilter : public FilterBase, public INorvexSink {
 public:
  SinkFilter();

  // Adds INorvexSink to the base's interfaces.
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IUnknown, for every interface of the filter.
  PNX_COM_UNKNOWN_OF(FilterBase)

  // INorvexSink
  HRESULT STDMETHODCALLTYPE SetSampleCallback(SampleCallback callback, void* context) override;
  HRESULT STDMETHODCALLTYPE SetStreamThreadName(const char* name) override;

  // IMediaFilter: stops as the base does, then waits for a callback in progress.
  HRESULT STDMETHODCALLTYPE Stop() override;

  // FilterBase
  int GetPinCount() override;
  PinBase* GetPin(int index) override;

  // The sample step, on the streaming thread: collects the sample's properties, chooses the media type to pass
  // and runs the callback under m_callbackLock. S_FALSE for an empty sample (no callback); a failure of the
  // sample, of its GetTime (other than no time) or of copying the connection type ends the step without a
  // callback; so does a stopped filter (VFW_E_WRONG_STATE) or a flushing pin (S_FALSE), and such a refused
  // sample leaves the one-shot connection type for the next one. Every other sample is answered S_OK, also
  // one without time (delivered with start and duration 0) or with a start time only.
  HRESULT ProcessSample(IMediaSample* sample);

  // Returns once no callback is in progress. Called after a change that refuses further samples.
  void WaitForCallback();

 private:
  ~SinkFilter() override;

  void WriteTimestampWarning();

  // Declared in this order so that the pin goes first and the filter lock last.
  CriticalSection m_filterLock;
  CriticalSection m_callbackLock;
  std::unique_ptr<SinkInputPin> m_pInputPin;
  SampleCallback m_callback = nullptr;
  void* m_callbackContext = nullptr;
  bool m_attachConnectionType = true;
  bool m_timestampWarningGiven = false;
};
