// A small owning reference to a COM-style interface: AddRef on copy, Release on reset.
#pragma once

#include <unknwn.h>

#include <atomic>
#include <initializer_list>
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

// One interface an object answers QueryInterface with.
struct InterfaceEntry {
  const IID* iid;
  IUnknown* pointer;
};

// QueryInterface over an object's interfaces; the first entry also answers IID_IUnknown.
// A found interface gets a new reference.
inline HRESULT QueryOneOf(REFIID iid, void** object, std::initializer_list<InterfaceEntry> entries) {
  if (object == nullptr) return E_POINTER;
  for (const InterfaceEntry& entry : entries) {
    if (iid == *entry.iid || (&entry == entries.begin() && iid == IID_IUnknown)) {
      *object = entry.pointer;
      entry.pointer->AddRef();
      return S_OK;
    }
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

// The reference count of a COM-style object. The creator holds the first reference; the
// last Release deletes the object.
class RefCount {
 public:
  ULONG Add() { return static_cast<ULONG>(++count_); }
  template <class Object>
  ULONG Release(Object* owner) {
    const long count = --count_;
    if (count == 0) delete owner;
    return static_cast<ULONG>(count);
  }

 private:
  std::atomic<long> count_{1};
};

}  // namespace qx
