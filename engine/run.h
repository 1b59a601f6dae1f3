// Runs: lines held in memory, first in input order while they are read,
// then sorted into records (engine/record.h) by their order codes.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "engine/line_code.h"
#include "engine/memory.h"
#include "engine/record.h"
#include "version/internal.h"

namespace quorbel {

// The key by which a line is sorted in its run: three words compared as one
// integer. What the words hold is engine/run_keys.h's own.
struct run_key {
  std::uint64_t high;
  std::uint64_t middle;
  std::uint64_t low;
};

// The most bytes of input one run may be built from, lines and newlines:
// every record of such a run starts at a place its key can hold.
inline constexpr std::size_t MAX_RUN_INPUT = std::size_t{1} << 26;

// What a line costs while its run is built and sorted, beside its own bytes:
// its key, its pending record's header and a code of usual length. Whoever
// cuts input into runs sizes them by it.
inline constexpr std::size_t LINE_COST_WHILE_SORTED = sizeof(run_key) + RECORD_HEADER + 12;

// Every INDEX_STEP-th record of a sorted run is marked, so that the run can
// be cut anywhere with a search over the marks and a short walk.
inline constexpr std::size_t INDEX_STEP = 64;

// The lines of a run in order: their records one after another, in a block
// of `size` bytes from malloc, and where every INDEX_STEP-th record starts.
// release_run gives the memory back.
struct sorted_run {
  char* records = nullptr;
  std::size_t size = 0;
  std::size_t lines = 0;
  std::uint32_t* marks = nullptr;  // (lines + INDEX_STEP - 1) / INDEX_STEP of them
  std::size_t elsewhere = 0;       // bytes of the texts its records point to
  const char* texts = nullptr;     // where the places of those texts count from
};

inline void release_run(sorted_run* run) noexcept {
  std::free(run->records);
  std::free(run->marks);
  *run = {};
}

// The memory a sorted run holds, the texts it points to included.
[[nodiscard]] inline std::size_t run_memory(const sorted_run& run) noexcept {
  return run.size + run.elsewhere +
         (run.lines + INDEX_STEP - 1) / INDEX_STEP * sizeof(std::uint32_t);
}

class run_builder;

// Sorts the lines of a built run into *out, and clears the builder. False
// when memory runs out; the builder then still holds its lines.
[[nodiscard]] bool sort_run(run_builder* built, sorted_run* out) noexcept;

// The lines of a run in input order, as they are read.
class run_builder {
 public:
  // Codes for a descending sort, or an ascending one, of lines that end
  // with `terminator`. The store starts with room for `first_store` bytes
  // and doubles.
  explicit run_builder(bool descending, char terminator = '\n',
                       std::size_t first_store = std::size_t{1} << 14) noexcept
      : descending_(descending), terminator_(terminator), first_store_(first_store) {}

  // Holds a line: its version, the prefix of its code when the lines have
  // one (engine/line_code.h), and the text to write for it (without its
  // end, at most MAX_TEXT_LENGTH bytes), which must stay where it is until
  // the run is sorted, or for as long as the run lives when its text is
  // left where it lies (see leave_texts). False when memory runs out.
  [[nodiscard]] bool add(const version_view& version, std::string_view text,
                         std::optional<std::string_view> prefix = std::nullopt) noexcept;
  // Holds a line whose version and prefix are those of the line added
  // last, which need not be parsed again; at least one line must have
  // been added before.
  [[nodiscard]] bool add_again(std::string_view text) noexcept;

  // Holds a line whose code is one the caller kept (a copy of its own, not
  // last_code() itself) from a line added before to this builder, with the
  // same version and prefix.
  [[nodiscard]] bool add_code(const std::uint8_t* code, std::size_t length,
                              std::string_view text) noexcept;
  // The code of the line added last.
  [[nodiscard]] const std::uint8_t* last_code() const noexcept { return code_; }
  [[nodiscard]] std::size_t last_code_length() const noexcept { return code_length_; }

  // While `may` is on, lines added note whether their end follows their
  // text where it lies (the byte after each text must be readable then):
  // such texts may be left there rather than copied into the run.
  void texts_may_stay(bool may) noexcept { may_stay_ = may; }
  // The bytes, ends included, and the number of the texts that may stay.
  [[nodiscard]] std::size_t staying_bytes() const noexcept { return staying_bytes_; }
  [[nodiscard]] std::size_t staying_lines() const noexcept { return staying_lines_; }
  // True when the lines added come in order already, or in reverse order.
  [[nodiscard]] bool comes_in_order() const noexcept { return !falls_ || !rises_; }
  // Whether the run sorted next leaves those texts where they lie: its
  // records then point to them, and they must outlive it.
  void leave_texts(bool stay) noexcept { stay_ = stay; }

  [[nodiscard]] bool empty() const noexcept { return keys_.empty(); }
  // The memory the builder has taken.
  [[nodiscard]] std::size_t held() const noexcept {
    return store_.capacity() + keys_.capacity() * sizeof(run_key);
  }
  // The bytes of the records its lines become when sorted, texts copied.
  [[nodiscard]] std::size_t record_bytes() const noexcept { return record_bytes_; }

  // Forgets the lines, keeping the memory for the next run.
  void clear() noexcept {
    store_.clear();
    keys_.clear();
    record_bytes_ = 0;
    staying_bytes_ = 0;
    staying_lines_ = 0;
    stay_ = false;
    texts_ = nullptr;
    rises_ = falls_ = false;
  }

 private:
  friend bool sort_run(run_builder* built, sorted_run* out) noexcept;

  // Holds a line with the code just written to code_.
  [[nodiscard]] bool add_new_code(std::string_view text) noexcept;

  bool descending_;
  char terminator_;
  std::size_t first_store_;
  growable<char> store_;          // pending records in input order
  std::size_t record_bytes_ = 0;  // with every text copied
  std::size_t staying_bytes_ = 0;
  std::size_t staying_lines_ = 0;
  bool may_stay_ = false;
  bool stay_ = false;
  const char* texts_ = nullptr;  // the first text that may stay
  // Whether some line's code is above, or below, the one before it.
  bool rises_ = false;
  bool falls_ = false;
  growable<run_key> keys_;
  std::uint8_t code_[LINE_CODE_ROOM];  // of the line added last
  std::size_t code_length_ = 0;
};

}  // namespace quorbel
