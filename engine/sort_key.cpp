// Sorting the keys. Lines whose four numbers tie are ordered by their
// pre-releases; rather than comparing pre-release texts during the sort,
// which would read lines scattered over the whole store, every distinct
// pre-release is ranked once, and the rank joins the integer key.
#include "engine/sort_key.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/side_by_side.h"

namespace quorbel {

namespace {

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

// Appends bit fields to a key of `Words` 64-bit words, most significant
// first; what does not fit is cut off.
template <unsigned Words>
class bit_writer {
 public:
  static constexpr unsigned CAPACITY = 64 * Words;

  // Appends the low `count` bits of `bits` (at most 64; the rest are 0).
  void put(std::uint64_t bits, unsigned count) noexcept {
    if (count == 0 || used_ >= CAPACITY) return;
    if (count > CAPACITY - used_) {
      bits >>= count - (CAPACITY - used_);
      count = CAPACITY - used_;
    }
    const unsigned word = used_ / 64;
    const unsigned at = used_ % 64;
    words_[word] |= bits << (64 - count) >> at;
    if (at + count > 64) words_[word + 1] |= bits << (128 - count - at);
    used_ += count;
  }
  [[nodiscard]] std::uint64_t word(unsigned index) const noexcept { return words_[index]; }

 private:
  std::uint64_t words_[Words] = {};
  unsigned used_ = 0;
};

// The leading 128 bits of a code of the identifiers whose integer order is
// their precedence: a 2-bit tag per identifier (01 a number, 10 a word, 00
// the end), then a number as a sign bit, a 4-bit count of bytes and the
// bytes, a word as its bytes and a zero byte. A negative number, or one
// beyond 64 bits, ends the code early: texts that tie on the prefix are
// compared in full.
bit_writer<2> order_prefix(const prerelease_identifier* identifiers, std::size_t count) noexcept {
  constexpr unsigned TAG_BITS = 2;
  constexpr std::uint64_t END = 0, NUMBER = 1, WORD = 2;
  constexpr std::size_t LONGEST_EXACT = 19;  // digits that always fit 64 bits
  bit_writer<2> code;
  for (std::size_t i = 0; i < count; ++i) {
    const prerelease_identifier& id = identifiers[i];
    if (!id.numeric) {
      code.put(WORD, TAG_BITS);
      for (const char c : id.text) code.put(static_cast<unsigned char>(c), 8);
      code.put(0, 8);
      continue;
    }
    code.put(NUMBER, TAG_BITS);
    code.put(id.negative ? 0 : 1, 1);
    if (id.negative) return code;
    if (id.text.size() > LONGEST_EXACT) {
      code.put(9, 4);  // more bytes than any number below
      return code;
    }
    std::uint64_t value = 0;
    for (const char c : id.text) value = value * 10 + static_cast<unsigned>(c - '0');
    const unsigned bytes = (static_cast<unsigned>(std::bit_width(value)) + 7) / 8;
    code.put(bytes, 4);
    if (bytes > 0) code.put(value, 8 * bytes);
  }
  code.put(END, TAG_BITS);
  return code;
}

// The distinct pre-release texts, each with a dense id in order of first sight.
class prerelease_table {
 public:
  explicit prerelease_table(std::size_t limit) : limit_(limit), slots_(1024, 0) {}

  [[nodiscard]] std::string_view text(std::uint32_t id) const noexcept {
    return std::string_view(bytes_).substr(places_[id] >> 8, places_[id] & 0xFF);
  }

  // The id of the text, or NO_ID when it has not been learnt.
  [[nodiscard]] std::uint32_t find(std::string_view text) const noexcept {
    return find(text, hash_of(text));
  }

  // Gives the text an id unless it has one; false when the table is full.
  bool learn(std::string_view text) {
    const std::uint64_t hash = hash_of(text);
    if (find(text, hash) != NO_ID) return true;
    if (places_.size() >= limit_) return false;
    const auto id = static_cast<std::uint32_t>(places_.size());
    // A private copy keeps the texts together, where lookups find them in cache.
    places_.push_back(std::uint64_t{bytes_.size()} << 8 | text.size());
    bytes_.append(text);
    if (places_.size() * 2 > slots_.size()) grow();
    insert(hash, id);
    return true;
  }

  // Ranks of the texts by precedence, equal precedence sharing a rank. Each
  // text's identifiers are read once, and most comparisons are decided by
  // an integer that follows the order, made from the leading identifiers.
  std::vector<std::uint32_t> ranks(std::uint32_t* rank_count) const {
    // Every byte may be a '.', between empty identifiers.
    constexpr std::size_t MOST_IDENTIFIERS = MAX_VERSION_LENGTH + 1;
    std::vector<prerelease_identifier> pieces;
    struct item {
      std::uint64_t high;  // the leading bits of the order
      std::uint64_t low;
      std::uint32_t first;  // in pieces
      std::uint32_t count;
      std::uint32_t id;
    };
    std::vector<item> order(places_.size());
    prerelease_identifier read[MOST_IDENTIFIERS];
    for (std::uint32_t id = 0; id < places_.size(); ++id) {
      const std::ptrdiff_t count = read_identifiers(text(id), read, MOST_IDENTIFIERS);
      if (count < 0) throw std::length_error("pre-release longer than a version");
      const bit_writer<2> leading = order_prefix(read, static_cast<std::size_t>(count));
      order[id] = {leading.word(0), leading.word(1), static_cast<std::uint32_t>(pieces.size()),
                   static_cast<std::uint32_t>(count), id};
      pieces.insert(pieces.end(), read, read + count);
    }
    const auto compare = [&pieces](const item& a, const item& b) {
      if (a.high != b.high) return a.high < b.high ? -1 : 1;
      if (a.low != b.low) return a.low < b.low ? -1 : 1;
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
    *rank_count = order.empty() ? 0 : current + 1;
    return rank;
  }

 private:
  [[nodiscard]] std::uint32_t find(std::string_view text, std::uint64_t hash) const noexcept {
    const auto tag = hash >> 32 << 32;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) return NO_ID;
      const auto id = static_cast<std::uint32_t>(slot) - 1;
      if ((slot & ~std::uint64_t{0xFFFFFFFF}) == tag && this->text(id) == text) return id;
    }
  }

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
  // By id: where the text starts in bytes_, shifted 8, and its length (a
  // pre-release is shorter than a version, at most 255 bytes).
  std::vector<std::uint64_t> places_;
};

// A ranked key is a 192-bit integer held in (high, low, where), most
// significant word first: the four numbers from the top, and at the bottom
// the rank of the pre-release and the offset of the line, each in as few bits
// as this input needs, with zero bits between. Plain integer order of ranked
// keys is the order of the output, and the fewer bits in which they differ,
// the fewer passes the radix sort makes.
constexpr unsigned KEY_BITS = 192;

// Version numbers are mostly small, yet each takes 32 bits of a plain key.
// Packed, a number is a 3-bit class and only its significant bytes: class 0
// holds a negative number whole, class 1 + n a non-negative one of n bytes
// (zero has none). A number with more bytes is the larger, so the codes keep
// the order, and as none is the start of another, keys of packed numbers
// compare as integers.
constexpr unsigned CLASS_BITS = 3;

// The code of a biased number and its length in bits.
struct number_code {
  std::uint64_t bits;
  unsigned length;
};

number_code packed_code(std::uint32_t biased_number) noexcept {
  if ((biased_number & 0x80000000u) == 0) return {biased_number, CLASS_BITS + 32};
  const std::uint32_t value = biased_number ^ 0x80000000u;
  const unsigned bytes = (static_cast<unsigned>(std::bit_width(value)) + 7) / 8;
  return {std::uint64_t{1 + bytes} << (8 * bytes) | value, CLASS_BITS + 8 * bytes};
}

// The key's four biased numbers, most significant first.
std::array<std::uint32_t, 4> numbers_of(const sort_entry& entry) noexcept {
  return {static_cast<std::uint32_t>(entry.high >> 32), static_cast<std::uint32_t>(entry.high),
          static_cast<std::uint32_t>(entry.low >> 32), static_cast<std::uint32_t>(entry.low)};
}

unsigned packed_length(const sort_entry& entry) noexcept {
  unsigned total = 0;
  for (const std::uint32_t number : numbers_of(entry)) total += packed_code(number).length;
  return total;
}

// What the keys of one sort are rewritten from: every distinct pre-release
// and its rank, and how many bits each part of the key takes.
struct ranking {
  explicit ranking(std::size_t max_ranked) : table(max_ranked) {}

  prerelease_table table;
  std::vector<std::uint32_t> rank;  // by pre-release id
  std::uint32_t release_rank = 0;   // above every pre-release
  bool packed = false;              // numbers packed, else 32 bits each
  unsigned rank_bits = 0;
  unsigned offset_bits = 0;
};

bool has_prerelease(const sort_entry& e) noexcept {
  return (e.where & NO_PRERELEASE) != NO_PRERELEASE;
}

// Learns and ranks the distinct pre-releases of the keys and chooses the
// layout of the ranked keys, changing no key. Absent when there are too many
// distinct pre-releases or memory runs out.
std::optional<ranking> rank_prereleases(const sort_entry* first, const sort_entry* last,
                                        const char* store, const sort_limits& limits) noexcept {
  try {
    // A rank and a 40-bit offset share the last word of an unpacked key.
    std::optional<ranking> result(std::in_place,
                                  std::min(limits.max_ranked, MAX_RANKED_PRERELEASES));
    unsigned widest = 0;
    std::uint64_t last_offset = 0;
    for (const sort_entry* e = first; e != last; ++e) {
      widest = std::max(widest, packed_length(*e));
      last_offset = std::max(last_offset, e->where >> WHERE_SHIFT);
      if (has_prerelease(*e) && !result->table.learn(prerelease_of(*e, store))) {
        return std::nullopt;
      }
    }
    result->rank = result->table.ranks(&result->release_rank);
    result->rank_bits = static_cast<unsigned>(std::bit_width(result->release_rank));
    result->offset_bits = static_cast<unsigned>(std::bit_width(last_offset));
    result->packed =
        widest + result->rank_bits + result->offset_bits <= std::min(limits.packed_bits, KEY_BITS);
    return result;
  } catch (const std::exception&) {
    return std::nullopt;  // out of memory
  }
}

// Rewrites keys into ranked keys, whose plain integer order is the wanted
// order: the numbers from the top, and at the bottom the rank of the
// pre-release (releases last) above the offset. For a descending sort every
// bit above the offset is inverted. Every pre-release has been ranked.
void rank_keys(sort_entry* first, sort_entry* last, const char* store, const ranking& ranks,
               bool descending) noexcept {
  const std::uint64_t offset_mask = (std::uint64_t{1} << ranks.offset_bits) - 1;
  for (sort_entry* e = first; e != last; ++e) {
    bit_writer<3> key;
    for (const std::uint32_t number : numbers_of(*e)) {
      if (ranks.packed) {
        const number_code code = packed_code(number);
        key.put(code.bits, code.length);
      } else {
        key.put(number, 32);
      }
    }
    const std::uint64_t rank = has_prerelease(*e)
                                   ? ranks.rank[ranks.table.find(prerelease_of(*e, store))]
                                   : ranks.release_rank;
    sort_entry ranked{key.word(0), key.word(1),
                      key.word(2) | rank << ranks.offset_bits | e->where >> WHERE_SHIFT};
    if (descending) ranked = {~ranked.high, ~ranked.low, ranked.where ^ ~offset_mask};
    *e = ranked;
  }
}

constexpr unsigned DIGIT_BITS = 8;

// The DIGIT_BITS bits of a ranked key from bit `at` on.
unsigned key_digit(const sort_entry& e, unsigned at) noexcept {
  const unsigned word = at / 64;
  const unsigned shift = at % 64;
  const std::uint64_t first = word == 0 ? e.high : word == 1 ? e.low : e.where;
  std::uint64_t bits = first << shift;
  if (shift > 64 - DIGIT_BITS && word < 2) bits |= (word == 0 ? e.low : e.where) >> (64 - shift);
  return static_cast<unsigned>(bits >> (64 - DIGIT_BITS));
}

// An in-place radix sort of ranked keys, most significant digit first. Each
// range is split on the first bits in which its keys differ, found in one
// pass, so bits that the keys share cost no pass of their own. Short ranges
// are left to a comparison sort.
void sort_integer_keys(sort_entry* first, sort_entry* last) noexcept {
  constexpr std::ptrdiff_t SHORT_RANGE = 64;
  constexpr unsigned BUCKETS = 1u << DIGIT_BITS;
  if (last - first < SHORT_RANGE) {
    std::sort(first, last, sorted_before);
    return;
  }
  std::uint64_t differ[3] = {0, 0, 0};
  for (const sort_entry* e = first; e != last; ++e) {
    differ[0] |= e->high ^ first->high;
    differ[1] |= e->low ^ first->low;
    differ[2] |= e->where ^ first->where;
  }
  unsigned word = 0;
  while (word < 3 && differ[word] == 0) ++word;
  if (word == 3) return;  // all the same key
  const unsigned at = 64 * word + static_cast<unsigned>(std::countl_zero(differ[word]));
  std::size_t count[BUCKETS] = {};
  for (const sort_entry* e = first; e != last; ++e) ++count[key_digit(*e, at)];
  std::size_t end[BUCKETS];
  std::size_t next[BUCKETS];
  std::size_t total = 0;
  for (unsigned b = 0; b < BUCKETS; ++b) {
    next[b] = total;
    total += count[b];
    end[b] = total;
  }
  // Move every key into its bucket by following cycles of displaced keys.
  for (unsigned b = 0; b < BUCKETS; ++b) {
    while (next[b] < end[b]) {
      sort_entry moving = first[next[b]];
      for (unsigned d = key_digit(moving, at); d != b; d = key_digit(moving, at)) {
        std::swap(moving, first[next[d]++]);
      }
      first[next[b]++] = moving;
    }
  }
  std::size_t begin = 0;
  for (unsigned b = 0; b < BUCKETS; ++b) {
    if (end[b] - begin > 1) sort_integer_keys(first + begin, first + end[b]);
    begin = end[b];
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

sorted_keys sort_by_version(sort_entry* first, sort_entry* last, const char* store, bool descending,
                            sort_limits limits) noexcept {
  const std::optional<ranking> ranks = rank_prereleases(first, last, store, limits);
  if (!ranks) {
    // Ranking is only a shortcut: without it the texts are compared directly.
    if (descending) {
      sort_by_text<true>(first, last, store);
    } else {
      sort_by_text<false>(first, last, store);
    }
    for (sort_entry* e = first; e != last; ++e) e->where >>= WHERE_SHIFT;
    return {first, last, last, offset_field{64 - WHERE_SHIFT}};
  }
  const auto sort_run = [&ranks, store, descending](sort_entry* from, sort_entry* to) {
    rank_keys(from, to, store, *ranks, descending);
    sort_integer_keys(from, to);
  };
  sort_entry* const middle = first + (last - first) / 2;
  if (static_cast<std::size_t>(last - first) >= limits.split_from &&
      side_by_side([&] { sort_run(first, middle); }, [&] { sort_run(middle, last); })) {
    return {first, middle, last, offset_field{ranks->offset_bits}};
  }
  sort_run(first, last);  // one run
  return {first, last, last, offset_field{ranks->offset_bits}};
}

}  // namespace quorbel
