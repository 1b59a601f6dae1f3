// Reading input in blocks of whole lines: from the mapping where the file
// is mapped, else with read, waiting for a pipe without holding back the
// messages due.
#include "cli/block_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/io.h"

namespace quorbel {

namespace {

// The room a buffer starts with, before a block shows that it needs more.
constexpr std::size_t FIRST_ROOM = (std::size_t{1} << 13) + MAX_LINE_LENGTH + 2;

// True unless a read of fd would wait for its writer.
bool readable(int fd) noexcept {
  pollfd ready{fd, POLLIN, 0};
  // A file that cannot be polled never waits; an error shows in the read.
  return ::poll(&ready, 1, 0) != 0;
}

// Waits until fd can be read or `wake` is written to; false for the latter.
bool wait_readable(int fd, int wake) noexcept {
  pollfd ready[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
  for (;;) {
    const int got = ::poll(ready, wake >= 0 ? 2 : 1, -1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return true;  // let the read say what is wrong
    return ready[1].revents == 0 || ready[0].revents != 0;
  }
}

// Widens a pipe to hold a block, up to what the system lets anyone ask for,
// so that its writer and its reader take turns a block at a time rather
// than 64 KiB at a time, with fewer reads and wake-ups. A pipe that cannot
// grow stays as it is.
void widen_pipe(int fd, std::size_t block_bytes) noexcept {
#ifdef F_SETPIPE_SZ
  constexpr std::size_t WIDEST = std::size_t{1} << 20;  // the unprivileged limit by default
  const std::size_t wanted = std::min(block_bytes, WIDEST);
  struct stat input {};
  if (::fstat(fd, &input) != 0 || !S_ISFIFO(input.st_mode)) return;
  const int now = ::fcntl(fd, F_GETPIPE_SZ);
  if (now >= 0 && static_cast<std::size_t>(now) < wanted) {
    (void)::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(wanted));
  }
#else
  (void)fd;
  (void)block_bytes;
#endif
}

}  // namespace

block_reader::block_reader(int fd, const mapped_input& input, std::size_t block_bytes,
                           message_order* messages, char terminator) noexcept
    : fd_(fd),
      mapped_(input.lines()),
      mapped_end_(input.end_offset()),
      block_bytes_(block_bytes == 0 ? 1 : block_bytes),
      messages_(messages),
      terminator_(terminator) {
  widen_pipe(fd, block_bytes_);
}

void block_reader::set_block_bytes(std::size_t block_bytes) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  block_bytes_ = block_bytes == 0 ? 1 : block_bytes;
}

void block_reader::make_wakeable() noexcept {
  // Another thread wakes a reader that waits for input by writing here.
  if (wake_[0] < 0 && ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

block_reader::~block_reader() {
  if (wake_[0] >= 0) ::close(wake_[0]);
  if (wake_[1] >= 0) ::close(wake_[1]);
}

void block_reader::learn(std::size_t bytes, std::size_t lines) noexcept {
  if (lines > 0) bytes_per_line_.store(std::max<std::size_t>(bytes / lines, 1));
}

bool block_reader::next(growable<char>* buffer, input_block* block) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (ended_ || stopped_.load()) return false;
  // A line costs its bytes and LINE_COST_WHILE_SORTED more while its run
  // is sorted: a block holds the lines that take about twice its size then.
  const std::size_t line = bytes_per_line_.load();
  const std::size_t block_bytes = std::max<std::size_t>(
      std::min(block_bytes_, 2 * block_bytes_ / (line + LINE_COST_WHILE_SORTED) * line), 1);
  if (!mapped_.empty() && next_mapped(block_bytes, block)) return true;
  if (ended_) return false;
  return next_read(block_bytes, buffer, block);
}

// The next mapped block: up to the newline that ends the line at the
// block's reach, unless that line is over-long. Reading then takes over at
// the line's start, and skips it without holding it whole. False when no
// mapped line is left, or when that fails (ended_ is then set).
bool block_reader::next_mapped(std::size_t block_bytes, input_block* block) noexcept {
  const char* const lines = mapped_.data();
  const std::size_t reach = std::min(block_bytes, mapped_.size()) - 1;
  const std::size_t window = std::min(mapped_.size() - reach, MAX_LINE_LENGTH + 2);
  const void* newline = std::memchr(lines + reach, terminator_, window);
  std::size_t size = 0;
  if (newline == nullptr) newline = ::memrchr(lines, terminator_, reach);
  if (newline != nullptr) {
    size = static_cast<std::size_t>(static_cast<const char*>(newline) - lines) + 1;
  }
  if (size <= reach) {
    if (::lseek(fd_, mapped_end_ - static_cast<off_t>(mapped_.size() - size), SEEK_SET) < 0) {
      fail(errno);
      return false;
    }
    mapped_ = mapped_.substr(0, size);
  }
  if (size == 0) return false;
  *block = {mapped_.substr(0, size), next_++, true};
  mapped_.remove_prefix(size);
  return true;
}

// The next block read from fd: whole lines up to about block_bytes, or
// fewer when the input pauses. An over-long line is cut to what its message
// shows, and its tail skipped, here or in the blocks after.
bool block_reader::next_read(std::size_t block_bytes, growable<char>* buffer,
                             input_block* block) noexcept {
  // Room for the unfinished line before, a block, and a newline after a
  // cut line, taken as the block fills: a short input touches no more.
  const std::size_t room = block_bytes_ + MAX_LINE_LENGTH + 2;
  std::size_t capacity = std::min(room, std::max(buffer->capacity(), FIRST_ROOM));
  if (!buffer->reserve_exactly(capacity)) {
    fail(ENOMEM);
    return false;
  }
  char* bytes = buffer->data();
  std::memcpy(bytes, carry_, carried_);
  std::size_t size = carried_;
  std::size_t line_start = 0;  // of the unfinished line
  bool complete = false;       // the block has a whole line
  carried_ = 0;
  while (!(complete && size >= block_bytes)) {
    if (!readable(fd_)) {
      // The input pauses: what is whole goes now, and every message so far
      // is out before waiting, which another thread's failure cuts short.
      if (complete) break;
      if (messages_ != nullptr) messages_->wait_for(next_);
      if (stopped_.load() || !wait_readable(fd_, wake_[0])) return false;
    }
    const std::size_t wanted = std::max(block_bytes > size ? block_bytes - size : 0,
                                        std::min(block_bytes, LONG_LINE_SHOWN));
    // A full buffer takes its whole room, once.
    if (capacity - 1 - size < std::min(wanted, LONG_LINE_SHOWN) && capacity < room) {
      if (!buffer->reserve_exactly(room)) {
        fail(ENOMEM);
        return false;
      }
      capacity = room;
      bytes = buffer->data();
    }
    int error = 0;
    const ssize_t got = read_some(fd_, bytes + size, std::min(wanted, capacity - 1 - size), &error);
    if (got < 0) {
      fail(error);
      return false;
    }
    if (got == 0) {
      ended_ = true;
      break;
    }
    std::size_t added = static_cast<std::size_t>(got);
    if (skipping_) {
      // The tail of an over-long line: dropped up to its newline.
      const void* newline = std::memchr(bytes + size, terminator_, added);
      if (newline == nullptr) continue;
      const std::size_t past =
          static_cast<std::size_t>(static_cast<const char*>(newline) - (bytes + size)) + 1;
      std::memmove(bytes + size, bytes + size + past, added - past);
      added -= past;
      skipping_ = false;
    }
    const char* last = static_cast<const char*>(::memrchr(bytes + size, terminator_, added));
    size += added;
    if (last != nullptr) {
      line_start = static_cast<std::size_t>(last - bytes) + 1;
      complete = true;
    }
    if (size - line_start > MAX_LINE_LENGTH) {
      // Over-long before its end: keep what its message shows.
      size = line_start + LONG_LINE_SHOWN;
      bytes[size++] = terminator_;
      line_start = size;
      complete = true;
      skipping_ = true;
    }
  }
  if (!ended_) {
    // The unfinished line waits for the next block.
    carried_ = size - line_start;
    std::memcpy(carry_, bytes + line_start, carried_);
    size = line_start;
  } else if (skipping_) {
    size = line_start;  // the input ended inside an over-long line
  }
  if (size == 0 && ended_) return false;
  *block = {{bytes, size}, next_++, false, ended_};
  return true;
}

int block_reader::error() const noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void block_reader::stop() noexcept {
  stopped_.store(true);
  if (wake_[1] >= 0) (void)!::write(wake_[1], "", 1);
}

}  // namespace quorbel
