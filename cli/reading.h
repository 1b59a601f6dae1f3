// The reading flow: two threads take alternate blocks of input apart. Each
// line is split into fields, one field is parsed as a version, and the line
// is either kept in the block's run, which goes to the sorter, or dropped
// with a message. Messages come out in input order.
#pragma once

#include <quorbel/version.h>

#include "cli/arguments.h"
#include "cli/budget.h"
#include "cli/mapped_input.h"
#include "cli/tuning.h"
#include "engine/sorter.h"

namespace quorbel {

// Why reading stopped.
struct read_outcome {
  enum class stop { end_of_input, read_error, sorter };
  stop why = stop::end_of_input;
  int error = 0;              // of the read
  sort_status sorter_status;  // when the sorter failed
};

// Reads all of fd, the lines mapped from it first (`input`, which must
// outlive the sorter's output), handing the accepted lines to the sorter and
// reporting the others on fd `messages` (unless quiet). Messages are written
// before every read that may wait, so each shows as soon as its line is in,
// even when the input then pauses, and all of them before this returns.
// With a range (may be null), only the versions that satisfy it are kept;
// the others are left out without a message. Blocks are a thirty-second of
// the budget, within bounds, unless the tuning sets their size; an input
// that ends in its first block is read and taken apart by one thread and
// never asks for the budget (its block is as large as any), a longer one
// asks for it and gives it to the sorter before the second block is held.
// Mapped texts that average `texts_stay_from` bytes stay where they lie
// (SIZE_MAX: none stays, not even those that come in order).
[[nodiscard]] read_outcome read_lines(int fd, const mapped_input& input,
                                      const sort_settings& settings, const version_range* range,
                                      int messages, const command_tuning& tuning,
                                      std::size_t texts_stay_from, memory_budget* budget,
                                      line_sorter* sorter) noexcept;

}  // namespace quorbel
