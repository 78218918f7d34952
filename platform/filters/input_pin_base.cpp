// InputPinBase: allocator agreement and flushing for our input pins.
#include "platform/filters/input_pin_base.h"

#include "platform/com_object.h"
#include "platform/filters/filter_base.h"

InputPinBase::InputPinBase(FilterBase* filter, CriticalSection* lock, const WCHAR* name)
    : PinBase(filter, lock, name, PINDIR_INPUT) {}

HRESULT InputPinBase::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IMemInputPin)) return pnx::HandOut(static_cast<IMemInputPin*>(this), out);
  return PinBase::NonDelegatingQueryInterface(iid, out);
}

HRESULT InputPinBase::BeginFlush() {
  CriticalSection::Scoped lock(*m_lock);
  m_flushing = true;
  return S_OK;
}

HRESULT InputPinBase::EndFlush() {
  CriticalSection::Scoped lock(*m_lock);
  m_flushing = false;
  m_runTimeError = false;
  return S_OK;
}

HRESULT InputPinBase::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  CriticalSection::Scoped lock(*m_lock);
  if (!m_allocator) {
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                        m_allocator.ReceiveVoid());
    if (FAILED(hr)) return hr;
  }
  return m_allocator.CopyTo(allocator);
}

HRESULT InputPinBase::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  m_allocator = ComPtr<IMemAllocator>(allocator);
  m_readOnly = readOnly != FALSE;
  return S_OK;
}

HRESULT InputPinBase::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* /*properties*/) { return E_NOTIMPL; }

HRESULT InputPinBase::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  for (LONG i = 0; i < count; ++i) {
    hr = Receive(samples[i]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

HRESULT InputPinBase::ReceiveCanBlock() { return S_OK; }

HRESULT InputPinBase::Inactive() {
  CriticalSection::Scoped lock(*m_lock);
  m_runTimeError = false;
  if (!m_allocator) return VFW_E_NO_ALLOCATOR;
  m_flushing = false;
  return m_allocator->Decommit();
}

HRESULT InputPinBase::CheckStreaming() {
  CriticalSection::Scoped lock(*m_lock);
  if (m_filter->IsStopped()) return VFW_E_WRONG_STATE;
  if (m_flushing) return S_FALSE;
  if (m_runTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT InputPinBase::BreakConnect() {
  CriticalSection::Scoped lock(*m_lock);
  if (m_allocator) {
    const HRESULT hr = m_allocator->Decommit();
    if (FAILED(hr)) return hr;
    m_allocator.Reset();
  }
  return S_OK;
}
