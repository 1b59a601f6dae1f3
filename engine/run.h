// Runs: lines held in memory, first in input order while they are read,
// then sorted. A line is held as a record: its order code and its text.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/bytes.h"
#include "engine/memory.h"
#include "version/internal.h"

#include <quorbel/version.h>

namespace quorbel {

// The longest text the engine holds, in bytes before its newline. The
// command drops longer lines.
inline constexpr std::size_t MAX_LINE_LENGTH = 4095;

// --- Records -----------------------------------------------------------------

// A record in a run's store: the code length and the text length, two bytes
// each, then the code, then the text with its newline. A line of mapped
// input may instead stay where it lies, with its newline after it: its
// record then ends with the text's address, and the top bit of its text
// length says so.
inline constexpr std::size_t RECORD_HEADER = 4;
inline constexpr std::size_t MAX_RECORD = RECORD_HEADER + MAX_ORDER_CODE + MAX_LINE_LENGTH + 1;
inline constexpr std::uint32_t TEXT_ELSEWHERE = std::uint32_t{1} << 31;
inline constexpr std::uint32_t TEXT_LENGTH_MASK = 0x7FFF;
static_assert(MAX_ORDER_CODE <= UINT16_MAX, "a code length fits its two bytes");
static_assert(MAX_LINE_LENGTH + 1 <= TEXT_LENGTH_MASK, "a text length fits its fifteen bits");

// One line as a merge sees it: its order code, and its text with the newline.
struct line_view {
  const std::uint8_t* code = nullptr;
  std::size_t code_length = 0;
  const char* text = nullptr;
  std::size_t text_length = 0;
  bool text_elsewhere = false;  // the record holds where the text is, not the text
};

// The header of a record, or of a pending record (below): both lengths, and
// whether the text lies elsewhere, in one word.
inline void put_header(char* at, std::size_t code_length, std::size_t text_length,
                       bool elsewhere) noexcept {
  const auto lengths = static_cast<std::uint32_t>(code_length | text_length << 16) |
                       (elsewhere ? TEXT_ELSEWHERE : 0);
  std::memcpy(at, &lengths, RECORD_HEADER);
}

// Reads the header at `at` into the line.
inline void read_header(const char* at, line_view* line) noexcept {
  std::uint32_t lengths = 0;
  std::memcpy(&lengths, at, RECORD_HEADER);
  line->code_length = lengths & 0xFFFF;
  line->text_length = (lengths >> 16) & TEXT_LENGTH_MASK;
  line->text_elsewhere = (lengths & TEXT_ELSEWHERE) != 0;
}

// Writes the record of a line at `at`; the text gets its newline. Returns the
// record's size.
inline std::size_t put_record(char* at, const std::uint8_t* code, std::size_t code_length,
                              std::string_view text) noexcept {
  put_header(at, code_length, text.size() + 1, false);
  copy_bytes(at + RECORD_HEADER, code, code_length);
  char* const text_at = at + RECORD_HEADER + code_length;
  copy_bytes(text_at, text.data(), text.size());
  text_at[text.size()] = '\n';
  return RECORD_HEADER + code_length + text.size() + 1;
}

// Writes the record of a line whose text, newline included, stays at `text`.
inline std::size_t put_reference(char* at, const std::uint8_t* code, std::size_t code_length,
                                 const char* text, std::size_t text_length) noexcept {
  put_header(at, code_length, text_length, true);
  copy_bytes(at + RECORD_HEADER, code, code_length);
  std::memcpy(at + RECORD_HEADER + code_length, &text, sizeof text);
  return RECORD_HEADER + code_length + sizeof text;
}

// The line of the record at `at`.
[[nodiscard]] inline line_view read_record(const char* at) noexcept {
  line_view line;
  read_header(at, &line);
  line.code = reinterpret_cast<const std::uint8_t*>(at + RECORD_HEADER);
  if (line.text_elsewhere) {
    std::memcpy(&line.text, at + RECORD_HEADER + line.code_length, sizeof line.text);
  } else {
    line.text = at + RECORD_HEADER + line.code_length;
  }
  return line;
}

[[nodiscard]] inline std::size_t record_size(const line_view& line) noexcept {
  return RECORD_HEADER + line.code_length +
         (line.text_elsewhere ? sizeof line.text : line.text_length);
}

// A line while its run is built: the code lengths, the text's place (it
// still lies where the line was read) and the code. Sorting turns it into a
// record, the text copied after the code once, or left where it lies when
// the run leaves texts there and the pending record says it may stay
// (with TEXT_ELSEWHERE, as in a record).
inline constexpr std::size_t PENDING_HEADER = RECORD_HEADER + sizeof(const char*);

inline std::size_t put_pending(char* at, const std::uint8_t* code, std::size_t code_length,
                               std::string_view text, bool may_stay) noexcept {
  const char* const where = text.data();
  put_header(at, code_length, text.size() + 1, may_stay);
  std::memcpy(at + RECORD_HEADER, &where, sizeof where);
  copy_bytes(at + PENDING_HEADER, code, code_length);
  return PENDING_HEADER + code_length;
}

// The line of a pending record; its text_length counts the newline that the
// text, where it lies, may not have.
[[nodiscard]] inline line_view read_pending(const char* at) noexcept {
  line_view line;
  read_header(at, &line);
  std::memcpy(&line.text, at + RECORD_HEADER, sizeof line.text);
  line.code = reinterpret_cast<const std::uint8_t*>(at + PENDING_HEADER);
  return line;
}

// --- Keys --------------------------------------------------------------------

// The key of a line while its run is sorted: a 192-bit integer, most
// significant word first, holding the first KEY_CODE_BYTES of the order code
// (zero-padded), a bit that says the code goes on beyond them, and where the
// record starts in the run's store. The store keeps records in input order,
// so plain integer order of keys is the order of the lines with ties in
// input order, except among keys whose codes go on and agree on the part
// held here: those are put in order by their whole codes after the sort.
struct run_key {
  std::uint64_t high;
  std::uint64_t middle;
  std::uint64_t low;
};

inline constexpr std::size_t KEY_CODE_BYTES = 20;
inline constexpr unsigned PLACE_BITS = 31;
inline constexpr std::uint64_t PLACE_MASK = (std::uint64_t{1} << PLACE_BITS) - 1;
inline constexpr std::uint64_t CODE_GOES_ON = std::uint64_t{1} << PLACE_BITS;
// The largest store a run may have: every record starts at a place that its
// PLACE_BITS can hold.
inline constexpr std::size_t MAX_RUN_STORE = std::size_t{1} << PLACE_BITS;
static_assert(KEY_CODE_BYTES == 8 + 8 + 4, "the code fills high, middle and half of low");

// The first `count` bytes (at most 8) at `bytes` as the high bytes of a
// word, the rest zero.
[[nodiscard]] inline std::uint64_t big_endian_word(const std::uint8_t* bytes,
                                                   std::size_t count) noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, count);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

// The key of a line whose code lies at `code`, which has 24 bytes to read,
// zero past the code's end, as encode_order_code leaves them.
[[nodiscard]] inline run_key make_run_key(const std::uint8_t* code, std::size_t length,
                                          std::size_t place) noexcept {
  const std::uint64_t goes_on = length > KEY_CODE_BYTES ? CODE_GOES_ON : 0;
  return {big_endian_word(code, 8), big_endian_word(code + 8, 8),
          (big_endian_word(code + 16, 8) & ~std::uint64_t{0xFFFFFFFF}) | goes_on | place};
}

[[nodiscard]] inline std::size_t place_of(const run_key& key) noexcept {
  return static_cast<std::size_t>(key.low & PLACE_MASK);
}

// True when two keys hold the same code bytes and the same "goes on" bit:
// the same version, unless the codes go on.
[[nodiscard]] inline bool same_code_part(const run_key& a, const run_key& b) noexcept {
  return a.high == b.high && a.middle == b.middle && (a.low ^ b.low) <= PLACE_MASK;
}

// --- Runs --------------------------------------------------------------------

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
  // Codes for a descending sort, or an ascending one. The store starts with
  // room for `first_store` bytes and doubles.
  explicit run_builder(bool descending, std::size_t first_store = std::size_t{1} << 14) noexcept
      : descending_(descending), first_store_(first_store) {}

  // Holds a line: its version, and the text to write for it (without
  // newline, at most MAX_LINE_LENGTH bytes), which must stay where it is
  // until the run is sorted, or for as long as the run lives when its text
  // is left where it lies (see leave_texts). False when memory runs out.
  [[nodiscard]] bool add(const version_view& version, std::string_view text) noexcept;
  // Holds a line whose version is that of the line added last, which need
  // not be parsed again; at least one line must have been added before.
  [[nodiscard]] bool add_again(std::string_view text) noexcept;

  // While `may` is on, lines added note whether a newline follows their
  // text where it lies (the byte after each text must be readable then):
  // such texts may be left there rather than copied into the run.
  void texts_may_stay(bool may) noexcept { may_stay_ = may; }
  // The bytes, newlines included, and the number of the texts that may stay.
  [[nodiscard]] std::size_t staying_bytes() const noexcept { return staying_bytes_; }
  [[nodiscard]] std::size_t staying_lines() const noexcept { return staying_lines_; }
  // True when the lines added come in order already, or in reverse order.
  [[nodiscard]] bool comes_in_order() const noexcept;
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
  }

 private:
  friend bool sort_run(run_builder* built, sorted_run* out) noexcept;

  bool descending_;
  std::size_t first_store_;
  growable<char> store_;          // pending records in input order
  std::size_t record_bytes_ = 0;  // with every text copied
  std::size_t staying_bytes_ = 0;
  std::size_t staying_lines_ = 0;
  bool may_stay_ = false;
  bool stay_ = false;
  growable<run_key> keys_;
  std::uint8_t code_[ORDER_CODE_ROOM];  // of the line added last
  std::size_t code_length_ = 0;
};

// Sorts keys by their integer value, then puts the keys whose codes go on
// beyond the key and tie on it in order by their whole codes, read from the
// pending records in `store`.
void sort_run_keys(run_key* first, run_key* last, const char* store) noexcept;

}  // namespace quorbel
