#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "version/internal.h"

namespace quorbel {
namespace {

struct range_case {
  std::string_view op, x, y;
  int expected;
};

void check(const range_case& c) {
  SCOPED_TRACE(std::string(c.x) + " '" + std::string(c.op) + "' " + std::string(c.y));
  version_record x, y;
  ASSERT_EQ(version_parse(c.x, &x), 0);
  ASSERT_EQ(version_parse(c.y, &y), 0);
  EXPECT_EQ(version_matches(x, y, c.op), c.expected);
}

TEST(version_matches, caret_keeps_the_major_and_pins_below_one) {
  const range_case cases[] = {
      {"^", "1.2.3", "1.2.3", 1},
      {"^", "1.2.9", "1.2.3", 1},
      {"^", "1.3.0", "1.2.3", 1},
      {"^", "1.9.0", "1.2.3", 1},
      {"^", "1.2.2", "1.2.3", 0},
      {"^", "1.1.9", "1.2.3", 0},
      {"^", "2.0.0", "1.2.3", 0},
      {"^", "0.2.3", "1.2.3", 0},
      {"^", "0.2.3", "0.2.3", 1},
      {"^", "0.2.7", "0.2.3", 1},
      {"^", "0.2.2", "0.2.3", 0},
      {"^", "0.3.0", "0.2.3", 0},
      {"^", "1.2.3", "0.2.3", 0},
      {"^", "0.0.3", "0.0.3", 1},
      {"^", "0.0.4", "0.0.3", 0},
      {"^", "0.1.3", "0.0.3", 0},
      {"^", "0.0.3", "0.1.3", 0},
      {"^", "0.0.3.9-rc+b", "0.0.3", 1},
      {"^", "1.2.3-alpha", "1.2.3-beta", 1},
      {"^", "1.4.0", "1.2.3.7", 1},
  };
  for (const range_case& c : cases) check(c);
}

TEST(version_matches, tilde_keeps_major_and_minor) {
  const range_case cases[] = {
      {"~", "1.2.0", "1.2.3", 1},      {"~", "1.2.3", "1.2.3", 1}, {"~", "1.2.99", "1.2.3", 1},
      {"~", "1.2.3-rc+b", "1.2.3", 1}, {"~", "1.3.0", "1.2.3", 0}, {"~", "2.2.3", "1.2.3", 0},
  };
  for (const range_case& c : cases) check(c);
}

TEST(version_matches, relational_operators_follow_precedence) {
  const range_case cases[] = {
      {">=", "1.0.0", "1.0.0", 1},
      {">=", "1.0.0-rc.1", "1.0.0", 0},
      {">", "1.0.0", "1.0.0", 0},
      {">", "1.0.0.1", "1.0.0", 1},
      {"<", "1.0.0-rc.1", "1.0.0", 1},
      {"<", "1.0.0", "1.0.0", 0},
      {"<=", "1.0.0", "1.0.0", 1},
      {"<=", "1.0.1", "1.0.0", 0},
      {"=", "1.2.3+a", "1.2.3+b", 1},
      {"=", "1.2.3-a", "1.2.3", 0},
      // Only the first two bytes count, and the operator ends at a zero byte.
      {"<=1.2.3", "1.0.0", "1.0.0", 1},
      {"==", "1.0.0", "1.0.0", 1},
      {"=>", "1.0.1", "1.0.0", 0},
      {"> =", "1.0.0", "1.0.0", 0},
      {std::string_view(">\0=", 3), "1.0.0", "1.0.0", 0},
  };
  for (const range_case& c : cases) check(c);
}

TEST(version_matches, unknown_operators_never_match) {
  const std::string_view ops[] = {"",   std::string_view{},        "!=", "*", "v",
                                  " ^", std::string_view("\0=", 2)};
  const std::string_view versions[] = {"1.0.0", "1.0.1", "0.9.0", "1.0.0-rc"};
  for (std::string_view op : ops) {
    for (std::string_view x : versions) {
      for (std::string_view y : versions) check({op, x, y, 0});
    }
  }
}

TEST(caret_match, compares_signed_numbers) {
  // Numbers of more than 31 bits parse to negative values, which rank below 0.
  version_record y{1, 0, 0, 0, {}, {}, {}};
  EXPECT_EQ(caret_match({1, -2147483647 - 1, 5, 0, {}, {}, {}}, y), 0);
  EXPECT_EQ(caret_match({1, 0, -1, 0, {}, {}, {}}, y), 0);
  EXPECT_EQ(caret_match({0, -5, 3, 0, {}, {}, {}}, {0, -5, -3, 0, {}, {}, {}}), 1);
}

}  // namespace
}  // namespace quorbel
