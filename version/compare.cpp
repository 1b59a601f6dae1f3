// Precedence: the numbers first, then the pre-release; the build never counts.
#include <cstring>

#include "version/internal.h"

namespace quorbel {

namespace {

// A pre-release identifier read as a number: what a base-10 conversion would
// make of it when it consumes the identifier whole (empty, or optional white
// space, an optional sign and digits). The value is kept exactly, as a sign
// and its significant digits, so that timestamps and other long numbers
// compare by value instead of by their low bits.
struct numeric_identifier {
  bool numeric = false;
  bool negative = false;
  std::string_view digits;  // without leading zeros; empty for zero
};

numeric_identifier classify(std::string_view id) noexcept {
  numeric_identifier result;
  // Only a digit, a sign or white space can start a number: most words are
  // told at their first byte.
  if (!id.empty() && !is_digit_byte(id[0]) && !is_space_byte(id[0]) && id[0] != '+' &&
      id[0] != '-') {
    return result;
  }
  const integer_syntax found = scan_integer(id);
  if (found.end != id.size()) return result;  // letters, a lone sign, ...
  result.numeric = true;                      // an empty identifier counts as 0
  std::size_t i = found.digits;
  while (i < id.size() && id[i] == '0') ++i;
  result.digits = id.substr(i);
  result.negative = found.negative && !result.digits.empty();  // -0 is 0
  return result;
}

// The identifier at the start of text: up to its '.' or the end.
std::size_t identifier_length(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text[i] != '.') ++i;
  return i;
}

int sign_of(int value) noexcept { return (value > 0) - (value < 0); }

int compare_numeric(const numeric_identifier& a, const numeric_identifier& b) noexcept {
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  int magnitude = 0;
  if (a.digits.size() != b.digits.size()) {
    magnitude = a.digits.size() < b.digits.size() ? -1 : 1;
  } else {
    magnitude = sign_of(a.digits.compare(b.digits));
  }
  return a.negative ? -magnitude : magnitude;
}

int compare_bytes(std::string_view a, std::string_view b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  const int bytes = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (bytes != 0) return bytes < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::optional<std::string_view> as_text(const std::optional<std::string>& text) noexcept {
  if (!text) return std::nullopt;
  return until_zero(*text);
}

template <typename Record>
int compare_numbers(const Record& x, const Record& y) noexcept {
  if (int c = compare_int(x.major, y.major)) return c;
  if (int c = compare_int(x.minor, y.minor)) return c;
  if (int c = compare_int(x.patch, y.patch)) return c;
  return compare_int(x.fourth, y.fourth);
}

}  // namespace

int compare_int(std::int32_t a, std::int32_t b) noexcept { return (a > b) - (a < b); }

int compare_core(const version_view& x, const version_view& y) noexcept {
  return compare_numbers(x, y);
}

int compare_core(const version_record& x, const version_record& y) noexcept {
  return compare_numbers(x, y);
}

int compare_prerelease(std::optional<std::string_view> a,
                       std::optional<std::string_view> b) noexcept {
  // A pre-release ranks below its release; an empty one still counts.
  if (!a || !b) return static_cast<int>(!a) - static_cast<int>(!b);
  std::string_view left = *a;
  std::string_view right = *b;
  // Whole identifiers that the two texts share up front are ties: start at
  // the identifier where they first differ.
  const std::size_t shorter = left.size() < right.size() ? left.size() : right.size();
  std::size_t same = 0;
  while (same < shorter && left[same] == right[same]) ++same;
  if (same == left.size() && same == right.size()) return 0;
  while (same > 0 && left[same - 1] != '.') --same;
  left.remove_prefix(same);
  right.remove_prefix(same);
  for (;;) {
    const std::size_t left_length = identifier_length(left);
    const std::size_t right_length = identifier_length(right);
    const std::string_view left_id = left.substr(0, left_length);
    const std::string_view right_id = right.substr(0, right_length);
    if (left_id != right_id) {
      const numeric_identifier left_num = classify(left_id);
      const numeric_identifier right_num = classify(right_id);
      int c = 0;
      if (left_num.numeric != right_num.numeric) {
        c = left_num.numeric ? -1 : 1;  // numbers rank below words
      } else if (left_num.numeric) {
        c = compare_numeric(left_num, right_num);
      } else {
        c = compare_bytes(left_id, right_id);
      }
      if (c != 0) return c;
    }
    const bool left_last = left_length == left.size();
    const bool right_last = right_length == right.size();
    if (left_last || right_last) {
      return static_cast<int>(right_last) - static_cast<int>(left_last);
    }
    left.remove_prefix(left_length + 1);
    right.remove_prefix(right_length + 1);
  }
}

int version_compare(const version_view& x, const version_view& y) noexcept {
  if (int c = compare_core(x, y)) return c;
  return compare_prerelease(x.prerelease ? std::optional(until_zero(*x.prerelease)) : std::nullopt,
                            y.prerelease ? std::optional(until_zero(*y.prerelease)) : std::nullopt);
}

int version_compare(const version_record& x, const version_record& y) noexcept {
  if (int c = compare_core(x, y)) return c;
  return compare_prerelease(as_text(x.prerelease), as_text(y.prerelease));
}

int version_gt(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) == 1 ? 1 : 0;
}
int version_lt(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) == -1 ? 1 : 0;
}
int version_eq(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) == 0 ? 1 : 0;
}
int version_ne(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) != 0 ? 1 : 0;
}
int version_ge(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) >= 0 ? 1 : 0;
}
int version_le(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) <= 0 ? 1 : 0;
}

bool operator==(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) == 0;
}

std::weak_ordering operator<=>(const version_record& x, const version_record& y) noexcept {
  return version_compare(x, y) <=> 0;
}

}  // namespace quorbel
