// Rendering a record back to text, and its numeric value.
#include <array>
#include <charconv>
#include <limits>
#include <new>
#include <stdexcept>

#include "version/internal.h"

namespace quorbel {

namespace {

// Writes value in decimal at [first, last); returns the end of the digits.
// The callers' areas always have room for the 11 bytes of -2147483648.
char* write_decimal(char* first, char* last, std::int32_t value) noexcept {
  return std::to_chars(first, last, value).ptr;
}

// Adds in 32 bits with wrapping: signed overflow would be undefined.
std::int32_t add_wrapping(std::int32_t a, std::int32_t b) noexcept {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

int append_text(std::string* destination, std::string_view text, std::string_view prefix) noexcept {
  text = until_zero(text);
  prefix = until_zero(prefix);
  try {
    // Make room first, so that a failure leaves the destination as it was.
    destination->reserve(destination->size() + prefix.size() + text.size());
    destination->append(prefix);
    destination->append(text);
  } catch (const std::bad_alloc&) {
    return -1;
  } catch (const std::length_error&) {
    return -1;
  }
  return 0;
}

int append_number(std::string* destination, std::int32_t value, std::string_view prefix) noexcept {
  static_assert(PIECE_SIZE > std::numeric_limits<std::int32_t>::digits10 + 2);
  std::array<char, PIECE_SIZE> piece{};
  char* end = write_decimal(piece.data(), piece.data() + piece.size(), value);
  return append_text(destination,
                     std::string_view(piece.data(), static_cast<std::size_t>(end - piece.data())),
                     prefix);
}

int version_render(const version_view& version, std::string* destination) noexcept {
  const std::size_t before = destination->size();
  // A pre-release or build of any length renders whole; an empty one still
  // shows its separator (1.2.3- and 1.2.3+ are not 1.2.3).
  const bool ok =
      append_number(destination, version.major) == 0 &&
      append_number(destination, version.minor, ".") == 0 &&
      append_number(destination, version.patch, ".") == 0 &&
      (!version.prerelease || append_text(destination, *version.prerelease, "-") == 0) &&
      (!version.build || append_text(destination, *version.build, "+") == 0);
  if (!ok) {
    destination->resize(before);  // shrinking never allocates
    return -1;
  }
  return 0;
}

int version_render(const version_record& record, std::string* destination) noexcept {
  return version_render(version_view_of(record), destination);
}

std::int32_t digits_to_int(std::string_view text) noexcept {
  constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (char c : until_zero(text)) {
    if (!is_digit_byte(c)) return -1;
    value = value * 10 + (c - '0');
    if (value > limit) return -1;  // stops long before 64 bits could overflow
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t sum_allowed_chars(std::string_view text) noexcept {
  std::uint32_t sum = 0;
  for (char c : until_zero(text)) {
    if (VERSION_CHARS.find(c) != std::string_view::npos) {
      sum += static_cast<unsigned char>(c);
    }
  }
  return static_cast<std::int32_t>(sum);
}

int version_value(const version_record& record) noexcept {
  // Leading zero numbers are left out, later ones are written: 0.2.0 gives 20.
  std::array<char, VALUE_BUFFER_SIZE> digits{};
  char* end = digits.data();
  char* const last = digits.data() + digits.size();
  if (record.major != 0) end = write_decimal(end, last, record.major);
  if (record.major != 0 || record.minor != 0) end = write_decimal(end, last, record.minor);
  if (record.major != 0 || record.minor != 0 || record.patch != 0) {
    end = write_decimal(end, last, record.patch);
  }
  // A negative number leaves a '-' among the digits, which makes this -1.
  std::int32_t total =
      digits_to_int(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
  if (total == -1) return -1;
  if (record.prerelease) total = add_wrapping(total, sum_allowed_chars(*record.prerelease));
  if (record.build) total = add_wrapping(total, sum_allowed_chars(*record.build));
  return total;
}

}  // namespace quorbel
