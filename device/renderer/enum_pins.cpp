// EnumPins: walks a FilterBase's pins.
#include "device/renderer/enum_pins.h"

#include <algorithm>
#include <new>

#include "device/renderer/filter_base.h"
#include "device/renderer/pin_base.h"

HRESULT EnumPins::Create(FilterBase* filter, IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) EnumPins(filter, nullptr);
  return *out ? S_OK : E_OUTOFMEMORY;
}

EnumPins::EnumPins(FilterBase* filter, const EnumPins* from) : m_filter(filter) {
  m_filter->AddRef();
  if (from) {
    m_position = from->m_position;
    m_pinCount = from->m_pinCount;
    m_version = from->m_version;
    m_seen = from->m_seen;
  } else {
    Refresh();
  }
}

EnumPins::~EnumPins() { m_filter->Release(); }

HRESULT EnumPins::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPins)) {
    *out = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG EnumPins::AddRef() { return ++m_refCount; }

ULONG EnumPins::Release() {
  const ULONG count = --m_refCount;
  if (count == 0) delete this;
  return count;
}

bool EnumPins::OutOfSync() const { return m_version != m_filter->GetPinVersion(); }

void EnumPins::Refresh() {
  m_version = m_filter->GetPinVersion();
  m_pinCount = m_filter->GetPinCount();
  m_position = 0;
}

HRESULT EnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (fetched) {
    *fetched = 0;
  } else if (count > 1) {
    return E_INVALIDARG;
  }
  // The pins changed: start over, but pins handed out before are not handed out again.
  if (OutOfSync()) Refresh();

  ULONG got = 0;
  while (got < count && m_position < m_pinCount) {
    PinBase* pin = m_filter->GetPin(m_position++);
    if (!pin) continue;
    IPin* ipin = static_cast<IPin*>(pin);
    if (std::find(m_seen.begin(), m_seen.end(), ipin) != m_seen.end()) continue;
    m_seen.push_back(ipin);
    ipin->AddRef();
    pins[got++] = ipin;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT EnumPins::Skip(ULONG count) {
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  const ULONG left = static_cast<ULONG>(m_pinCount - m_position);
  if (count > left) return S_FALSE;
  m_position += static_cast<int>(count);
  return S_OK;
}

HRESULT EnumPins::Reset() {
  Refresh();
  m_seen.clear();
  return S_OK;
}

HRESULT EnumPins::Clone(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  *out = new (std::nothrow) EnumPins(m_filter, this);
  return *out ? S_OK : E_OUTOFMEMORY;
}
