// Runs: the keys a run is sorted by, their radix sort, and the records the
// sorted lines become.
#include "engine/run.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quorbel {

namespace {

// A line's key while its run is sorted is a 192-bit integer, most
// significant word first, holding the first KEY_CODE_BYTES of the order code
// (zero-padded), a bit that says the code goes on beyond them, and where the
// record starts in the run's store. The store keeps records in input order,
// so plain integer order of keys is the order of the lines with ties in
// input order, except among keys whose codes go on and agree on the part
// held here: those are put in order by their whole codes after the sort.
constexpr std::size_t KEY_CODE_BYTES = 20;
constexpr unsigned PLACE_BITS = 31;
constexpr std::uint64_t PLACE_MASK = (std::uint64_t{1} << PLACE_BITS) - 1;
constexpr std::uint64_t CODE_GOES_ON = std::uint64_t{1} << PLACE_BITS;
// The largest store a run may have: every record starts at a place that its
// PLACE_BITS can hold. A line's record is its text, a header and a code of
// its version, at most a few times the line's own bytes, newline included.
constexpr std::size_t MAX_RUN_STORE = std::size_t{1} << PLACE_BITS;
static_assert(MAX_RUN_INPUT * 32 <= MAX_RUN_STORE);
static_assert(KEY_CODE_BYTES == 8 + 8 + 4, "the code fills high, middle and half of low");

// The bytes of a code that its key reads, zero past the code's end, as
// encode_line_code and run_builder::add_code leave them.
constexpr std::size_t KEY_READS = 24;
static_assert(KEY_READS >= KEY_CODE_BYTES && KEY_READS <= LINE_CODE_ROOM);

// The key of a line whose code lies at `code`, which has KEY_READS bytes to
// read.
[[nodiscard]] run_key make_run_key(const std::uint8_t* code, std::size_t length,
                                   std::size_t place) noexcept {
  const std::uint64_t goes_on = length > KEY_CODE_BYTES ? CODE_GOES_ON : 0;
  return {big_endian_word(code, 8), big_endian_word(code + 8, 8),
          (big_endian_word(code + 16, 8) & ~std::uint64_t{0xFFFFFFFF}) | goes_on | place};
}

[[nodiscard]] std::size_t place_of(const run_key& key) noexcept {
  return static_cast<std::size_t>(key.low & PLACE_MASK);
}

// True when two keys hold the same code bytes and the same "goes on" bit:
// the same version, unless the codes go on.
[[nodiscard]] bool same_code_part(const run_key& a, const run_key& b) noexcept {
  return a.high == b.high && a.middle == b.middle && (a.low ^ b.low) <= PLACE_MASK;
}

// True when two keys next to each other in sorted order are of one code.
[[nodiscard]] bool same_code(const run_key& a, const run_key& b, const char* store) noexcept {
  if (!same_code_part(a, b)) return false;
  if ((a.low & CODE_GOES_ON) == 0) return true;
  const line_view x = read_pending(store + place_of(a));
  const line_view y = read_pending(store + place_of(b));
  return compare_order_codes(x.code, x.code_length, y.code, y.code_length) == 0;
}

// A run's keys start with room for this many and double.
constexpr std::size_t FIRST_KEYS = 256;

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

// Whether b's code part is below a's (-1), the same (0) or above it (1).
int compare_code_parts(const run_key& a, const run_key& b) noexcept {
  if (a.high != b.high) return b.high < a.high ? -1 : 1;
  if (a.middle != b.middle) return b.middle < a.middle ? -1 : 1;
  const std::uint64_t x = a.low >> PLACE_BITS;
  const std::uint64_t y = b.low >> PLACE_BITS;
  if (x != y) return y < x ? -1 : 1;
  return 0;
}

// Sorts keys by their integer value, then puts the keys whose codes go on
// beyond the key and tie on it in order by their whole codes, read from the
// pending records in `store`. `rises` and `falls`: whether some key's code
// part is above, or below, the one before it.
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

}  // namespace

bool run_builder::add(const version_view& version, std::string_view text,
                      std::optional<std::string_view> prefix) noexcept {
  code_length_ = encode_line_code(prefix, version, descending_, code_);
  return add_new_code(text);
}

bool run_builder::add_code(const std::uint8_t* code, std::size_t length,
                           std::string_view text) noexcept {
  copy_bytes(code_, code, length);
  if (length < KEY_READS) std::memset(code_ + length, 0, KEY_READS - length);
  code_length_ = length;
  return add_new_code(text);
}

bool run_builder::add_new_code(std::string_view text) noexcept {
  if (!add_again(text)) return false;
  // A line added again has the code of the one before: only here can the
  // order change, until the lines have both risen and fallen.
  const std::size_t count = keys_.size();
  if (count > 1 && !(rises_ && falls_)) {
    const int c = compare_code_parts(keys_[count - 2], keys_[count - 1]);
    rises_ = rises_ || c > 0;
    falls_ = falls_ || c < 0;
  }
  return true;
}

bool run_builder::add_again(std::string_view text) noexcept {
  const std::size_t place = store_.size();
  const std::size_t size = PENDING_HEADER + code_length_;
  // The caller ends runs long before either limit.
  if (place > MAX_RUN_STORE - MAX_RECORD || record_bytes_ > MAX_RUN_STORE - MAX_RECORD) {
    return false;
  }
  // A run's store and keys fill as they grow.
  if (!store_.reserve(std::max(place + size, first_store_), true) ||
      !keys_.reserve(std::max(keys_.size() + 1, FIRST_KEYS), true)) {
    return false;
  }
  // Staying texts are found from the first of them, within MAX_TEXT_PLACE.
  if (may_stay_ && texts_ == nullptr) texts_ = text.data();
  const auto from_first = reinterpret_cast<std::uintptr_t>(text.data()) -
                          reinterpret_cast<std::uintptr_t>(texts_);  // wraps when before it
  const bool may_stay =
      may_stay_ && text.data()[text.size()] == terminator_ && from_first <= MAX_TEXT_PLACE;
  put_pending(store_.data() + place, code_, code_length_, text, may_stay);
  store_.resize_within(place + size);
  record_bytes_ += RECORD_HEADER + code_length_ + text.size() + 1;
  if (may_stay) {
    staying_bytes_ += text.size() + 1;
    ++staying_lines_;
  }
  keys_[keys_.size()] = make_run_key(code_, code_length_, place);
  keys_.resize_within(keys_.size() + 1);
  return true;
}

bool sort_run(run_builder* built, sorted_run* out) noexcept {
  run_key* const first = built->keys_.begin();
  run_key* const last = built->keys_.end();
  const char* const store = built->store_.data();
  sort_run_keys(first, last, store, built->rises_, built->falls_);
  // A text that stays costs its record the text's place instead; a code
  // that the line before has too costs nothing. The block is made for
  // every code, and given back what they leave.
  const bool stay = built->stay_;
  const char* const texts = built->texts_;
  const std::size_t most =
      stay ? built->record_bytes_ - built->staying_bytes_ + built->staying_lines_ * TEXT_PLACE
           : built->record_bytes_;
  const std::size_t lines = built->keys_.size();
  const std::size_t mark_count = (lines + INDEX_STEP - 1) / INDEX_STEP;
  auto* const marks =
      static_cast<std::uint32_t*>(std::malloc((mark_count == 0 ? 1 : mark_count) * 4));
  if (marks == nullptr) return false;
  record_block block;
  if (!block.make(most)) {
    std::free(marks);
    return false;
  }
  // The lines lie scattered over the store and the input: ask for them some
  // way ahead.
  constexpr std::ptrdiff_t LOOKAHEAD = 8;
  char* const records = block.data();
  char* at = records;
  const char* owner = nullptr;  // the last record that holds its code
  for (std::size_t i = 0; i < lines; ++i) {
    if (lines - i > LOOKAHEAD) {
      const char* ahead = store + place_of(first[i + LOOKAHEAD]);
      __builtin_prefetch(ahead);
      if (!stay) __builtin_prefetch(read_pending(store + place_of(first[i + LOOKAHEAD / 2])).text);
    }
    if (i % INDEX_STEP == 0) marks[i / INDEX_STEP] = static_cast<std::uint32_t>(at - records);
    block.fill_to(at);
    const line_view line = read_pending(store + place_of(first[i]));
    const bool keeps_stay = stay && line.text_elsewhere;
    if (owner != nullptr && static_cast<std::size_t>(at - owner) <= MAX_CODE_DISTANCE &&
        same_code(first[i - 1], first[i], store)) {
      at += put_code_before(at, static_cast<std::size_t>(at - owner), line.text, line.text_length,
                            texts, keeps_stay, built->terminator_);
    } else {
      owner = at;
      at += put_record(at, line.code, line.code_length, line.text, line.text_length, texts,
                       keeps_stay, built->terminator_);
    }
  }
  const auto size = static_cast<std::size_t>(at - records);
  *out = {block.fit(size),       size, lines, marks, stay ? built->staying_bytes_ : 0,
          stay ? texts : nullptr};
  built->clear();
  return true;
}

}  // namespace quorbel
