#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "tests/version_testing.h"
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

struct satisfies_row {
  std::string_view range, version;
  int held_back, let_in;  // without and with pre-releases let in
};

TEST(version_satisfies, desugars_the_range_grammar) {
  const satisfies_row rows[] = {
      // Every version; pre-releases only when let in.
      {"", "0.0.0", 1, 1},
      {" * ", "1.2.3-rc", 0, 1},
      {"X", "4294967295.0.0", 1, 1},
      {"1 ||", "5.0.0", 1, 1},
      {">*", "0.0.0", 0, 0},
      {"<*", "0.0.0-rc", 0, 0},
      // Exact versions: a missing fourth is 0, the build never counts.
      {"1.2.3", "1.2.3.0+b", 1, 1},
      {"=v1.2.3+build", "1.2.3", 1, 1},
      {"1.2.3", "1.2.3.1", 0, 0},
      {"1.2.3", "1.2.3-rc", 0, 0},
      {"= 1.2.3.4", "1.2.3.4", 1, 1},
      // Partial versions cover their prefix; their first pre-releases when let in.
      {"1.2", "1.2.9.9", 1, 1},
      {"1.2", "1.2.0-rc.1", 0, 1},
      {"1.*.X", "1.0.0", 1, 1},
      {"1.2.3.x", "1.2.3.9", 1, 1},
      {"1.2.3.x", "1.2.3.0-rc", 0, 1},
      {"1.2.3.x", "1.2.4", 0, 0},
      {"1", "2.0.0--5", 0, 0},
      {"1", "2.0.0-", 0, 0},
      {"4294967297.x", "1.5.0", 1, 1},
      {">1", "2.0.0-rc", 0, 1},
      {">1.2.x", "1.3.0", 1, 1},
      {">=1.2", "1.2.0", 1, 1},
      {">=1.2", "1.2.0-rc", 0, 1},
      {"<1.2", "1.1.9-rc", 0, 1},
      {"<1.2", "1.2.0-rc", 0, 0},
      {"<=1.2", "1.2.9.9", 1, 1},
      {"<=1.2", "1.3.0-rc", 0, 0},
      {">2147483647", "2147483647.9.9", 0, 0},
      {"<=2147483647", "2147483647.9.9", 1, 1},
      // Full versions compare by precedence, and their lower bounds never move.
      {">1.2.3", "1.2.3", 0, 0},
      {">1.2.3", "1.2.3.1", 1, 1},
      {">=1.2.3", "1.2.3-rc", 0, 0},
      {"<2.0.0", "2.0.0-rc", 0, 1},
      {"<=1.2.3", "1.2.3+b", 1, 1},
      // ^ keeps the left-most non-zero number; its upper bound is below every
      // pre-release of the next release.
      {"^1.2.3", "1.9.0", 1, 1},
      {"^1.2.3", "1.2.2", 0, 0},
      {"^1.2.3", "2.0.0-rc.1", 0, 0},
      {"^1.2.3", "2.0.0--1", 0, 0},
      {"^0.2.3", "0.3.0", 0, 0},
      {"^0.0.3", "0.0.3.9", 1, 1},
      {"^0.0.3", "0.0.4", 0, 0},
      {"^0.0.x", "0.0.9", 1, 1},
      {"^0.0", "0.1.0", 0, 0},
      {"^1.x", "2.0.0", 0, 0},
      {"^0.x", "1.0.0-rc", 0, 0},
      {"^1.2", "1.2.0-rc", 0, 1},
      {"^ 1.2.3.4", "1.2.3.3", 0, 0},
      {"^0.0.0.4", "0.0.0.4", 1, 1},
      {"^0.0.0.4", "0.0.0.5", 0, 0},
      {"^0.0.0", "0.0.0.7", 1, 1},
      {"^0.0.0", "0.0.1", 0, 0},
      {"^0.0.0.0", "0.0.0.1", 0, 0},
      {"^2147483647.0.0", "2147483647.9.0", 1, 1},
      // ~ keeps the minor when one is written, else the major.
      {"~1.2.3", "1.2.9", 1, 1},
      {"~1.2.3", "1.3.0-rc", 0, 0},
      {"~1", "1.9.0", 1, 1},
      {"~1", "2.0.0", 0, 0},
      {"~> 1.2", "1.2.7", 1, 1},
      {"~1.2.3.4", "1.2.3.3", 0, 0},
      {"~1.2.3.4", "1.2.9", 1, 1},
      {"~0.0.1", "0.0.9", 1, 1},
      // Hyphen ranges: inclusive; a partial upper end covers its prefix.
      {"1.2.3 - 2.3.4", "2.3.4", 1, 1},
      {"1.2.3 - 2.3.4", "2.3.5", 0, 0},
      {"1.2.3 - 2.3.4", "2.3.4-rc", 0, 1},
      {"1.2 - 2.3.4", "1.2.0-rc", 0, 1},
      {"1.2.3 - 2.3", "2.3.9", 1, 1},
      {"1.2.3 - 2.3", "2.4.0-rc", 0, 0},
      {"1.2.3.4 - 1.2.3.6", "1.2.3.7", 0, 0},
      {"* - 2", "0.0.1", 1, 1},
      {"v1 -\t=v2", "2.9.9", 1, 1},
      {"1.2.3-rc - 2", "1.2.3-rc.1", 1, 1},
      {"1 - 2.0.0-rc", "2.0.0-beta", 1, 1},
      // Its low end, full or partial, lets in its first release's pre-releases,
      // unless it names a pre-release itself.
      {"16.0.0 - 16.3", "16.0.0-rc.1", 0, 1},
      {"1.2.3.4 - 2", "1.2.3.4-rc", 0, 1},
      {"1.2.3.4 - 2", "1.2.3.3", 0, 0},
      {"1.2.3-rc.2 - 2", "1.2.3-rc.1", 0, 0},
      {"1.2.3 - 2 >=1.2.3", "1.2.3-rc", 0, 0},
      // After an operator, any run of v, = and white space.
      {"~=1.2", "1.2.9", 1, 1},
      {"~=1.2", "1.3.0", 0, 0},
      {">= =1.2.3", "1.2.2", 0, 0},
      {">==1.2", "1.2.0-rc", 0, 1},
      {"^ v2", "2.9.0", 1, 1},
      {"^ v2", "3.0.0", 0, 0},
      {"==1", "1.5.0", 1, 1},
      {"<= =v v=1.2", "1.2.9", 1, 1},
      {"~>= v1.2.3", "1.2.9", 1, 1},
      {"= v 1 - v= =2", "2.9.0", 1, 1},
      // Pre-releases pass where a comparator names the same four numbers.
      {">=1.2.3-beta.2", "1.2.3-rc.1", 1, 1},
      {">=1.2.3-beta.2", "1.2.4-rc.1", 0, 1},
      {">=1.2.3-beta.2", "1.2.3-beta.1", 0, 0},
      {">=1.2.3.4-rc", "1.2.3.5-rc", 0, 1},
      {"^1.2.3-rc", "1.2.3-rc.1", 1, 1},
      {"<2.0.0-0", "2.0.0--5", 1, 1},
      {">=1.2.3-rc <2", "1.2.3-rc.1", 1, 1},
      {">=1.2.3-rc >=1.2", "1.2.3-rc.1", 1, 1},
      {">=1.2.0-rc >=1.2", "1.2.0-rc.1", 0, 1},
      // Comparators narrow one another; alternatives widen.
      {">1.2.3 >=1.2.3", "1.2.3", 0, 0},
      {"<=2.0.0 <2.0.0", "2.0.0", 0, 0},
      {">2 <1", "1.5.0", 0, 0},
      {">= v1.2 \t<3", "2.9.9", 1, 1},
      {" \n>=1.2\r\n<3 ", "3.0.0", 0, 0},
      {"1||3", "3.1.0", 1, 1},
      {"^1 || ^2.0.0-rc", "1.5.0-rc", 0, 1},
      {"<1 || >=2.0.0-rc", "2.0.0-rc.2", 1, 1},
      // A union never loses what one of its members admits: * holds
      // pre-releases back, and the other alternative still lets its own in.
      {"^1.2.3-rc.1 || *", "1.2.3-rc.2", 1, 1},
      {"* || ^1.2.3-rc.1", "1.2.4-rc.1", 0, 1},
      {"|| >=1.2.3-rc.1 <1.2.3-rc.5", "1.2.3-rc.4", 1, 1},
      {"|| >=1.2.3-rc.1 <1.2.3-rc.5", "1.2.3-rc.5", 0, 1},
      {std::string_view(">=2\0 <1", 7), "2.0.0", 1, 1},
  };
  for (const satisfies_row& row : rows) {
    SCOPED_TRACE("'" + std::string(row.range) + "' on " + std::string(row.version));
    version_range range;
    std::size_t stopped = 0;
    ASSERT_EQ(version_range_parse(row.range, &range, &stopped), 0);
    EXPECT_EQ(stopped, until_zero(row.range).size());
    const version_record record = testing::parsed(row.version);
    version_view view;
    ASSERT_EQ(version_parse_view(row.version, &view), 0);
    EXPECT_EQ(version_satisfies(record, range), row.held_back);
    EXPECT_EQ(version_satisfies(view, range), row.held_back);
    EXPECT_EQ(version_satisfies(record, range, 1), row.let_in);
    EXPECT_EQ(version_satisfies(view, range, 1), row.let_in);
  }
}

TEST(version_range_parse, points_at_the_byte_where_the_text_stops_making_sense) {
  const std::string long_number = "1." + std::string(MAX_COMPONENT_LENGTH + 1, '7');
  const std::string long_version = "v1.2.3-" + std::string(MAX_VERSION_LENGTH, 'a');
  const std::pair<std::string_view, std::size_t> rows[] = {
      {">=", 2},        {">=>1", 2},       {"=>1", 1},          {"<>1", 1},   {"~ >1", 2},
      {">= =>1", 4},    {"^ v", 3},        {"v =1", 1},         {"1 - v", 5}, {"~=v=x.1", 6},
      {"1..2", 2},      {"1.", 2},         {"1.2a", 3},         {"x1", 1},    {"1.x.3", 4},
      {"1.2.3.4.5", 7}, {"1.2-rc", 3},     {"1.x-rc", 3},       {"1 -", 3},   {"- 1", 0},
      {"1 -2", 3},      {">=1 - 2", 4},    {"1 - 2 - 3", 6},    {"1 | 2", 3}, {"1 ||| 2", 5},
      {">=1<2", 3},     {"1.2.3 !", 6},    {"1.2.3-rc!", 8},    {"v", 1},     {"vv1", 1},
      {"^1 -", 3},      {long_number, 52}, {long_version, 256},
  };
  for (const auto& [text, offset] : rows) {
    SCOPED_TRACE(std::string(text));
    version_range range;
    ASSERT_EQ(version_range_parse("1.2.3", &range, nullptr), 0);
    std::size_t stopped = 0;
    EXPECT_EQ(version_range_parse(text, &range, &stopped), -1);
    EXPECT_EQ(stopped, offset);
    EXPECT_EQ(version_range_parse(text, &range, nullptr), -1);
    // The range parsed before is still there.
    EXPECT_EQ(range.alternatives.size(), 1U);
    EXPECT_EQ(version_satisfies(testing::parsed("1.2.3"), range), 1);
  }
}

// Comparators and hyphen ranges over a few small numbers, so that thousands
// of alternatives overlap, touch, repeat and name pre-releases.
class range_generator {
 public:
  explicit range_generator(unsigned seed) : random_(seed) {}

  std::string version(bool wildcards) {
    static const char* const PARTS[] = {"0", "1", "2", "3", "x"};
    const std::size_t count = 1 + below(4);
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
      const bool wild = text.find('x') != std::string::npos;  // then only wildcards
      text += std::string(i == 0 ? "" : ".") + PARTS[wild ? 4 : below(wildcards ? 5 : 4)];
    }
    if (count >= 3 && text.find('x') == std::string::npos && below(3) == 0) {
      static const char* const PRERELEASES[] = {"rc", "rc.1", "rc.2", "0", "", "-1"};
      text += std::string("-") + PRERELEASES[below(6)];
    }
    return text;
  }

  std::string alternative() {
    static const char* const OPERATORS[] = {"", "=", "<", "<=", ">", ">=", "^", "~"};
    if (below(8) == 0) return below(2) == 0 ? "*" : "";
    if (below(5) == 0) return version(true) + " - " + version(true);
    std::string text = OPERATORS[below(8)] + version(true);
    if (below(3) == 0) text += std::string(" ") + OPERATORS[below(8)] + version(true);
    return text;
  }

 private:
  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }
  std::mt19937 random_;
};

version_range parsed_range(std::string_view text) {
  version_range range;
  EXPECT_EQ(version_range_parse(text, &range, nullptr), 0) << text;
  return range;
}

TEST(version_satisfies, thousands_of_alternatives_keep_the_law_of_the_union) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    range_generator generate(seed);
    std::string text;
    std::vector<version_range> alternatives;
    for (int i = 0; i < 2000; ++i) {
      const std::string alternative = generate.alternative();
      text += (i == 0 ? "" : " || ") + alternative;
      alternatives.push_back(parsed_range(alternative));
    }
    const version_range range = parsed_range(text);
    version_range walked = range;  // matched alternative by alternative
    walked.index.reset();
    for (int i = 0; i < 400; ++i) {
      version_view v;
      const std::string version_text = generate.version(false);
      ASSERT_EQ(version_parse_view(version_text, &v), 0);
      for (int let_in = 0; let_in <= 1; ++let_in) {
        SCOPED_TRACE(version_text + (let_in ? " let in" : ""));
        int any = 0;
        for (const version_range& one : alternatives) any |= version_satisfies(v, one, let_in);
        EXPECT_EQ(version_satisfies(v, range, let_in), any);
        EXPECT_EQ(version_satisfies(v, walked, let_in), any);
      }
    }
  }
}

TEST(version_satisfies, equal_alternatives_count_once_and_exact_ones_are_searched) {
  std::string everything = "*";
  for (int i = 0; i < 60000; ++i) everything += " || *";
  const version_range all = parsed_range(everything);
  EXPECT_EQ(all.index->spans.size(), 1U);
  EXPECT_EQ(version_satisfies(testing::parsed("7.0.0"), all), 1);
  EXPECT_EQ(version_satisfies(testing::parsed("7.0.0-rc"), all), 0);
  EXPECT_EQ(version_satisfies(testing::parsed("7.0.0-rc"), all, 1), 1);

  std::string exact;
  for (int i = 0; i < 10000; i += 2) exact += "1.0." + std::to_string(i) + " || ";
  const version_range even = parsed_range(exact + "2.0.0-rc.1");
  const std::pair<std::string_view, int> rows[] = {
      {"1.0.0", 1}, {"1.0.1", 0},      {"1.0.9998+b", 1}, {"1.0.9998.1", 0}, {"1.0.10000", 0},
      {"0.9.0", 0}, {"2.0.0-rc.1", 1}, {"2.0.0-rc.2", 0}, {"1.0.2-rc", 0},   {"1.0.4.0", 1},
  };
  for (const auto& [version, expected] : rows) {
    SCOPED_TRACE(std::string(version));
    EXPECT_EQ(version_satisfies(testing::parsed(version), even), expected);
  }
}

TEST(version_satisfies, takes_texts_in_one_call) {
  const struct {
    std::string_view version, range;
    bool let_in;
    int expected;
  } rows[] = {
      {"1.4.0", "^1.2 || >=3", false, 1}, {"1.4.0-rc.1", "^1.2", false, 0},
      {"1.4.0-rc.1", "^1.2", true, 1},    {"v1.4.0", "^1.2", false, 0},
      {"1.4.0", ">=1 <", false, 0},       {"1.4.0", "", false, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.version) + " in '" + std::string(row.range) + "'");
    EXPECT_EQ(version_satisfies(row.version, row.range, row.let_in), row.expected);
  }
  // A bool flag answers with a bool; an int one as ever.
  const version_range range = parsed_range("^1.2");
  const version_view v = *version_parse_view("1.4.0-rc.1");
  static_assert(std::is_same_v<decltype(version_satisfies(v, range, true)), bool>);
  static_assert(std::is_same_v<decltype(version_satisfies(v, range, 1u)), int>);
  EXPECT_TRUE(version_satisfies(v, range, true));
  EXPECT_FALSE(version_satisfies(testing::parsed("1.4.0-rc.1"), range, false));
}

TEST(version_max_satisfying, finds_the_first_highest_and_lowest) {
  const std::vector<std::string> texts = {"1.2.3", "junk",    "1.4.0-rc.1", "1.3.0+a",
                                          "2.0.0", "1.3.0+b", "1.1.0",      "1.2.3.0+c"};
  std::vector<version_record> records;
  for (const std::string& text : texts) {
    records.push_back(
        version_parse(text).value_or(version_record{9, 0, 0, 0, {}, {}, {}}));  // junk: 9.0.0
  }
  const char* const pointers[] = {"2.0.0", "1.9.0-rc.1", "1.5.0", "x"};
  const version_range caret = parsed_range("^1.2");
  const version_range none = parsed_range("<1");
  const auto at = [](auto& versions, auto found) {
    return static_cast<long>(std::distance(std::begin(versions), found));
  };
  for (bool let_in : {false, true}) {
    SCOPED_TRACE(let_in ? "let in" : "held back");
    EXPECT_EQ(at(texts, version_max_satisfying(texts, caret, let_in)), let_in ? 2 : 3);
    EXPECT_EQ(at(records, version_max_satisfying(records, caret, let_in)), let_in ? 2 : 3);
    EXPECT_EQ(at(texts, version_min_satisfying(texts, caret, let_in)), 0);
    EXPECT_EQ(at(records, version_min_satisfying(records, caret, let_in)), 0);
    EXPECT_EQ(at(pointers, version_max_satisfying(pointers, caret, let_in)), let_in ? 1 : 2);
    EXPECT_TRUE(version_max_satisfying(texts, none, let_in) == texts.end());
    EXPECT_TRUE(version_min_satisfying(records, none, let_in) == records.end());
  }
}

TEST(version_satisfies, a_range_never_parsed_matches_nothing) {
  EXPECT_EQ(version_satisfies(testing::parsed("1.2.3"), version_range{}, 1), 0);
}

}  // namespace
}  // namespace quorbel
