// The command's tuning: how input is cut into runs and how they are merged.
// Left as they are, the command chooses; tests make them tiny to reach, with
// a few lines, the paths that large inputs take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quorbel {

struct command_tuning {
  std::size_t block_bytes = 0;  // input in each run; 0: chosen from the memory budget
  std::size_t fan_in = 16;      // temporary files merged at once
  bool second_thread = true;
  std::size_t piece_bytes = std::size_t{1} << 20;  // of output merged by one thread at a time
  std::size_t map_from = std::size_t{1} << 20;     // a regular file this large is mapped, not read
  // Mapped lines, once they average this many bytes, stay where they lie
  // until they are written, rather than being copied into their runs.
  // SIZE_MAX: no text stays, not even those that come in order.
  std::size_t texts_stay_from = 256;
  // Called once all input is read, before the input file is checked and
  // the output begins: tests change the input file there.
  std::function<void()> after_reading = {};
};

}  // namespace quorbel
