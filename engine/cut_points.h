// Cut points: lines sampled from sorted runs, at which a merge of the runs
// in memory is cut into pieces of about equal size, and the walk that finds
// where each run is cut.
#pragma once

#include <cstddef>

#include "engine/record.h"
#include "engine/run.h"

namespace quorbel {

// A line of a sorted run at which the output is cut: pieces end just after
// such lines. Lines order by code, then run, then place in the run, which is
// the order of the output, ties included.
struct cut_point {
  line_view line;
  std::size_t run = 0;
  std::size_t position = 0;  // the line's number in its run
};

// Where a run is read to and from, by piece.
struct run_cut {
  std::size_t offset = 0;    // of the first record after the cut
  std::size_t position = 0;  // its number in the run
};

// Takes each run's cut from where it is to just after the point: its first
// line that comes after it. A run that moves far is crossed by its marks,
// galloping, so a cut costs little however many runs there are and however
// far they move.
void advance_cuts(const sorted_run* runs, std::size_t count, const cut_point& point,
                  run_cut* cuts) noexcept;

// The lines of the runs before their cuts whose codes start with the
// `length` bytes at `prefix` (all of them when `length` is 0): how many
// lines of a group came before a piece, for a limit on each group.
[[nodiscard]] std::size_t lines_before(const sorted_run* runs, std::size_t count,
                                       const run_cut* cuts, const std::uint8_t* prefix,
                                       std::size_t length) noexcept;

// The most lines between two samples of a run.
inline constexpr std::size_t MAX_SAMPLE_STEP = 16 * INDEX_STEP;

// Lines sampled from the runs, every `step`-th of each, in the order of the
// output: the points at which it can be cut into pieces of about equal size.
// Each run's samples start at a different line within the first step, so
// that runs of equal length, whose k-th lines stand near the same place in
// the output, do not crowd the samples together there with wide gaps
// between. Null when memory runs out.
[[nodiscard]] cut_point* sample_cut_points(const sorted_run* runs, std::size_t count,
                                           std::size_t step, std::size_t* samples);

}  // namespace quorbel
