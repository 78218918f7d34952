// EnumMediaTypes: walks the media types a PinBase proposes.
#include "device/renderer/enum_media_types.h"

#include <climits>
#include <cstring>
#include <new>

#include "device/renderer/pin_base.h"

HRESULT EnumMediaTypes::Create(PinBase* pin, IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) EnumMediaTypes(pin, nullptr);
  return *out ? S_OK : E_OUTOFMEMORY;
}

EnumMediaTypes::EnumMediaTypes(PinBase* pin, const EnumMediaTypes* from) : m_pin(pin) {
  m_pin->AddRef();
  if (from) {
    m_position = from->m_position;
    m_version = from->m_version;
  } else {
    m_version = m_pin->GetMediaTypeVersion();
  }
}

EnumMediaTypes::~EnumMediaTypes() { m_pin->Release(); }

HRESULT EnumMediaTypes::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumMediaTypes)) {
    *out = static_cast<IEnumMediaTypes*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG EnumMediaTypes::AddRef() { return ++m_refCount; }

ULONG EnumMediaTypes::Release() {
  const ULONG count = --m_refCount;
  if (count == 0) delete this;
  return count;
}

bool EnumMediaTypes::OutOfSync() const { return m_version != m_pin->GetMediaTypeVersion(); }

HRESULT EnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (fetched) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;

  ULONG got = 0;
  while (got < count) {
    AM_MEDIA_TYPE type;
    std::memset(&type, 0, sizeof(type));
    if (m_pin->GetMediaType(m_position, &type) != S_OK) break;
    auto* out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!out) {
      FreeMediaType(type);
      break;
    }
    // The record takes over the format block and object that GetMediaType filled in.
    *out = type;
    types[got++] = out;
    ++m_position;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT EnumMediaTypes::Skip(ULONG count) {
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (count == 0) return S_OK;
  if (count > static_cast<ULONG>(INT_MAX - m_position)) {
    m_position = INT_MAX;
    return S_FALSE;
  }
  m_position += static_cast<int>(count);
  AM_MEDIA_TYPE type;
  std::memset(&type, 0, sizeof(type));
  const HRESULT hr = m_pin->GetMediaType(m_position - 1, &type);
  if (hr != S_OK) return S_FALSE;
  FreeMediaType(type);
  return S_OK;
}

HRESULT EnumMediaTypes::Reset() {
  m_position = 0;
  m_version = m_pin->GetMediaTypeVersion();
  return S_OK;
}

HRESULT EnumMediaTypes::Clone(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  *out = new (std::nothrow) EnumMediaTypes(m_pin, this);
  return *out ? S_OK : E_OUTOFMEMORY;
}
