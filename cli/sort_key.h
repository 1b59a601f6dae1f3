// The compact sort key of one accepted line. Most comparisons are settled by
// two integer compares; only lines whose four numbers tie look at their
// pre-release texts, through the library's own pre-release comparison.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "version/internal.h"

namespace quorbel {

struct sort_entry {
  std::uint64_t high;  // major and minor, each biased so that unsigned order is signed order
  std::uint64_t low;   // patch and fourth, likewise
  // Where the line's text starts in the text store (upper 40 bits), then where
  // its pre-release starts in the text (12 bits) and its length (8 bits), or
  // NO_PRERELEASE. The store keeps lines in input order, so this also breaks
  // ties in input order.
  std::uint64_t where;
};

inline constexpr std::uint64_t NO_PRERELEASE = 0xFFFFFF;
inline constexpr int WHERE_SHIFT = 24;
// Largest text store that the 40 bits of `where` can address.
inline constexpr std::uint64_t MAX_STORE_SIZE = std::uint64_t{1} << 40;

[[nodiscard]] inline std::uint64_t biased(std::int32_t value) noexcept {
  return static_cast<std::uint32_t>(value) ^ 0x80000000u;
}

// The key of a version parsed from `text`, which starts at `offset` of the
// store; the view's pre-release must lie inside `text`.
[[nodiscard]] inline sort_entry make_sort_entry(const version_view& version,
                                                std::string_view text,
                                                std::uint64_t offset) noexcept {
  std::uint64_t prerelease = NO_PRERELEASE;
  if (version.prerelease) {
    const auto start = static_cast<std::uint64_t>(version.prerelease->data() - text.data());
    prerelease = start << 8 | version.prerelease->size();
  }
  return {biased(version.major) << 32 | biased(version.minor),
          biased(version.patch) << 32 | biased(version.fourth),
          offset << WHERE_SHIFT | prerelease};
}

// Three-way precedence of two keys; `store` holds the texts they point into.
[[nodiscard]] inline int compare_entries(const sort_entry& a, const sort_entry& b,
                                         const char* store) noexcept {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  const std::uint64_t pa = a.where & NO_PRERELEASE;
  const std::uint64_t pb = b.where & NO_PRERELEASE;
  if (pa == NO_PRERELEASE || pb == NO_PRERELEASE) {
    // A pre-release ranks below its release.
    return (pa > pb) - (pa < pb);
  }
  auto text = [store](const sort_entry& e, std::uint64_t p) {
    return std::string_view(store + (e.where >> WHERE_SHIFT) + (p >> 8), p & 0xFF);
  };
  return compare_prerelease(text(a, pa), text(b, pb));
}

}  // namespace quorbel
