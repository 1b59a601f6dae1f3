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
#define QUORBEL_VERSION_H

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

}  // namespace quorbel

// Ranges, and the C++ conveniences over everything before them, each in a
// header of its own.
#include "quorbel/range.h"
// (after the ranges, which its searches take)
#include "quorbel/conveniences.h"

#endif  // C++20
