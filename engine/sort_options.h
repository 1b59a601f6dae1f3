// What the engine is asked to do, and what became of it: the one record of
// the engine's settings, which its merges read too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbel {

class version_finder;

struct sort_options {
  bool descending = false;
  // Only the first line, in input order, of each group of equal versions.
  bool unique = false;
  // Memory for held lines, in bytes; beyond it they go to temporary files.
  std::size_t memory_budget = SIZE_MAX;
  // Where temporary files go.
  const char* temporary_directory = "/tmp";
  // Finds the versions of lines read back from temporary files; without
  // one, nothing goes to disk.
  const version_finder* finder = nullptr;
  // Temporary files merged at once, at least 2; no more than fan_in + 1 are
  // ever open at once. The descriptors the process may open lower it when
  // the first file is made; tests lower it further.
  std::size_t fan_in = 16;
  // Merge the output with two threads.
  bool second_thread = true;
  // Output bytes in each piece the two threads merge; tests make it tiny.
  std::size_t piece_bytes = std::size_t{1} << 20;
  // The byte each line ends with, in and out; no text holds it.
  char terminator = '\n';
  // The lines' codes start with a prefix (engine/line_code.h), which runs
  // and temporary files hold along with the texts.
  bool prefixed = false;
  // At most this many lines of each prefix, or of all lines when the codes
  // have none: the first ones in order, after `unique`.
  std::size_t limit = SIZE_MAX;
};

// What went wrong, if anything; `error` is the errno where there is one.
struct sort_status {
  enum class problem {
    none,
    out_of_memory,
    temporary_file,
    output,
    text_changed,  // a text left where it lies no longer ended with its end byte
  };
  problem what = problem::none;
  int error = 0;

  [[nodiscard]] bool ok() const noexcept { return what == problem::none; }
};

}  // namespace quorbel
