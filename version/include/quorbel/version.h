// quorbel's version library: parse, order, test, render, clean and bump
// semantic versions, widened to four numeric components.
//
// Results follow one convention throughout: three-way comparisons return
// exactly -1, 0 or 1; tests return 1 for true and 0 for false; operations
// that can fail return -1 on failure. Nothing here throws (std::format, as
// ever, does when memory runs out), and every text ends at its first zero
// byte, whatever the length of the view passed in.
//
// Threads: there is no shared state. Any operation may run in several threads
// at once on different objects, and on the same objects when none of the calls
// writes to them: one parsed range, for one, may be matched from every thread.
#pragma once

#if (defined(_MSVC_LANG) ? _MSVC_LANG : __cplusplus) <= 201703L
#error "quorbel/version.h needs C++20: compile with -std=c++20 (or /std:c++20) or later."
#endif
// The rest only where it compiles, so that the sentence above stands alone.
#if (defined(_MSVC_LANG) ? _MSVC_LANG : __cplusplus) > 201703L

#include <array>
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>
#if __has_include(<format>)
#include <format>
#include <new>
#endif

#include "quorbel/export.h"  // generated: QUORBEL_EXPORT marks the public operations

namespace quorbel {

// The 65 bytes a version text may hold.
inline constexpr std::string_view VERSION_CHARS =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-+";
static_assert(VERSION_CHARS.size() == 65);

// Longest accepted version text, in bytes.
inline constexpr int MAX_VERSION_LENGTH = 255;
// Longest numeric component of the core, in bytes.
inline constexpr int MAX_COMPONENT_LENGTH = 50;
// Numeric components read from the core; what follows the fourth is ignored,
// so 1.2.3.4.x is a valid version.
inline constexpr int MAX_COMPONENTS = 4;

// A parsed version. It owns its texts; an absent text differs from a present
// empty one (1.2.3- has an empty pre-release, 1.2.3 has none).
struct version_record {
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::int32_t patch = 0;
  std::int32_t fourth = 0;
  std::optional<std::string> build;       // after the first '+'
  std::optional<std::string> prerelease;  // after the first '-' before the '+'
  std::optional<std::string> raw;         // the whole text that was parsed
};

// The same version as views into the caller's text, which must outlive it.
// Made without allocating; the sort command parses every line with it.
struct version_view {
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::int32_t patch = 0;
  std::int32_t fourth = 0;
  std::optional<std::string_view> build;
  std::optional<std::string_view> prerelease;
  std::optional<std::string_view> raw;
};

// --- Parsing -----------------------------------------------------------------

// 1 when the text is at most MAX_VERSION_LENGTH bytes and every byte is one of
// VERSION_CHARS, else 0. A valid text may still have a bad core (1.2.x).
[[nodiscard]] QUORBEL_EXPORT int version_is_valid(std::string_view text) noexcept;

// Fills the record from the text: 0 for a valid version, -1 otherwise. Only
// the numbers the text gives are written (1.2 leaves patch and fourth as they
// were), so reset a reused record first. An invalid length or byte leaves the
// record untouched; a bad core (9.9.x) still sets the texts and the numbers
// read before it, which the caller releases. Empty components count as 0, and
// -1.2.3 is the version 0 with the pre-release 1.2.3. Numbers keep the low 32
// bits of their value, so 4294967297.0.0 has major 1. Does not release texts
// the record held before; an allocation failure is -1 with nothing changed.
[[nodiscard]] QUORBEL_EXPORT int version_parse(std::string_view text,
                                               version_record* record) noexcept;

// version_parse without copies: same results, views into the text.
[[nodiscard]] QUORBEL_EXPORT int version_parse_view(std::string_view text,
                                                    version_view* view) noexcept;

// The text without the 'v' or 'V' of a tag when a digit follows it (v1.2.3
// gives 1.2.3), else the text itself: what the command's -l takes away.
[[nodiscard]] QUORBEL_EXPORT std::string_view version_skip_v(std::string_view text) noexcept;

// Marks the record's three texts absent, releasing their memory; the numbers
// stay. Releasing a released record does nothing.
QUORBEL_EXPORT void version_release(version_record* record) noexcept;

// --- Precedence --------------------------------------------------------------

// Three-way precedence: the four numbers in turn, then the pre-release (a
// pre-release ranks below its release; identifiers compare one by one,
// numeric ones by exact value and below alphanumeric ones, which compare
// bytewise). The build and the raw text never count, so 1.2.3+a equals 1.2.3+b
// and 1.2.3 equals 1.2.3.0.
[[nodiscard]] QUORBEL_EXPORT int version_compare(const version_record& x,
                                                 const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_compare(const version_view& x,
                                                 const version_view& y) noexcept;

// Relational tests, each one call of version_compare(x, y): 1 or 0.
[[nodiscard]] QUORBEL_EXPORT int version_gt(const version_record& x,
                                            const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_lt(const version_record& x,
                                            const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_eq(const version_record& x,
                                            const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_ne(const version_record& x,
                                            const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_ge(const version_record& x,
                                            const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_le(const version_record& x,
                                            const version_record& y) noexcept;

// A hash of the precedence: versions that version_compare finds equal hash
// alike (1.2.3+a and 1.2.3.0, 1.0.0-rc.07 and 1.0.0-rc.7). Fixed, not seeded.
[[nodiscard]] QUORBEL_EXPORT std::size_t version_hash(const version_record& version) noexcept;
[[nodiscard]] QUORBEL_EXPORT std::size_t version_hash(const version_view& version) noexcept;

// --- Order keys --------------------------------------------------------------

// The order key of a version is a byte string whose plain byte order (memcmp,
// a shorter key first when it is the start of the other) is precedence: keys
// order as version_compare does, and equal keys mean equal precedence. Any
// store or engine that sorts bytes then sorts versions: an index of a
// database, the sort of a distributed engine.
//
// Keys are a stored format. The first byte is the format number, and keys
// compare correctly only with keys of the same format number; a change of
// the layout takes a new number, never a new meaning for an old one.
inline constexpr std::uint8_t ORDER_KEY_FORMAT = 1;
// Longest order key, in bytes; the key of a release takes at most 19.
inline constexpr std::size_t MAX_ORDER_KEY = 307;

// Room for one order key: its first `length` bytes.
struct version_key {
  std::array<std::uint8_t, MAX_ORDER_KEY> bytes;
  std::size_t length = 0;
};

// Writes the order key of the version to *key: 0, or -1 with *key unchanged
// when the pre-release is longer than MAX_VERSION_LENGTH bytes, which only a
// record or view filled by hand can have. The build and raw text play no
// part; any bytes are allowed, up to the first zero byte.
[[nodiscard]] QUORBEL_EXPORT int version_order_key(const version_record& version,
                                                   version_key* key) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_order_key(const version_view& version,
                                                   version_key* key) noexcept;

// --- Ranges ------------------------------------------------------------------

// 1 when x satisfies the operator op applied to the reference y, else 0.
// Only op's first byte counts, and its second after '<' or '>': "^" same major
// and at least y (0.y.z and 0.0.z pin their minor and patch), "~" same major
// and minor, "=", "<", "<=", ">", ">=" by version_compare. "^" and "~" ignore
// the pre-release and fourth. An unknown or empty operator gives 0, just like
// a version that does not match.
[[nodiscard]] QUORBEL_EXPORT int version_matches(const version_record& x, const version_record& y,
                                                 std::string_view op) noexcept;

// A range is parsed once and then tested against many versions. Alternatives
// are separated by "||"; within one, comparators separated by white space
// must all hold. A comparator is an optional operator (=, <, <=, >, >=, ^, ~,
// ~> as ~) and a version of up to four numbers whose parts may be wildcards
// (x, X, *). The version may start with a 'v', and after an operator with any
// run of 'v', '=' and white space, as manifests write them (~=1.2, >= =1.2.3,
// ^ v2). Three or four numbers make an exact version (a missing fourth is 0);
// fewer, or a wildcard, make a partial one that covers every version starting
// with the numbers written. "A - B" (white space around the '-') is an
// inclusive hyphen range; an '=' before a version means the same as no
// operator, so "=1 - =2" is one too.
//
//   range            means
//   "" * x X         every version                     also an empty alternative
//   1.2.3 =v1.2.3    =1.2.3.0                          the build is ignored
//   1.2 1.2.x        >=1.2.0 <1.3.0
//   1.2.3.x          >=1.2.3.0 <1.2.4.0
//   >1 >1.2.x        >=2.0.0, >=1.3.0                  >* and <* match nothing
//   >=1.2 <1.2       >=1.2.0, <1.2.0                   <1.2 is below 1.2.0-rc
//   <=1.2            <1.3.0
//   ^1.2.3 ^1.x      >=1.2.3 <2.0.0, >=1.0.0 <2.0.0
//   ^0.2.3 ^0.0.3    >=0.2.3 <0.3.0, >=0.0.3 <0.0.4
//   ^0.0.0.4         >=0.0.0.4 <0.0.0.5
//   ^0.0 ^0.x        >=0.0.0 <0.1.0, >=0.0.0 <1.0.0    all zero: the last
//   ^0.0.0 ^0.0.0.0  <0.0.1, <0.0.0.1                  number written moves
//   ~1.2.3 ~1.2.3.4  >=1.2.3 <1.3.0, >=1.2.3.4 <1.3.0
//   ~1 ~>1.2         >=1.0.0 <2.0.0, >=1.2.0 <1.3.0
//   1.2.3 - 2.3.4    >=1.2.3 <=2.3.4
//   1.2 - 2.3.4      >=1.2.0 <=2.3.4
//   1.2.3 - 2.3      >=1.2.3 <2.4.0                    * as an end: no bound
//   ~=1.2 >==1.2.3   ~1.2, >=1.2.3
//   >=1.2 <3 || ^4   either alternative
//
// Upper bounds made by ^, ~, a partial version or a hyphen range compare the
// four numbers only, so ^1.2.3 admits no pre-release of 2.0.0, whatever its
// identifiers. A version with a pre-release satisfies an alternative only
// when one of its comparators is written with a pre-release on the same four
// numbers (>=1.2.3-beta admits 1.2.3-rc, not 1.2.4-rc), unless the caller lets
// pre-releases in: then only precedence decides, and each lower bound made
// from a partial version, or by the low end of a hyphen range written without
// a pre-release, also admits the pre-releases of its first release (1.2 and
// 1.2.0 - 2 admit 1.2.0-rc). Other full lower bounds (>=1.2.0) never move.
// Alternatives are a union: none takes away what another admits, so
// ^1.2.3-rc.1 || * admits 1.2.3-rc.2, which * alone holds back.
//
// Invalid: an operator without a version or followed by another (>=>1, =>1),
// an empty part or letters in a number (1..2, 1.2a), a number after a
// wildcard (1.x.3), more than four parts (1.2.3.4.5), more than
// MAX_COMPONENT_LENGTH digits, a pre-release on a partial version (1.2-rc),
// a version longer than MAX_VERSION_LENGTH, a hyphen range missing an end or
// after an operator (1 -, >=1 - 2), a single '|', comparators not separated
// by white space (>=1<2), and any other byte. Numbers keep the low 32 bits of
// their value, as in version_parse.

// One alternative of a range, reduced when it is parsed to the bounds all its
// comparators set together. An absent bound sets no limit.
struct version_range_alternative {
  // At least this version (above it when lower_inclusive is false), and at
  // most this one (below it when upper_inclusive is false), by precedence.
  std::optional<version_record> lower;
  bool lower_inclusive = true;
  std::optional<version_record> upper;
  bool upper_inclusive = true;
  // Numbers at least these, set by partial versions and the low ends of
  // hyphen ranges; the pre-releases of exactly these numbers pass only when
  // pre-releases are let in. Widened, so the release after 2147483647 exists.
  std::optional<std::array<std::int64_t, 4>> from;
  // Numbers below these, whatever the pre-release.
  std::optional<std::array<std::int64_t, 4>> below;
  // The numbers of every version written here with a pre-release.
  std::vector<std::array<std::int32_t, 4>> prerelease_numbers;
};

// A parsed range: satisfied when one of its alternatives is. One that was
// never parsed has no alternative and matches nothing. The parse also merges
// the alternatives into an index that matching searches, so that its time
// hardly grows with their number; without one (a range built by hand, or
// after index.reset()), matching walks the alternatives.
struct version_range_index;  // the library's own
struct version_range {
  std::vector<version_range_alternative> alternatives;
  std::shared_ptr<const version_range_index> index;  // shared by copies, never changed
};

// Parses the text into *range: 0, or -1 with *range unchanged when the text is
// invalid or memory runs out. *stopped_at, unless null, receives the text's
// length (to its first zero byte) on success, on an invalid text the offset of
// the first byte that no valid range could have there (the length when the
// text ends too soon), and std::string_view::npos when memory ran out.
[[nodiscard]] QUORBEL_EXPORT int version_range_parse(std::string_view text, version_range* range,
                                                     std::size_t* stopped_at) noexcept;

// 1 when the version satisfies the range, else 0. A non-zero
// include_prereleases lets pre-releases match by precedence alone. Allocates
// nothing; the view's texts must still be alive.
[[nodiscard]] QUORBEL_EXPORT int version_satisfies(const version_record& version,
                                                   const version_range& range,
                                                   int include_prereleases = 0) noexcept;
[[nodiscard]] QUORBEL_EXPORT int version_satisfies(const version_view& version,
                                                   const version_range& range,
                                                   int include_prereleases = 0) noexcept;

// In one call, whether the version text satisfies the range text: 1 or 0, and
// 0 too when either text is invalid or memory runs out. To test many
// versions, or to tell those cases apart, parse the range once.
[[nodiscard]] QUORBEL_EXPORT int version_satisfies(std::string_view version, std::string_view range,
                                                   bool include_prereleases = false) noexcept;

// --- Rendering and value -----------------------------------------------------

// Appends major.minor.patch, then -prerelease and +build where present, to
// *destination. fourth and raw are never rendered: 1.2.3.4-rc+b renders as
// 1.2.3-rc+b. Texts of any length render whole. Returns 0, or -1 when memory
// runs out (the destination then holds what it held before).
QUORBEL_EXPORT int version_render(const version_record& record, std::string* destination) noexcept;
QUORBEL_EXPORT int version_render(const version_view& view, std::string* destination) noexcept;

// The numbers written one after another without separators (leading zero
// numbers left out) and read as a decimal integer, plus the byte sums of the
// pre-release and the build. 1.2.3 gives 123; 1.10.0 and 11.0.0 both give
// 1100. -1 when a number is negative or the digits exceed 2147483647; the
// additions wrap in 32 bits, and may themselves land on -1. fourth plays no part.
[[nodiscard]] QUORBEL_EXPORT int version_value(const version_record& record) noexcept;

// --- Cleaning and bumping ----------------------------------------------------

// Removes, in place, every byte that is not in VERSION_CHARS (=1.2.3 becomes
// 1.2.3; letters stay, so v1.2.3 is unchanged). Returns 0, or -1 with the text
// unchanged when it is longer than MAX_VERSION_LENGTH before cleaning.
[[nodiscard]] QUORBEL_EXPORT int version_scrub(std::string* text) noexcept;

// Add 1 to major, minor or patch, wrapping from 2147483647 to -2147483648.
// Nothing else changes: bumping the major of 1.2.3 gives 2.2.3, not 2.0.0.
QUORBEL_EXPORT void version_bump_major(version_record* record) noexcept;
QUORBEL_EXPORT void version_bump_minor(version_record* record) noexcept;
QUORBEL_EXPORT void version_bump_patch(version_record* record) noexcept;

// The steps of version_increment.
enum class version_step { major, minor, patch, premajor, preminor, prepatch, prerelease };

// Moves the record to the next version of a kind, as package managers
// increment versions (the bumps above add 1 to one number and keep the rest).
// major, minor and patch add 1 to their number and clear those after it, but
// take a pre-release of such a release to the release itself (2.0.0-rc.1 by
// major, 1.2.0-rc.1 by minor, 1.2.3-rc.1 by patch); premajor, preminor and
// prepatch add 1 the same way and start the release's pre-releases at 0;
// prerelease adds 1 to the last number of a pre-release (appends .0 when none
// is a number) and acts as prepatch on a release. An identifier names the
// pre-release: rc gives rc.0, unless the pre-release is rc and a number
// already. The build and raw become absent.
//
//   step           1.2.3      1.2.3.4    1.2.3-rc.1  1.2.0-rc.1  with rc, on 1.2.3
//   major          2.0.0      2.0.0      2.0.0       2.0.0       2.0.0
//   minor          1.3.0      1.3.0      1.3.0       1.2.0       1.3.0
//   patch          1.2.4      1.2.4      1.2.3       1.2.0       1.2.4
//   premajor       2.0.0-0    2.0.0-0    2.0.0-0     2.0.0-0     2.0.0-rc.0
//   preminor       1.3.0-0    1.3.0-0    1.3.0-0     1.3.0-0     1.3.0-rc.0
//   prepatch       1.2.4-0    1.2.4-0    1.2.4-0     1.2.1-0     1.2.4-rc.0
//   prerelease     1.2.4-0    1.2.4-0    1.2.3-rc.2  1.2.0-rc.2  1.2.4-rc.0
//
// Returns 0, or -1 with the record unchanged when a number would pass
// 2147483647, the identifier is not letters, digits and '-', the result would
// not rank above the version (1.2.3-rc.1 by prerelease with beta) or memory
// runs out. Numbers in a pre-release grow without limit (rc.99 gives rc.100).
[[nodiscard]] QUORBEL_EXPORT int version_increment(version_record* record, version_step step,
                                                   std::string_view identifier = {}) noexcept;

// --- C++ conveniences --------------------------------------------------------

// Thin layers over the calls above: values instead of out-parameters,
// operators, hashing, formatting and searches, each doing what the call it
// stands on does.

// Records compare by precedence, through version_compare, so they sort with
// std::sort and std::ranges::sort and serve as std::map keys. Equal precedence
// is not identity: the build never counts and a missing number is 0, so
// 1.2.3+a == 1.2.3+b and 1.2.3 == 1.2.3.0. Hence a weak ordering, and a map
// keyed by records keeps only the first of such versions.
[[nodiscard]] QUORBEL_EXPORT bool operator==(const version_record& x,
                                             const version_record& y) noexcept;
[[nodiscard]] QUORBEL_EXPORT std::weak_ordering operator<=>(const version_record& x,
                                                            const version_record& y) noexcept;

// Writes the text version_render makes (1.2.3.4-rc+b as 1.2.3-rc+b). When
// memory runs out it writes nothing and sets badbit on the stream.
QUORBEL_EXPORT std::ostream& operator<<(std::ostream& out, const version_record& record);
QUORBEL_EXPORT std::ostream& operator<<(std::ostream& out, const version_view& view);

// A view of the record, valid while the record lives and its texts stay.
[[nodiscard]] inline version_view version_view_of(const version_record& record) noexcept {
  const auto view = [](const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
  };
  return {record.major,    record.minor,       record.patch,
          record.fourth,   view(record.build), view(record.prerelease),
          view(record.raw)};
}

// Views compare by precedence too, with views and with records (either side).
[[nodiscard]] inline bool operator==(const version_view& x, const version_view& y) noexcept {
  return version_compare(x, y) == 0;
}
[[nodiscard]] inline std::weak_ordering operator<=>(const version_view& x,
                                                    const version_view& y) noexcept {
  return version_compare(x, y) <=> 0;
}
[[nodiscard]] inline bool operator==(const version_view& x, const version_record& y) noexcept {
  return version_compare(x, version_view_of(y)) == 0;
}
[[nodiscard]] inline std::weak_ordering operator<=>(const version_view& x,
                                                    const version_record& y) noexcept {
  return version_compare(x, version_view_of(y)) <=> 0;
}

// How the parses below read a text: as version_parse does, or loose, first
// taking away a tag's v (version_skip_v, the command's -l).
enum class version_syntax { strict, loose };

// The version the text holds, or nothing when it holds none (or memory runs
// out). Numbers the text does not give are 0. The view's texts lie in `text`.
[[nodiscard]] inline std::optional<version_record> version_parse(
    std::string_view text, version_syntax syntax = version_syntax::strict) noexcept {
  version_record record;
  if (syntax == version_syntax::loose) text = version_skip_v(text);
  if (version_parse(text, &record) != 0) return std::nullopt;
  return record;
}
[[nodiscard]] inline std::optional<version_view> version_parse_view(
    std::string_view text, version_syntax syntax = version_syntax::strict) noexcept {
  version_view view;
  if (syntax == version_syntax::loose) text = version_skip_v(text);
  if (version_parse_view(text, &view) != 0) return std::nullopt;
  return view;
}

// The text version_render makes; empty when memory runs out.
[[nodiscard]] inline std::string to_string(const version_record& record) noexcept {
  std::string text;
  if (version_render(record, &text) != 0) return {};
  return text;
}
[[nodiscard]] inline std::string to_string(const version_view& view) noexcept {
  std::string text;
  if (version_render(view, &text) != 0) return {};
  return text;
}

// version_satisfies with a bool flag, answering with a bool. Only a bool
// picks it: an int flag still calls the function above.
template <typename Version, std::same_as<bool> Flag>
requires std::same_as<Version, version_record> || std::same_as<Version, version_view>
[[nodiscard]] bool version_satisfies(const Version& version, const version_range& range,
                                     Flag include_prereleases) noexcept {
  return version_satisfies(version, range, include_prereleases ? 1 : 0) == 1;
}

namespace detail {
inline std::optional<version_view> version_in(std::string_view text) noexcept {
  return version_parse_view(text);
}
inline std::optional<version_view> version_in(const version_record& record) noexcept {
  return version_view_of(record);
}
inline std::optional<version_view> version_in(const version_view& view) noexcept { return view; }

// The first element whose version satisfies the range and ranks `wanted`
// (1 highest, -1 lowest) against every other that does.
template <typename Versions>
auto satisfying(Versions& versions, const version_range& range, bool include_prereleases,
                int wanted) noexcept -> decltype(std::begin(versions)) {
  static_assert(std::is_lvalue_reference_v<decltype(*std::begin(versions))>,
                "the versions must be held by the container, not made as it is read");
  auto found = std::end(versions);
  std::optional<version_view> best;
  for (auto at = std::begin(versions); at != std::end(versions); ++at) {
    const std::optional<version_view> v = version_in(*at);
    if (!v || version_satisfies(*v, range, include_prereleases ? 1 : 0) == 0) continue;
    if (best && version_compare(*v, *best) != wanted) continue;
    found = at;
    best = v;
  }
  return found;
}
}  // namespace detail

// The highest and the lowest version that satisfy the range, among a
// container or array of texts, records or views: an iterator to the first
// element holding it, or the end when none does. Texts that are not versions
// are passed over; pre-releases are held back unless let in.
template <typename Versions>
[[nodiscard]] auto version_max_satisfying(Versions& versions, const version_range& range,
                                          bool include_prereleases = false) noexcept
    -> decltype(std::begin(versions)) {
  return detail::satisfying(versions, range, include_prereleases, 1);
}
template <typename Versions>
[[nodiscard]] auto version_min_satisfying(Versions& versions, const version_range& range,
                                          bool include_prereleases = false) noexcept
    -> decltype(std::begin(versions)) {
  return detail::satisfying(versions, range, include_prereleases, -1);
}

}  // namespace quorbel

// Records and views hash by version_hash, which agrees with ==, so they serve
// as keys of unordered containers.
namespace std {
template <>
struct hash<quorbel::version_record> {
  size_t operator()(const quorbel::version_record& v) const noexcept {
    return quorbel::version_hash(v);
  }
};
template <>
struct hash<quorbel::version_view> {
  size_t operator()(const quorbel::version_view& v) const noexcept {
    return quorbel::version_hash(v);
  }
};

#if defined(__cpp_lib_format)
// std::format writes records and views as operator<< does, with the width,
// fill and alignment of a text ({:>12}). Like std::format itself, it throws
// std::bad_alloc when memory runs out.
template <typename Version>
requires same_as<Version, quorbel::version_record> || same_as<Version, quorbel::version_view>
struct formatter<Version> : formatter<string_view> {
  template <typename Context>
  auto format(const Version& version, Context& context) const {
    string text;
    if (quorbel::version_render(version, &text) != 0) throw bad_alloc();
    return formatter<string_view>::format(text, context);
  }
};
#endif
}  // namespace std

#endif  // C++20
