// The block reader: input cut into numbered blocks of whole lines, one
// reader at a time. The lines of a mapped file come first, where they lie;
// then what is read after them, into the caller's buffer. Before a read
// that may wait, every message due so far is let out.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string_view>

#include "cli/mapped_input.h"
#include "cli/messages.h"
#include "engine/memory.h"
#include "engine/run.h"

namespace quorbel {

// The longest line, in bytes before its newline; a longer one is dropped.
inline constexpr std::size_t MAX_LINE_LENGTH = 4095;
static_assert(MAX_LINE_LENGTH <= MAX_TEXT_LENGTH, "every line kept fits the engine");
// How much of an over-long line its message shows.
inline constexpr std::size_t LONG_LINE_SHOWN = MAX_LINE_LENGTH + 1;

// A block of whole lines, each with its end, and its number.
struct input_block {
  std::string_view lines;
  std::size_t sequence = 0;
  bool mapped = false;  // the lines lie in the mapped input, else in the buffer given
  bool last = false;    // the input ended with it
};

// An over-long line that is read is cut to the bytes its message shows,
// with a newline, and the rest of it is skipped: it never becomes a line of
// its own. One that is mapped makes reading take over at its start.
class block_reader {
 public:
  // Blocks hold about `block_bytes` (0 counts as 1) of lines that end with
  // `terminator`; `messages` is null when quiet.
  block_reader(int fd, const mapped_input& input, std::size_t block_bytes, message_order* messages,
               char terminator) noexcept;
  block_reader(const block_reader&) = delete;
  block_reader& operator=(const block_reader&) = delete;
  ~block_reader();

  // Takes the size of a block just read, so that blocks of short lines are
  // cut shorter: the keys of short lines outweigh their bytes.
  void learn(std::size_t bytes, std::size_t lines) noexcept;

  // The next block, read into *buffer unless it is mapped: false at the end
  // of input, or when reading failed (error() then tells why).
  [[nodiscard]] bool next(growable<char>* buffer, input_block* block) noexcept;

  [[nodiscard]] int error() const noexcept;

  // Blocks hold about `block_bytes` from the next one on.
  void set_block_bytes(std::size_t block_bytes) noexcept;

  // Opens the pipe through which stop() wakes a reader that waits for
  // input: called before a second thread reads too, since one thread alone
  // never waits while it stops.
  void make_wakeable() noexcept;

  // Ends reading for every thread, when something else has failed, and
  // wakes a reader that waits for input. Needs no lock: the reader may hold
  // it while it waits.
  void stop() noexcept;

 private:
  void fail(int error) noexcept {
    error_ = error;
    ended_ = true;
  }
  [[nodiscard]] bool next_mapped(std::size_t block_bytes, input_block* block) noexcept;
  [[nodiscard]] bool next_read(std::size_t block_bytes, growable<char>* buffer,
                               input_block* block) noexcept;

  int fd_;
  std::string_view mapped_;  // the mapped lines not yet in a block
  off_t mapped_end_;         // the offset in the file just past them
  std::size_t block_bytes_;  // the most a block holds, of lines of any length
  message_order* messages_;  // null when quiet
  char terminator_;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopped_{false};
  std::atomic<std::size_t> bytes_per_line_{32};
  mutable std::mutex mutex_;
  char carry_[MAX_LINE_LENGTH + 1];  // the start of the unfinished line
  std::size_t carried_ = 0;
  bool skipping_ = false;  // inside the tail of an over-long line
  bool ended_ = false;
  int error_ = 0;
  std::size_t next_ = 0;  // the number of the next block
};

}  // namespace quorbel
