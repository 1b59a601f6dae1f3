// Sources of a merge: sorted streams of lines, those of a run in memory,
// and the array in which a merge builds its sources in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "engine/record.h"
#include "engine/run.h"

namespace quorbel {

// A sorted stream of lines.
class line_source {
 public:
  line_source() = default;
  line_source(const line_source&) = delete;
  line_source& operator=(const line_source&) = delete;
  virtual ~line_source() = default;

  // Moves to the next line and shows it in *line, valid until the next
  // call; false at the end, or after an error, which error() then gives.
  [[nodiscard]] virtual bool next(line_view* line) noexcept = 0;
  // How many bytes the source holds in all, its records or its texts: what
  // tells a small merge from a large one.
  [[nodiscard]] virtual std::uint64_t bytes() const noexcept = 0;
  [[nodiscard]] int error() const noexcept { return error_; }

 protected:
  int error_ = 0;
};

// The lines of a sorted run in memory, or of a piece of one: the records
// from `from` up to `to`.
class memory_source final : public line_source {
 public:
  explicit memory_source(const sorted_run& run) noexcept
      : memory_source(run, run.records, run.records + run.size) {}
  memory_source(const sorted_run& run, const char* from, const char* to) noexcept
      : at_(from), end_(to), texts_(run.texts) {}

  [[nodiscard]] bool next(line_view* line) noexcept override {
    if (at_ == end_) return false;
    *line = read_record(at_, texts_);
    at_ += record_size(*line);
    return true;
  }
  [[nodiscard]] std::uint64_t bytes() const noexcept override {
    return static_cast<std::uint64_t>(end_ - at_);
  }

 private:
  const char* at_;
  const char* end_;
  const char* texts_;
};

// Sources of a merge, built in place in one block.
template <typename Source>
class source_array {
 public:
  explicit source_array(std::size_t capacity) noexcept
      : items_(static_cast<Source*>(std::malloc((capacity + 1) * sizeof(Source)))),
        pointers_(static_cast<line_source**>(std::calloc(capacity + 1, sizeof(line_source*)))) {}
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

}  // namespace quorbel
