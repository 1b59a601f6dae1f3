// What the command writes besides the sorted lines and the messages about
// dropped lines: its errors, the usage text and the version.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorbel {

// Reports a failure of the command itself: "<what>: <reason>", or "<what>"
// when error is 0. Needs no memory, so it works when memory has run out.
void report_error(int fd, const char* what, int error) noexcept;

// The same about a file or directory (unless null): "<what>: <subject>:
// <reason>".
void report_error(int fd, const char* what, const char* subject, int error) noexcept;

// Writes the lines of the text, each with a newline, to fd: 0, or the error.
[[nodiscard]] int write_lines(int fd, const std::string_view* lines, std::size_t count) noexcept;

}  // namespace quorbel
