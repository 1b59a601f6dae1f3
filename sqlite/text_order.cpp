// The order of the collation semver on texts. A sort compares each text with
// some twenty others, and parsing both texts at every comparison cost four
// times the sort itself. The quick path reads a short text once into bit
// masks of its byte classes, tells from them whether it is a version, and
// decides most comparisons at the byte where the two texts part, with the
// library's own rule for the pre-release. What it cannot settle (long texts,
// zero bytes, empty or leading-zero or long core numbers, a core that goes
// on where the other stops) goes the plain way, parsing both.
#include "sqlite/text_order.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "version/internal.h"

namespace quorbel::sqlite {

namespace {

template <typename Word>
Word load(const char* at) noexcept {
  Word w;
  std::memcpy(&w, at, sizeof w);
  return w;
}

// Texts the quick path reads: its masks have a bit for each byte and one
// for the end.
constexpr std::size_t SHORT_TEXT = 63;
// Core numbers of one to this many digits and no leading zero keep their
// value, so that a longer one is the larger.
constexpr unsigned PLAIN_DIGITS = 9;

std::uint64_t below(std::size_t bit) noexcept {
  return bit >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bit) - 1;
}

// Four classes of a short text's bytes, bit i for byte i.
struct byte_masks {
  std::uint64_t digits = 0, dots = 0, separators = 0, allowed = 0;
};

#if defined(__SSE2__)
// Adds the classes of the lanes in `keep`, shifted down by `drop`, as the
// bytes from `at` on.
inline void add_lanes(byte_masks* m, __m128i v, unsigned keep, unsigned drop,
                      std::size_t at) noexcept {
  const auto in = [](__m128i w, char low, char high) {
    return _mm_and_si128(_mm_cmpgt_epi8(w, _mm_set1_epi8(static_cast<char>(low - 1))),
                         _mm_cmplt_epi8(w, _mm_set1_epi8(static_cast<char>(high + 1))));
  };
  const auto put = [=](std::uint64_t* to, __m128i flags) {
    const auto lanes = static_cast<unsigned>(_mm_movemask_epi8(flags));
    *to |= static_cast<std::uint64_t>((lanes & keep) >> drop) << at;
  };
  const __m128i digit = in(v, '0', '9');
  const __m128i dot = _mm_cmpeq_epi8(v, _mm_set1_epi8('.'));
  const __m128i separator =
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')), _mm_cmpeq_epi8(v, _mm_set1_epi8('+')));
  const __m128i letter = in(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z');
  put(&m->digits, digit);
  put(&m->dots, dot);
  put(&m->separators, separator);
  put(&m->allowed, _mm_or_si128(_mm_or_si128(digit, dot), _mm_or_si128(separator, letter)));
}

// Sixteen bytes at a time; a shorter text or tail by two loads that may
// overlap, its first bytes and its last, so that nothing outside it is read.
byte_masks masks_of(std::string_view text) noexcept {
  const char* const p = text.data();
  const std::size_t n = text.size();
  byte_masks m;
  if (n >= 16) {
    std::size_t at = 0;
    for (; at + 16 <= n; at += 16) {
      add_lanes(&m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), 0xFFFF, 0, at);
    }
    if (at < n) {
      add_lanes(&m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 16)), 0xFFFF, 0,
                n - 16);
    }
  } else if (n >= 8) {
    const __m128i v = _mm_set_epi64x(load<long long>(p + n - 8), load<long long>(p));
    add_lanes(&m, v, 0xFF, 0, 0);
    add_lanes(&m, v, 0xFF00, 8, n - 8);
  } else if (n >= 4) {
    const __m128i v = _mm_set_epi32(0, 0, load<int>(p + n - 4), load<int>(p));
    add_lanes(&m, v, 0xF, 0, 0);
    add_lanes(&m, v, 0xF0, 4, n - 4);
  } else {
    unsigned word = 0;
    for (std::size_t i = 0; i < n; ++i) {
      word |= static_cast<unsigned>(static_cast<unsigned char>(p[i])) << (8 * i);
    }
    add_lanes(&m, _mm_cvtsi32_si128(static_cast<int>(word)), (1u << n) - 1, 0, 0);
  }
  return m;
}
#else
byte_masks masks_of(std::string_view text) noexcept {
  byte_masks m;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const unsigned lower = c | 0x20u;
    const bool digit = c >= '0' && c <= '9';
    const bool dot = c == '.';
    const bool separator = c == '-' || c == '+';
    m.digits |= std::uint64_t{digit} << i;
    m.dots |= std::uint64_t{dot} << i;
    m.separators |= std::uint64_t{separator} << i;
    m.allowed |= std::uint64_t{digit || dot || separator || (lower >= 'a' && lower <= 'z')} << i;
  }
  return m;
}
#endif

// What the quick path knows of a short text.
struct shape {
  std::uint64_t dots = 0;
  std::size_t core_end = 0;  // the first '-' or '+', or the length
  bool version = false;
};

// False when the quick path leaves the text to the plain one: too long, a
// zero byte (where a text ends), a core of more than four numbers or long
// enough to hold a number of too many digits.
bool read_shape(std::string_view text, shape* s) noexcept {
  const std::size_t n = text.size();
  if (n > SHORT_TEXT) return false;
  const byte_masks m = masks_of(text);
  s->dots = m.dots;
  s->core_end = m.separators != 0 ? static_cast<std::size_t>(std::countr_zero(m.separators)) : n;
  if (m.allowed != below(n)) return std::memchr(text.data(), 0, n) == nullptr;
  const std::uint64_t core = below(s->core_end);
  const std::uint64_t core_dots = m.dots & core;
  if (std::popcount(core_dots) >= MAX_COMPONENTS) return false;
  // A core that may hold a number too long to be one, the plain way too.
  if (s->core_end > static_cast<std::size_t>(MAX_COMPONENT_LENGTH)) return false;
  s->version = ((m.digits | m.dots) & core) == core;  // numbers of digits only
  return true;
}

// The pre-release of a version, if it has one.
std::optional<std::string_view> prerelease_of(std::string_view text, const shape& s) noexcept {
  if (s.core_end == text.size() || text[s.core_end] == '+') return std::nullopt;
  const std::size_t plus = text.find('+', s.core_end + 1);
  return text.substr(s.core_end + 1,
                     (plus == std::string_view::npos ? text.size() : plus) - s.core_end - 1);
}

// Two versions, first parting at byte `at`: the order, or 2 when it takes
// the plain way.
int compare_versions(std::string_view x, const shape& a, std::string_view y, const shape& b,
                     std::size_t at) noexcept {
  if (a.core_end < at || (a.core_end == at && b.core_end == at)) {
    // The same core (a separator before `at` is at the same place in both):
    // the pre-releases decide, as a build never counts.
    return compare_prerelease(prerelease_of(x, a), prerelease_of(y, b));
  }
  // The numbers before the one holding `at` are the same bytes; that one
  // starts after the last dot before `at`.
  const std::uint64_t dots_before = a.dots & below(at);
  const std::size_t start =
      dots_before != 0 ? 64 - static_cast<std::size_t>(std::countl_zero(dots_before)) : 0;
  const auto end_of = [start](const shape& s) {
    const std::uint64_t next = s.dots & below(s.core_end) & ~below(start);
    return next != 0 ? static_cast<std::size_t>(std::countr_zero(next)) : s.core_end;
  };
  const std::size_t a_digits = end_of(a) - start, b_digits = end_of(b) - start;
  const auto plain = [start](std::string_view text, std::size_t digits) {
    return digits != 0 && digits <= PLAIN_DIGITS && (digits == 1 || text[start] != '0');
  };
  if (!plain(x, a_digits) || !plain(y, b_digits)) return 2;
  if (a_digits != b_digits) return a_digits < b_digits ? -1 : 1;
  if (at < start + a_digits) return x[at] < y[at] ? -1 : 1;
  return 2;  // one core goes on after the other's end
}

}  // namespace

int compare_texts_parsed(std::string_view x, std::string_view y) noexcept {
  version_view a, b;
  const bool x_version = version_parse_view(x, &a) == 0;
  const bool y_version = version_parse_view(y, &b) == 0;
  if (x_version && y_version) return version_compare(a, b);
  if (x_version != y_version) return x_version ? -1 : 1;
  return compare_bytes(x, y);
}

int compare_texts(std::string_view x, std::string_view y) noexcept {
  const std::size_t shorter = x.size() < y.size() ? x.size() : y.size();
  // Where they part: eight bytes at a time, the first differing bit of a
  // word showing its byte.
  std::size_t at = 0;
  for (; at + 8 <= shorter; at += 8) {
    const std::uint64_t differ =
        load<std::uint64_t>(x.data() + at) ^ load<std::uint64_t>(y.data() + at);
    if (differ == 0) continue;
    if constexpr (std::endian::native == std::endian::little) {
      at += static_cast<std::size_t>(std::countr_zero(differ)) / 8;
    } else {
      at += static_cast<std::size_t>(std::countl_zero(differ)) / 8;
    }
    break;
  }
  while (at < shorter && x[at] == y[at]) ++at;
  if (at == x.size() && at == y.size()) return 0;  // the same bytes
  shape a, b;
  if (!read_shape(x, &a) || !read_shape(y, &b)) return compare_texts_parsed(x, y);
  if (!a.version || !b.version) {
    // Neither is a version: bytes, from where they part.
    return a.version != b.version ? (a.version ? -1 : 1)
                                  : compare_bytes(x.substr(at), y.substr(at));
  }
  const int order = compare_versions(x, a, y, b, at);
  return order != 2 ? order : compare_texts_parsed(x, y);
}

}  // namespace quorbel::sqlite
