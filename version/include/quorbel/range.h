// quorbel's version library: ranges as package manifests write them,
// parsed once and matched many times.
// Part of quorbel/version.h, which includes it: include that header, not
// this one.
#pragma once

#ifndef QUORBEL_VERSION_H
#error "include <quorbel/version.h>, which includes this header"
#else

namespace quorbel {

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

}  // namespace quorbel

#endif
