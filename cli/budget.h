// What the command may use: memory to hold lines in, and address space.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quorbel {

// The size of -S: digits and an optional unit, b (bytes), K (the unit when
// none is given, as for sort(1)), M, G or T, each 1024 times the one before,
// or % of the physical memory. Absent when the text is none of these or the
// size does not fit.
[[nodiscard]] std::optional<std::size_t> parse_size(std::string_view text) noexcept;

// Half of what the process may really use: the least of physical memory,
// the limits of its control groups (v2 memory.max, v1
// memory.limit_in_bytes) and its address-space and data limits.
[[nodiscard]] std::size_t default_memory_budget() noexcept;

// The address space a limit on it leaves for what is still to be mapped,
// threads and buffers aside; SIZE_MAX without a limit.
[[nodiscard]] std::size_t address_space_left() noexcept;

// Sets malloc up for the engine: its runs are large blocks mapped on their
// own, which go back to the system whole when freed, so that the memory
// held is the memory used; and under a limit on address space, every thread
// allocates from one arena, since each further arena reserves 64 MiB of
// address space that the limit counts whether it is touched or not.
void set_up_memory() noexcept;

// The memory budget: what -S gave, or half of what the process may use,
// looked up the first time it is asked for. The look (physical memory,
// control groups, limits) takes longer than sorting a short list, which
// therefore never asks.
class memory_budget {
 public:
  explicit memory_budget(std::optional<std::size_t> given) noexcept : value_(given) {}

  [[nodiscard]] std::size_t get() noexcept {
    if (!value_) value_ = default_memory_budget();
    return *value_;
  }
  [[nodiscard]] bool known() const noexcept { return value_.has_value(); }

 private:
  std::optional<std::size_t> value_;
};

}  // namespace quorbel
