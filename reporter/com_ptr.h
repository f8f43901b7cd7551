// A small owning reference to a COM-style interface: AddRef on copy, Release on reset.
#pragma once

#include <unknwn.h>

#include <utility>

namespace qx {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to `p`.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
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

  // Adopts a reference the caller already owns (e.g. a freshly created object).
  static ComPtr Adopt(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  // Gives up ownership without releasing.
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For functions that hand out a new reference through a T** out-parameter.
  T** Receive() {
    Reset();
    return &p_;
  }

  // QueryInterface for another interface of the same object; empty when not supported.
  template <class U>
  ComPtr<U> As(const IID& iid) const {
    ComPtr<U> result;
    if (p_ != nullptr &&
        p_->QueryInterface(iid, reinterpret_cast<void**>(result.Receive())) != S_OK)
      return ComPtr<U>();
    return result;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace qx
