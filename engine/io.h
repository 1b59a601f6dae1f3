// The system calls of reading, writing and temporary files, each in one
// place: interruptions are retried, short transfers continued, and a
// failure is its errno.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace quorbel {

// Writes all the bytes, through short writes and interruptions: 0, or the
// error that stopped it.
[[nodiscard]] int write_fully(int fd, std::string_view bytes) noexcept;

// Reads up to `size` bytes: how many (0 at the end of input), or -1 with the
// error in *error. Retries interrupted reads.
[[nodiscard]] ssize_t read_some(int fd, char* buffer, std::size_t size, int* error) noexcept;

// Reads up to `size` bytes from `offset` on, as many as there are: how many,
// or -1 with the error in *error.
[[nodiscard]] ssize_t read_at(int fd, char* buffer, std::size_t size, off_t offset,
                              int* error) noexcept;

// A new temporary file in `directory`, open for reading and writing, with no
// name left behind: created unnamed where the file system can, else created
// and unlinked at once. Returns the descriptor, or -1 with the error in *error.
[[nodiscard]] int open_temporary(const char* directory, int* error) noexcept;

// Descriptors the process may still open, a few kept back for whoever else
// opens some (a reader's wake-up pipe, say); SIZE_MAX without a limit. It
// counts those open now, so it is asked when it matters, not before.
[[nodiscard]] std::size_t descriptors_left() noexcept;

// Tells the file system it may drop [offset, offset + size) of a temporary
// file that has been read, so that merged runs do not take their room twice.
// Best effort: a file system that cannot do it keeps the bytes.
void drop_range(int fd, off_t offset, std::size_t size) noexcept;

}  // namespace quorbel
