// Errors and short texts, written at once and needing no memory.
#include "cli/output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/io.h"

namespace quorbel {

void report_error(int fd, const char* what, int error) noexcept {
  report_error(fd, what, nullptr, error);
}

void report_error(int fd, const char* what, const char* subject, int error) noexcept {
  // A subject may be a path of PATH_MAX bytes.
  char message[8192];
  const char* const reason = error != 0 ? std::strerror(error) : nullptr;
  const int length =
      std::snprintf(message, sizeof message, "%s%s%s%s%s\n", what, subject != nullptr ? ": " : "",
                    subject != nullptr ? subject : "", reason != nullptr ? ": " : "",
                    reason != nullptr ? reason : "");
  if (length <= 0) return;
  const auto size = static_cast<std::size_t>(length) < sizeof message
                        ? static_cast<std::size_t>(length)
                        : sizeof message - 1;
  (void)write_fully(fd, {message, size});
}

int write_lines(int fd, const std::string_view* lines, std::size_t count) noexcept {
  // Short texts: gathered on the stack and written at once, needing no memory.
  char text[4096];
  std::size_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (lines[i].size() + 1 > sizeof text - used) {
      if (const int error = write_fully(fd, {text, used})) return error;
      used = 0;
    }
    const std::size_t n = std::min(lines[i].size(), sizeof text - 1);
    std::memcpy(text + used, lines[i].data(), n);
    text[used + n] = '\n';
    used += n + 1;
  }
  return write_fully(fd, {text, used});
}

}  // namespace quorbel
