// Helpers behind the public operations. Not installed: the tests and the
// sort command reach them, callers of the library do not.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <quorbel/version.h>

namespace quorbel {

// --- Numbers -----------------------------------------------------------------

// Byte classes of the C locale, so no locale is ever consulted.
inline bool is_space_byte(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool is_digit_byte(char c) noexcept { return c >= '0' && c <= '9'; }

// The one integer conversion of the system, with the semantics of a base-10
// strtol: optional leading white space, an optional sign, then digits. The
// value saturates at the signed 64-bit limits and keeps its low 32 bits
// (4294967297 gives 1). *consumed receives the bytes read, 0 when there were
// no digits (the result is then 0).
[[nodiscard]] std::int32_t convert_integer(std::string_view text, std::size_t* consumed) noexcept;

// Where the conversion finds the number in a text: its digits run from
// `digits` to `end`; `end` is 0 when there are no digits.
struct integer_syntax {
  bool negative = false;
  std::size_t digits = 0;
  std::size_t end = 0;
};
[[nodiscard]] inline integer_syntax scan_integer(std::string_view text) noexcept {
  integer_syntax found;
  std::size_t i = 0;
  while (i < text.size() && is_space_byte(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    found.negative = text[i] == '-';
    ++i;
  }
  found.digits = i;
  while (i < text.size() && is_digit_byte(text[i])) ++i;
  found.end = i > found.digits ? i : 0;
  return found;
}

// The text up to its first zero byte.
[[nodiscard]] std::string_view until_zero(std::string_view text) noexcept;

// A record's text, when it has one, up to its first zero byte.
[[nodiscard]] inline std::optional<std::string_view> text_of(
    const std::optional<std::string>& text) noexcept {
  if (!text) return std::nullopt;
  return until_zero(*text);
}

// --- Parsing -----------------------------------------------------------------

[[nodiscard]] int length_ok(std::string_view text) noexcept;
// 1 when byte equals one of the first count bytes of set.
[[nodiscard]] int char_in_set(char byte, const char* set, int count) noexcept;
[[nodiscard]] int chars_in_set(std::string_view text, std::string_view set) noexcept;

// Cuts *text at its first separator and returns what followed it; absent,
// with *text unchanged, when the separator does not occur.
[[nodiscard]] std::optional<std::string_view> split_off(std::string_view* text,
                                                        char separator) noexcept;

// Reads up to MAX_COMPONENTS dot-separated numbers of the core into *view,
// writing only those the core gives: 0, or -1 at the first component that is
// too long or not all digits (the ones before it are written).
[[nodiscard]] int parse_core(std::string_view core, version_view* view) noexcept;

// --- Precedence --------------------------------------------------------------

[[nodiscard]] int compare_int(std::int32_t a, std::int32_t b) noexcept;
// Three-way byte order, a text below every longer one it starts.
[[nodiscard]] int compare_bytes(std::string_view a, std::string_view b) noexcept;
[[nodiscard]] int compare_core(const version_view& x, const version_view& y) noexcept;
[[nodiscard]] int compare_core(const version_record& x, const version_record& y) noexcept;
// Three-way compare of two pre-releases, either of which may be absent.
[[nodiscard]] int compare_prerelease(std::optional<std::string_view> a,
                                     std::optional<std::string_view> b) noexcept;

// One identifier of a pre-release, classified once. A number is one that a
// conversion reads whole (empty, or optional white space, a sign and digits);
// its `text` is then its significant digits, so 007 and 7 are alike and
// values of any length compare exactly. Anything else is a word.
struct prerelease_identifier {
  bool numeric = false;
  bool negative = false;
  std::string_view text;
};
[[nodiscard]] inline prerelease_identifier read_identifier(std::string_view id) noexcept {
  prerelease_identifier result;
  result.text = id;
  // Only a digit, a sign or white space can start a number: most words are
  // told at their first byte.
  if (!id.empty() && !is_digit_byte(id[0]) && !is_space_byte(id[0]) && id[0] != '+' &&
      id[0] != '-') {
    return result;
  }
  const integer_syntax found = scan_integer(id);
  if (found.end != id.size()) return result;  // letters, a lone sign, ...
  result.numeric = true;                      // an empty identifier counts as 0
  std::size_t i = found.digits;
  while (i < id.size() && id[i] == '0') ++i;
  result.text = id.substr(i);
  result.negative = found.negative && !result.text.empty();  // -0 is 0
  return result;
}

// Numbers rank below words; numbers by value; words bytewise, a prefix first.
[[nodiscard]] int compare_identifiers(const prerelease_identifier& a,
                                      const prerelease_identifier& b) noexcept;

// --- Order codes -------------------------------------------------------------

// An order code is an order key without its format byte (order_key.cpp has
// the layout), or, for a descending sort, the same with every bit inverted.
// The sort engine holds codes: a constant first byte would take one of the
// few code bytes its sort keys hold.
//
// The longest code of a version text of some length: 3 + 32 bits a number,
// the release bit, then a pre-release shorter than the text. An identifier
// of n bytes takes at most 9 (n + 1) bits with its tag (a one-byte word 18,
// an empty number 7), so a pre-release of p bytes takes at most 9 (p + 1),
// and the closing tag 2.
[[nodiscard]] constexpr std::size_t longest_order_code(std::size_t text_length) noexcept {
  return (4 * (3 + 32) + 1 + 9 * (text_length + 1) + 2 + 7) / 8;
}
inline constexpr std::size_t MAX_ORDER_CODE =
    longest_order_code(static_cast<std::size_t>(MAX_VERSION_LENGTH));
static_assert(MAX_ORDER_CODE + 1 == MAX_ORDER_KEY, "a key is a format byte and a code");

// Room for writing a code: the encoder stores whole words.
inline constexpr std::size_t ORDER_CODE_ROOM = MAX_ORDER_CODE + 8;
static_assert(ORDER_CODE_ROOM >= 24);

// Writes the order code of a version whose pre-release holds no zero byte
// and at most MAX_VERSION_LENGTH bytes (as version_parse_view makes them) to
// out, which has room for ORDER_CODE_ROOM bytes, and returns its length in
// bytes (at least 2). The bytes after the code are zero up to the 24th at
// least, so that the engine can read its keys whole.
[[nodiscard]] std::size_t encode_order_code(const version_view& version, bool descending,
                                            std::uint8_t* out) noexcept;

// Room for writing a key: its format byte, and room for its code.
inline constexpr std::size_t ORDER_KEY_ROOM = 1 + ORDER_CODE_ROOM;

// Writes the order key of a version made by version_parse_view to out, which
// has room for ORDER_KEY_ROOM bytes, and returns its length: version_order_key
// without its checks, for callers that write one per row.
[[nodiscard]] std::size_t encode_order_key(const version_view& version, std::uint8_t* out) noexcept;

// Three-way order of two codes, or of two keys: memcmp order, a shorter one
// first when it is the start of the other.
[[nodiscard]] int compare_order_codes(const std::uint8_t* a, std::size_t a_length,
                                      const std::uint8_t* b, std::size_t b_length) noexcept;

// --- Ranges ------------------------------------------------------------------

[[nodiscard]] int caret_match(const version_record& x, const version_record& y) noexcept;
[[nodiscard]] int tilde_match(const version_record& x, const version_record& y) noexcept;

// A place between versions in precedence order: below every version with
// `numbers` (group), or just before or just after the version with `numbers`
// and `prerelease` (absent for the release). The numbers are widened, so a
// cut may lie below or above every version.
struct range_cut {
  enum class place : std::uint8_t { group, before, after };  // in this order
  std::array<std::int64_t, 4> numbers{};
  place at = place::group;
  std::optional<std::string> prerelease;
};
// The versions above `lower` and below `upper`.
struct range_span {
  range_cut lower;
  range_cut upper;
};

// What a parsed range matches, as spans sorted by their lower cuts, none
// overlapping: one list for releases and for pre-releases let in, one for
// pre-releases held back (each span within the pre-releases of numbers that
// a comparator of its alternative names). A version is searched, not tested
// against each alternative.
struct version_range_index {
  std::vector<range_span> spans;
  std::vector<range_span> held_back;
};

// The index of the alternatives; throws std::bad_alloc when memory runs out.
[[nodiscard]] std::shared_ptr<const version_range_index> index_alternatives(
    const std::vector<version_range_alternative>& alternatives);
// 1 when the version with these numbers and pre-release (cut at its zero
// byte) lies in a span of the list that applies, else 0. Allocates nothing.
[[nodiscard]] int index_satisfies(const version_range_index& index,
                                  const std::array<std::int64_t, 4>& numbers,
                                  const std::optional<std::string_view>& prerelease,
                                  bool prereleases) noexcept;

// --- Rendering and value -----------------------------------------------------

// Room in which append_number formats one number, with room to spare: the
// longest, -2147483648, takes 11 bytes. Texts are never formatted here;
// append_text appends a pre-release or build of any length whole.
inline constexpr int PIECE_SIZE = 50;
// Room in which version_value joins the digits of major, minor and patch:
// at most 33 bytes (three numbers of 11 bytes); the rest is spare.
inline constexpr int VALUE_BUFFER_SIZE = 150;

// Append "<prefix><value>" in decimal; 0, or -1 when memory runs out.
[[nodiscard]] int append_number(std::string* destination, std::int32_t value,
                                std::string_view prefix = {}) noexcept;
// Append "<prefix><text>"; 0, or -1 when memory runs out.
[[nodiscard]] int append_text(std::string* destination, std::string_view text,
                              std::string_view prefix) noexcept;
// The value of an all-digit text of at most 2147483647, else -1; "" gives 0.
[[nodiscard]] std::int32_t digits_to_int(std::string_view text) noexcept;
// Sum of the byte values of the text's bytes that are in VERSION_CHARS.
[[nodiscard]] std::int32_t sum_allowed_chars(std::string_view text) noexcept;

// --- Cleaning ----------------------------------------------------------------

// Removes count bytes of *text from index start, closing the gap; a negative
// count removes everything from start on. Returns the number removed, or -1
// with the text unchanged when start is outside 0..length or the text is
// longer than 2147483647 bytes.
[[nodiscard]] std::int32_t cut_chars(std::string* text, std::int32_t start,
                                     std::int32_t count) noexcept;

}  // namespace quorbel
