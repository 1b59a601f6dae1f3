// The quorbel command: read lines, keep those whose field is a version, and
// write them in version order.
#pragma once

#include "cli/tuning.h"

namespace quorbel {

inline constexpr int EXIT_SORTED = 0;    // also when lines were dropped
inline constexpr int EXIT_TROUBLE = 1;   // read, write or temporary file error, out of memory
inline constexpr int EXIT_DISORDER = 1;  // -c: a line is out of order
inline constexpr int EXIT_USAGE = 255;   // the usage text was printed, or a bad value

// The file descriptors the command reads and writes.
struct command_streams {
  int in = 0;
  int out = 1;
  int err = 2;
};

// The whole command: argv[0] is the program name. Returns the exit status.
[[nodiscard]] int run_command(int argc, const char* const* argv, command_streams streams = {},
                              command_tuning tuning = {}) noexcept;

}  // namespace quorbel
