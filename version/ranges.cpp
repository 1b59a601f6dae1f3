// Range operators: whether a version satisfies an operator applied to
// another, or a parsed range.
#include "version/internal.h"

namespace quorbel {

namespace {

std::optional<std::string_view> prerelease_of(const version_record& v) noexcept {
  return text_of(v.prerelease);
}
std::optional<std::string_view> prerelease_of(const version_view& v) noexcept {
  if (!v.prerelease) return std::nullopt;
  return until_zero(*v.prerelease);
}

// version_compare of a record or a view against a bound.
template <typename Version>
int precedence(const Version& v, const version_record& bound) noexcept {
  if (int c = compare_int(v.major, bound.major)) return c;
  if (int c = compare_int(v.minor, bound.minor)) return c;
  if (int c = compare_int(v.patch, bound.patch)) return c;
  if (int c = compare_int(v.fourth, bound.fourth)) return c;
  return compare_prerelease(prerelease_of(v), prerelease_of(bound));
}

// A range built by hand, without an index: each alternative in turn.
template <typename Version>
int walk(const Version& v, const version_range& range, bool prereleases) noexcept {
  const std::array<std::int32_t, 4> exact{v.major, v.minor, v.patch, v.fourth};
  const std::array<std::int64_t, 4> numbers{v.major, v.minor, v.patch, v.fourth};
  // Held back unless pre-releases are let in or a comparator names this release.
  const bool held_back = v.prerelease.has_value() && !prereleases;
  for (const version_range_alternative& a : range.alternatives) {
    if (held_back) {
      bool named = false;
      for (const auto& written : a.prerelease_numbers) named = named || written == exact;
      if (!named) continue;
    }
    // Without pre-releases let in, >=1.2 starts at the release 1.2.0.
    if (a.from && (numbers < *a.from || (held_back && numbers == *a.from))) continue;
    if (a.below && !(numbers < *a.below)) continue;
    if (a.lower) {
      const int c = precedence(v, *a.lower);
      if (c < 0 || (c == 0 && !a.lower_inclusive)) continue;
    }
    if (a.upper) {
      const int c = precedence(v, *a.upper);
      if (c > 0 || (c == 0 && !a.upper_inclusive)) continue;
    }
    return 1;
  }
  return 0;
}

template <typename Version>
int satisfies(const Version& v, const version_range& range, bool prereleases) noexcept {
  if (!range.index) return walk(v, range, prereleases);
  return index_satisfies(*range.index, {v.major, v.minor, v.patch, v.fourth}, prerelease_of(v),
                         prereleases);
}

}  // namespace

int caret_match(const version_record& x, const version_record& y) noexcept {
  if (x.major != y.major) return 0;
  if (x.major != 0) {
    if (x.minor != y.minor) return x.minor > y.minor ? 1 : 0;
    return x.patch >= y.patch ? 1 : 0;
  }
  // Below 1.0.0 every minor may break, and below 0.1.0 every patch may.
  if (x.minor != 0) return x.minor == y.minor && x.patch >= y.patch ? 1 : 0;
  return y.minor == 0 && x.patch == y.patch ? 1 : 0;
}

int tilde_match(const version_record& x, const version_record& y) noexcept {
  return x.major == y.major && x.minor == y.minor ? 1 : 0;
}

int version_matches(const version_record& x, const version_record& y,
                    std::string_view op) noexcept {
  op = until_zero(op);
  if (op.empty()) return 0;
  const bool or_equal = op.size() > 1 && op[1] == '=';
  switch (op[0]) {
    case '^': return caret_match(x, y);
    case '~': return tilde_match(x, y);
    case '=': return version_eq(x, y);
    case '>': return or_equal ? version_ge(x, y) : version_gt(x, y);
    case '<': return or_equal ? version_le(x, y) : version_lt(x, y);
    default: return 0;  // "!=", "*" and the like are not operators here
  }
}

int version_satisfies(const version_record& version, const version_range& range,
                      int include_prereleases) noexcept {
  return satisfies(version, range, include_prereleases != 0);
}

int version_satisfies(const version_view& version, const version_range& range,
                      int include_prereleases) noexcept {
  return satisfies(version, range, include_prereleases != 0);
}

int version_satisfies(std::string_view version, std::string_view range,
                      bool include_prereleases) noexcept {
  version_view view;
  version_range parsed;
  if (version_parse_view(version, &view) != 0) return 0;
  if (version_range_parse(range, &parsed, nullptr) != 0) return 0;
  return satisfies(view, parsed, include_prereleases);
}

}  // namespace quorbel
