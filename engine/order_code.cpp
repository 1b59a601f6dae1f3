// Encoding versions into order codes; see order_code.h for the layout.
#include "engine/order_code.h"

#include <bit>
#include <cstring>

#include "version/internal.h"

namespace quorbel {

namespace {

// Appends bit fields, most significant bit first, to a byte array.
class bit_sink {
 public:
  explicit bit_sink(std::uint8_t* out) noexcept : out_(out) {}

  // Appends the low `count` bits of `bits`; count is at most 56.
  void put(std::uint64_t bits, unsigned count) noexcept {
    pending_ = pending_ << count | (bits & ((std::uint64_t{1} << count) - 1));
    held_ += count;
    while (held_ >= 8) {
      held_ -= 8;
      out_[length_++] = static_cast<std::uint8_t>(pending_ >> held_);
    }
  }

  // Appends a byte string whole.
  void put_bytes(std::string_view bytes) noexcept {
    for (const char c : bytes) put(static_cast<unsigned char>(c), 8);
  }

  // Pads the last byte with zero bits; returns the length in bytes.
  std::size_t finish() noexcept {
    if (held_ > 0) out_[length_++] = static_cast<std::uint8_t>(pending_ << (8 - held_));
    held_ = 0;
    return length_;
  }

 private:
  std::uint8_t* out_;
  std::uint64_t pending_ = 0;  // the last held_ bits are not written yet
  unsigned held_ = 0;
  std::size_t length_ = 0;
};

constexpr unsigned CLASS_BITS = 3;
constexpr unsigned TAG_BITS = 2;
constexpr std::uint64_t TAG_END = 0, TAG_NUMBER = 1, TAG_WORD = 2;
constexpr unsigned COUNT_BITS = 4;
constexpr std::uint64_t LONG_NUMBER = 9;  // the count of a number of 20 digits or more
constexpr std::size_t LONGEST_SHORT_NUMBER = 19;  // digits that always fit 64 bits

void put_number(bit_sink* sink, std::int32_t number) noexcept {
  const auto value = static_cast<std::uint32_t>(number);
  if (number < 0) {
    sink->put(0, CLASS_BITS);
    sink->put(value, 32);  // two's complement keeps the order among negatives
    return;
  }
  const unsigned bytes = (static_cast<unsigned>(std::bit_width(value)) + 7) / 8;
  sink->put(1 + bytes, CLASS_BITS);
  sink->put(value, 8 * bytes);
}

// The magnitude of a number from its significant digits (no leading zeros),
// its bits inverted when `invert`.
void put_magnitude(bit_sink* sink, std::string_view digits, bool invert) noexcept {
  const std::uint64_t flip = invert ? ~std::uint64_t{0} : 0;
  if (digits.size() > LONGEST_SHORT_NUMBER) {
    sink->put(LONG_NUMBER ^ flip, COUNT_BITS);
    sink->put(digits.size() ^ flip, 8);
    for (const char d : digits) sink->put(static_cast<unsigned>(d - '0') ^ flip, 4);
    return;
  }
  std::uint64_t value = 0;
  for (const char d : digits) value = value * 10 + static_cast<unsigned>(d - '0');
  const unsigned bytes = (static_cast<unsigned>(std::bit_width(value)) + 7) / 8;
  sink->put(bytes ^ flip, COUNT_BITS);
  if (bytes > 4) {
    // Wider than put takes at once: the high half, then the low.
    sink->put((value >> 32) ^ flip, 8 * bytes - 32);
    sink->put(value ^ flip, 32);
  } else if (bytes > 0) {
    sink->put(value ^ flip, 8 * bytes);
  }
}

}  // namespace

std::size_t encode_order_code(const version_view& version, bool descending,
                              std::uint8_t* out) noexcept {
  bit_sink sink(out);
  put_number(&sink, version.major);
  put_number(&sink, version.minor);
  put_number(&sink, version.patch);
  put_number(&sink, version.fourth);
  if (!version.prerelease) {
    sink.put(1, 1);  // a release ranks above its pre-releases
  } else {
    sink.put(0, 1);
    std::string_view rest = until_zero(*version.prerelease);
    for (;;) {
      const std::size_t dot = rest.find('.');
      const prerelease_identifier id = read_identifier(rest.substr(0, dot));
      if (id.numeric) {
        sink.put(TAG_NUMBER, TAG_BITS);
        sink.put(id.negative ? 0 : 1, 1);
        put_magnitude(&sink, id.text, id.negative);
      } else {
        sink.put(TAG_WORD, TAG_BITS);
        sink.put_bytes(id.text);
        sink.put(0, 8);  // a word that is the start of another ranks lower
      }
      if (dot == std::string_view::npos) break;
      rest.remove_prefix(dot + 1);
    }
    sink.put(TAG_END, TAG_BITS);
  }
  const std::size_t length = sink.finish();
  // Inverting whole bytes inverts the padding too, which is harmless: two
  // different codes differ before the end of the shorter one, and equal ones
  // are padded alike.
  if (descending) {
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
  }
  return length;
}

int compare_order_codes(const std::uint8_t* a, std::size_t a_length, const std::uint8_t* b,
                        std::size_t b_length) noexcept {
  const std::size_t common = a_length < b_length ? a_length : b_length;
  const int bytes = common == 0 ? 0 : std::memcmp(a, b, common);
  if (bytes != 0) return bytes < 0 ? -1 : 1;
  return (a_length > b_length) - (a_length < b_length);
}

}  // namespace quorbel
