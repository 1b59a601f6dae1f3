// The file of -o: the output is written beside it, in the same directory,
// and put in its place only once all of it is written. Until then the old
// file is untouched, so it may be the input itself, and a failure leaves it
// as it was, with nothing beside it.
#pragma once

#include <sys/types.h>

#include <climits>
#include <cstddef>

namespace quorbel {

class output_file {
 public:
  output_file() noexcept = default;
  output_file(const output_file&) = delete;
  output_file& operator=(const output_file&) = delete;
  // Abandons what was written unless it was put in place.
  ~output_file();

  // Makes the file to write for `path`: 0, or the error. A symbolic link is
  // followed to the file it names, which is replaced (the link stays). The
  // new file takes the old one's permission bits, and its owner and group
  // where the user may give them; a file that is not there yet gets those
  // of a new file (0666 less the umask). A device or pipe is not replaced
  // but written to directly, as `>` would.
  [[nodiscard]] int open(const char* path) noexcept;

  // Where the output goes; -1 before open succeeds.
  [[nodiscard]] int fd() const noexcept { return fd_; }

  // Puts the written file in place of the old one: 0, or the error, after
  // which the old file is as it was and the written one is gone.
  [[nodiscard]] int commit() noexcept;

  // Removes what was written; the old file stays.
  void abandon() noexcept;

 private:
  [[nodiscard]] int create_beside() noexcept;
  [[nodiscard]] int name_written() noexcept;

  int fd_ = -1;
  bool direct_ = false;   // a device or pipe, written in place
  bool unnamed_ = false;  // made without a name, which it gets at the end
  char target_[PATH_MAX] = {};
  char directory_[PATH_MAX] = {};
  char written_[PATH_MAX] = {};  // the name of what is written, once it has one
};

}  // namespace quorbel
