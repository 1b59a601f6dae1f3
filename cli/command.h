// The quorbel command: read lines, keep those whose field is a version, and
// write them in version order.
#pragma once

#include <cstddef>

namespace quorbel {

inline constexpr int EXIT_SORTED = 0;   // also when lines were dropped
inline constexpr int EXIT_TROUBLE = 1;  // read, write or temporary file error, out of memory
inline constexpr int EXIT_USAGE = 255;  // the usage text was printed, or a bad value

// The file descriptors the command reads and writes.
struct command_streams {
  int in = 0;
  int out = 1;
  int err = 2;
};

// How input is cut into runs and how they are merged; tests make them tiny
// to reach, with a few lines, the paths that large inputs take.
struct command_tuning {
  std::size_t block_bytes = 0;  // input in each run; 0: chosen from the memory budget
  std::size_t fan_in = 16;      // temporary files merged at once
  bool second_thread = true;
  std::size_t piece_bytes = std::size_t{1} << 20;  // of output merged by one thread at a time
  std::size_t map_from = std::size_t{1} << 20;     // a regular file this large is mapped, not read
  std::size_t texts_stay_from = 256;  // mapped lines this long on average stay where they lie
};

// The whole command: argv[0] is the program name. Returns the exit status.
[[nodiscard]] int run_command(int argc, const char* const* argv, command_streams streams = {},
                              command_tuning tuning = {}) noexcept;

}  // namespace quorbel
