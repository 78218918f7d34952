// Helpers for the layer's own COM objects (runtime and emulated device), on both platforms: an atomic
// reference count that deletes the object at zero, and the process-wide count of live objects that leak
// tests read and that a COM server's DllCanUnloadNow answers from.
#pragma once

#include <atomic>

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
    if (left == 0) delete this;
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

}  // namespace pnx

#define PNX_COM_REFCOUNT                                                     \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }          \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
