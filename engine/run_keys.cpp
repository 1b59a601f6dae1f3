// The radix sort of a run's keys, and the order of codes longer than a key.
#include "engine/run_keys.h"

#include <algorithm>
#include <bit>

namespace quorbel {

namespace {

bool key_before(const run_key& a, const run_key& b) noexcept {
  if (a.high != b.high) return a.high < b.high;
  if (a.middle != b.middle) return a.middle < b.middle;
  return a.low < b.low;
}

constexpr unsigned DIGIT_BITS = 8;

// The DIGIT_BITS bits of a key from bit `at` on, counted from the top.
unsigned key_digit(const run_key& key, unsigned at) noexcept {
  const unsigned word = at / 64;
  const unsigned shift = at % 64;
  const std::uint64_t first = word == 0 ? key.high : word == 1 ? key.middle : key.low;
  std::uint64_t bits = first << shift;
  if (shift > 64 - DIGIT_BITS && word < 2) {
    bits |= (word == 0 ? key.middle : key.low) >> (64 - shift);
  }
  return static_cast<unsigned>(bits >> (64 - DIGIT_BITS));
}

// An in-place radix sort of keys as integers, most significant digit first.
// Each range is split on the first bits in which its keys differ, found in
// one pass, so bits that the keys share cost no pass of their own. Short
// ranges are left to a comparison sort.
void sort_integer_keys(run_key* first, run_key* last) noexcept {
  constexpr std::ptrdiff_t SHORT_RANGE = 64;
  constexpr unsigned BUCKETS = 1u << DIGIT_BITS;
  if (last - first < SHORT_RANGE) {
    std::sort(first, last, key_before);
    return;
  }
  std::uint64_t differ[3] = {0, 0, 0};
  for (const run_key* k = first; k != last; ++k) {
    differ[0] |= k->high ^ first->high;
    differ[1] |= k->middle ^ first->middle;
    differ[2] |= k->low ^ first->low;
  }
  unsigned word = 0;
  while (word < 3 && differ[word] == 0) ++word;
  if (word == 3) return;  // all the same key
  const unsigned at = 64 * word + static_cast<unsigned>(std::countl_zero(differ[word]));
  std::size_t count[BUCKETS] = {};
  for (const run_key* k = first; k != last; ++k) ++count[key_digit(*k, at)];
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
      run_key moving = first[next[b]];
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

// Puts keys that tie on the part of the code they hold, and whose codes go
// on, in order by the rest of their codes; ties stay in input order.
void order_by_whole_codes(run_key* first, run_key* last, const char* store) noexcept {
  std::sort(first, last, [store](const run_key& a, const run_key& b) {
    const line_view x = read_pending(store + place_of(a));
    const line_view y = read_pending(store + place_of(b));
    const int c = compare_order_codes(x.code + KEY_CODE_BYTES, x.code_length - KEY_CODE_BYTES,
                                      y.code + KEY_CODE_BYTES, y.code_length - KEY_CODE_BYTES);
    if (c != 0) return c < 0;
    return place_of(a) < place_of(b);
  });
}

}  // namespace

void sort_run_keys(run_key* first, run_key* last, const char* store, bool rises,
                   bool falls) noexcept {
  // Input that comes sorted, or one version over and over, needs no sort;
  // input sorted the other way is turned round, and so is each group of
  // equal versions in it, which then stand in input order again.
  if (!falls) {
    // already in order
  } else if (!rises) {
    std::reverse(first, last);
    for (run_key* group = first; group != last;) {
      run_key* end = group + 1;
      while (end != last && same_code_part(*group, *end)) ++end;
      std::reverse(group, end);
      group = end;
    }
  } else {
    sort_integer_keys(first, last);
  }
  for (run_key* group = first; group != last;) {
    run_key* end = group + 1;
    if ((group->low & CODE_GOES_ON) != 0) {
      while (end != last && same_code_part(*group, *end)) ++end;
      if (end - group > 1) order_by_whole_codes(group, end, store);
    }
    group = end;
  }
}

}  // namespace quorbel
