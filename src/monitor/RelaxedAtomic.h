// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A value that one thread writes and another reads without a lock. Readers
// only ever need the latest whole value, never an ordering with other data,
// so relaxed loads and stores are enough; being atomic keeps the sampler
// thread's reads well-defined (and quiet under ThreadSanitizer).
//
// Unlike std::atomic it copies, so records holding one stay plain values.

#include <atomic>

template <typename T>
class RelaxedAtomic {
 public:
  constexpr RelaxedAtomic(T value = T{}) noexcept : value_(value) {}  // NOLINT: implicit on purpose
  RelaxedAtomic(const RelaxedAtomic& other) noexcept : value_(other.load()) {}
  RelaxedAtomic& operator=(const RelaxedAtomic& other) noexcept {
    store(other.load());
    return *this;
  }
  RelaxedAtomic& operator=(T value) noexcept {
    store(value);
    return *this;
  }

  operator T() const noexcept { return load(); }  // NOLINT: reads like a plain value

  T load() const noexcept { return value_.load(std::memory_order_relaxed); }
  void store(T value) noexcept { value_.store(value, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
  static_assert(std::atomic<T>::is_always_lock_free);
};
