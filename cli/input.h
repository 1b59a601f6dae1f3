// Reading lines: input is read in blocks of whole lines, and two threads
// take alternate blocks apart: each line is split into fields, one field
// is parsed as a version, and the line is either kept in the block's run or
// dropped with a message. Messages come out in input order.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "cli/arguments.h"
#include "cli/mapped_input.h"
#include "engine/sorter.h"

namespace quorbel {

// Where a line's version is and how it is written.
struct line_rules {
  char separator = ' ';
  std::int32_t field = 1;  // 1-based
  bool v_prefix = false;   // a v or V before a digit belongs to the field, not the version
};

// The field'th field of the line (1-based), or absent when there are fewer.
[[nodiscard]] std::optional<std::string_view> find_field(std::string_view line, char separator,
                                                         std::int32_t field) noexcept;

// Parses a field as a version under the rules: 0, or -1 when it is none.
[[nodiscard]] int parse_field(const line_rules& rules, std::string_view field,
                              version_view* version) noexcept;

// Finds the version of a text the sorter holds again, when it is read back
// from a temporary file: the whole text with -v, else its field.
class held_text_finder final : public version_finder {
 public:
  held_text_finder(const line_rules& rules, bool versions_only) noexcept
      : rules_(rules), versions_only_(versions_only) {}
  [[nodiscard]] bool find(std::string_view text, version_view* version) const noexcept override;

 private:
  line_rules rules_;
  bool versions_only_;
};

// Why reading stopped.
struct read_outcome {
  enum class stop { end_of_input, read_error, sorter };
  stop why = stop::end_of_input;
  int error = 0;              // of the read
  sort_status sorter_status;  // when the sorter failed
};

// How input is read; tests make blocks tiny to have many with a few lines.
struct read_options {
  std::size_t block_bytes = std::size_t{1} << 22;  // input in each block, at least
  bool second_thread = true;
  // Mapped lines, once they average this many bytes, stay where they lie
  // until they are written, rather than being copied into their runs.
  // SIZE_MAX: no text stays, not even those that come in order.
  std::size_t texts_stay_from = SIZE_MAX;
};

// Reads all of fd, the lines mapped from it first (`input`, which must
// outlive the sorter's output), handing the accepted lines to the sorter and
// reporting the others on fd `messages` (unless quiet). Messages are written
// before every read that may wait, so each shows as soon as its line is in,
// even when the input then pauses, and all of them before this returns.
// With a range (may be null), only the versions that satisfy it are kept;
// the others are left out without a message.
[[nodiscard]] read_outcome read_lines(int fd, const mapped_input& input,
                                      const sort_settings& settings, const version_range* range,
                                      int messages, const read_options& options,
                                      line_sorter* sorter) noexcept;

}  // namespace quorbel
