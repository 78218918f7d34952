// A COM object with one interface whose life COM's counts do not govern (a static, or an object on a stack that
// outlives every user): AddRef and Release only answer, nothing is ever deleted through them.
#pragma once

#include "platform/com.h"

template <class Interface>
class UncountedComObject : public Interface {
 public:
  explicit UncountedComObject(const IID& iid) : m_iid(iid) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_iid)) {
      *out = static_cast<Interface*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

 private:
  const IID m_iid;
};
