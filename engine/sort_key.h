// The compact sort key of one accepted line, and the sort of those keys.
#pragma once

#include <array>
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

// Limits of the sort, lowered by tests to reach the paths that large inputs
// take.
struct sort_limits {
  // Distinct pre-releases that are ranked; with more, texts are compared.
  std::size_t max_ranked = MAX_RANKED_PRERELEASES;
  // From this many keys on, the two halves are sorted side by side, each by
  // a thread of its own, and merged on the way out.
  std::size_t split_from = std::size_t{1} << 16;
  // Bits that keys with packed numbers may take; else numbers take 32 each.
  unsigned packed_bits = 192;
};

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

[[nodiscard]] inline bool sorted_before(const sort_entry& a, const sort_entry& b) noexcept {
  if (a.high != b.high) return a.high < b.high;
  if (a.low != b.low) return a.low < b.low;
  return a.where < b.where;
}

// Sorted keys are 192-bit integers, most significant word first, whose order
// is the output's; the offset of the line is their lowest `bits` bits.
struct offset_field {
  unsigned bits = 0;

  [[nodiscard]] std::uint64_t of(const sort_entry& entry) const noexcept {
    return entry.where & ((std::uint64_t{1} << bits) - 1);
  }
};

// Keys in sorted order: one sorted run, or two that are merged as they are
// read. The keys hold distinct offsets, so no two are equal.
class sorted_keys {
 public:
  sorted_keys(const sort_entry* first, const sort_entry* middle, const sort_entry* last,
              offset_field field) noexcept
      : sorted_keys(first, middle, middle, last, field) {}

  [[nodiscard]] bool empty() const noexcept { return a_ == a_end_ && b_ == b_end_; }

  [[nodiscard]] std::size_t size() const noexcept {
    return static_cast<std::size_t>((a_end_ - a_) + (b_end_ - b_));
  }

  // The offset of the next key in order, which is then passed.
  std::uint64_t next() noexcept {
    if (b_ == b_end_ || (a_ != a_end_ && sorted_before(*a_, *b_))) return field_.of(*a_++);
    return field_.of(*b_++);
  }

  // The offsets of the keys `distance` places ahead in each run, one of
  // which comes soon (0 past the end of a run): for prefetching.
  [[nodiscard]] std::array<std::uint64_t, 2> ahead(std::size_t distance) const noexcept {
    return {static_cast<std::size_t>(a_end_ - a_) > distance ? field_.of(a_[distance]) : 0,
            static_cast<std::size_t>(b_end_ - b_) > distance ? field_.of(b_[distance]) : 0};
  }

  // The keys from place `from` up to place `to` in order (to <= size()).
  [[nodiscard]] sorted_keys slice(std::size_t from, std::size_t to) const noexcept {
    const std::size_t a_from = taken_from_first(from);
    const std::size_t a_to = taken_from_first(to);
    return {a_ + a_from, a_ + a_to, b_ + (from - a_from), b_ + (to - a_to), field_};
  }

 private:
  sorted_keys(const sort_entry* a, const sort_entry* a_end, const sort_entry* b,
              const sort_entry* b_end, offset_field field) noexcept
      : a_(a), a_end_(a_end), b_(b), b_end_(b_end), field_(field) {}

  // How many of the first `count` keys in order come from the first run.
  [[nodiscard]] std::size_t taken_from_first(std::size_t count) const noexcept {
    const auto a_size = static_cast<std::size_t>(a_end_ - a_);
    const auto b_size = static_cast<std::size_t>(b_end_ - b_);
    std::size_t low = count > b_size ? count - b_size : 0;
    std::size_t high = count < a_size ? count : a_size;
    // Taking i from the first run is too few while its next key comes
    // before the last one taken from the second.
    while (low < high) {
      const std::size_t i = low + (high - low) / 2;
      if (sorted_before(a_[i], b_[count - i - 1])) {
        low = i + 1;
      } else {
        high = i;
      }
    }
    return low;
  }

  const sort_entry* a_;
  const sort_entry* a_end_;
  const sort_entry* b_;
  const sort_entry* b_end_;
  offset_field field_;
};

// Sorts keys made by make_sort_entry by precedence, ascending or descending,
// equal versions in input order, and rewrites them to be read in that order
// through the result.
[[nodiscard]] sorted_keys sort_by_version(sort_entry* first, sort_entry* last, const char* store,
                                          bool descending, sort_limits limits = {}) noexcept;

}  // namespace quorbel
