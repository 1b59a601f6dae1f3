// Precedence: the numbers first, then the pre-release; the build never counts.
// Order keys encode this same rule as bytes (order_key.cpp): whoever changes
// one changes the other; the tests hold them equal.
#include <cstring>

#include "version/internal.h"

namespace quorbel {

namespace {

// The identifier at the start of text: up to its '.' or the end.
std::size_t identifier_length(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text[i] != '.') ++i;
  return i;
}

int sign_of(int value) noexcept { return (value > 0) - (value < 0); }

// Numbers compare by their exact value: sign, count of significant digits,
// then the digits themselves.
int compare_numeric(const prerelease_identifier& a, const prerelease_identifier& b) noexcept {
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  int magnitude = 0;
  if (a.text.size() != b.text.size()) {
    magnitude = a.text.size() < b.text.size() ? -1 : 1;
  } else {
    magnitude = sign_of(a.text.compare(b.text));
  }
  return a.negative ? -magnitude : magnitude;
}

template <typename Record>
int compare_numbers(const Record& x, const Record& y) noexcept {
  if (int c = compare_int(x.major, y.major)) return c;
  if (int c = compare_int(x.minor, y.minor)) return c;
  if (int c = compare_int(x.patch, y.patch)) return c;
  return compare_int(x.fourth, y.fourth);
}

}  // namespace

int compare_bytes(std::string_view a, std::string_view b) noexcept {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  const int bytes = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (bytes != 0) return bytes < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int compare_int(std::int32_t a, std::int32_t b) noexcept { return (a > b) - (a < b); }

int compare_core(const version_view& x, const version_view& y) noexcept {
  return compare_numbers(x, y);
}

int compare_core(const version_record& x, const version_record& y) noexcept {
  return compare_numbers(x, y);
}

int compare_identifiers(const prerelease_identifier& a, const prerelease_identifier& b) noexcept {
  if (a.numeric != b.numeric) return a.numeric ? -1 : 1;  // numbers rank below words
  return a.numeric ? compare_numeric(a, b) : compare_bytes(a.text, b.text);
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
      const int c = compare_identifiers(read_identifier(left_id), read_identifier(right_id));
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
  return compare_prerelease(text_of(x.prerelease), text_of(y.prerelease));
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
