// Memory the engine and the command hold: plain blocks from malloc, so that
// running out of memory is a value to check, never an exception, and large
// blocks grow in place where realloc can.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>
#include <utility>

#include <sys/mman.h>

namespace quorbel {

// Asks for the pages of [at, at + size) at once, when they are many: a
// block about to be filled whole takes one call rather than a fault a page
// (a fault costs microseconds, more under a hypervisor, where a tenth of a
// sort went to them). Only advice: where the kernel does not take it, the
// pages come as they are written.
inline void ask_for_pages(void* at, std::size_t size) noexcept {
#ifdef MADV_POPULATE_WRITE
  constexpr std::uintptr_t PAGE = 4096;
  if (size < 16 * PAGE) return;
  const auto start = reinterpret_cast<std::uintptr_t>(at);
  const std::uintptr_t from = start & ~(PAGE - 1);
  const std::uintptr_t to = (start + size + PAGE - 1) & ~(PAGE - 1);
  (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
  (void)at;
  (void)size;
#endif
}

// The block of a run's records, filled from its start, made for the most
// its records may take (only address space, which a limit on it counts),
// then fitted to what they took. Its pages are asked for a stretch at a
// time ahead of the filling, so those the records never reach are never
// taken; the whole 2 MiB pages inside it ask for huge pages. Both are only
// advice.
class record_block {
 public:
  record_block() = default;
  record_block(const record_block&) = delete;
  record_block& operator=(const record_block&) = delete;
  ~record_block() { std::free(data_); }

  // False when memory runs out.
  [[nodiscard]] bool make(std::size_t most) noexcept {
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;
    data_ = static_cast<char*>(std::malloc(most == 0 ? 1 : most));
    if (data_ == nullptr) return false;
    most_ = most;
    const auto start = reinterpret_cast<std::uintptr_t>(data_);
    const std::uintptr_t first = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const std::uintptr_t last = (start + most) & ~(HUGE_PAGE - 1);
    if (last > first) {
      (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    return true;
  }

  [[nodiscard]] char* data() noexcept { return data_; }

  // Records are about to be written from `at` on: the pages of the next
  // stretch are asked for once the writing is half way into the last.
  void fill_to(const char* at) noexcept {
    const auto used = static_cast<std::size_t>(at - data_);
    if (used < ask_from_) return;
    const std::size_t to = most_ - used < STRETCH ? most_ : used + STRETCH;
    ask_for_pages(data_ + asked_, to - asked_);
    asked_ = to;
    ask_from_ = asked_ == most_ ? SIZE_MAX : asked_ - STRETCH / 2;
  }

  // The block, its first `size` bytes written, for free(): the rest given
  // back, where realloc can.
  [[nodiscard]] char* fit(std::size_t size) noexcept {
    char* block = data_;
    data_ = nullptr;
    if (void* fitted = std::realloc(block, size == 0 ? 1 : size); fitted != nullptr) {
      block = static_cast<char*>(fitted);
    }
    return block;
  }

 private:
  static constexpr std::size_t STRETCH = std::size_t{1} << 18;
  char* data_ = nullptr;
  std::size_t most_ = 0;
  std::size_t asked_ = 0;     // bytes from the start whose pages were asked for
  std::size_t ask_from_ = 0;  // bytes written from which the next stretch is asked for
};

// A growable array of trivially copyable T.
template <typename T>
class growable {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  growable() = default;
  growable(const growable&) = delete;
  growable& operator=(const growable&) = delete;
  growable(growable&& other) noexcept { swap(other); }
  growable& operator=(growable&& other) noexcept {
    growable gone(std::move(other));
    swap(gone);
    return *this;
  }
  ~growable() { std::free(data_); }

  [[nodiscard]] T* data() noexcept { return data_; }
  [[nodiscard]] const T* data() const noexcept { return data_; }
  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
  [[nodiscard]] bool empty() const noexcept { return size_ == 0; }
  [[nodiscard]] T& operator[](std::size_t i) noexcept { return data_[i]; }
  [[nodiscard]] const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  [[nodiscard]] T* begin() noexcept { return data_; }
  [[nodiscard]] T* end() noexcept { return data_ + size_; }
  [[nodiscard]] const T* begin() const noexcept { return data_; }
  [[nodiscard]] const T* end() const noexcept { return data_ + size_; }

  // Makes room for exactly `wanted` elements when there is less; false when
  // memory runs out (nothing changes then). `filled`: the new room is about
  // to be filled, so its pages are asked for at once.
  [[nodiscard]] bool reserve_exactly(std::size_t wanted, bool filled = false) noexcept {
    if (wanted <= capacity_) return true;
    if (wanted > SIZE_MAX / sizeof(T)) return false;
    void* moved = std::realloc(data_, wanted * sizeof(T));
    if (moved == nullptr) return false;
    data_ = static_cast<T*>(moved);
    // Grown for filling, its new pages come at once.
    if (filled) ask_for_pages(data_ + capacity_, (wanted - capacity_) * sizeof(T));
    capacity_ = wanted;
    return true;
  }

  // Makes room for at least `wanted` elements, doubling; false when memory
  // runs out.
  [[nodiscard]] bool reserve(std::size_t wanted, bool filled = false) noexcept {
    if (wanted <= capacity_) return true;
    std::size_t grown = capacity_ < 16 ? 16 : capacity_ * 2;
    if (grown < wanted) grown = wanted;
    return reserve_exactly(grown, filled);
  }

  [[nodiscard]] bool push_back(const T& value) noexcept {
    if (!reserve(size_ + 1)) return false;
    data_[size_++] = value;
    return true;
  }

  // Sets the size; the elements up to it must have been written.
  void resize_within(std::size_t size) noexcept { size_ = size; }
  void clear() noexcept { size_ = 0; }

  void swap(growable& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace quorbel
