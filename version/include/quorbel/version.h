// quorbel's version library: parse, order, test, render, clean and bump
// semantic versions, widened to four numeric components.
//
// Results follow one convention throughout: three-way comparisons return
// exactly -1, 0 or 1; tests return 1 for true and 0 for false; operations
// that can fail return -1 on failure. Nothing here throws, and every text
// ends at its first zero byte, whatever the length of the view passed in.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

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

// --- Ranges ------------------------------------------------------------------

// 1 when x satisfies the operator op applied to the reference y, else 0.
// Only op's first byte counts, and its second after '<' or '>': "^" same major
// and at least y (0.y.z and 0.0.z pin their minor and patch), "~" same major
// and minor, "=", "<", "<=", ">", ">=" by version_compare. "^" and "~" ignore
// the pre-release and fourth. An unknown or empty operator gives 0, just like
// a version that does not match.
[[nodiscard]] QUORBEL_EXPORT int version_matches(const version_record& x, const version_record& y,
                                                 std::string_view op) noexcept;

// --- Rendering and value -----------------------------------------------------

// Appends major.minor.patch, then -prerelease and +build where present, to
// *destination. fourth and raw are never rendered: 1.2.3.4-rc+b renders as
// 1.2.3-rc+b. Texts of any length render whole. Returns 0, or -1 when memory
// runs out (the destination then holds what it held before).
QUORBEL_EXPORT int version_render(const version_record& record, std::string* destination) noexcept;

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

// --- C++ operators -----------------------------------------------------------

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

}  // namespace quorbel
