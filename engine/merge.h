// Merging sorted sources into one stream written to a file descriptor: any
// sources (merge_lines), or sorted runs in memory (merge_runs), which two
// threads merge piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/run.h"
#include "engine/sort_options.h"
#include "engine/source.h"

namespace quorbel {

// What a merge did, and what stopped it.
struct merge_result {
  int read_error = 0;   // of the first source that failed
  int write_error = 0;  // of the descriptor
  bool out_of_memory = false;
  bool text_changed = false;  // a text left where it lies changed under it
  std::uint64_t written = 0;  // bytes of text merged, all written unless write_error
};

// Merges the sorted sources into fd: lines with equal codes come from the
// earlier source first, and from one source in its order. Stops at the
// first error. Into a temporary file (`to_file`), each text goes after its
// code's prefix when the codes have one, as file_source reads them.
[[nodiscard]] merge_result merge_lines(line_source* const* sources, std::size_t count, int fd,
                                       const sort_options& options, bool to_file = false) noexcept;

// merge_lines for sorted runs in memory, which can be cut anywhere: the
// output is cut into pieces at lines sampled from the runs, and two threads
// merge alternate pieces side by side, each writing its piece in turn. A
// limit counts into each piece the lines of its first group before it;
// with unique as well, the output is one piece.
[[nodiscard]] merge_result merge_runs(const sorted_run* runs, std::size_t count, int fd,
                                      const sort_options& options) noexcept;

}  // namespace quorbel
