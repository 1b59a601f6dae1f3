// Parsing range texts into the bounds that matching tests, so that the work
// of the grammar is done once per range and not once per version.
#include <limits>
#include <new>
#include <stdexcept>

#include "version/internal.h"

namespace quorbel {

namespace {

using numbers64 = std::array<std::int64_t, 4>;

enum class comparison { none, eq, lt, le, gt, ge, caret, tilde };

// A version as a range writes it: the numbers before any wildcard, and
// whether a wildcard followed them.
struct written_version {
  std::array<std::int32_t, 4> numbers{};
  int count = 0;
  bool wildcard = false;
  std::optional<std::string_view> prerelease;

  bool partial() const noexcept { return wildcard || count < 3; }
};

// The cursor over the text; `error` is where it stopped making sense.
struct reader {
  std::string_view text;
  std::size_t at = 0;
  std::size_t error = 0;

  bool more() const noexcept { return at < text.size(); }
  char peek() const noexcept { return at < text.size() ? text[at] : '\0'; }
  bool fail(std::size_t where) noexcept {
    error = where;
    return false;
  }
  void skip_spaces() noexcept {
    while (more() && is_space_byte(text[at])) ++at;
  }
  // What manifests may write between an operator and its version (~=1.2,
  // >= =1.2.3, ^ v2): any run of 'v', '=' and white space.
  void skip_version_prefix() noexcept {
    while (more() && (is_space_byte(text[at]) || text[at] == 'v' || text[at] == '=')) ++at;
  }
};

bool is_wildcard(char c) noexcept { return c == 'x' || c == 'X' || c == '*'; }
bool is_version_byte(char c) noexcept {
  return c != '\0' && VERSION_CHARS.find(c) != std::string_view::npos;
}

comparison read_operator(reader* r) noexcept {
  const char c = r->peek();
  if (c != '<' && c != '>' && c != '=' && c != '^' && c != '~') return comparison::none;
  ++r->at;
  switch (c) {
    case '=': return comparison::eq;
    case '^': return comparison::caret;
    case '~':
      if (r->peek() == '>') ++r->at;  // ~> is how some manifests write ~
      return comparison::tilde;
    default: break;
  }
  const bool or_equal = r->peek() == '=';
  if (or_equal) ++r->at;
  if (c == '<') return or_equal ? comparison::le : comparison::lt;
  return or_equal ? comparison::ge : comparison::gt;
}

// Reads [v]core[-prerelease][+build], which must end at white space, a '|'
// or the end of the text.
bool read_version(reader* r, written_version* v) noexcept {
  if (r->peek() == 'v') ++r->at;
  const std::size_t start = r->at;
  for (int part = 0;; ++part) {
    if (is_digit_byte(r->peek())) {
      if (v->wildcard) return r->fail(r->at);  // 1.x.3 names no version
      const std::size_t digits = r->at;
      while (is_digit_byte(r->peek())) {
        if (r->at - digits == static_cast<std::size_t>(MAX_COMPONENT_LENGTH)) {
          return r->fail(r->at);
        }
        ++r->at;
      }
      std::size_t consumed = 0;  // the one conversion rule: low 32 bits
      v->numbers[static_cast<std::size_t>(v->count++)] =
          convert_integer(r->text.substr(digits, r->at - digits), &consumed);
    } else if (is_wildcard(r->peek())) {
      v->wildcard = true;
      ++r->at;
    } else {
      return r->fail(r->at);
    }
    if (r->peek() != '.') break;
    if (part == MAX_COMPONENTS - 1) return r->fail(r->at);
    ++r->at;
  }
  if (r->peek() == '-') {
    // A pre-release names one release; 1.2-rc would name many.
    if (v->partial()) return r->fail(r->at);
    const std::size_t begin = ++r->at;
    while (is_version_byte(r->peek()) && r->peek() != '+') ++r->at;
    v->prerelease = r->text.substr(begin, r->at - begin);
  }
  if (r->peek() == '+') {
    ++r->at;
    while (is_version_byte(r->peek())) ++r->at;
  }
  if (r->at - start > static_cast<std::size_t>(MAX_VERSION_LENGTH)) {
    return r->fail(start + static_cast<std::size_t>(MAX_VERSION_LENGTH));
  }
  if (r->more() && !is_space_byte(r->peek()) && r->peek() != '|') return r->fail(r->at);
  return true;
}

// The written numbers up to index `moved`, that one plus 1, zeros after it.
numbers64 next_release(const written_version& v, int moved) noexcept {
  numbers64 result{};
  for (int i = 0; i <= moved; ++i) {
    result[static_cast<std::size_t>(i)] = v.numbers[static_cast<std::size_t>(i)];
  }
  ++result[static_cast<std::size_t>(moved)];
  return result;
}

numbers64 first_release(const written_version& v) noexcept {
  return {v.numbers[0], v.numbers[1], v.numbers[2], v.numbers[3]};
}

// ^ keeps the left-most non-zero number written; when every written number
// is zero, the last one written moves (^0.0 = <0.1.0, ^0.0.0.0 = <0.0.0.1).
int caret_moves(const written_version& v) noexcept {
  for (int i = 0; i < v.count; ++i) {
    if (v.numbers[static_cast<std::size_t>(i)] != 0) return i;
  }
  return v.count - 1;
}

version_record exact(const written_version& v) {
  version_record record{v.numbers[0], v.numbers[1], v.numbers[2], v.numbers[3], {}, {}, {}};
  if (v.prerelease) record.prerelease.emplace(*v.prerelease);
  return record;
}

// Each bound only ever narrows the alternative.
void set_from(version_range_alternative* a, const numbers64& numbers) {
  if (!a->from || *a->from < numbers) a->from = numbers;
}
void set_below(version_range_alternative* a, const numbers64& numbers) {
  if (!a->below || numbers < *a->below) a->below = numbers;
}
void set_lower(version_range_alternative* a, const written_version& v, bool inclusive) {
  version_record bound = exact(v);
  const int c = a->lower ? version_compare(bound, *a->lower) : 1;
  if (c > 0 || (c == 0 && !inclusive)) {
    a->lower = std::move(bound);
    a->lower_inclusive = inclusive;
  }
}
void set_upper(version_range_alternative* a, const written_version& v, bool inclusive) {
  version_record bound = exact(v);
  const int c = a->upper ? version_compare(bound, *a->upper) : -1;
  if (c < 0 || (c == 0 && !inclusive)) {
    a->upper = std::move(bound);
    a->upper_inclusive = inclusive;
  }
}
void note_prerelease(version_range_alternative* a, const written_version& v) {
  if (v.prerelease) a->prerelease_numbers.push_back(v.numbers);
}

void add_comparator(version_range_alternative* a, comparison op, const written_version& v) {
  note_prerelease(a, v);
  if (v.count == 0) {  // *, x: no bound, except that nothing is above or below them all
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    if (op == comparison::lt || op == comparison::gt) set_below(a, {lowest, 0, 0, 0});
    return;
  }
  // Where the next version that the comparator no longer covers starts.
  int moved = v.count - 1;
  if (op == comparison::caret) moved = caret_moves(v);
  if (op == comparison::tilde) moved = v.count > 1 ? 1 : 0;
  const numbers64 next = next_release(v, moved);
  const bool lower = op != comparison::lt && op != comparison::le;
  const bool upper = op != comparison::gt && op != comparison::ge;
  if (v.partial()) {
    // Partial versions bound the numbers only: >1.2 = >=1.3.0, <1.2 = <1.2.0.
    if (lower) set_from(a, op == comparison::gt ? next : first_release(v));
    if (upper) set_below(a, op == comparison::lt ? first_release(v) : next);
    return;
  }
  if (lower) set_lower(a, v, op != comparison::gt);
  if (op == comparison::caret || op == comparison::tilde) {
    set_below(a, next);
  } else if (upper) {
    set_upper(a, v, op != comparison::lt);
  }
}

// low - high: inclusive at both ends; a low end without a pre-release starts
// at its first release (whose pre-releases pass when let in), a partial high
// end covers every version it starts.
void add_hyphen(version_range_alternative* a, const written_version& low,
                const written_version& high) {
  note_prerelease(a, low);
  note_prerelease(a, high);
  if (low.count > 0) {
    if (low.prerelease) {
      set_lower(a, low, true);
    } else {
      set_from(a, first_release(low));
    }
  }
  if (high.count > 0) {
    if (high.partial()) {
      set_below(a, next_release(high, high.count - 1));
    } else {
      set_upper(a, high, true);
    }
  }
}

// One comparator or hyphen range, at a byte that is not white space.
bool read_item(reader* r, version_range_alternative* a) {
  const comparison op = read_operator(r);
  if (op != comparison::none) r->skip_version_prefix();
  written_version v;
  if (!read_version(r, &v)) return false;
  if (op == comparison::none || op == comparison::eq) {
    const std::size_t after = r->at;
    r->skip_spaces();
    if (r->peek() == '-') {  // no comparator starts with '-': a hyphen range
      ++r->at;
      if (r->more() && !is_space_byte(r->peek())) return r->fail(r->at);
      r->skip_version_prefix();  // as after '='
      written_version high;
      if (!read_version(r, &high)) return false;
      add_hyphen(a, v, high);
      return true;
    }
    r->at = after;
  }
  add_comparator(a, op, v);
  return true;
}

bool read_range(reader* r, version_range* range) {
  range->alternatives.emplace_back();
  for (;;) {
    r->skip_spaces();
    if (!r->more()) return true;
    if (r->peek() == '|') {
      ++r->at;
      if (r->peek() != '|') return r->fail(r->at);
      ++r->at;
      range->alternatives.emplace_back();
      continue;
    }
    if (!read_item(r, &range->alternatives.back())) return false;
  }
}

}  // namespace

int version_range_parse(std::string_view text, version_range* range,
                        std::size_t* stopped_at) noexcept {
  reader r{until_zero(text)};
  std::size_t stopped = std::string_view::npos;
  int result = -1;
  try {
    version_range parsed;
    if (read_range(&r, &parsed)) {
      parsed.index = index_alternatives(parsed.alternatives);
      *range = std::move(parsed);  // moving vectors allocates nothing
      stopped = r.text.size();
      result = 0;
    } else {
      stopped = r.error;
    }
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  if (stopped_at != nullptr) *stopped_at = stopped;
  return result;
}

}  // namespace quorbel
