// The quorbel command: read lines, keep those whose field is a version, and
// write them in version order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

inline constexpr int EXIT_SORTED = 0;   // also when lines were dropped
inline constexpr int EXIT_TROUBLE = 1;  // read error, write error, out of memory
inline constexpr int EXIT_USAGE = 255;  // the usage text was printed

// The options, set while the arguments are read and read-only afterwards.
struct sort_settings {
  bool quiet = false;
  bool reverse = false;
  bool show_help = false;
  bool versions_only = false;
  char separator = ' ';
  std::int32_t field = 1;  // 1-based
};

// Reads the arguments that follow the program name.
[[nodiscard]] sort_settings parse_arguments(int count, const char* const* arguments) noexcept;

// The file descriptors the command reads and writes.
struct command_streams {
  int in = 0;
  int out = 1;
  int err = 2;
};

// How the command shares its work with a second thread; tests lower the
// sizes to compare both ways on small inputs.
struct command_tuning {
  // Accepted lines from which two threads sort a half each.
  std::size_t sort_split_from = std::size_t{1} << 16;
  // Lines in each chunk of output; two threads gather alternate chunks.
  std::size_t chunk_lines = std::size_t{1} << 14;
};

// The whole command: argv[0] is the program name. Returns the exit status.
[[nodiscard]] int run_command(int argc, const char* const* argv, command_streams streams = {},
                              command_tuning tuning = {}) noexcept;

}  // namespace quorbel
