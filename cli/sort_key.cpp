// Sorting the keys. Lines whose four numbers tie are ordered by their
// pre-releases; rather than comparing pre-release texts during the sort,
// which would read lines scattered over the whole store, every distinct
// pre-release is ranked once, and the rank joins the integer key.
#include "cli/sort_key.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <numeric>
#include <stdexcept>
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
  // Eight bytes at a time, each word folded in with a multiply and a shift.
  std::uint64_t hash = text.size() * 0x9E3779B97F4A7C15u;
  while (!text.empty()) {
    std::uint64_t word = 0;
    const std::size_t n = text.size() < 8 ? text.size() : 8;
    std::memcpy(&word, text.data(), n);
    text.remove_prefix(n);
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 32;
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

  // Ranks of the texts by precedence, equal precedence sharing a rank. Each
  // text's identifiers are read once, not again at every comparison.
  std::vector<std::uint32_t> ranks() const {
    constexpr std::size_t MOST_IDENTIFIERS = MAX_VERSION_LENGTH / 2 + 1;
    std::vector<prerelease_identifier> pieces;
    struct item {
      std::uint32_t first;  // in pieces
      std::uint32_t count;
      std::uint32_t id;
    };
    std::vector<item> order(places_.size());
    prerelease_identifier read[MOST_IDENTIFIERS];
    for (std::uint32_t id = 0; id < places_.size(); ++id) {
      const std::ptrdiff_t count = read_identifiers(text(id), read, MOST_IDENTIFIERS);
      if (count < 0) throw std::length_error("pre-release longer than a version");
      order[id] = {static_cast<std::uint32_t>(pieces.size()), static_cast<std::uint32_t>(count),
                   id};
      pieces.insert(pieces.end(), read, read + count);
    }
    const auto compare = [&pieces](const item& a, const item& b) {
      return compare_identifier_lists(pieces.data() + a.first, a.count, pieces.data() + b.first,
                                      b.count);
    };
    std::sort(order.begin(), order.end(),
              [&compare](const item& a, const item& b) { return compare(a, b) < 0; });
    std::vector<std::uint32_t> rank(places_.size());
    std::uint32_t current = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
      if (k > 0 && compare(order[k - 1], order[k]) != 0) ++current;
      rank[order[k].id] = current;
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
bool rank_prereleases(sort_entry* first, sort_entry* last, const char* store, bool descending,
                      std::size_t max_ranked) noexcept {
  try {
    prerelease_table table(max_ranked);
    const auto has_prerelease = [](const sort_entry& e) {
      return (e.where & NO_PRERELEASE) != NO_PRERELEASE;
    };
    // When there may be more distinct pre-releases than can be ranked, learn
    // them all first: nothing may change unless ranking succeeds, so that
    // the texts can still be compared otherwise.
    if (static_cast<std::size_t>(std::count_if(first, last, has_prerelease)) > max_ranked) {
      for (sort_entry* e = first; e != last; ++e) {
        if (has_prerelease(*e) && table.id_of(prerelease_of(*e, store)) == NO_ID) return false;
      }
    }
    // Ranking will succeed: each pre-release's place gives way to its id.
    for (sort_entry* e = first; e != last; ++e) {
      if (!has_prerelease(*e)) continue;
      e->where = (e->where & ~NO_PRERELEASE) | table.id_of(prerelease_of(*e, store));
    }
    const std::vector<std::uint32_t> rank = table.ranks();
    for (sort_entry* e = first; e != last; ++e) {
      // Releases rank above every pre-release.
      std::uint64_t r = has_prerelease(*e) ? rank[e->where & NO_PRERELEASE] : NO_PRERELEASE;
      if (descending) {
        e->high = ~e->high;
        e->low = ~e->low;
        r = NO_PRERELEASE - r;
      }
      e->where = r << RANK_SHIFT | (e->where >> WHERE_SHIFT);
    }
    return true;
  } catch (const std::exception&) {
    return false;  // out of memory, or a text no version can hold
  }
}

// Ranked keys are three unsigned words compared in turn: 24 bytes, most
// significant first.
bool key_less(const sort_entry& a, const sort_entry& b) noexcept {
  if (a.high != b.high) return a.high < b.high;
  if (a.low != b.low) return a.low < b.low;
  return a.where < b.where;
}

unsigned key_byte(const sort_entry& e, int index) noexcept {
  const std::uint64_t word = index < 8 ? e.high : index < 16 ? e.low : e.where;
  return static_cast<unsigned>(word >> (56 - 8 * (index & 7))) & 0xFFu;
}

// An in-place radix sort of ranked keys from byte `index` on, most
// significant byte first. Version numbers are mostly small, so many bytes are
// the same across a range: those cost one counting pass and move nothing.
// Short ranges are left to a comparison sort.
void sort_integer_keys(sort_entry* first, sort_entry* last, int index) noexcept {
  constexpr std::ptrdiff_t SHORT_RANGE = 64;
  constexpr int KEY_BYTES = 24;
  for (; index < KEY_BYTES; ++index) {
    if (last - first < SHORT_RANGE) break;
    std::size_t count[256] = {};
    for (const sort_entry* e = first; e != last; ++e) ++count[key_byte(*e, index)];
    const auto size = static_cast<std::size_t>(last - first);
    if (count[key_byte(*first, index)] == size) continue;  // one value: next byte
    std::size_t end[256];
    std::size_t next[256];
    std::size_t total = 0;
    for (unsigned b = 0; b < 256; ++b) {
      next[b] = total;
      total += count[b];
      end[b] = total;
    }
    // Move every key into its bucket by following cycles of displaced keys.
    for (unsigned b = 0; b < 256; ++b) {
      while (next[b] < end[b]) {
        sort_entry moving = first[next[b]];
        for (unsigned d = key_byte(moving, index); d != b; d = key_byte(moving, index)) {
          std::swap(moving, first[next[d]++]);
        }
        first[next[b]++] = moving;
      }
    }
    std::size_t begin = 0;
    for (unsigned b = 0; b < 256; ++b) {
      if (end[b] - begin > 1) sort_integer_keys(first + begin, first + end[b], index + 1);
      begin = end[b];
    }
    return;
  }
  std::sort(first, last, key_less);
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

void sort_by_version(sort_entry* first, sort_entry* last, const char* store, bool descending,
                     std::size_t max_ranked) noexcept {
  if (!rank_prereleases(first, last, store, descending, max_ranked)) {
    // Ranking is only a shortcut: without it the texts are compared directly.
    if (descending) {
      sort_by_text<true>(first, last, store);
    } else {
      sort_by_text<false>(first, last, store);
    }
    return;
  }
  sort_integer_keys(first, last, 0);
  for (sort_entry* e = first; e != last; ++e) {
    if (descending) {
      e->high = ~e->high;
      e->low = ~e->low;
    }
    e->where = (e->where & OFFSET_MASK) << WHERE_SHIFT | NO_PRERELEASE;
  }
}

}  // namespace quorbel
