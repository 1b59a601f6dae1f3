// Merging sorted runs: from memory or from temporary files, into one stream
// written to a file descriptor.
#pragma once

#include <quorbel/version.h>

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <utility>

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
      : memory_source(run.records, run.records + run.size) {}
  memory_source(const char* from, const char* to) noexcept : at_(from), end_(to) {}

  [[nodiscard]] bool next(line_view* line) noexcept override {
    if (at_ == end_) return false;
    *line = read_record(at_);
    at_ += record_size(*line);
    return true;
  }
  [[nodiscard]] std::uint64_t bytes() const noexcept override {
    return static_cast<std::uint64_t>(end_ - at_);
  }

 private:
  const char* at_;
  const char* end_;
};

// How the version of a line is found again in its text, for lines read back
// from a temporary file, which holds only the texts.
class version_finder {
 public:
  // The version of a text (without its newline) that was accepted before;
  // false when it has none.
  [[nodiscard]] virtual bool find(std::string_view text, version_view* version) const noexcept = 0;

 protected:
  ~version_finder() = default;
};

// The lines of a run that merge_lines wrote to a temporary file: texts only,
// each ended by its newline, whose order codes are made again as they are
// read. Parts of the file that have been read are given back to the file
// system.
class file_source final : public line_source {
 public:
  file_source(int fd, std::uint64_t size, const version_finder& finder, bool descending) noexcept
      : fd_(fd), size_(size), finder_(finder), descending_(descending) {}
  ~file_source() override;

  // Takes the memory to read with; false when it runs out.
  [[nodiscard]] bool open() noexcept;
  [[nodiscard]] bool next(line_view* line) noexcept override;
  [[nodiscard]] std::uint64_t bytes() const noexcept override { return size_; }

 private:
  bool refill() noexcept;

  int fd_;
  std::uint64_t size_;
  const version_finder& finder_;
  bool descending_;
  char* buffer_ = nullptr;
  std::size_t start_ = 0;  // the unread bytes of the buffer
  std::size_t end_ = 0;
  std::uint64_t read_ = 0;     // bytes of the file read into the buffer so far
  std::uint64_t dropped_ = 0;  // bytes of the file given back
  std::uint8_t code_[ORDER_CODE_ROOM] = {};
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

struct merge_options {
  // Only the first line of each group of lines with equal codes.
  bool unique = false;
  // Gather with one thread while another writes, for large merges.
  bool second_thread = true;
  // Output bytes in each piece that merge_runs cuts; tests make it tiny.
  std::size_t piece_bytes = std::size_t{1} << 20;
};

struct merge_result {
  int read_error = 0;   // of the first source that failed
  int write_error = 0;  // of the descriptor
  bool out_of_memory = false;
  std::uint64_t written = 0;  // bytes of text merged, all written unless write_error
};

// Merges the sorted sources into fd: lines with equal codes come from the
// earlier source first, and from one source in its order. Stops at the
// first error.
[[nodiscard]] merge_result merge_lines(line_source* const* sources, std::size_t count, int fd,
                                       const merge_options& options) noexcept;

// merge_lines for sorted runs in memory, which can be cut anywhere: the
// output is cut into pieces at lines sampled from the runs, and two threads
// merge alternate pieces side by side, each writing its piece in turn.
[[nodiscard]] merge_result merge_runs(const sorted_run* runs, std::size_t count, int fd,
                                      const merge_options& options) noexcept;

}  // namespace quorbel
