#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "version/internal.h"

namespace quorbel {
namespace {

TEST(convert_integer, reads_like_strtol_and_keeps_the_low_32_bits) {
  struct row {
    std::string_view text;
    std::int32_t value;
    std::size_t consumed;
  };
  const row rows[] = {
      {"", 0, 0},
      {"0", 0, 1},
      {"42", 42, 2},
      {"007", 7, 3},
      {"12.5", 12, 2},
      {"2abc", 2, 1},
      {"abc", 0, 0},
      {"-3", -3, 2},
      {"+8", 8, 2},
      {"-", 0, 0},
      {"+", 0, 0},
      {" \t\n12", 12, 5},
      {"  ", 0, 0},
      {"2147483647", 2147483647, 10},
      {"2147483648", INT32_MIN, 10},
      {"4294967296", 0, 10},
      {"4294967297", 1, 10},
      {"-2147483649", 2147483647, 11},
      // Saturates at the 64-bit limits before the low 32 bits are taken.
      {"9223372036854775807", -1, 19},
      {"9223372036854775808", -1, 19},
      {"99999999999999999999999999999999999999999999999999", -1, 50},
      {"-9223372036854775808", 0, 20},
      {"-99999999999999999999999999", 0, 27},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.text);
    std::size_t consumed = 99;
    EXPECT_EQ(convert_integer(r.text, &consumed), r.value);
    EXPECT_EQ(consumed, r.consumed);
  }
}

TEST(until_zero, cuts_at_the_first_zero_byte) {
  using namespace std::literals;
  EXPECT_EQ(until_zero("1.2.3"sv), "1.2.3"sv);
  EXPECT_EQ(until_zero("1.2\0.3"sv), "1.2"sv);
  EXPECT_EQ(until_zero("\0x"sv), ""sv);
  EXPECT_EQ(until_zero(""sv), ""sv);
}

}  // namespace
}  // namespace quorbel
