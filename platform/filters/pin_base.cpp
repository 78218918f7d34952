// PinBase: the default pin answers shared by our pins.
#include "platform/filters/pin_base.h"

#include <cstring>

#include "platform/filters/enum_media_types.h"
#include "platform/filters/filter_base.h"
#include "platform/filters/wide_name.h"

namespace {

// A type that leaves major type, subtype or format open cannot be tried as it is.
bool IsPartial(const AM_MEDIA_TYPE* type) {
  return IsEqualGUID(type->majortype, GUID_NULL) || IsEqualGUID(type->subtype, GUID_NULL) ||
         IsEqualGUID(type->formattype, GUID_NULL);
}

// Whether candidate fits what filter leaves fixed (GUID_NULL fields are open).
bool Matches(const AM_MEDIA_TYPE* candidate, const AM_MEDIA_TYPE* filter) {
  if (!filter) return true;
  if (!IsEqualGUID(filter->majortype, GUID_NULL) && !IsEqualGUID(filter->majortype, candidate->majortype)) {
    return false;
  }
  if (!IsEqualGUID(filter->subtype, GUID_NULL) && !IsEqualGUID(filter->subtype, candidate->subtype)) return false;
  if (!IsEqualGUID(filter->formattype, GUID_NULL) && !IsEqualGUID(filter->formattype, candidate->formattype)) {
    return false;
  }
  return true;
}

}  // namespace

PinBase::PinBase(FilterBase* filter, CriticalSection* lock, const WCHAR* name, PIN_DIRECTION direction)
    : m_filter(filter), m_lock(lock), m_direction(direction), m_name(name) {}

PinBase::~PinBase() = default;

HRESULT PinBase::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
    *out = static_cast<IPin*>(this);
  } else if (IsEqualIID(iid, IID_IQualityControl) || IsEqualIID(iid, kAlternateQualityControlIid)) {
    *out = static_cast<IQualityControl*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT PinBase::QueryInterface(REFIID iid, void** out) { return NonDelegatingQueryInterface(iid, out); }
ULONG PinBase::AddRef() { return m_filter->AddRef(); }
ULONG PinBase::Release() { return m_filter->Release(); }

bool PinBase::IsConnected() {
  CriticalSection::Scoped lock(*m_lock);
  return m_connected != nullptr;
}

HRESULT PinBase::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (!receivePin) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  if (m_connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_filter->IsStopped()) return VFW_E_NOT_STOPPED;

  if (type && !IsPartial(type)) return AttemptConnection(receivePin, type);

  // The other pin's types first, then our own.
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  ComPtr<IEnumMediaTypes> theirs;
  if (SUCCEEDED(receivePin->EnumMediaTypes(theirs.Receive())) && theirs) {
    const HRESULT hr = TryMediaTypes(receivePin, type, theirs.Get());
    if (SUCCEEDED(hr)) return hr;
    last = hr;
  }
  ComPtr<IEnumMediaTypes> ours;
  if (SUCCEEDED(EnumMediaTypes(ours.Receive()))) {
    const HRESULT hr = TryMediaTypes(receivePin, type, ours.Get());
    if (SUCCEEDED(hr)) return hr;
    last = hr;
  }
  return last;
}

HRESULT PinBase::TryMediaTypes(IPin* receivePin, const AM_MEDIA_TYPE* filter, IEnumMediaTypes* types) {
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  for (;;) {
    AM_MEDIA_TYPE* candidate = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &candidate, &fetched) != S_OK || fetched != 1 || !candidate) {
      if (candidate) DeleteMediaType(candidate);
      return last;
    }
    HRESULT hr = VFW_E_NO_ACCEPTABLE_TYPES;
    if (Matches(candidate, filter)) hr = AttemptConnection(receivePin, candidate);
    DeleteMediaType(candidate);
    if (SUCCEEDED(hr)) return hr;
    if (hr != VFW_E_NO_ACCEPTABLE_TYPES) last = hr;
  }
}

HRESULT PinBase::AgreeConnection(IPin* other, const AM_MEDIA_TYPE* type) {
  HRESULT hr = CheckConnect(other);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(type);
  if (hr != S_OK) {
    BreakConnect();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  hr = SetMediaType(type);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  return S_OK;
}

HRESULT PinBase::AttemptConnection(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  HRESULT hr = AgreeConnection(receivePin, type);
  if (FAILED(hr)) return hr;
  m_connected = ComPtr<IPin>(receivePin);
  hr = receivePin->ReceiveConnection(static_cast<IPin*>(this), type);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(receivePin);
    // The other end has taken the connection already: it lets go again.
    if (FAILED(hr)) receivePin->Disconnect();
  }
  if (FAILED(hr)) {
    m_connected.Reset();
    BreakConnect();
    return hr;
  }
  return S_OK;
}

HRESULT PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  if (m_connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_filter->IsStopped()) return VFW_E_NOT_STOPPED;

  HRESULT hr = AgreeConnection(connector, type);
  if (FAILED(hr)) return hr;
  m_connected = ComPtr<IPin>(connector);
  hr = CompleteConnect(connector);
  if (FAILED(hr)) {
    m_connected.Reset();
    BreakConnect();
    return hr;
  }
  return S_OK;
}

HRESULT PinBase::Disconnect() {
  CriticalSection::Scoped lock(*m_lock);
  if (!m_filter->IsStopped()) return VFW_E_NOT_STOPPED;
  if (!m_connected) return S_FALSE;
  // A failure to let go of the allocator keeps the connection.
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_connected.Reset();
  return S_OK;
}

HRESULT PinBase::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  *pin = nullptr;
  if (!m_connected) return VFW_E_NOT_CONNECTED;
  return m_connected.CopyTo(pin);
}

HRESULT PinBase::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CriticalSection::Scoped lock(*m_lock);
  if (!m_connected) {
    std::memset(type, 0, sizeof(*type));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, m_mediaType.Get());
}

HRESULT PinBase::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = static_cast<IBaseFilter*>(m_filter);
  m_filter->AddRef();
  filters::CopyWideName(m_name, info->achName);
  info->dir = m_direction;
  return S_OK;
}

HRESULT PinBase::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = m_direction;
  return S_OK;
}

HRESULT PinBase::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = nullptr;
  const size_t bytes = (filters::WideLength(m_name) + 1) * sizeof(WCHAR);
  auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy, m_name, bytes);
  *id = copy;
  return S_OK;
}

HRESULT PinBase::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  const HRESULT hr = CheckMediaType(type);
  return FAILED(hr) ? S_FALSE : hr;
}

HRESULT PinBase::EnumMediaTypes(IEnumMediaTypes** types) {
  return pnx::CreateComObject<::EnumMediaTypes>(IID_IEnumMediaTypes, reinterpret_cast<void**>(types), this);
}

HRESULT PinBase::QueryInternalConnections(IPin** /*pins*/, ULONG* /*count*/) { return E_NOTIMPL; }

HRESULT PinBase::EndOfStream() { return S_OK; }

HRESULT PinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CriticalSection::Scoped lock(*m_lock);
  m_segmentStart = start;
  m_segmentStop = stop;
  m_segmentRate = rate;
  return S_OK;
}

HRESULT PinBase::Notify(IBaseFilter* sender, Quality /*quality*/) {
  if (!sender) return E_POINTER;
  return S_OK;
}

HRESULT PinBase::SetSink(IQualityControl* sink) {
  CriticalSection::Scoped lock(*m_lock);
  m_qualitySink = sink;
  return S_OK;
}

HRESULT PinBase::GetMediaType(int /*position*/, AM_MEDIA_TYPE* /*type*/) { return E_UNEXPECTED; }

LONG PinBase::GetMediaTypeVersion() { return m_mediaTypeVersion.load(); }

void PinBase::IncrementMediaTypeVersion() { ++m_mediaTypeVersion; }

HRESULT PinBase::CheckConnect(IPin* pin) {
  PIN_DIRECTION direction;
  const HRESULT hr = pin->QueryDirection(&direction);
  if (FAILED(hr)) return hr;
  if (direction == m_direction) return VFW_E_INVALID_DIRECTION;
  return S_OK;
}

HRESULT PinBase::SetMediaType(const AM_MEDIA_TYPE* type) { return m_mediaType.Set(*type); }
