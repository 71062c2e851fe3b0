#pragma once
#include <atomic>
#include <cstdint>
#include <utility>

namespace pv {

// Base of every reference-counted object: a virtual deleting destructor and a
// 32-bit atomic count that starts at 1.
class CountedObject {
 public:
  CountedObject() = default;
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;
  virtual ~CountedObject() = default;

  void AddRef() const { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() const {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  // Adds a reference unless the count already reached zero (the object is
  // being destroyed); for registries that hand out objects they do not own.
  bool TryAddRef() const {
    uint32_t n = refs_.load(std::memory_order_relaxed);
    while (n != 0) {
      if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_acquire, std::memory_order_relaxed)) return true;
    }
    return false;
  }
  uint32_t RefCount() const { return refs_.load(std::memory_order_acquire); }

 private:
  mutable std::atomic<uint32_t> refs_{1};
};

// Owns one reference. Construction from a raw pointer adopts the caller's
// reference; Retain adds one.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* adopted) : p_(adopted) {}
  static Ref Retain(T* p) {
    if (p) p->AddRef();
    return Ref(p);
  }
  Ref(const Ref& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  Ref(Ref<U>&& o) noexcept : p_(o.Detach()) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_) p_->Release();
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() { Ref().swap(*this); }
  void swap(Ref& o) noexcept { std::swap(p_, o.p_); }

 private:
  T* p_ = nullptr;
};

}  // namespace pv
