// -c: whether the input is in order already. Lines are taken apart as for
// the sort, and each accepted one is compared with the one accepted before
// it in the order the sort gives (its group, then its version), as it is
// read. Nothing is held but a line or two of each block in hand; reading
// stops at the first line out of order. The input is read, never mapped:
// each byte is looked at once, which a read does for less than the page
// faults of a mapping.
#pragma once

#include <quorbel/version.h>

#include "cli/arguments.h"
#include "cli/tuning.h"

namespace quorbel {

// What the check found.
struct check_outcome {
  enum class stop { in_order, disorder, read_error, out_of_memory };
  stop why = stop::in_order;
  int error = 0;  // of the read
};

// Checks the lines of fd under the settings and the range (may be null). Writes to fd `messages`,
// in input order, a message for each line dropped (unless quiet) and, for the first line out of
// order, "Disorder at line <n>: <line>", n counting every line read from 1; with -u a line equal to
// the one before is out of order.
[[nodiscard]] check_outcome check_lines(int fd, const sort_settings& settings,
                                        const version_range* range, int messages,
                                        const command_tuning& tuning) noexcept;

}  // namespace quorbel
