// The rules of a line, for the sort and the check alike: where it ends, how
// long it may be, its fields, its version (-l), its group (-g) and the
// range it must satisfy (-m). A block's lines are taken apart one after
// another: the accepted ones are handed out, each dropped one becomes a
// message.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "cli/arguments.h"
#include "cli/block_reader.h"
#include "cli/known_fields.h"
#include "cli/messages.h"

namespace quorbel {

// An accepted line.
struct taken_line {
  std::string_view line;                  // the whole line, without its end
  std::string_view text;                  // what is written for it: the line, or its field (-v)
  std::optional<std::string_view> group;  // the field of -g, absent without it
  // Its version, or null when its code is known already: `code`, kept for
  // its field, or without one that of the line accepted before it in the
  // block.
  const version_view* version = nullptr;
  const std::uint8_t* code = nullptr;
  std::size_t code_length = 0;
  // While fields are remembered, the slot of a parsed line's field, where
  // keep_code() is to keep the line's code.
  std::size_t slot = known_fields::NO_SLOT;
};

class line_taker {
 public:
  // With a range (may be null), only the versions that satisfy it are
  // accepted; the others are left out without a message.
  line_taker(const sort_settings& settings, const version_range* range) noexcept
      : settings_(settings), range_(range) {}
  line_taker(const line_taker&) = delete;
  line_taker& operator=(const line_taker&) = delete;

  // Starts on the lines of a block, each with its end but maybe the last.
  void start(std::string_view lines) noexcept;

  // The next accepted line of the block, valid while the block is, with a
  // message added for each line dropped before it (unless quiet). False at
  // the block's end, or when memory for a message runs out (failed()).
  [[nodiscard]] bool next(taken_line* taken) noexcept;

  // The lines of the block taken so far, dropped and empty ones included:
  // the line just handed out is the taken()'th, counted from 1.
  [[nodiscard]] std::size_t taken() const noexcept { return taken_; }
  [[nodiscard]] bool failed() const noexcept { return failed_; }
  [[nodiscard]] line_messages& messages() noexcept { return messages_; }

  // From now on, version fields seen lately are known again (without
  // groups), with the codes kept for them: a line whose field is known
  // comes with its code instead of its version. Their table is made at the
  // first call, so that short input, which never calls, does not pay for
  // its pages; without memory for it, fields are not remembered until a
  // later call finds some.
  void remember_fields() noexcept;
  // Keeps the code given to the line whose field was kept under `slot`.
  void keep_code(std::size_t slot, const std::uint8_t* code, std::size_t length) noexcept {
    known_->keep_code(slot, code, length);
  }

 private:
  [[nodiscard]] bool accept(std::string_view line, taken_line* taken) noexcept;
  [[nodiscard]] bool same_as_last(std::string_view field,
                                  std::optional<std::string_view> group) const noexcept;
  void note(bool kept) noexcept { failed_ = failed_ || !kept; }
  void remember_last(std::string_view field, std::optional<std::string_view> group) noexcept;

  const sort_settings& settings_;
  const version_range* range_;
  std::string_view lines_;
  std::size_t at_ = 0;    // where the next line starts
  std::size_t zero_ = 0;  // the first zero byte at or after a line already begun
  std::size_t taken_ = 0;
  bool failed_ = false;
  line_messages messages_;
  // One view serves every line: rewriting a fresh one for each line costs
  // more than parsing it.
  version_view version_;
  // The version field and the group of the line accepted last; empty
  // before the first. A version is at most MAX_VERSION_LENGTH bytes, and
  // one more with -l.
  char last_field_[MAX_VERSION_LENGTH + 1];
  std::size_t last_field_size_ = 0;
  char last_group_[MAX_LINE_LENGTH];
  std::size_t last_group_size_ = 0;
  bool looking_ = false;  // the block's lines look their fields up
  // From malloc, as all of the command's own memory.
  struct free_memory {
    void operator()(known_fields* table) const noexcept { std::free(table); }
  };
  std::unique_ptr<known_fields, free_memory> known_;
};

}  // namespace quorbel
