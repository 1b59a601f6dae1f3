// What the command may use: memory to hold lines in, address space, and
// descriptors for temporary files.
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

// Descriptors the process may still open, a few kept back for its own use
// (the reader's wake-up pipe among them); SIZE_MAX without a limit.
[[nodiscard]] std::size_t descriptors_left() noexcept;

}  // namespace quorbel
