// FilterBase: the default filter answers shared by our filters.
#include "platform/filters/filter_base.h"

#include <cstring>
#include <new>

#include "platform/com_object.h"
#include "platform/filters/enum_pins.h"
#include "platform/filters/pin_base.h"
#include "platform/filters/wide_name.h"

namespace {

bool WideEqual(const WCHAR* a, const WCHAR* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return false;
    if (*a == 0) return true;
  }
}

}  // namespace

// Counted with the layer's other COM objects, so that a COM server serving the filter knows when it may unload.
FilterBase::FilterBase(const CLSID& classId, CriticalSection* lock) : m_lock(lock), m_classId(classId) {
  pnx::LiveObjectAdded();
}

FilterBase::~FilterBase() { pnx::LiveObjectRemoved(); }

void FilterBase::SetState(FILTER_STATE state) {
  if (m_state == state) return;
  m_state = state;
  OnStateChanged(state);
}

HRESULT FilterBase::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBaseFilter) || IsEqualIID(iid, IID_IMediaFilter) ||
      IsEqualIID(iid, IID_IPersist)) {
    *out = static_cast<IBaseFilter*>(this);
  } else if (IsEqualIID(iid, IID_IAMovieSetup)) {
    *out = static_cast<IAMovieSetup*>(this);
  } else {
    return E_NOINTERFACE;
  }
  NonDelegatingAddRef();
  return S_OK;
}

ULONG FilterBase::NonDelegatingAddRef() { return ++m_refCount; }

ULONG FilterBase::NonDelegatingRelease() {
  const ULONG count = --m_refCount;
  if (count == 0) {
    // A release made while the destructor runs (a pin handing back a reference) must not delete twice.
    m_refCount = 1;
    delete this;
  }
  return count;
}

HRESULT FilterBase::QueryInterface(REFIID iid, void** out) { return NonDelegatingQueryInterface(iid, out); }
ULONG FilterBase::AddRef() { return NonDelegatingAddRef(); }
ULONG FilterBase::Release() { return NonDelegatingRelease(); }

HRESULT FilterBase::GetClassID(CLSID* classId) {
  if (!classId) return E_POINTER;
  *classId = m_classId;
  return S_OK;
}

HRESULT FilterBase::Stop() {
  CriticalSection::Scoped lock(*m_lock);
  HRESULT result = S_OK;
  if (m_state != State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      PinBase* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      // The state changes all the same; the first failure is reported.
      const HRESULT hr = pin->Inactive();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  SetState(State_Stopped);
  return result;
}

HRESULT FilterBase::Pause() {
  CriticalSection::Scoped lock(*m_lock);
  if (m_state != State_Paused) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      PinBase* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      if (m_state == State_Running) {
        pin->EndRun();
        continue;
      }
      const HRESULT hr = pin->Active();
      if (FAILED(hr)) return hr;
    }
  }
  SetState(State_Paused);
  return IsLiveSource() ? VFW_S_CANT_CUE : S_OK;
}

HRESULT FilterBase::Run(REFERENCE_TIME start) {
  CriticalSection::Scoped lock(*m_lock);
  m_start = start;
  if (m_state == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_state != State_Running) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      PinBase* pin = GetPin(i);
      if (!pin || !pin->IsConnected()) continue;
      const HRESULT hr = pin->Run(start);
      if (FAILED(hr)) return hr;
    }
  }
  SetState(State_Running);
  return S_OK;
}

HRESULT FilterBase::GetState(DWORD /*timeoutMs*/, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  *state = m_state;
  return m_state == State_Paused && IsLiveSource() ? VFW_S_CANT_CUE : S_OK;
}

HRESULT FilterBase::SetSyncSource(IReferenceClock* clock) {
  CriticalSection::Scoped lock(*m_lock);
  m_clock = ComPtr<IReferenceClock>(clock);
  return S_OK;
}

HRESULT FilterBase::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  return m_clock.CopyTo(clock);
}

HRESULT FilterBase::EnumPins(IEnumPins** pins) {
  return pnx::CreateComObject<::EnumPins>(IID_IEnumPins, reinterpret_cast<void**>(pins), this);
}

HRESULT FilterBase::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  CriticalSection::Scoped lock(*m_lock);
  const int count = GetPinCount();
  for (int i = 0; i < count; ++i) {
    PinBase* candidate = GetPin(i);
    if (candidate && WideEqual(candidate->Name(), id)) {
      *pin = candidate;
      candidate->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT FilterBase::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  const WCHAR* name = Name();
  filters::CopyWideName(name, info->achName);
  info->pGraph = m_graph;
  if (m_graph) m_graph->AddRef();
  return S_OK;
}

HRESULT FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CriticalSection::Scoped lock(*m_lock);
  std::unique_ptr<WCHAR[]> copy;
  if (name) {
    const size_t n = filters::WideLength(name);
    copy.reset(new (std::nothrow) WCHAR[n + 1]);
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy.get(), name, (n + 1) * sizeof(WCHAR));
  }
  m_graph = graph;
  m_name = std::move(copy);
  return S_OK;
}

HRESULT FilterBase::QueryVendorInfo(LPWSTR* vendorInfo) {
  if (vendorInfo) *vendorInfo = nullptr;
  return E_NOTIMPL;
}

HRESULT FilterBase::Register() { return S_FALSE; }
HRESULT FilterBase::Unregister() { return S_FALSE; }

LONG FilterBase::GetPinVersion() { return m_pinVersion.load(); }

void FilterBase::IncrementPinVersion() { ++m_pinVersion; }

ComPtr<IFilterGraph> FilterBase::Graph() {
  CriticalSection::Scoped lock(*m_lock);
  return ComPtr<IFilterGraph>(m_graph);
}

bool FilterBase::IsStopped() {
  CriticalSection::Scoped lock(*m_lock);
  return m_state == State_Stopped;
}
