#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include <quorbel/version.h>
#include "tests/version_testing.h"
#include "version/internal.h"

namespace quorbel {
namespace {

using testing::parsed;

int compare(std::string_view a, std::string_view b) {
  return version_compare(parsed(a), parsed(b));
}

TEST(version_compare, follows_precedence_along_an_ascending_chain) {
  const std::vector<std::string_view> chains[] = {
      {"1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta", "1.0.0-beta.2",
       "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0", "1.0.1", "1.0.1.1", "1.1.0", "2.0.0"},
      {"9.0.0", "10.0.0", "10.0.0.1", "10.0.0.2", "10.0.0.10"},
      {"1.0.0-", "1.0.0-alpha", "1.0.0-alpha.", "1.0.0-alpha.1", "1.0.0"},
      {"1.0.0-x.-5", "1.0.0-x.0", "1.0.0-x.9", "1.0.0-x.-", "1.0.0-x.a"},
      {"1.0.0-1", "1.0.0-Beta", "1.0.0-alpha", "1.0.0-alpha-1", "1.0.0-alpha1"},
      // Numeric identifiers compare by their exact value, whatever their length.
      {"1.0.0-1", "1.0.0-2147483647", "1.0.0-2147483648", "1.0.0-4294967296",
       "1.0.0-18446744073709551616", "1.0.0-99999999999999999999999999999"},
      {"1.0.0-nightly.20231231235959", "1.0.0-nightly.20240101000000",
       "1.0.0-nightly.20240101000000.1"},
      {"1.0.0--9999999999999", "1.0.0--5", "1.0.0-0", "1.0.0-5"},
      // Signed core numbers: 2147483648 keeps its low bits and is negative.
      {"2147483648.0.0", "0.0.0", "2147483647.0.0"},
  };
  for (const auto& chain : chains) {
    for (std::size_t i = 0; i < chain.size(); ++i) {
      for (std::size_t j = 0; j < chain.size(); ++j) {
        SCOPED_TRACE(std::string(chain[i]) + " vs " + std::string(chain[j]));
        const int expected = (i > j) - (i < j);
        EXPECT_EQ(compare(chain[i], chain[j]), expected);
      }
    }
  }
}

TEST(version_compare, treats_these_as_equal) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"1.2.3", "1.2.3.0"},
      {"1.2.3+a", "1.2.3+b"},
      {"1.2.3-x+a", "1.2.3-x"},
      {"1.0.0-", "1.0.0-0"},
      {"1.0.0-alpha.", "1.0.0-alpha.0"},
      {"1.0.0-01", "1.0.0-1"},
      {"1.0.0-x.-0", "1.0.0-x.0"},
      {"1.0.0-000000000000000000000000000000042", "1.0.0-42"},
      {"4294967297.0.0", "1.0.0"},
      {"", "0.0.0.0"},
      {"1.2.3.4.5", "1.2.3.4.x"},
  };
  for (const auto& [a, b] : rows) {
    SCOPED_TRACE(std::string(a) + " vs " + std::string(b));
    EXPECT_EQ(compare(a, b), 0);
    EXPECT_EQ(compare(b, a), 0);
  }
}

TEST(compare_prerelease, handles_absent_empty_and_free_form_identifiers) {
  using opt = std::optional<std::string_view>;
  struct row {
    opt a, b;
    int expected;
  };
  const row rows[] = {
      {{}, {}, 0},         {"", {}, -1},         {{}, "", 1},
      {"", "", 0},         {" 5", "5", 0},  // white space before a number still makes it numeric
      {"+5", "5", 0},      {"-0", "0", 0},       {" ", "0", 1},     // white space alone is a word
      {"--5", "-5", 1},                                             // so is a doubled sign
      {"5 ", "5", 1},                                               // and trailing white space
      {"a.b.c", "a.b", 1}, {"a..b", "a.0.b", 0}, {"\xff", "z", 1},  // bytes compare unsigned
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.a.value_or("<absent>")) + " vs " +
                 std::string(r.b.value_or("<absent>")));
    EXPECT_EQ(compare_prerelease(r.a, r.b), r.expected);
    EXPECT_EQ(compare_prerelease(r.b, r.a), -r.expected);
  }
}

TEST(relational_tests, agree_with_version_compare) {
  const std::string_view versions[] = {"1.0.0-rc.1", "1.0.0", "1.0.0+b", "1.0.1", "0.9.9.9"};
  for (auto a : versions) {
    for (auto b : versions) {
      SCOPED_TRACE(std::string(a) + " vs " + std::string(b));
      const version_record x = parsed(a);
      const version_record y = parsed(b);
      const int c = version_compare(x, y);
      EXPECT_EQ(version_gt(x, y), c == 1 ? 1 : 0);
      EXPECT_EQ(version_lt(x, y), c == -1 ? 1 : 0);
      EXPECT_EQ(version_eq(x, y), c == 0 ? 1 : 0);
      EXPECT_EQ(version_ne(x, y), 1 - version_eq(x, y));
      EXPECT_EQ(version_ge(x, y) & version_le(x, y), version_eq(x, y));
    }
  }
}

TEST(compare_int, is_signed) {
  EXPECT_EQ(compare_int(-1, 0), -1);
  EXPECT_EQ(compare_int(INT32_MAX, INT32_MIN), 1);
  EXPECT_EQ(compare_int(7, 7), 0);
}

TEST(version_compare, hand_built_texts_end_at_their_first_zero_byte) {
  version_record a = parsed("1.0.0-rc");
  version_record b = parsed("1.0.0-rc");
  b.prerelease = std::string("rc\0zz", 5);
  EXPECT_EQ(version_compare(a, b), 0);
}

}  // namespace
}  // namespace quorbel
