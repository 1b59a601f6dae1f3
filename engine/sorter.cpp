// Holding, spilling and merging runs; see sorter.h.
#include "engine/sorter.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "engine/io.h"

namespace quorbel {

namespace {

// A run's store is a sixteenth of the budget, within these bounds: large
// enough that runs are few, small enough that the run being filled and the
// one being sorted take little memory beside the sorted ones.
constexpr std::size_t SMALLEST_RUN = std::size_t{1} << 12;
constexpr std::size_t LARGEST_RUN = std::size_t{1} << 23;
static_assert(LARGEST_RUN + MAX_RECORD <= MAX_RUN_STORE);
// A run's store starts this large and doubles, so a few lines take little.
constexpr std::size_t FIRST_STORE = std::size_t{1} << 14;
// The least bytes of store per line a run allows: keys beyond it would
// outweigh the texts.
constexpr std::size_t BYTES_PER_LINE = 16;

// Sources of a merge, built in place in one block.
template <typename Source>
class source_array {
 public:
  explicit source_array(std::size_t capacity) noexcept
      : items_(static_cast<Source*>(std::malloc((capacity == 0 ? 1 : capacity) * sizeof(Source)))),
        pointers_(static_cast<line_source**>(
            std::malloc((capacity == 0 ? 1 : capacity) * sizeof(line_source*)))) {}
  source_array(const source_array&) = delete;
  source_array& operator=(const source_array&) = delete;
  ~source_array() {
    for (std::size_t i = 0; i < count_; ++i) items_[i].~Source();
    std::free(items_);
    std::free(pointers_);
  }

  [[nodiscard]] bool ready() const noexcept { return items_ != nullptr && pointers_ != nullptr; }

  template <typename... Arguments>
  Source& add(Arguments&&... arguments) noexcept {
    Source* source = new (&items_[count_]) Source(std::forward<Arguments>(arguments)...);
    pointers_[count_++] = source;
    return *source;
  }

  [[nodiscard]] line_source* const* sources() const noexcept { return pointers_; }
  [[nodiscard]] std::size_t count() const noexcept { return count_; }

 private:
  Source* items_;
  line_source** pointers_;
  std::size_t count_ = 0;
};

sort_status out_of_memory() noexcept { return {sort_status::problem::out_of_memory, 0}; }
sort_status temporary_file(int error) noexcept {
  return {sort_status::problem::temporary_file, error};
}

}  // namespace

line_sorter::line_sorter(const sort_options& options) noexcept
    : options_(options),
      run_bytes_(options.run_bytes != 0
                     ? std::min(options.run_bytes, LARGEST_RUN)
                     : std::clamp(options.memory_budget / 16, SMALLEST_RUN, LARGEST_RUN)),
      run_lines_(std::max<std::size_t>(run_bytes_ / BYTES_PER_LINE, 1)),
      builders_{run_builder(std::min(FIRST_STORE, run_bytes_)),
                run_builder(std::min(FIRST_STORE, run_bytes_))} {
  // Lines can go to disk only when they can be read back.
  if (options_.finder == nullptr) options_.memory_budget = SIZE_MAX;
  if (options_.fan_in < 2) options_.fan_in = 2;
#ifdef M_MMAP_THRESHOLD
  // Runs are large blocks of their own: give them back to the system whole
  // when they are freed, so that memory held is memory used.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

line_sorter::~line_sorter() {
  worker_.wait();
  release_run(&sorted_);
  for (sorted_run& run : runs_) release_run(&run);
  for (const disk_run& run : disk_runs_) ::close(run.fd);
}

std::size_t line_sorter::held() const noexcept {
  // The run being sorted will take as much again as its store.
  const std::size_t sorting = pending_ ? sorting_bytes_ : 0;
  return builders_[0].held() + builders_[1].held() + held_in_runs_ + sorting;
}

bool line_sorter::finish_sorting() noexcept {
  if (!pending_) return true;
  worker_.wait();
  pending_ = false;
  if (!sorted_ok_) return false;
  if (!runs_.push_back(sorted_)) {
    release_run(&sorted_);
    return false;
  }
  held_in_runs_ += sorted_.size;
  sorted_ = {};
  return true;
}

void line_sorter::sort_on_the_side(void* sorter) noexcept {
  auto* self = static_cast<line_sorter*>(sorter);
  self->sorted_ok_ = sort_run(&self->builders_[1 - self->current_], &self->sorted_);
}

bool line_sorter::start_sorting() noexcept {
  if (!finish_sorting()) return false;
  // The full builder is sorted on the side while the other one fills.
  sorting_bytes_ = builders_[current_].bytes();
  current_ = 1 - current_;
  pending_ = true;
  if (!options_.second_thread || !worker_.start(sort_on_the_side, this)) {
    sort_on_the_side(this);  // no second thread: here and now
  }
  return true;
}

bool line_sorter::sort_all() noexcept {
  // The last run is sorted here while the second thread may still sort the
  // one before; that one goes first, as it came first.
  run_builder* const last = &builders_[current_];
  sorted_run tail;
  const bool sorted = last->empty() || sort_run(last, &tail);
  const bool earlier = finish_sorting();
  if (!sorted || !earlier) {
    release_run(&tail);
    return false;
  }
  if (tail.records == nullptr) return true;
  if (!runs_.push_back(tail)) {
    release_run(&tail);
    return false;
  }
  held_in_runs_ += tail.size;
  return true;
}

sort_status line_sorter::add(const version_view& version, std::string_view text) noexcept {
  const std::size_t code_length = encode_order_code(version, options_.descending, code_);
  const std::size_t record = RECORD_HEADER + code_length + text.size() + 1;
  run_builder* builder = &builders_[current_];
  if (!builder->empty() &&
      (builder->bytes() + record > run_bytes_ || builder->lines() >= run_lines_)) {
    if (!start_sorting()) return out_of_memory();
    builder = &builders_[current_];
  }
  // Over the budget with this line: everything held goes to disk first. A
  // line always fits, even alone over a budget smaller than itself.
  if (held() + builder->growth_for(record) > options_.memory_budget &&
      (!builder->empty() || pending_ || !runs_.empty())) {
    const sort_status spilled = spill();
    if (!spilled.ok()) return spilled;
    builder = &builders_[current_];
  }
  if (!builder->add(code_, code_length, text)) return out_of_memory();
  return {};
}

sort_status line_sorter::merge_into(line_source* const* sources, std::size_t count,
                                    disk_run* out) noexcept {
  int error = 0;
  const int fd = open_temporary(options_.temporary_directory, &error);
  if (fd < 0) return temporary_file(error);
  const merge_result merged =
      merge_lines(sources, count, fd, {options_.unique, options_.second_thread});
  sort_status status;
  if (merged.out_of_memory) {
    status = out_of_memory();
  } else if (merged.read_error != 0) {
    status = temporary_file(merged.read_error);
  } else if (merged.write_error != 0) {
    status = temporary_file(merged.write_error);
  }
  if (!status.ok()) {
    ::close(fd);
    return status;
  }
  *out = {fd, merged.written, 0};
  return status;
}

sort_status line_sorter::spill() noexcept {
  if (!sort_all()) return out_of_memory();
  if (runs_.empty()) return {};
  // Room for the file first, so that a run is never lost between two places.
  if (!disk_runs_.reserve(disk_runs_.size() + 1)) return out_of_memory();
  disk_run spilled{};
  {
    source_array<memory_source> sources(runs_.size());
    if (!sources.ready()) return out_of_memory();
    for (const sorted_run& run : runs_) sources.add(run);
    const sort_status status = merge_into(sources.sources(), sources.count(), &spilled);
    if (!status.ok()) return status;
  }
  for (sorted_run& run : runs_) release_run(&run);
  runs_.clear();
  held_in_runs_ = 0;
  (void)disk_runs_.push_back(spilled);
  ++spills_;
  // Files are merged in tiers, as digits carry: fan_in files that have been
  // through as many merges become one, so every line is written again only
  // as often as the number of tiers, and few files are open at once.
  for (;;) {
    const std::size_t count = disk_runs_.size();
    if (count < options_.fan_in) break;
    const unsigned level = disk_runs_[count - 1].level;
    bool same = true;
    for (std::size_t i = count - options_.fan_in; i < count; ++i) {
      same = same && disk_runs_[i].level == level;
    }
    if (!same) break;
    const sort_status status = merge_disk_runs(count - options_.fan_in, options_.fan_in);
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
      if (!sources.add(run.fd, run.size, *options_.finder, options_.descending).open()) {
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
  if (!sort_all()) return out_of_memory();
  while (disk_runs_.size() > options_.fan_in) {
    const sort_status status = merge_disk_runs(0, options_.fan_in);
    if (!status.ok()) return status;
  }
  source_array<file_source> files(disk_runs_.size());
  source_array<memory_source> memory(runs_.size());
  auto* sources = static_cast<line_source**>(
      std::malloc((disk_runs_.size() + runs_.size() + 1) * sizeof(line_source*)));
  if (!files.ready() || !memory.ready() || sources == nullptr) {
    std::free(sources);
    return out_of_memory();
  }
  std::size_t count = 0;
  for (const disk_run& run : disk_runs_) {
    file_source& source = files.add(run.fd, run.size, *options_.finder, options_.descending);
    if (!source.open()) {
      std::free(sources);
      return out_of_memory();
    }
    sources[count++] = &source;
  }
  for (const sorted_run& run : runs_) sources[count++] = &memory.add(run);
  const merge_result merged =
      merge_lines(sources, count, fd, {options_.unique, options_.second_thread});
  std::free(sources);
  if (merged.out_of_memory) return out_of_memory();
  if (merged.read_error != 0) return temporary_file(merged.read_error);
  if (merged.write_error != 0) return {sort_status::problem::output, merged.write_error};
  return {};
}

}  // namespace quorbel
