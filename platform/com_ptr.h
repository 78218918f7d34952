// Owning smart pointer for COM interfaces: holds exactly one reference, released on reset or destruction.
#pragma once

#include <utility>

#include "platform/com.h"

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to p.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
  ComPtr(ComPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  void Reset() {
    T* p = m_p;
    m_p = nullptr;
    if (p) p->Release();
  }

  // Adopts a reference the caller already owns (no AddRef).
  void Attach(T* p) {
    Reset();
    m_p = p;
  }
  // Gives up ownership without releasing.
  T* Detach() {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }

  // For out-parameters that hand over a reference: releases what is held first.
  T** Receive() {
    Reset();
    return &m_p;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // QueryInterface into another smart pointer; out is left empty on failure.
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(iid, out->ReceiveVoid());
  }

  // Hands a new reference out through a COM out-parameter.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = m_p;
    if (m_p) m_p->AddRef();
    return S_OK;
  }

  void Swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.m_p == nullptr; }
  friend bool operator!=(const ComPtr& a, std::nullptr_t) { return a.m_p != nullptr; }

 private:
  T* m_p = nullptr;
};
