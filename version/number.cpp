// The integer conversion rule, in one place.
#include <cstring>
#include <limits>

#include "version/internal.h"

namespace quorbel {

std::int32_t convert_integer(std::string_view text, std::size_t* consumed) noexcept {
  const integer_syntax found = scan_integer(text);
  *consumed = found.end;
  // Accumulate the magnitude, saturating at the 64-bit limit of the sign.
  constexpr std::uint64_t max_positive = std::numeric_limits<std::int64_t>::max();
  const std::uint64_t limit = found.negative ? max_positive + 1 : max_positive;
  std::uint64_t magnitude = 0;
  for (std::size_t i = found.digits; i < found.end; ++i) {
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
    } else {
      magnitude = magnitude * 10 + digit;
    }
  }
  // Two's complement negation in unsigned arithmetic, then the low 32 bits.
  const std::uint64_t bits = found.negative ? ~magnitude + 1 : magnitude;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

std::string_view until_zero(std::string_view text) noexcept {
  if (text.empty()) return text;  // an empty view may have no data for memchr
  const void* zero = std::memchr(text.data(), 0, text.size());
  if (zero == nullptr) return text;
  return text.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()));
}

}  // namespace quorbel
