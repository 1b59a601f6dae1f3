// The sort engine as the command uses it: lines go in one at a time, in
// input order, and come out in version order.
//
// Lines are held in runs of a few megabytes. A run that fills is sorted by a
// second thread while the next one is read. When the held lines reach the
// memory budget, every held run is merged into one sorted run in a
// temporary file, and its memory is used again. At the end the runs, in
// memory and on disk, are merged into the output. Runs are merged in input
// order, and a merge takes equal versions from the earlier run first, so
// equal versions keep their input order however the lines were held.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/merge.h"
#include "engine/run.h"
#include "engine/threads.h"

namespace quorbel {

struct sort_options {
  bool descending = false;
  // Only the first line, in input order, of each group of equal versions.
  bool unique = false;
  // Memory for held lines, in bytes; beyond it they go to temporary files.
  std::size_t memory_budget = SIZE_MAX;
  // Where temporary files go.
  const char* temporary_directory = "/tmp";
  // Finds the versions of lines read back from temporary files; needed
  // only when the budget can be reached.
  const version_finder* finder = nullptr;

  // Knobs that tests turn to reach, with a few lines, the paths that large
  // inputs take.
  std::size_t run_bytes = 0;  // store of one run; 0: chosen from the budget
  std::size_t fan_in = 16;    // temporary files merged at once, at least 2
  bool second_thread = true;  // sort and write side by side
};

// What went wrong, if anything; `error` is the errno where there is one.
struct sort_status {
  enum class problem { none, out_of_memory, temporary_file, output };
  problem what = problem::none;
  int error = 0;

  [[nodiscard]] bool ok() const noexcept { return what == problem::none; }
};

class line_sorter {
 public:
  explicit line_sorter(const sort_options& options) noexcept;
  line_sorter(const line_sorter&) = delete;
  line_sorter& operator=(const line_sorter&) = delete;
  ~line_sorter();

  // Holds one line: its version, which must lie inside `text` or be a view
  // of it, and the text to write for it, without newline (at most
  // MAX_LINE_LENGTH bytes).
  [[nodiscard]] sort_status add(const version_view& version, std::string_view text) noexcept;

  // Writes every line held, in order, each ended by a newline, to fd. Call
  // it once, after the last add.
  [[nodiscard]] sort_status write_sorted(int fd) noexcept;

  // Temporary files written so far, for the tests.
  [[nodiscard]] std::size_t spills() const noexcept { return spills_; }

 private:
  // A sorted run in a temporary file.
  struct disk_run {
    int fd;
    std::uint64_t size;
    unsigned level;  // merges it has been through
  };

  [[nodiscard]] std::size_t held() const noexcept;
  [[nodiscard]] bool start_sorting() noexcept;
  static void sort_on_the_side(void* sorter) noexcept;
  [[nodiscard]] bool finish_sorting() noexcept;
  [[nodiscard]] bool sort_all() noexcept;
  [[nodiscard]] sort_status spill() noexcept;
  [[nodiscard]] sort_status merge_disk_runs(std::size_t first, std::size_t count) noexcept;
  [[nodiscard]] sort_status merge_into(line_source* const* sources, std::size_t count,
                                       disk_run* out) noexcept;

  sort_options options_;
  std::size_t run_bytes_;
  std::size_t run_lines_;
  run_builder builders_[2];
  std::size_t current_ = 0;  // the builder being filled; the other may be sorting
  worker_thread worker_;     // sorts builders_[1 - current_] into sorted_
  bool pending_ = false;     // a sort has started whose run is not in runs_ yet
  bool sorted_ok_ = false;
  std::size_t sorting_bytes_ = 0;  // the store of the run being sorted
  sorted_run sorted_;
  growable<sorted_run> runs_;  // in input order
  growable<disk_run> disk_runs_;  // in input order, all before runs_
  std::size_t held_in_runs_ = 0;
  std::size_t spills_ = 0;
  std::uint8_t code_[MAX_ORDER_CODE];
};

}  // namespace quorbel
