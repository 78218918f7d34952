// EnumMediaTypes: walks the media types a PinBase proposes.
#include "platform/filters/enum_media_types.h"

#include <cstring>

#include "platform/filters/pin_base.h"

EnumMediaTypes::EnumMediaTypes(PinBase* pin) : Enumerator(IID_IEnumMediaTypes), m_pin(pin) { Restart(); }

bool EnumMediaTypes::InSync() { return m_version == m_pin->GetMediaTypeVersion(); }

// The pin says how many types it has only by answering S_OK up to the last one.
void EnumMediaTypes::Restart() {
  m_version = m_pin->GetMediaTypeVersion();
  m_count = 0;
  for (;;) {
    MediaType type;
    if (m_pin->GetMediaType(static_cast<int>(m_count), type.Get()) != S_OK) break;
    ++m_count;
  }
}

HRESULT EnumMediaTypes::Make(size_t index, AM_MEDIA_TYPE** slot) {
  AM_MEDIA_TYPE type;
  std::memset(&type, 0, sizeof(type));
  if (m_pin->GetMediaType(static_cast<int>(index), &type) != S_OK) {
    FreeMediaType(type);
    return E_FAIL;
  }
  auto* out = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!out) {
    FreeMediaType(type);
    return E_OUTOFMEMORY;
  }
  // The record takes over the format block and object that GetMediaType filled in.
  *out = type;
  *slot = out;
  return S_OK;
}
