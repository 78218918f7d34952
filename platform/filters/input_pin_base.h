// InputPinBase: an input pin with the default answers of IMemInputPin (allocator agreement, flushing).
//
// Threads: the control thread agrees the allocator and changes state; the streaming thread calls Receive,
// ReceiveMultiple and the flush notifications. m_lock (the filter's) guards m_allocator, m_readOnly and the
// flushing and run-time-error flags.
#pragma once

#include "platform/com_object.h"
#include "platform/filters/pin_base.h"

class InputPinBase : public PinBase, public IMemInputPin {
 public:
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IUnknown, for all three interfaces: counted on the owning filter.
  PNX_COM_UNKNOWN_OF(PinBase)

  // IPin
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override = 0;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

  // Decommits the allocator when the filter stops.
  HRESULT Inactive() override;

  // Whether a sample may be delivered now: VFW_E_WRONG_STATE when stopped, S_FALSE while flushing,
  // VFW_E_RUNTIME_ERROR after a run-time error, else S_OK.
  virtual HRESULT CheckStreaming();

 protected:
  InputPinBase(FilterBase* filter, CriticalSection* lock, const WCHAR* name);

  HRESULT BreakConnect() override;

  ComPtr<IMemAllocator> m_allocator;
  bool m_readOnly = false;
  bool m_flushing = false;
};
