// Media type helpers and owners; see media_type.h.
#include "platform/media_type.h"

#include <cstring>

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (!target || !source) return E_POINTER;
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->cbFormat = 0;
    target->pbFormat = nullptr;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) {
    CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
  }
  if (mt.pUnk) {
    IUnknown* unk = mt.pUnk;
    mt.pUnk = nullptr;
    unk->Release();
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return;
  FreeMediaType(*pmt);
  CoTaskMemFree(pmt);
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  if (!source) return nullptr;
  auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!pmt) return nullptr;
  if (FAILED(CopyMediaType(pmt, source))) {
    CoTaskMemFree(pmt);
    return nullptr;
  }
  return pmt;
}

bool MediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (!IsEqualGUID(a.majortype, b.majortype) || !IsEqualGUID(a.subtype, b.subtype) ||
      !IsEqualGUID(a.formattype, b.formattype) || a.cbFormat != b.cbFormat) {
    return false;
  }
  if (a.cbFormat == 0) return true;
  if (!a.pbFormat || !b.pbFormat) return a.pbFormat == b.pbFormat;
  return std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

MediaType::MediaType() { std::memset(&m_mt, 0, sizeof(m_mt)); }

MediaType::MediaType(const MediaType& other) : MediaType() { Set(other.m_mt); }

MediaType& MediaType::operator=(const MediaType& other) {
  if (this != &other) Set(other.m_mt);
  return *this;
}

MediaType::~MediaType() { FreeMediaType(m_mt); }

HRESULT MediaType::Set(const AM_MEDIA_TYPE& source) {
  if (&source == &m_mt) return S_OK;
  AM_MEDIA_TYPE copy;
  HRESULT hr = CopyMediaType(&copy, &source);
  if (FAILED(hr)) return hr;
  FreeMediaType(m_mt);
  m_mt = copy;
  return S_OK;
}

void MediaType::Clear() {
  FreeMediaType(m_mt);
  std::memset(&m_mt, 0, sizeof(m_mt));
}

BYTE* MediaType::AllocFormat(ULONG size) {
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!block) return nullptr;
  std::memset(block, 0, size);
  CoTaskMemFree(m_mt.pbFormat);
  m_mt.pbFormat = block;
  m_mt.cbFormat = size;
  return block;
}

MediaTypePtr& MediaTypePtr::operator=(MediaTypePtr&& other) noexcept {
  if (this != &other) Reset(other.Detach());
  return *this;
}

void MediaTypePtr::Reset(AM_MEDIA_TYPE* pmt) {
  AM_MEDIA_TYPE* old = m_pmt;
  m_pmt = pmt;
  DeleteMediaType(old);
}

AM_MEDIA_TYPE** MediaTypePtr::Receive() {
  Reset();
  return &m_pmt;
}

AM_MEDIA_TYPE* MediaTypePtr::Detach() {
  AM_MEDIA_TYPE* pmt = m_pmt;
  m_pmt = nullptr;
  return pmt;
}
