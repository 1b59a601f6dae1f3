// Reading a run back from its temporary file.
#include "engine/file_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/io.h"

namespace quorbel {

namespace {

// Each file source reads this much at a time; it holds any line whole,
// with its prefix.
constexpr std::size_t SOURCE_BUFFER = std::size_t{1} << 16;
static_assert(SOURCE_BUFFER >= 2 * (MAX_CODE_PREFIX + 1 + MAX_TEXT_LENGTH + 1));
// Read parts of a temporary file are given back a page at a time, after
// every read, so that a merge holds its lines on disk once, not twice, even
// when its files are small.
constexpr std::uint64_t DROP_PIECE = 4096;
}  // namespace

file_source::~file_source() { std::free(buffer_); }

bool file_source::open() noexcept {
  buffer_ = static_cast<char*>(std::malloc(SOURCE_BUFFER));
  return buffer_ != nullptr;
}

bool file_source::refill() noexcept {
  // Keep the unfinished line, and read behind it.
  const std::size_t kept = end_ - start_;
  if (kept > 0 && start_ > 0) std::memmove(buffer_, buffer_ + start_, kept);
  start_ = 0;
  end_ = kept;
  if (read_ == size_) return false;
  const std::uint64_t left = size_ - read_;
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(SOURCE_BUFFER - kept, left));
  int error = 0;
  const ssize_t got = read_at(fd_, buffer_ + end_, want, static_cast<off_t>(read_), &error);
  if (got < 0) {
    error_ = error;
    return false;
  }
  if (got == 0) return false;
  end_ += static_cast<std::size_t>(got);
  read_ += static_cast<std::uint64_t>(got);
  const std::uint64_t done = read_ - end_;
  if (done >= dropped_ + DROP_PIECE) {
    const std::uint64_t until = done - done % DROP_PIECE;
    drop_range(fd_, static_cast<off_t>(dropped_), static_cast<std::size_t>(until - dropped_));
    dropped_ = until;
  }
  return true;
}

bool file_source::next(line_view* line) noexcept {
  // The prefix runs to its zero byte, the text from there to its end.
  std::size_t text_at = 0;  // from start_
  const void* end = nullptr;
  for (;;) {
    const char* const from = buffer_ + start_;
    const std::size_t left = end_ - start_;
    const void* zero = prefixed_ ? std::memchr(from, 0, left) : from;
    if (zero != nullptr) {
      text_at = prefixed_ ? static_cast<std::size_t>(static_cast<const char*>(zero) - from) + 1 : 0;
      end = std::memchr(from + text_at, terminator_, left - text_at);
      if (end != nullptr) break;
    }
    if (!refill()) {
      // Every line written is whole: anything else is a fault.
      if (error_ == 0 && end_ != start_) error_ = EIO;
      return false;
    }
  }
  const char* const record = buffer_ + start_;
  const char* const text = record + text_at;
  const auto length = static_cast<std::size_t>(static_cast<const char*>(end) - text) + 1;
  start_ += text_at + length;
  version_view version;
  if (!finder_.find({text, length - 1}, &version)) {
    error_ = EIO;  // the file does not hold what was written to it
    return false;
  }
  std::optional<std::string_view> prefix;
  if (prefixed_) prefix = std::string_view(record, text_at - 1);
  line->code_length = encode_line_code(prefix, version, descending_, code_);
  line->code = code_;
  line->text = text;
  line->text_length = length;
  line->text_elsewhere = false;
  return true;
}

}  // namespace quorbel
