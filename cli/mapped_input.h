// Input from a regular file, mapped rather than read: its lines are taken
// apart where they lie, with no copy into a buffer, and long ones can stay
// there until they are written.
//
// A file cut short while it is mapped would make reading its lost pages a
// fatal bus error. Instead, such pages read as zeros from then on, and the
// input says what happened, which the command reports as a read error.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace quorbel {

class mapped_input {
 public:
  // What became of the mapped lines.
  enum class state {
    whole,   // as they were mapped
    shrank,  // the file was cut short under them
    failed,  // a page of them could not be read from the file
  };

  mapped_input() noexcept = default;
  mapped_input(const mapped_input&) = delete;
  mapped_input& operator=(const mapped_input&) = delete;
  ~mapped_input();

  // Maps what fd holds from its offset on, up to the end of its last line
  // (the last `terminator`), when fd is a regular file with between `least`
  // and `most` bytes there, and moves fd's offset past them, so that
  // reading goes on after the mapped lines. False, leaving fd as it was,
  // when it is not mapped: it is then to be read. One input is mapped at a
  // time in a process.
  bool map(int fd, std::size_t least, std::size_t most, char terminator = '\n') noexcept;

  // The mapped lines, each with its end; empty when nothing is mapped.
  [[nodiscard]] std::string_view lines() const noexcept { return {begin_, size_}; }
  // The offset in the file just past the mapped lines.
  [[nodiscard]] off_t end_offset() const noexcept { return end_offset_; }

  // Gives back the memory of the pages of [from, to), lines that are done
  // with; reading them, or lines beside them, reads the file again.
  void release(const char* from, const char* to) const noexcept;

  // Whether the mapped lines are still what the file held when they were
  // read (so far as their length and their pages tell).
  [[nodiscard]] state check() const noexcept;

 private:
  void unmap() noexcept;

  int fd_ = -1;
  char* map_start_ = nullptr;  // page-aligned
  std::size_t map_size_ = 0;
  const char* begin_ = nullptr;
  std::size_t size_ = 0;
  off_t end_offset_ = 0;
};

}  // namespace quorbel
