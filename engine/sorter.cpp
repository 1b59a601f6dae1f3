// Holding, spilling and merging runs; see sorter.h.
#include "engine/sorter.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "engine/io.h"

namespace quorbel {

namespace {

// What a held run costs beside its bytes: its entry and two blocks of malloc.
constexpr std::size_t RUN_OVERHEAD = sizeof(sorted_run) + 32;

sort_status out_of_memory() noexcept { return {sort_status::problem::out_of_memory, 0}; }
sort_status temporary_file(int error) noexcept {
  return {sort_status::problem::temporary_file, error};
}

// What a merge came to; a failed write is a problem of `written_to`.
sort_status status_of(const merge_result& merged, sort_status::problem written_to) noexcept {
  if (merged.out_of_memory) return out_of_memory();
  if (merged.text_changed) return {sort_status::problem::text_changed, 0};
  if (merged.read_error != 0) return temporary_file(merged.read_error);
  if (merged.write_error != 0) return {written_to, merged.write_error};
  return {};
}

}  // namespace

line_sorter::line_sorter(const sort_options& options) noexcept : options_(options) {
  // Lines can go to disk only when they can be read back.
  if (options_.finder == nullptr) options_.memory_budget = SIZE_MAX;
  if (options_.fan_in < 2) options_.fan_in = 2;
}

line_sorter::~line_sorter() {
  for (sorted_run& run : runs_) release_run(&run);
  for (const disk_run& run : disk_runs_) ::close(run.fd);
}

std::size_t line_sorter::spills() const noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  return spills_;
}

void line_sorter::set_memory_budget(std::size_t budget) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (options_.finder != nullptr) options_.memory_budget = budget;
}

sort_status line_sorter::hold(std::size_t sequence, run_builder* built,
                              std::size_t reserve) noexcept {
  sorted_run run;
  if (!sort_run(built, &run)) return out_of_memory();
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t slot = sequence - first_held_;
  if (slot >= runs_.size()) {
    if (!runs_.reserve(slot + 1) || !given_.reserve(slot + 1)) {
      release_run(&run);
      return out_of_memory();
    }
    for (std::size_t i = runs_.size(); i <= slot; ++i) {
      runs_[i] = {};
      given_[i] = false;
    }
    runs_.resize_within(slot + 1);
    given_.resize_within(slot + 1);
  }
  runs_[slot] = run;
  given_[slot] = true;
  held_ += run_memory(run) + RUN_OVERHEAD;
  // Over the budget: what can go to disk goes. The reserve is memory that
  // more input will take, and at most half the budget: so that input whose
  // runs fit in half of it never goes to disk, however small it is.
  if (held_ + std::min(reserve, options_.memory_budget / 2) > options_.memory_budget) {
    return spill();
  }
  return {};
}

sort_status line_sorter::merge_into(line_source* const* sources, std::size_t count,
                                    disk_run* out) noexcept {
  int error = 0;
  const int fd = open_temporary(options_.temporary_directory, &error);
  if (fd < 0) return temporary_file(error);
  const merge_result merged = merge_lines(sources, count, fd, options_, true);
  const sort_status status = status_of(merged, sort_status::problem::temporary_file);
  if (!status.ok()) {
    ::close(fd);
    return status;
  }
  *out = {fd, merged.written, 0};
  return status;
}

sort_status line_sorter::spill() noexcept {
  // The runs that follow each other from the first block held on; a block
  // still being read leaves the ones after it for the next time.
  std::size_t ready = 0;
  std::size_t lines = 0;
  while (ready < runs_.size() && given_[ready]) lines += runs_[ready++].lines;
  if (ready == 0) return {};
  // Room for the file first, so that a run is never lost between two places.
  if (!disk_runs_.reserve(disk_runs_.size() + 1)) return out_of_memory();
  // A merge of fan_in files opens one more: the descriptors the process
  // may still open lower it, down to two, when the first file is made.
  if (spills_ == 0) {
    const std::size_t descriptors = descriptors_left();
    options_.fan_in = std::min(options_.fan_in, descriptors > 3 ? descriptors - 1 : 2);
  }
  disk_run spilled{};
  if (lines > 0) {  // blocks of dropped lines alone need no file
    source_array<memory_source> sources(ready);
    if (!sources.ready()) return out_of_memory();
    for (std::size_t i = 0; i < ready; ++i) sources.add(runs_[i]);
    const sort_status status = merge_into(sources.sources(), sources.count(), &spilled);
    if (!status.ok()) return status;
  }
  for (std::size_t i = 0; i < ready; ++i) {
    // Texts a run left where they lie stay there: they are still held.
    held_ -= run_memory(runs_[i]) - runs_[i].elsewhere + RUN_OVERHEAD;
    release_run(&runs_[i]);
  }
  // The runs after them move to the front.
  const std::size_t left = runs_.size() - ready;
  for (std::size_t i = 0; i < left; ++i) {
    runs_[i] = runs_[ready + i];
    given_[i] = given_[ready + i];
  }
  runs_.resize_within(left);
  given_.resize_within(left);
  first_held_ += ready;
  if (lines == 0) return {};
  (void)disk_runs_.push_back(spilled);
  ++spills_;
  // Files are merged in tiers, as digits carry: fan_in files that have been
  // through as many merges become one, so every line is written again only
  // as often as there are tiers. And fewer than fan_in files stay open, so
  // that a spill and a merge of fan_in files each open one more at most:
  // when the tiers leave more, the newest half, which are the smallest,
  // become one.
  for (;;) {
    const std::size_t count = disk_runs_.size();
    if (count < options_.fan_in) break;
    const unsigned level = disk_runs_[count - 1].level;
    bool same = true;
    for (std::size_t i = count - options_.fan_in; i < count; ++i) {
      same = same && disk_runs_[i].level == level;
    }
    const std::size_t merged =
        same ? options_.fan_in : std::max<std::size_t>(options_.fan_in / 2, 2);
    const sort_status status = merge_disk_runs(count - merged, merged);
    if (!status.ok()) return status;
  }
  return {};
}

sort_status line_sorter::merge_disk_runs(std::size_t first, std::size_t count) noexcept {
  disk_run merged{};
  unsigned level = 0;
  {
    source_array<file_source> sources(count);
    if (!sources.ready()) return out_of_memory();
    for (std::size_t i = first; i < first + count; ++i) {
      const disk_run& run = disk_runs_[i];
      level = std::max(level, run.level);
      if (!sources.add(run.fd, run.size, options_).open()) {
        return out_of_memory();
      }
    }
    const sort_status status = merge_into(sources.sources(), sources.count(), &merged);
    if (!status.ok()) return status;
  }
  for (std::size_t i = first; i < first + count; ++i) ::close(disk_runs_[i].fd);
  merged.level = level + 1;
  // The merged file takes the place of the first, the rest move up.
  disk_runs_[first] = merged;
  const std::size_t end = disk_runs_.size();
  for (std::size_t i = first + count; i < end; ++i) disk_runs_[i - count + 1] = disk_runs_[i];
  disk_runs_.resize_within(end - count + 1);
  return {};
}

sort_status line_sorter::write_sorted(int fd) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  merge_result merged;
  if (disk_runs_.empty()) {
    merged = merge_runs(runs_.data(), runs_.size(), fd, options_);
  } else {
    // Too many files to read at once: the newest, which are the smallest,
    // are merged first, just enough of them to leave fan_in.
    while (disk_runs_.size() > options_.fan_in) {
      const std::size_t count = std::min(options_.fan_in, disk_runs_.size() - options_.fan_in + 1);
      const sort_status status = merge_disk_runs(disk_runs_.size() - count, count);
      if (!status.ok()) return status;
    }
    source_array<file_source> files(disk_runs_.size());
    source_array<memory_source> memory(runs_.size());
    auto* sources = static_cast<line_source**>(
        std::malloc((disk_runs_.size() + runs_.size() + 1) * sizeof(line_source*)));
    bool opened = files.ready() && memory.ready() && sources != nullptr;
    std::size_t count = 0;
    for (std::size_t i = 0; opened && i < disk_runs_.size(); ++i) {
      const disk_run& run = disk_runs_[i];
      file_source& source = files.add(run.fd, run.size, options_);
      opened = source.open();
      sources[count++] = &source;
    }
    for (std::size_t i = 0; opened && i < runs_.size(); ++i)
      sources[count++] = &memory.add(runs_[i]);
    if (opened) {
      merged = merge_lines(sources, count, fd, options_);
    } else {
      merged.out_of_memory = true;
    }
    std::free(sources);
  }
  return status_of(merged, sort_status::problem::output);
}

}  // namespace quorbel
