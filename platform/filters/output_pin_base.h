// OutputPinBase: an output pin that delivers through the downstream pin's IMemInputPin, with an allocator agreed
// at connection: the downstream pin's when it offers one, else a new standard allocator.
//
// Threads: the control thread connects and changes state; a derived pin's streaming thread may deliver through
// copies of m_input and m_allocator taken under m_lock (the filter's), which guards both.
#pragma once

#include "platform/filters/pin_base.h"

class OutputPinBase : public PinBase {
 public:
  // An output pin is never the receiving end of a connection.
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  // An output pin takes no flush or end-of-stream from downstream.
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }

  // Commits the allocator when the filter pauses, decommits it when the filter stops.
  HRESULT Active() override;
  HRESULT Inactive() override;

 protected:
  OutputPinBase(FilterBase* filter, CriticalSection* lock, const WCHAR* name);

  // The downstream pin must be an input pin with IMemInputPin (else VFW_E_NO_TRANSPORT).
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;

  // Bytes of one sample of the connection's type, under m_lock once the type is set.
  virtual LONG SampleBytes() = 0;

  ComPtr<IMemInputPin> m_input;
  ComPtr<IMemAllocator> m_allocator;

 private:
  HRESULT DecideAllocator(IMemInputPin* input, ComPtr<IMemAllocator>* out);
};
