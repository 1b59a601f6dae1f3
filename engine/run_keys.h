// The keys a run is sorted by: a line's order code and its place in the
// run's store as one integer, and their sort.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/bytes.h"
#include "engine/line_code.h"
#include "engine/record.h"
#include "engine/run.h"
#include "version/internal.h"

namespace quorbel {

// A line's key while its run is sorted is a 192-bit integer, most
// significant word first, holding the first KEY_CODE_BYTES of the order code
// (zero-padded), a bit that says the code goes on beyond them, and where the
// record starts in the run's store. The store keeps records in input order,
// so plain integer order of keys is the order of the lines with ties in
// input order, except among keys whose codes go on and agree on the part
// held here: those are put in order by their whole codes after the sort.
inline constexpr std::size_t KEY_CODE_BYTES = 20;
inline constexpr unsigned PLACE_BITS = 31;
inline constexpr std::uint64_t PLACE_MASK = (std::uint64_t{1} << PLACE_BITS) - 1;
inline constexpr std::uint64_t CODE_GOES_ON = std::uint64_t{1} << PLACE_BITS;
// The largest store a run may have: every record starts at a place that its
// PLACE_BITS can hold. A line's record is its text, a header and a code of
// its version, at most a few times the line's own bytes, newline included.
inline constexpr std::size_t MAX_RUN_STORE = std::size_t{1} << PLACE_BITS;
static_assert(MAX_RUN_INPUT * 32 <= MAX_RUN_STORE);
static_assert(KEY_CODE_BYTES == 8 + 8 + 4, "the code fills high, middle and half of low");

// The bytes of a code that its key reads, zero past the code's end, as
// encode_line_code and run_builder::add_code leave them.
inline constexpr std::size_t KEY_READS = 24;
static_assert(KEY_READS >= KEY_CODE_BYTES && KEY_READS <= LINE_CODE_ROOM);

// The key of a line whose code lies at `code`, which has KEY_READS bytes to
// read.
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

// True when two keys next to each other in sorted order, of the pending
// lines x and y, are of one code: the keys tell, unless the codes go on
// beyond them, when the rest of the codes does.
[[nodiscard]] inline bool same_code(const run_key& a, const run_key& b, const line_view& x,
                                    const line_view& y) noexcept {
  if (!same_code_part(a, b)) return false;
  if ((a.low & CODE_GOES_ON) == 0) return true;
  return compare_order_codes(x.code + KEY_CODE_BYTES, x.code_length - KEY_CODE_BYTES,
                             y.code + KEY_CODE_BYTES, y.code_length - KEY_CODE_BYTES) == 0;
}

// Whether b's code part is below a's (-1), the same (0) or above it (1).
[[nodiscard]] inline int compare_code_parts(const run_key& a, const run_key& b) noexcept {
  if (a.high != b.high) return b.high < a.high ? -1 : 1;
  if (a.middle != b.middle) return b.middle < a.middle ? -1 : 1;
  const std::uint64_t x = a.low >> PLACE_BITS;
  const std::uint64_t y = b.low >> PLACE_BITS;
  if (x != y) return y < x ? -1 : 1;
  return 0;
}

// Sorts keys by their integer value, then puts the keys whose codes go on
// beyond the key and tie on it in order by their whole codes, read from the
// pending records in `store`. `rises` and `falls`: whether some key's code
// part is above, or below, the one before it.
void sort_run_keys(run_key* first, run_key* last, const char* store, bool rises,
                   bool falls) noexcept;

}  // namespace quorbel
