// Whether a regular file on standard input stays as it was while it is
// sorted. Lines read from it early and late, or texts left in its mapped
// pages until they are written, would otherwise make output of two files
// at once, with pieces that were lines of neither; so its length and the
// time it was last written are noted when reading starts and compared
// before output begins and after it ends.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>

namespace quorbel {

class input_watch {
 public:
  enum class state { same, shrank, changed };

  // Notes the file on fd, when it is a regular file; any other input (a
  // pipe, a terminal) is always the same.
  explicit input_watch(int fd) noexcept;

  [[nodiscard]] state check() const noexcept;

  // True when the input is a regular file, which is watched.
  [[nodiscard]] bool regular() const noexcept { return fd_ >= 0; }

  // The length of the regular file when it was noted; 0 for other input.
  [[nodiscard]] std::size_t size() const noexcept {
    return fd_ < 0 ? 0 : static_cast<std::size_t>(size_);
  }

 private:
  int fd_ = -1;  // -1 when not a regular file
  off_t size_ = 0;
  timespec written_{};
};

}  // namespace quorbel
