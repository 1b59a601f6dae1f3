// What the command writes besides the sorted lines: messages about dropped
// lines, errors, the usage text and the version.
#pragma once

#include <cstddef>
#include <string_view>

#include "engine/memory.h"

namespace quorbel {

// Buffered writes to one descriptor. The first failure is kept and later
// writes are skipped, so the caller checks once at the end.
class writer {
 public:
  writer(int fd, std::size_t capacity) noexcept;

  [[nodiscard]] bool ready() const noexcept { return buffer_.capacity() != 0; }
  [[nodiscard]] int error() const noexcept { return error_; }
  [[nodiscard]] bool pending() const noexcept { return !buffer_.empty(); }

  void put(std::string_view bytes) noexcept;
  void flush() noexcept;

 private:
  void write_all(std::string_view bytes) noexcept;

  int fd_;
  growable<char> buffer_;
  int error_ = 0;
};

// Reports a failure of the command itself: "<what>: <reason>", or "<what>"
// when error is 0. Needs no memory, so it works when memory has run out.
void report_error(int fd, const char* what, int error) noexcept;

// Writes the lines of the text, each with a newline, to fd: 0, or the error.
[[nodiscard]] int write_lines(int fd, const std::string_view* lines, std::size_t count) noexcept;

}  // namespace quorbel
