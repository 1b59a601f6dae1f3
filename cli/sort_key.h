// The compact sort key of one accepted line, and the sort of those keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "version/internal.h"

namespace quorbel {

// 24 bytes per accepted line. `high` and `low` hold the four core numbers,
// each biased so that unsigned order is signed order. While lines are read,
// `where` holds the line's offset in the text store (upper 40 bits), then the
// start of its pre-release within the line (12 bits) and its length (8 bits),
// or NO_PRERELEASE. The store keeps lines in input order, so the offset also
// breaks ties in input order.
struct sort_entry {
  std::uint64_t high;
  std::uint64_t low;
  std::uint64_t where;
};

inline constexpr std::uint64_t NO_PRERELEASE = 0xFFFFFF;
inline constexpr int WHERE_SHIFT = 24;
// Largest text store that the 40 bits of an offset can address.
inline constexpr std::uint64_t MAX_STORE_SIZE = std::uint64_t{1} << 40;
// Distinct pre-releases that can be ranked within the 24 bits left beside the
// offset; with more, pre-releases are compared as text during the sort.
inline constexpr std::size_t MAX_RANKED_PRERELEASES = NO_PRERELEASE - 1;

[[nodiscard]] inline std::uint64_t biased(std::int32_t value) noexcept {
  return static_cast<std::uint32_t>(value) ^ 0x80000000u;
}

// The key of a version parsed from `text`, which starts at `offset` of the
// store; the view's pre-release must lie inside `text`.
[[nodiscard]] inline sort_entry make_sort_entry(const version_view& version, std::string_view text,
                                                std::uint64_t offset) noexcept {
  std::uint64_t prerelease = NO_PRERELEASE;
  if (version.prerelease) {
    const auto start = static_cast<std::uint64_t>(version.prerelease->data() - text.data());
    prerelease = start << 8 | version.prerelease->size();
  }
  return {biased(version.major) << 32 | biased(version.minor),
          biased(version.patch) << 32 | biased(version.fourth), offset << WHERE_SHIFT | prerelease};
}

// Three-way precedence of two keys as made by make_sort_entry; `store` holds
// the texts they point into.
[[nodiscard]] int compare_entries(const sort_entry& a, const sort_entry& b,
                                  const char* store) noexcept;

// Sorts keys made by make_sort_entry by precedence, ascending or descending,
// equal versions in input order. Afterwards only entry_offset() of a key is
// meaningful. `max_ranked` is lowered by tests to reach the path taken when
// there are too many distinct pre-releases to rank.
void sort_by_version(sort_entry* first, sort_entry* last, const char* store, bool descending,
                     std::size_t max_ranked = MAX_RANKED_PRERELEASES) noexcept;

// Where a sorted key's text starts in the store.
[[nodiscard]] inline std::uint64_t entry_offset(const sort_entry& entry) noexcept {
  return entry.where >> WHERE_SHIFT;
}

}  // namespace quorbel
