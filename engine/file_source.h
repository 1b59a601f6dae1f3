// Runs in temporary files: texts alone, one a line (each after the prefix
// of its code when the codes have one), whose codes are made again from
// their versions as they are read back.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/line_code.h"
#include "engine/sort_options.h"
#include "engine/source.h"
#include "version/internal.h"

namespace quorbel {

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
// each ended by the lines' end and, when the codes have prefixes, after its
// prefix and the prefix's zero byte; their codes are made again as they are
// read, with the options' finder, which must be set. Parts of the file that
// have been read are given back to the file system.
class file_source final : public line_source {
 public:
  file_source(int fd, std::uint64_t size, const sort_options& options) noexcept
      : fd_(fd),
        size_(size),
        finder_(*options.finder),
        descending_(options.descending),
        terminator_(options.terminator),
        prefixed_(options.prefixed) {}
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
  char terminator_;
  bool prefixed_;
  char* buffer_ = nullptr;
  std::size_t start_ = 0;  // the unread bytes of the buffer
  std::size_t end_ = 0;
  std::uint64_t read_ = 0;     // bytes of the file read into the buffer so far
  std::uint64_t dropped_ = 0;  // bytes of the file given back
  std::uint8_t code_[LINE_CODE_ROOM] = {};
};

}  // namespace quorbel
