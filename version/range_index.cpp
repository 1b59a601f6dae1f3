// The index that matching searches: a range's alternatives merged, once, into
// sorted spans of versions that do not overlap, so that testing a version
// costs a binary search whatever the number of alternatives.
#include <algorithm>
#include <compare>
#include <limits>

#include "version/internal.h"

namespace quorbel {

namespace {

using numbers64 = std::array<std::int64_t, 4>;
using place = range_cut::place;

constexpr std::int64_t LOWEST = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t HIGHEST = std::numeric_limits<std::int64_t>::max();

int compare_numbers(const numbers64& a, const numbers64& b) noexcept {
  const auto c = a <=> b;  // one pass, for every cut a version is held against
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// Three-way order of cuts: by numbers, then group cuts first, then by the
// precedence of their versions, then before ahead of after.
int compare_cuts(const range_cut& a, const range_cut& b) noexcept {
  if (int c = compare_numbers(a.numbers, b.numbers)) return c;
  if (a.at == place::group || b.at == place::group) {
    return static_cast<int>(b.at == place::group) - static_cast<int>(a.at == place::group);
  }
  if (int c = compare_prerelease(text_of(a.prerelease), text_of(b.prerelease))) return c;
  return compare_int(static_cast<std::int32_t>(a.at), static_cast<std::int32_t>(b.at));
}

// Just before or just after a version bound of an alternative.
range_cut cut_at(const version_record& v, place at) {
  return {{v.major, v.minor, v.patch, v.fourth}, at, v.prerelease};
}

void raise(range_cut* cut, range_cut other) {
  if (compare_cuts(other, *cut) > 0) *cut = std::move(other);
}
void lower(range_cut* cut, range_cut other) {
  if (compare_cuts(other, *cut) < 0) *cut = std::move(other);
}

void add_span(std::vector<range_span>* spans, range_cut low, range_cut high) {
  if (compare_cuts(low, high) >= 0) return;
  // Alternatives written again and again (* || * || ...) take no more room.
  if (!spans->empty() && compare_cuts(spans->back().lower, low) == 0 &&
      compare_cuts(spans->back().upper, high) == 0) {
    return;
  }
  spans->push_back({std::move(low), std::move(high)});
}

// Sorts the spans and joins those that overlap or touch, so that only the
// last span starting below a version can hold it.
void merge(std::vector<range_span>* spans) {
  std::sort(spans->begin(), spans->end(), [](const range_span& a, const range_span& b) {
    return compare_cuts(a.lower, b.lower) < 0;
  });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < spans->size(); ++i) {
    range_span& span = (*spans)[i];
    if (kept > 0 && compare_cuts(span.lower, (*spans)[kept - 1].upper) <= 0) {
      raise(&(*spans)[kept - 1].upper, std::move(span.upper));
      continue;
    }
    if (i != kept) (*spans)[kept] = std::move(span);
    ++kept;
  }
  spans->resize(kept);  // shrinking: spans are default-constructible
  spans->shrink_to_fit();
}

// Whether the version lies above the cut; its pre-release is cut at its
// zero byte.
bool above(const numbers64& numbers, const std::optional<std::string_view>& prerelease,
           const range_cut& cut) noexcept {
  if (int c = compare_numbers(numbers, cut.numbers)) return c > 0;
  if (cut.at == place::group) return true;
  const int c = compare_prerelease(prerelease, text_of(cut.prerelease));
  return c > 0 || (c == 0 && cut.at == place::before);
}

}  // namespace

std::shared_ptr<const version_range_index> index_alternatives(
    const std::vector<version_range_alternative>& alternatives) {
  auto index = std::make_shared<version_range_index>();
  for (const version_range_alternative& a : alternatives) {
    // The alternative is one span: the highest of its lower bounds, the
    // lowest of its upper ones.
    range_cut low{{LOWEST, LOWEST, LOWEST, LOWEST}, place::group, {}};
    range_cut high{{HIGHEST, HIGHEST, HIGHEST, HIGHEST}, place::group, {}};
    if (a.lower) raise(&low, cut_at(*a.lower, a.lower_inclusive ? place::before : place::after));
    if (a.upper) lower(&high, cut_at(*a.upper, a.upper_inclusive ? place::after : place::before));
    if (a.below) lower(&high, {*a.below, place::group, {}});
    // Held back, the pre-releases of the numbers `from` stay out: the span
    // starts at that release.
    range_cut held_low = low;
    if (a.from) {
      raise(&low, {*a.from, place::group, {}});
      raise(&held_low, {*a.from, place::before, {}});
    }
    // A held-back pre-release passes only where a comparator names its numbers.
    for (const std::array<std::int32_t, 4>& named : a.prerelease_numbers) {
      const numbers64 numbers{named[0], named[1], named[2], named[3]};
      range_cut from = held_low;
      range_cut to = high;
      raise(&from, {numbers, place::group, {}});
      lower(&to, {numbers, place::before, {}});
      add_span(&index->held_back, std::move(from), std::move(to));
    }
    add_span(&index->spans, std::move(low), std::move(high));
  }
  merge(&index->spans);
  merge(&index->held_back);
  return index;
}

int index_satisfies(const version_range_index& index, const numbers64& numbers,
                    const std::optional<std::string_view>& prerelease, bool prereleases) noexcept {
  const std::vector<range_span>& spans = prerelease && !prereleases ? index.held_back : index.spans;
  const auto after = std::partition_point(spans.begin(), spans.end(), [&](const range_span& s) {
    return above(numbers, prerelease, s.lower);
  });
  return after != spans.begin() && !above(numbers, prerelease, std::prev(after)->upper) ? 1 : 0;
}

}  // namespace quorbel
