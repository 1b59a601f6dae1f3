// Sorting the keys. Lines whose four numbers tie are ordered by their
// pre-releases; rather than comparing pre-release texts during the sort,
// which would read lines scattered over the whole store, every distinct
// pre-release is ranked once, and the rank joins the integer key.
#include "cli/sort_key.h"

#include <algorithm>
#include <new>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace quorbel {

namespace {

constexpr int RANK_SHIFT = 40;
constexpr std::uint64_t OFFSET_MASK = (std::uint64_t{1} << RANK_SHIFT) - 1;
constexpr std::uint32_t NO_ID = UINT32_MAX;

std::string_view prerelease_of(const sort_entry& entry, const char* store) noexcept {
  const std::uint64_t place = entry.where & NO_PRERELEASE;
  return {store + (entry.where >> WHERE_SHIFT) + (place >> 8), place & 0xFF};
}

std::uint64_t hash_of(std::string_view text) noexcept {
  std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
  for (char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  }
  return hash;
}

// The distinct pre-release texts, each with a dense id in order of first sight.
class prerelease_table {
 public:
  explicit prerelease_table(std::size_t limit) : limit_(limit), slots_(1024, 0) {}

  [[nodiscard]] std::string_view text(std::uint32_t id) const noexcept {
    return std::string_view(bytes_).substr(places_[id].first, places_[id].second);
  }

  // The id of the text, or NO_ID when the table is full.
  std::uint32_t id_of(std::string_view text) {
    const std::uint64_t hash = hash_of(text);
    const auto tag = hash >> 32 << 32;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) break;
      const auto id = static_cast<std::uint32_t>(slot) - 1;
      if ((slot & ~std::uint64_t{0xFFFFFFFF}) == tag && this->text(id) == text) return id;
    }
    if (places_.size() >= limit_) return NO_ID;
    const auto id = static_cast<std::uint32_t>(places_.size());
    // A private copy keeps the texts together, where lookups find them in cache.
    places_.emplace_back(bytes_.size(), text.size());
    bytes_.append(text);
    if (places_.size() * 2 > slots_.size()) grow();
    insert(hash, id);
    return id;
  }

  // Ranks of the texts by precedence, equal precedence sharing a rank.
  std::vector<std::uint32_t> ranks() const {
    // Sorting the views themselves, not ids that lead to them, saves a
    // lookup per comparison.
    std::vector<std::pair<std::string_view, std::uint32_t>> order;
    order.reserve(places_.size());
    for (std::uint32_t id = 0; id < places_.size(); ++id) order.emplace_back(text(id), id);
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
      return compare_prerelease(a.first, b.first) < 0;
    });
    std::vector<std::uint32_t> rank(places_.size());
    std::uint32_t current = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
      if (k > 0 && compare_prerelease(order[k - 1].first, order[k].first) != 0) ++current;
      rank[order[k].second] = current;
    }
    return rank;
  }

 private:
  void insert(std::uint64_t hash, std::uint32_t id) noexcept {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = (hash >> 32 << 32) | (std::uint64_t{id} + 1);
  }

  void grow() {
    std::vector<std::uint64_t> old(slots_.size() * 2, 0);
    old.swap(slots_);
    for (std::uint32_t id = 0; id + 1 < places_.size(); ++id) insert(hash_of(text(id)), id);
  }

  std::size_t limit_;
  std::vector<std::uint64_t> slots_;
  std::string bytes_;
  std::vector<std::pair<std::size_t, std::size_t>> places_;  // in bytes_
};

// Rewrites the keys so that plain integer order of (high, low, where) is the
// wanted order: the rank of the pre-release (releases last) above the offset,
// and for a descending sort every version part inverted, the offset not.
// False when there are too many distinct pre-releases or memory runs out.
bool rank_prereleases(sort_entry* first, sort_entry* last, const char* store,
                      bool descending, std::size_t max_ranked) noexcept {
  try {
    prerelease_table table(max_ranked);
    // First learn every distinct pre-release; only when they all fit does
    // anything change, so the texts can still be compared otherwise.
    for (sort_entry* e = first; e != last; ++e) {
      if ((e->where & NO_PRERELEASE) == NO_PRERELEASE) continue;
      if (table.id_of(prerelease_of(*e, store)) == NO_ID) return false;
    }
    const std::vector<std::uint32_t> rank = table.ranks();
    for (sort_entry* e = first; e != last; ++e) {
      std::uint64_t r = NO_PRERELEASE;  // releases rank above every pre-release
      if ((e->where & NO_PRERELEASE) != NO_PRERELEASE) {
        r = rank[table.id_of(prerelease_of(*e, store))];
      }
      if (descending) {
        e->high = ~e->high;
        e->low = ~e->low;
        r = NO_PRERELEASE - r;
      }
      e->where = r << RANK_SHIFT | (e->where >> WHERE_SHIFT);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

template <bool Descending>
void sort_by_text(sort_entry* first, sort_entry* last, const char* store) noexcept {
  std::sort(first, last, [store](const sort_entry& a, const sort_entry& b) {
    const int c = compare_entries(a, b, store);
    if (c != 0) return Descending ? c > 0 : c < 0;
    return a.where < b.where;  // equal versions keep their input order
  });
}

}  // namespace

int compare_entries(const sort_entry& a, const sort_entry& b, const char* store) noexcept {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  const std::uint64_t pa = a.where & NO_PRERELEASE;
  const std::uint64_t pb = b.where & NO_PRERELEASE;
  if (pa == NO_PRERELEASE || pb == NO_PRERELEASE) {
    return (pa > pb) - (pa < pb);  // a pre-release ranks below its release
  }
  return compare_prerelease(prerelease_of(a, store), prerelease_of(b, store));
}

void sort_by_version(sort_entry* first, sort_entry* last, const char* store,
                     bool descending, std::size_t max_ranked) noexcept {
  if (!rank_prereleases(first, last, store, descending, max_ranked)) {
    // Ranking is only a shortcut: without it the texts are compared directly.
    if (descending) {
      sort_by_text<true>(first, last, store);
    } else {
      sort_by_text<false>(first, last, store);
    }
    return;
  }
  std::sort(first, last, [](const sort_entry& a, const sort_entry& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return a.where < b.where;
  });
  for (sort_entry* e = first; e != last; ++e) {
    if (descending) {
      e->high = ~e->high;
      e->low = ~e->low;
    }
    e->where = (e->where & OFFSET_MASK) << WHERE_SHIFT | NO_PRERELEASE;
  }
}

}  // namespace quorbel
