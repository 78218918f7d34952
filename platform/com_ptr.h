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
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
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

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  void Reset() {
    T* p = p_;
    p_ = nullptr;
    if (p) p->Release();
  }

  // Adopts a reference the caller already owns (no AddRef).
  void Attach(T* p) {
    Reset();
    p_ = p;
  }
  // Gives up ownership without releasing.
  T* Detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

  // For out-parameters that hand over a reference: releases what is held first.
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // QueryInterface into another smart pointer; out is left empty on failure.
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out->ReceiveVoid());
  }

  // Hands a new reference out through a COM out-parameter.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }
  friend bool operator!=(const ComPtr& a, std::nullptr_t) { return a.p_ != nullptr; }

 private:
  T* p_ = nullptr;
};
