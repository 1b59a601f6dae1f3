// The sort engine as the command uses it: lines come in as runs built from
// numbered blocks of input, by one thread or two, and go out in version
// order.
//
// Each run is sorted by the thread that built it and held in memory. When
// the held runs reach the memory budget, those that follow each other from
// the first block on are merged into one run in a temporary file, and their
// memory is freed. At the end the runs, in files and in memory, are merged
// into the output. Runs are merged in input order, and a merge takes equal
// versions from the earlier run first, so equal versions keep their input
// order however the lines were held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "engine/file_source.h"
#include "engine/merge.h"
#include "engine/run.h"
#include "engine/sort_options.h"

namespace quorbel {

class line_sorter {
 public:
  explicit line_sorter(const sort_options& options) noexcept;
  line_sorter(const line_sorter&) = delete;
  line_sorter& operator=(const line_sorter&) = delete;
  ~line_sorter();

  // Sorts the lines of the builder, made from block number `sequence` of
  // the input, and holds them; the builder is cleared for the next block.
  // Blocks are numbered from 0 in input order and each is given once (an
  // empty one too), in any order and from any thread. `reserve` is memory
  // the caller will hold beside the runs while more input is read (0 when
  // none follows), which the budget leaves room for, up to half of it.
  [[nodiscard]] sort_status hold(std::size_t sequence, run_builder* built,
                                 std::size_t reserve = 0) noexcept;

  // Sets the memory budget, when it was not known at the start: before
  // the second block is held.
  void set_memory_budget(std::size_t budget) noexcept;

  // Writes every line held, in order, each with the lines' end, to fd. Call
  // it once, after every block is held.
  [[nodiscard]] sort_status write_sorted(int fd) noexcept;

  // Temporary files written so far, for the tests.
  [[nodiscard]] std::size_t spills() const noexcept;

 private:
  // A sorted run in a temporary file.
  struct disk_run {
    int fd;
    std::uint64_t size;
    unsigned level;  // merges it has been through
  };

  [[nodiscard]] sort_status spill() noexcept;
  [[nodiscard]] sort_status merge_disk_runs(std::size_t first, std::size_t count) noexcept;
  [[nodiscard]] sort_status merge_into(line_source* const* sources, std::size_t count,
                                       disk_run* out) noexcept;

  sort_options options_;
  mutable std::mutex mutex_;
  // Runs by block number, from first_held_ on; a block not yet given has no
  // records. Those before first_held_ are in files.
  growable<sorted_run> runs_;
  growable<bool> given_;
  std::size_t first_held_ = 0;
  // Memory of the runs in runs_, and of the texts that runs now in files
  // left where they lie.
  std::size_t held_ = 0;
  growable<disk_run> disk_runs_;  // in input order, all before runs_
  std::size_t spills_ = 0;
};

}  // namespace quorbel
