// Noting a regular input file, and telling whether it changed since.
#include "cli/input_watch.h"

#include <sys/stat.h>

namespace quorbel {

input_watch::input_watch(int fd) noexcept {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
  fd_ = fd;
  size_ = status.st_size;
  written_ = status.st_mtim;
}

input_watch::state input_watch::check() const noexcept {
  if (fd_ < 0) return state::same;
  struct stat status {};
  // A file that cannot be looked at now has not been seen to change.
  if (::fstat(fd_, &status) != 0) return state::same;
  if (status.st_size < size_) return state::shrank;
  if (status.st_size != size_ || status.st_mtim.tv_sec != written_.tv_sec ||
      status.st_mtim.tv_nsec != written_.tv_nsec) {
    return state::changed;
  }
  return state::same;
}

}  // namespace quorbel
