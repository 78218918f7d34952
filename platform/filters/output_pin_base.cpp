// OutputPinBase: transport and allocator agreement for our output pins.
#include "platform/filters/output_pin_base.h"

#include <algorithm>

namespace {
// Buffers asked for when downstream wants fewer: enough for a streaming thread to run ahead of a slow consumer.
constexpr LONG kMinBuffers = 4;
}  // namespace

OutputPinBase::OutputPinBase(FilterBase* filter, CriticalSection* lock, const WCHAR* name)
    : PinBase(filter, lock, name, PINDIR_OUTPUT) {}

HRESULT OutputPinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  return VFW_E_INVALID_DIRECTION;
}

HRESULT OutputPinBase::CheckConnect(IPin* pin) {
  HRESULT hr = PinBase::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  hr = pin->QueryInterface(IID_IMemInputPin, m_input.ReceiveVoid());
  return FAILED(hr) ? VFW_E_NO_TRANSPORT : S_OK;
}

HRESULT OutputPinBase::CompleteConnect(IPin* /*receivePin*/) {
  if (!m_input) return VFW_E_NO_TRANSPORT;
  return DecideAllocator(m_input.Get(), &m_allocator);
}

HRESULT OutputPinBase::BreakConnect() {
  if (m_allocator) m_allocator->Decommit();
  m_allocator.Reset();
  m_input.Reset();
  return S_OK;
}

// Sized for one sample, with what the downstream pin asks for (optional for it) as the lower bound; either
// allocator is announced with NotifyAllocator.
HRESULT OutputPinBase::DecideAllocator(IMemInputPin* input, ComPtr<IMemAllocator>* out) {
  ALLOCATOR_PROPERTIES wanted{};
  input->GetAllocatorRequirements(&wanted);
  const LONG sampleBytes = SampleBytes();
  ALLOCATOR_PROPERTIES request{std::max(wanted.cBuffers, kMinBuffers), std::max(wanted.cbBuffer, sampleBytes),
                               std::max<LONG>(wanted.cbAlign, 1), std::max<LONG>(wanted.cbPrefix, 0)};
  auto tryAllocator = [&](IMemAllocator* allocator) -> HRESULT {
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < sampleBytes || actual.cBuffers < 1) return E_FAIL;
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

HRESULT OutputPinBase::Active() {
  CriticalSection::Scoped lock(*m_lock);
  if (!m_allocator) return S_OK;
  return m_allocator->Commit();
}

HRESULT OutputPinBase::Inactive() {
  CriticalSection::Scoped lock(*m_lock);
  if (!m_allocator) return S_OK;
  return m_allocator->Decommit();
}
