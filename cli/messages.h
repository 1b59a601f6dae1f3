// The messages about dropped lines: each block's, built as its lines are
// taken apart, and written in input order, a block's once the blocks before
// it have written theirs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "engine/memory.h"

namespace quorbel {

// The messages of one block, in the order of its lines. Each call adds one
// message; false when memory runs out (the message is then lost).
class line_messages {
 public:
  // "Input line too long: <shown>", up to its first zero byte.
  [[nodiscard]] bool too_long(std::string_view shown) noexcept;
  // "Field <field> not found in <line>".
  [[nodiscard]] bool field_missing(std::int32_t field, std::string_view line) noexcept;
  // "Invalid semver: <line>".
  [[nodiscard]] bool invalid_version(std::string_view line) noexcept;
  // "Disorder at line <number>: <line>", of -c.
  [[nodiscard]] bool disorder(std::size_t number, std::string_view line) noexcept;

  [[nodiscard]] std::string_view text() const noexcept { return {bytes_.data(), bytes_.size()}; }
  void clear() noexcept { bytes_.clear(); }
  // Keeps the first `size` bytes of the text: the messages before a line.
  void cut(std::size_t size) noexcept { bytes_.resize_within(size); }
  void swap(line_messages& other) noexcept { bytes_.swap(other.bytes_); }

 private:
  [[nodiscard]] bool put(std::string_view a, std::string_view b, std::string_view c = {},
                         std::string_view d = {}) noexcept;

  growable<char> bytes_;
};

// The messages of the blocks, written to fd in input order.
class message_order {
 public:
  explicit message_order(int fd) noexcept : fd_(fd) {}

  // Writes the messages of block `sequence` in its turn.
  void write(std::size_t sequence, std::string_view messages) noexcept;

  // Waits until the blocks before `sequence` have written their messages.
  void wait_for(std::size_t sequence) noexcept;

  // Reading has failed: nobody waits any more.
  void stop() noexcept;

 private:
  int fd_;
  std::mutex mutex_;
  std::condition_variable turn_;
  std::size_t next_ = 0;
  bool stopped_ = false;
};

}  // namespace quorbel
