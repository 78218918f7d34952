// EnumMediaTypes: the IEnumMediaTypes handed out by PinBase::EnumMediaTypes, over the pin's GetMediaType.
// Used by one thread at a time; it holds a counted reference to its pin (and so to the pin's filter).
#pragma once

#include <atomic>

#include "platform/dshow.h"

class PinBase;

class EnumMediaTypes final : public IEnumMediaTypes {
 public:
  // Makes an enumerator with one reference for the caller; E_OUTOFMEMORY when it cannot be made.
  static HRESULT Create(PinBase* pin, IEnumMediaTypes** out);

  EnumMediaTypes(const EnumMediaTypes&) = delete;
  EnumMediaTypes& operator=(const EnumMediaTypes&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // After the pin's types have changed, Next, Skip and Clone answer VFW_E_ENUM_OUT_OF_SYNC until Reset.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** out) override;

 private:
  EnumMediaTypes(PinBase* pin, const EnumMediaTypes* from);
  ~EnumMediaTypes();

  bool OutOfSync() const;

  std::atomic<ULONG> m_refCount{1};
  PinBase* const m_pin;  // counted: AddRef in the constructor, Release in the destructor
  int m_position = 0;
  LONG m_version = 0;
};
