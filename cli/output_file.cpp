// Writing the output of -o beside its file, and putting it in place.
#include "cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace quorbel {

namespace {

// How many links are followed, and names tried, before giving up.
constexpr int MOST_LINKS = 40;
constexpr int MOST_NAMES = 100;

// Copies a text into a path buffer: 0, or ENAMETOOLONG.
int copy_path(char* to, const char* from, std::size_t from_length) noexcept {
  if (from_length >= PATH_MAX) return ENAMETOOLONG;
  std::memcpy(to, from, from_length);
  to[from_length] = '\0';
  return 0;
}

// Follows the symbolic links that `path` names, one after another, to the
// file at the end (which need not exist) and puts its name in `out`.
int follow_links(const char* path, char* out) noexcept {
  if (const int error = copy_path(out, path, std::strlen(path))) return error;
  for (int hops = 0; hops < MOST_LINKS; ++hops) {
    struct stat status {};
    if (::lstat(out, &status) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(status.st_mode)) return 0;
    char link[PATH_MAX];
    const ssize_t length = ::readlink(out, link, sizeof link - 1);
    if (length < 0) return errno;
    const auto named = static_cast<std::size_t>(length);
    // A relative link names a file beside the link.
    const char* slash = std::strrchr(out, '/');
    const std::size_t kept =
        link[0] == '/' || slash == nullptr ? 0 : static_cast<std::size_t>(slash - out) + 1;
    if (kept + named >= PATH_MAX) return ENAMETOOLONG;
    std::memcpy(out + kept, link, named);
    out[kept + named] = '\0';
  }
  return ELOOP;
}

// Writes "<directory>/.quorbel-XXXXXX" to `out`, six letters or digits
// drawn anew on each call: 0, or ENAMETOOLONG.
int new_name(const char* directory, char* out) noexcept {
  static std::atomic<std::uint64_t> drawn{0};
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t bits =
      static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
      (static_cast<std::uint64_t>(::getpid()) << 40) ^ (drawn.fetch_add(1) * 0x9E3779B97F4A7C15u);
  bits ^= bits >> 31;
  bits *= 0xBF58476D1CE4E5B9u;
  bits ^= bits >> 29;
  static constexpr char LETTERS[] =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  char letters[7];
  for (char& letter : letters) {
    letter = LETTERS[bits % 62];
    bits /= 62;
  }
  letters[6] = '\0';
  const int length = std::snprintf(out, PATH_MAX, "%s/.quorbel-%s", directory, letters);
  return length < 0 || length >= PATH_MAX ? ENAMETOOLONG : 0;
}

}  // namespace

output_file::~output_file() { abandon(); }

int output_file::open(const char* path) noexcept {
  struct stat old {};
  bool existing = false;
  if (::stat(path, &old) == 0) {
    if (S_ISDIR(old.st_mode)) return EISDIR;
    if (!S_ISREG(old.st_mode)) {
      fd_ = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
      direct_ = true;
      return fd_ < 0 ? errno : 0;
    }
    // As `sort -o` would, a file the user may not write is left alone,
    // although its directory would let it be replaced.
    if (::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) return errno;
    existing = true;
  } else if (errno != ENOENT) {
    return errno;
  }
  if (const int error = follow_links(path, target_)) return error;
  const char* slash = std::strrchr(target_, '/');
  if (slash == nullptr) {
    std::strcpy(directory_, ".");
  } else {
    (void)copy_path(directory_, target_,
                    slash == target_ ? 1 : static_cast<std::size_t>(slash - target_));
  }
  if (const int error = create_beside()) return error;
  if (existing) {
    // Where the user may: the owner and group stay, then the nine
    // permission bits (never set-id bits, which would outlive an owner).
    if (old.st_uid != ::geteuid()) (void)!::fchown(fd_, old.st_uid, static_cast<gid_t>(-1));
    if (old.st_gid != ::getegid()) (void)!::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
    if (::fchmod(fd_, old.st_mode & 0777) != 0) {
      const int error = errno;
      abandon();
      return error;
    }
  }
  return 0;
}

// The file to write: unnamed where the file system allows, so that nothing
// is left behind whatever ends the command, and named when it is done;
// else under a new name at once. Its permission bits are those of a new
// file.
int output_file::create_beside() noexcept {
#ifdef O_TMPFILE
  fd_ = ::open(directory_, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd_ >= 0) {
    // It is named through /proc at the end, so /proc must be there.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
    if (::access(self, F_OK) == 0) {
      unnamed_ = true;
      return 0;
    }
    ::close(fd_);
    fd_ = -1;
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return errno;
  }
#endif
  for (int tries = 0; tries < MOST_NAMES; ++tries) {
    if (const int error = new_name(directory_, written_)) return error;
    fd_ = ::open(written_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return 0;
    written_[0] = '\0';
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Gives the unnamed file a new name beside the old file.
int output_file::name_written() noexcept {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
  for (int tries = 0; tries < MOST_NAMES; ++tries) {
    if (const int error = new_name(directory_, written_)) return error;
    if (::linkat(AT_FDCWD, self, AT_FDCWD, written_, AT_SYMLINK_FOLLOW) == 0) return 0;
    written_[0] = '\0';
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int output_file::commit() noexcept {
  if (fd_ < 0) return EBADF;
  int error = unnamed_ ? name_written() : 0;
  // Closing reports what a file system kept back until then.
  if (::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && !direct_ && ::rename(written_, target_) != 0) error = errno;
  if (error == 0) {
    written_[0] = '\0';
  } else {
    abandon();
  }
  return error;
}

void output_file::abandon() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (written_[0] != '\0') ::unlink(written_);
  written_[0] = '\0';
}

}  // namespace quorbel
