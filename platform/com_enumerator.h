// The IEnumXxx protocol (Next, Skip, Reset, Clone), once for every enumerator of the layer and of the filter
// base. Used by one thread at a time, like every COM enumerator.
#pragma once

#include <cstddef>

#include "platform/com_object.h"
#include "platform/dshow.h"

namespace pnx {

// An enumerator object for the interface I (identifier iid) handing out T* items. The derived class D says how
// many items there are (Count) and hands one out (Make); Clone copies it.
template <class D, class I, class T>
class Enumerator : public SingleInterfaceObject<I> {
 public:
  // A batch of more than one needs a fetched count. S_FALSE when fewer than count were handed out.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, T** items, ULONG* fetched) override {
    if (!items) return E_POINTER;
    if (fetched) {
      *fetched = 0;
    } else if (count > 1) {
      return E_INVALIDARG;
    }
    if (!InSync() && !StartOver()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG done = 0;
    for (size_t size = Count(); done < count && m_position < size;) {
      const HRESULT hr = Make(m_position, &items[done]);
      if (FAILED(hr)) break;
      ++m_position;
      if (hr == S_OK) ++done;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }

  // S_FALSE, without moving, when fewer than count are left (as the platform's own enumerators answer).
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (!InSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    const size_t size = Count();
    if (m_position > size || count > size - m_position) return S_FALSE;
    m_position += count;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Reset() override {
    m_position = 0;
    Restart();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Clone(I** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!InSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    return CreateComObject<D>(this->Iid(), reinterpret_cast<void**>(out), static_cast<const D&>(*this));
  }

 protected:
  explicit Enumerator(const IID& iid) : SingleInterfaceObject<I>(iid) {}

  virtual size_t Count() = 0;
  // Hands out item index into slot, counted: S_OK, S_FALSE to pass over it, a failure to end the batch.
  virtual HRESULT Make(size_t index, T** slot) = 0;

  // Whether the items are still those the enumerator started with; Next, Skip and Clone answer
  // VFW_E_ENUM_OUT_OF_SYNC when they are not, unless StartOver has made Next begin again.
  virtual bool InSync() { return true; }
  virtual bool StartOver() { return false; }
  // Called by Reset after the position went back to the first item.
  virtual void Restart() {}

  size_t m_position = 0;
};

}  // namespace pnx
