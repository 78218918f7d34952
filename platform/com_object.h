// Helpers for the layer's own COM objects (runtime, emulated device, preview renderer), on both platforms: an
// atomic reference count that deletes the object at zero, the one IUnknown of an object built on a base, and
// the process-wide count of live objects that leak tests read and that a COM server's DllCanUnloadNow answers
// from.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/com.h"

// Number of the layer's COM objects alive in this process.
long PnxLiveComObjectCount();

namespace pnx {

void LiveObjectAdded();
void LiveObjectRemoved();

// Base for an object with one reference count; the derived class lists its interfaces in QueryInterface
// and forwards AddRef/Release with PNX_COM_REFCOUNT. The count starts at 0: the creator's first
// QueryInterface (or AddRef) takes the first reference.
class ComObject {
 public:
  ComObject() { LiveObjectAdded(); }
  // A copy is a new object with a count of its own (Clone makes enumerators so).
  ComObject(const ComObject&) : ComObject() {}
  virtual ~ComObject() { LiveObjectRemoved(); }
  ComObject& operator=(const ComObject&) = delete;

  ULONG AddRefImpl() { return ++m_refs; }
  ULONG ReleaseImpl() {
    ULONG left = --m_refs;
    if (left == 0) {
      // A reference taken and dropped again during destruction must not delete twice.
      m_refs = 1;
      delete this;
    }
    return left;
  }

 private:
  std::atomic<ULONG> m_refs{0};
};

#define PNX_COM_REFCOUNT                                             \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }  \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

// For a class that adds interfaces to a base which already has the object's one IUnknown (a filter or pin
// built on the filter base layer): each added interface brings an IUnknown of its own, and all of them must
// answer as the base does. The base's QueryInterface asks the virtual NonDelegatingQueryInterface, so the
// interfaces the derived class adds are found; AddRef and Release count where the base counts.
#define PNX_COM_UNKNOWN_OF(Base)                                                \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
    return Base::QueryInterface(iid, out);                                      \
  }                                                                             \
  ULONG STDMETHODCALLTYPE AddRef() override { return Base::AddRef(); }          \
  ULONG STDMETHODCALLTYPE Release() override { return Base::Release(); }

// Hands out an interface through a COM out-parameter, counted.
template <class I>
HRESULT HandOut(I* itf, void** out) {
  *out = itf;
  itf->AddRef();
  return S_OK;
}

// An object with one interface I (besides IUnknown), whose identifier iid names.
template <class I>
class SingleInterfaceObject : public ComObject, public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == m_iid) return HandOut(static_cast<I*>(this), ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PNX_COM_REFCOUNT

 protected:
  explicit SingleInterfaceObject(const IID& iid) : m_iid(iid) {}
  const IID& Iid() const { return m_iid; }

 private:
  const IID& m_iid;  // a process-wide identifier
};

// Makes a new object and queries it for riid; the object is gone again when the query fails.
template <class T, class... Args>
HRESULT CreateComObject(REFIID riid, void** ppv, Args&&... args) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  T* object = new (std::nothrow) T(std::forward<Args>(args)...);
  if (!object) return E_OUTOFMEMORY;
  object->AddRef();
  HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace pnx

