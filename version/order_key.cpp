// Order keys and the order codes inside them: a version as bytes whose
// plain order is its precedence. The rule is version_compare's
// (compare.cpp): whoever changes one changes the other, and the tests hold
// them equal over every pair of a few thousand edge texts.
//
// Bits of a code, in order, most significant bit of the first byte first:
// - the four numbers, each a 3-bit class and its significant bytes: class 0
//   a negative number whole (32 bits), class 1 + n a non-negative one of n
//   bytes (0 has none); more bytes is a larger number, so the order holds;
// - one bit: 1 for a release, 0 for a pre-release, which then follows;
// - per identifier a 2-bit tag, 01 a number, 10 a word, and 00 after the
//   last one, so that fewer identifiers rank lower and numbers below words.
//   A number is a sign bit (1 for non-negative) and its magnitude: a 4-bit
//   count n of bytes (up to 8, for at most 19 digits) and the value in n
//   bytes, or the count 9, an 8-bit count of digits and 4 bits a digit for a
//   longer one. A negative number has its magnitude's bits inverted, so the
//   larger magnitude ranks lower. A word is its bytes and a zero byte.
// For a descending sort every bit is inverted. The last byte is padded.
// A key is the format number and the ascending code.
#include <bit>
#include <cstring>

#include "version/internal.h"

namespace quorbel {

namespace {

// Appends bit fields, most significant bit first, to a byte array: a word
// at a time, so the array needs 8 bytes of room past the code.
class bit_sink {
 public:
  explicit bit_sink(std::uint8_t* out) noexcept : out_(out) {}

  // Appends the low `count` bits of `bits`; count is at most 57.
  void put(std::uint64_t bits, unsigned count) noexcept {
    if (count == 0) return;  // a shift by all 64 bits below would be undefined
    bits &= (std::uint64_t{1} << count) - 1;
    if (count < free_) {
      word_ |= bits << (free_ - count);
      free_ -= count;
      return;
    }
    const unsigned rest = count - free_;  // bits that go to the next word
    word_ |= bits >> rest;
    store();
    word_ = rest == 0 ? 0 : bits << (64 - rest);
    free_ = 64 - rest;
  }

  // Appends a byte string whole, seven bytes at a time.
  void put_bytes(std::string_view bytes) noexcept {
    while (bytes.size() >= 7) {
      std::uint64_t seven = 0;
      std::memcpy(&seven, bytes.data(), 7);
      put(to_big_endian(seven) >> 8, 56);
      bytes.remove_prefix(7);
    }
    for (const char c : bytes) put(static_cast<unsigned char>(c), 8);
  }

  // Pads the last byte; returns the length in bytes.
  std::size_t finish() noexcept {
    const std::size_t tail = (64 - free_ + 7) / 8;
    store();
    return length_ - 8 + tail;
  }

 private:
  static std::uint64_t to_big_endian(std::uint64_t word) noexcept {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(word);
    return word;
  }

  void store() noexcept {
    const std::uint64_t big = to_big_endian(word_);
    std::memcpy(out_ + length_, &big, 8);
    length_ += 8;
  }

  std::uint8_t* out_;
  std::uint64_t word_ = 0;  // the bits not stored yet, from the top
  unsigned free_ = 64;      // bits of word_ still free, 1 to 64
  std::size_t length_ = 0;  // bytes stored
};

constexpr unsigned CLASS_BITS = 3;
constexpr unsigned TAG_BITS = 2;
constexpr std::uint64_t TAG_END = 0, TAG_NUMBER = 1, TAG_WORD = 2;
constexpr unsigned COUNT_BITS = 4;
constexpr std::uint64_t LONG_NUMBER = 9;          // the count of a number of 20 digits or more
constexpr std::size_t LONGEST_SHORT_NUMBER = 19;  // digits that always fit 64 bits
// A number's digits lie within one identifier of a version text, so their
// count fits the 8 bits a long number gives it.
static_assert(MAX_VERSION_LENGTH <= 255, "the digit count of a long number fits 8 bits");

// The code of one of the four numbers: its bits, and how many.
struct number_code {
  std::uint64_t bits;
  unsigned length;
};

number_code code_of(std::int32_t number) noexcept {
  const auto value = static_cast<std::uint32_t>(number);
  // Two's complement keeps the order among negatives, under class 0.
  if (number < 0) return {value, CLASS_BITS + 32};
  const unsigned bytes = (static_cast<unsigned>(std::bit_width(value)) + 7) / 8;
  return {std::uint64_t{1 + bytes} << (8 * bytes) | value, CLASS_BITS + 8 * bytes};
}

// The four numbers, and the release bit when there is no pre-release: most
// versions have small numbers, whose codes go to the sink at once.
void put_numbers(bit_sink* sink, const version_view& version) noexcept {
  const number_code codes[] = {code_of(version.major), code_of(version.minor),
                               code_of(version.patch), code_of(version.fourth)};
  const std::uint64_t release = version.prerelease ? 0 : 1;
  unsigned length = 1;
  for (const number_code& c : codes) length += c.length;
  if (length <= 57) {
    std::uint64_t all = 0;
    for (const number_code& c : codes) all = all << c.length | c.bits;
    sink->put(all << 1 | release, length);
    return;
  }
  for (const number_code& c : codes) sink->put(c.bits, c.length);
  sink->put(release, 1);
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
  } else {
    sink->put(value ^ flip, 8 * bytes);
  }
}

}  // namespace

std::size_t encode_order_code(const version_view& version, bool descending,
                              std::uint8_t* out) noexcept {
  std::memset(out, 0, 24);  // what a key reads of a short code
  bit_sink sink(out);
  put_numbers(&sink, version);  // and a 1 for a release, above its pre-releases
  if (version.prerelease) {
    const char* at = version.prerelease->data();
    const char* const end = at + version.prerelease->size();
    for (;;) {
      const char* dot = at;
      while (dot != end && *dot != '.') ++dot;
      const prerelease_identifier id = read_identifier({at, static_cast<std::size_t>(dot - at)});
      if (id.numeric) {
        sink.put(TAG_NUMBER, TAG_BITS);
        sink.put(id.negative ? 0 : 1, 1);
        put_magnitude(&sink, id.text, id.negative);
      } else {
        sink.put(TAG_WORD, TAG_BITS);
        sink.put_bytes(id.text);
        sink.put(0, 8);  // a word that is the start of another ranks lower
      }
      if (dot == end) break;
      at = dot + 1;
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

std::size_t encode_order_key(const version_view& version, std::uint8_t* out) noexcept {
  out[0] = ORDER_KEY_FORMAT;
  return 1 + encode_order_code(version, false, out + 1);
}

int compare_order_codes(const std::uint8_t* a, std::size_t a_length, const std::uint8_t* b,
                        std::size_t b_length) noexcept {
  return compare_bytes({reinterpret_cast<const char*>(a), a_length},
                       {reinterpret_cast<const char*>(b), b_length});
}

int version_order_key(const version_view& version, version_key* key) noexcept {
  version_view cut = version;
  if (cut.prerelease) {
    cut.prerelease = until_zero(*cut.prerelease);
    if (cut.prerelease->size() > static_cast<std::size_t>(MAX_VERSION_LENGTH)) return -1;
  }
  std::uint8_t room[ORDER_KEY_ROOM];
  key->length = encode_order_key(cut, room);
  std::memcpy(key->bytes.data(), room, key->length);
  return 0;
}

int version_order_key(const version_record& version, version_key* key) noexcept {
  return version_order_key(version_view_of(version), key);
}

}  // namespace quorbel
