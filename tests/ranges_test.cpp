#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "version/internal.h"

namespace quorbel {
namespace {

version_record parsed(std::string_view text) {
  version_record record;
  EXPECT_EQ(version_parse(text, &record), 0) << text;
  return record;
}

struct range_case {
  std::string_view op;
  std::string_view x;
  std::string_view y;
  int expected;
};

void check(const range_case& c) {
  SCOPED_TRACE(std::string(c.x) + " against '" + std::string(c.op) + "' " + std::string(c.y));
  const version_record x = parsed(c.x);
  const version_record y = parsed(c.y);
  EXPECT_EQ(version_matches(x, y, c.op), c.expected);
}

TEST(version_matches, caret_keeps_the_major_and_pins_below_one) {
  const range_case cases[] = {
      {"^", "1.2.3", "1.2.3", 1},       {"^", "1.2.9", "1.2.3", 1},
      {"^", "1.3.0", "1.2.3", 1},       {"^", "1.9.0", "1.2.3", 1},
      {"^", "1.2.2", "1.2.3", 0},       {"^", "1.1.9", "1.2.3", 0},
      {"^", "2.0.0", "1.2.3", 0},       {"^", "0.2.3", "1.2.3", 0},
      {"^", "0.2.3", "0.2.3", 1},       {"^", "0.2.7", "0.2.3", 1},
      {"^", "0.2.2", "0.2.3", 0},       {"^", "0.3.0", "0.2.3", 0},
      {"^", "1.2.3", "0.2.3", 0},       {"^", "0.0.3", "0.0.3", 1},
      {"^", "0.0.3-rc+b", "0.0.3", 1},  {"^", "0.0.3.9", "0.0.3", 1},
      {"^", "0.0.4", "0.0.3", 0},       {"^", "0.1.3", "0.0.3", 0},
      {"^", "0.0.3", "0.1.3", 0},       {"^", "1.2.3-alpha", "1.2.3-beta", 1},
      {"^", "1.4.0", "1.2.3.7", 1},
  };
  for (const range_case& c : cases) check(c);
}

TEST(version_matches, tilde_keeps_major_and_minor) {
  const range_case cases[] = {
      {"~", "1.2.0", "1.2.3", 1},  {"~", "1.2.3", "1.2.3", 1},
      {"~", "1.2.99", "1.2.3", 1}, {"~", "1.2.3-rc.1+b", "1.2.3", 1},
      {"~", "1.3.0", "1.2.3", 0},  {"~", "2.2.3", "1.2.3", 0},
      {"~", "1.1.9", "1.2.3", 0},
  };
  for (const range_case& c : cases) check(c);
}

TEST(version_matches, relational_operators_follow_precedence) {
  const range_case cases[] = {
      {">=", "1.0.0", "1.0.0", 1},      {">=", "1.0.0-rc.1", "1.0.0", 0},
      {">", "1.0.0", "1.0.0", 0},       {">", "1.0.1", "1.0.0", 1},
      {">", "1.0.0.1", "1.0.0", 1},     {"<", "1.0.0-rc.1", "1.0.0", 1},
      {"<", "1.0.0", "1.0.0", 0},       {"<=", "1.0.0", "1.0.0", 1},
      {"<=", "1.0.1", "1.0.0", 0},      {"=", "1.2.3+a", "1.2.3+b", 1},
      {"=", "1.2.3-a", "1.2.3", 0},     {"=", "1.2.3", "1.2.3.0", 1},
      // Only the first two bytes count.
      {"<=1.2.3", "1.0.0", "1.0.0", 1}, {"==", "1.0.0", "1.0.0", 1},
      {"=>", "1.0.1", "1.0.0", 0},      {"> =", "1.0.0", "1.0.0", 0},
  };
  for (const range_case& c : cases) check(c);
}

TEST(version_matches, unknown_operators_never_match) {
  const std::string_view ops[] = {"", "!=", "*", "v", " ^", std::string_view("\0=", 2)};
  const std::string_view versions[] = {"1.0.0", "1.0.1", "0.9.0", "1.0.0-rc"};
  for (std::string_view op : ops) {
    for (std::string_view x : versions) {
      for (std::string_view y : versions) check({op, x, y, 0});
    }
  }
}

TEST(version_matches, operator_ends_at_its_first_zero_byte) {
  // ">" followed by a zero byte is ">", not ">=".
  check({std::string_view(">\0=", 3), "1.0.0", "1.0.0", 0});
  check({std::string_view("<\0=", 3), "1.0.0", "1.0.1", 1});
}

TEST(version_matches, caret_and_tilde_compare_signed_numbers) {
  // Numbers wrap to negative values on parse; they must still rank below 0.
  version_record y;
  y.major = 1;
  version_record x;
  x.major = 1;
  x.minor = -2147483647 - 1;
  EXPECT_EQ(caret_match(x, y), 0);
  x.minor = 0;
  x.patch = -1;
  EXPECT_EQ(caret_match(x, y), 0);
  y.major = x.major = 0;
  y.minor = x.minor = -5;
  x.patch = 3;
  y.patch = -3;
  EXPECT_EQ(caret_match(x, y), 1);
  EXPECT_EQ(tilde_match(x, y), 1);
}

}  // namespace
}  // namespace quorbel
