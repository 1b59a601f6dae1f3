// System calls, with their retries and errors in one place.
#include "engine/io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quorbel {

int write_fully(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;  // no progress: never loop on it
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

ssize_t read_some(int fd, char* buffer, std::size_t size, int* error) noexcept {
  for (;;) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) {
      *error = errno;
      return -1;
    }
  }
}

ssize_t read_at(int fd, char* buffer, std::size_t size, off_t offset, int* error) noexcept {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = errno;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

int open_temporary(const char* directory, int* error) noexcept {
#ifdef O_TMPFILE
  const int unnamed = ::open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) return unnamed;
  // A file system without unnamed files says so in one of these ways; any
  // other error (no such directory, no permission) is the answer.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    *error = errno;
    return -1;
  }
#endif
  char path[4096];
  const int length = std::snprintf(path, sizeof path, "%s/quorbel.XXXXXX", directory);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
    *error = ENAMETOOLONG;
    return -1;
  }
  const int fd = ::mkostemp(path, O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  ::unlink(path);
  return fd;
}

std::size_t descriptors_left() noexcept {
  constexpr std::size_t KEPT_BACK = 4;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  if (limit.rlim_cur > SIZE_MAX) return SIZE_MAX;
  std::size_t open_now = 3;  // when they cannot be counted
  if (DIR* const directory = ::opendir("/proc/self/fd")) {
    std::size_t entries = 0;
    while (const dirent* entry = ::readdir(directory)) entries += entry->d_name[0] != '.';
    ::closedir(directory);
    open_now = entries > 0 ? entries - 1 : 0;  // the directory's own is gone again
  }
  const auto total = static_cast<std::size_t>(limit.rlim_cur);
  return total > open_now + KEPT_BACK ? total - open_now - KEPT_BACK : 0;
}

void drop_range(int fd, off_t offset, std::size_t size) noexcept {
#if defined(FALLOC_FL_PUNCH_HOLE) && defined(FALLOC_FL_KEEP_SIZE)
  (void)::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset,
                    static_cast<off_t>(size));
#else
  (void)fd;
  (void)offset;
  (void)size;
#endif
}

}  // namespace quorbel
