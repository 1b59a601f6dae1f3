// The order code of a version: a byte string whose plain byte order (memcmp,
// a shorter string first when one is the start of the other) is the
// version's precedence. Two versions of equal precedence have the same code,
// and different precedence gives codes that differ within the shorter one,
// so comparing codes needs no knowledge of versions at all.
//
// The rule it encodes is version_compare's (version/compare.cpp): whoever
// changes one changes the other, and the tests check that they agree.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>

namespace quorbel {

// Bits of the code, in order, most significant bit of the first byte first:
// - the four numbers, each a 3-bit class and its significant bytes: class 0
//   a negative number whole (32 bits), class 1 + n a non-negative one of n
//   bytes (0 has none); more bytes is a larger number, so the order holds;
// - one bit: 1 for a release, 0 for a pre-release, which then follows;
// - per identifier a 2-bit tag, 01 a number, 10 a word, and 00 after the
//   last one, so that fewer identifiers rank lower and numbers below words.
//   A number is a sign bit (1 for non-negative) and its magnitude: a 4-bit
//   count n of bytes (up to 8, for at most 19 digits) and the value in n
//   bytes, or the count 9, an 8-bit count of digits and 4 bits a digit for a
//   longer one. A negative number has its magnitude's bits inverted, so the
//   larger magnitude ranks lower. A word is its bytes and a zero byte.
// For a descending sort every bit is inverted. The last byte is padded.
//
// Largest code: 3 + 32 bits a number, the release bit, and per pre-release
// byte at most 10 bits of tag and terminator and 8 of content (single-byte
// words between dots), with room to spare.
inline constexpr std::size_t MAX_ORDER_CODE =
    (4 * (3 + 32) + 1 + 2 + 18 * (MAX_VERSION_LENGTH + 1) + 7) / 8;

// Room for writing a code: the encoder stores whole words.
inline constexpr std::size_t ORDER_CODE_ROOM = MAX_ORDER_CODE + 8;
static_assert(ORDER_CODE_ROOM >= 24);

// Writes the order code of a version made by version_parse_view (whose texts
// hold no zero byte) to out, which has room for ORDER_CODE_ROOM bytes, and
// returns its length in bytes (at least 2). The bytes after the code are
// zero up to the 24th at least, so that keys can be read whole.
[[nodiscard]] std::size_t encode_order_code(const version_view& version, bool descending,
                                            std::uint8_t* out) noexcept;

// Three-way order of two codes: memcmp order, a shorter code first when one
// is the start of the other.
[[nodiscard]] int compare_order_codes(const std::uint8_t* a, std::size_t a_length,
                                      const std::uint8_t* b, std::size_t b_length) noexcept;

}  // namespace quorbel
