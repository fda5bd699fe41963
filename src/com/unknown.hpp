#pragma once
// What every COM object of the module shares: its reference count, and the
// module's count of live objects and server locks that DllCanUnloadNow
// answers from.

#include <unknwn.h>
#include <windows.h>

#include <atomic>

namespace vintrel::com {

/// Counts one more object or lock keeping the module loaded.
void module_add_ref() noexcept;
/// Counts one less.
void module_release() noexcept;
/// Objects and locks alive.
long module_refs() noexcept;

/// The reference count of an object made with `new`: created holding one
/// reference, deleted with the last. Keeps the module loaded while alive.
class RefCounted {
 public:
  RefCounted() noexcept { module_add_ref(); }
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

 protected:
  virtual ~RefCounted() { module_release(); }
  ULONG add_ref() noexcept { return ++refs_; }
  ULONG release() noexcept {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

/// Hands `object` out as `*out` after one more reference; E_POINTER for a
/// null `out`.
template <class I>
HRESULT hand_out(I* object, void** out) noexcept {
  if (!out) return E_POINTER;
  object->AddRef();
  *out = object;
  return S_OK;
}

/// A counted reference to a COM interface.
template <class I>
class Ref {
 public:
  Ref() = default;
  /// Takes over a reference the caller holds.
  static Ref adopt(I* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  /// Holds one more reference to `p`.
  explicit Ref(I* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& other) : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  I* get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  /// Where a call writes a new reference; the old one is released first.
  I** put() {
    *this = Ref();
    return &p_;
  }

 private:
  I* p_ = nullptr;
};

}  // namespace vintrel::com
