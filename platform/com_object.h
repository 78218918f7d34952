// Helpers for the layer's own COM objects (runtime and emulated device), on both platforms: an atomic
// reference count that deletes the object at zero, and the process-wide count of live objects that leak
// tests read and that a COM server's DllCanUnloadNow answers from.
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
  virtual ~ComObject() { LiveObjectRemoved(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  ULONG AddRefImpl() { return ++refs_; }
  ULONG ReleaseImpl() {
    ULONG left = --refs_;
    if (left == 0) {
      // A reference taken and dropped again during destruction must not delete twice.
      refs_ = 1;
      delete this;
    }
    return left;
  }

 private:
  std::atomic<ULONG> refs_{0};
};

// Hands out an interface through a COM out-parameter, counted.
template <class I>
HRESULT HandOut(I* itf, void** out) {
  *out = itf;
  itf->AddRef();
  return S_OK;
}

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

// The IEnumXxx::Next protocol over a list of size items: hands out up to count of them from position on,
// made by make(index, slot) (false ends the batch). A batch of more than one needs a fetched count.
template <class T, class Make>
HRESULT EnumNext(size_t& position, size_t size, ULONG count, T** out, ULONG* fetched, Make make) {
  if (!out) return E_POINTER;
  if (count != 1 && !fetched) return E_POINTER;
  ULONG done = 0;
  while (done < count && position < size) {
    if (!make(position, &out[done])) break;
    ++done;
    ++position;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

// IEnumXxx::Skip over a list of size items: S_FALSE, at the end, when fewer than count were left.
inline HRESULT EnumSkip(size_t& position, size_t size, ULONG count) {
  if (count > size - position) {
    position = size;
    return S_FALSE;
  }
  position += count;
  return S_OK;
}

}  // namespace pnx

#define PNX_COM_REFCOUNT                                                     \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }          \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
