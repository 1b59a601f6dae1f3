#include <gtest/gtest.h>

#include <algorithm>
#include <compare>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <quorbel/version.h>
#include "tests/version_testing.h"

namespace quorbel {
namespace {

using testing::parsed;

std::string rendered(const version_record& record) {
  std::string text;
  EXPECT_EQ(version_render(record, &text), 0);
  return text;
}

std::string_view name_of(std::weak_ordering order) {
  if (order < 0) return "less";
  if (order > 0) return "greater";
  return "equivalent";
}

TEST(version_record_operators, order_by_precedence) {
  struct row {
    std::string_view left;
    std::string_view right;
    std::weak_ordering expected;
  };
  const row rows[] = {
      {"1.0.0-rc.1", "1.0.0", std::weak_ordering::less},
      {"1.0.0", "1.0.0-rc.1", std::weak_ordering::greater},
      {"1.2.3+a", "1.2.3+b", std::weak_ordering::equivalent},
      {"1.2.3-x+a", "1.2.3-x", std::weak_ordering::equivalent},
      {"1.2.3", "1.2.3.0", std::weak_ordering::equivalent},
      {"1.2.3", "1.2.3.1", std::weak_ordering::less},
      {"10.0.0", "9.0.0", std::weak_ordering::greater},
      {"1.0.0-alpha", "1.0.0-alpha.1", std::weak_ordering::less},
      {"1.0.0-beta.11", "1.0.0-beta.2", std::weak_ordering::greater},
      {"1.0.0-Beta", "1.0.0-alpha", std::weak_ordering::less},
      {"1.0.0-", "1.0.0-0", std::weak_ordering::equivalent},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(std::string(r.left) + " vs " + std::string(r.right));
    const version_record left = parsed(r.left);
    const version_record right = parsed(r.right);
    EXPECT_EQ(name_of(left <=> right), name_of(r.expected));
    EXPECT_EQ(name_of(right <=> left), name_of(0 <=> r.expected));
    EXPECT_EQ(left == right, r.expected == 0);
    EXPECT_EQ(left != right, r.expected != 0);
    EXPECT_EQ(left < right, r.expected < 0);
    EXPECT_EQ(left <= right, r.expected <= 0);
    EXPECT_EQ(left > right, r.expected > 0);
    EXPECT_EQ(left >= right, r.expected >= 0);
    // Views, with views and with records on either side.
    const version_view left_view = version_view_of(left);
    const version_view right_view = version_view_of(right);
    EXPECT_EQ(name_of(left_view <=> right_view), name_of(r.expected));
    EXPECT_EQ(name_of(left_view <=> right), name_of(r.expected));
    EXPECT_EQ(name_of(left <=> right_view), name_of(r.expected));
    EXPECT_EQ(left_view == right_view, r.expected == 0);
    EXPECT_EQ(left == right_view, r.expected == 0);
    EXPECT_EQ(left_view != right, r.expected != 0);
  }
}

TEST(version_record_operators, equal_precedence_is_not_identity) {
  const version_record a = parsed("1.2.3+a");
  const version_record b = parsed("1.2.3+b");
  EXPECT_TRUE(a == b);
  EXPECT_NE(a.build, b.build);
  EXPECT_NE(rendered(a), rendered(b));
}

// Ascending, with no two versions of equal precedence.
const std::vector<std::string_view> ASCENDING = {
    "0.0.0",      "0.9.1",        "1.0.0-alpha",   "1.0.0-alpha.1", "1.0.0-alpha.beta",
    "1.0.0-beta", "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1",    "1.0.0+build.5",
    "1.0.1",      "1.0.1.1",      "1.1.0",         "1.10.0",        "2.0.0",
};

std::vector<version_record> shuffled_records() {
  std::vector<version_record> records;
  for (std::string_view text : ASCENDING) records.push_back(parsed(text));
  std::mt19937 random(20240601);  // fixed, so a failure repeats
  std::shuffle(records.begin(), records.end(), random);
  return records;
}

std::vector<std::string> raw_texts(const std::vector<version_record>& records) {
  std::vector<std::string> texts;
  for (const version_record& record : records) texts.push_back(record.raw.value_or("<none>"));
  return texts;
}

TEST(version_record_operators, std_sort_orders_by_precedence) {
  const std::vector<std::string> expected(ASCENDING.begin(), ASCENDING.end());
  std::vector<version_record> records = shuffled_records();
  std::sort(records.begin(), records.end());
  EXPECT_EQ(raw_texts(records), expected);

  records = shuffled_records();
  std::ranges::sort(records);
  EXPECT_EQ(raw_texts(records), expected);

  records = shuffled_records();
  std::ranges::sort(records, std::greater<>{});
  EXPECT_EQ(raw_texts(records), std::vector<std::string>(expected.rbegin(), expected.rend()));
}

TEST(version_record_operators, map_keys_by_precedence) {
  std::map<version_record, std::string> owners;
  for (std::string_view text : {"2.0.0", "1.0.0-rc.1", "1.2.3+a", "1.0.0"}) {
    owners.emplace(parsed(text), std::string(text));
  }
  // 1.2.3+b is the key 1.2.3+a already holds, so the first one stays.
  const auto [where, inserted] = owners.emplace(parsed("1.2.3+b"), "1.2.3+b");
  EXPECT_FALSE(inserted);
  EXPECT_EQ(where->second, "1.2.3+a");
  ASSERT_EQ(owners.count(parsed("1.2.3.0")), 1u);
  EXPECT_EQ(owners.at(parsed("1.2.3.0")), "1.2.3+a");

  std::vector<std::string> in_order;
  for (const auto& [key, owner] : owners) in_order.push_back(owner);
  EXPECT_EQ(in_order, (std::vector<std::string>{"1.0.0-rc.1", "1.0.0", "1.2.3+a", "2.0.0"}));
}

TEST(version_record_operators, stream_writes_the_rendered_text) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"1.2.3", "1.2.3"},
      {"1", "1.0.0"},
      {"01.002.3", "1.2.3"},
      {"1.0.0-alpha+exp.sha.5", "1.0.0-alpha+exp.sha.5"},
      {"1.2.3.4-rc+b", "1.2.3-rc+b"},
      {"1.2.3-", "1.2.3-"},
      {"1.2.3+", "1.2.3+"},
      {"-1.2.3", "0.0.0-1.2.3"},
  };
  for (const auto& [text, expected] : rows) {
    SCOPED_TRACE(text);
    const version_record record = parsed(text);
    std::ostringstream out;
    out << record << '|' << version_view_of(record);
    EXPECT_TRUE(out.good());
    EXPECT_EQ(out.str(), std::string(expected) + "|" + std::string(expected));
    EXPECT_EQ(to_string(record), expected);
    EXPECT_EQ(to_string(version_view_of(record)), expected);
#if defined(__cpp_lib_format)
    EXPECT_EQ(std::format("{}", record), expected);
    EXPECT_EQ(std::format("[{:>12}]", version_view_of(record)),
              std::format("[{:>12}]", std::string(expected)));
#endif
  }
}

TEST(version_parse, returns_the_version_or_nothing) {
  const struct {
    std::string_view text;
    version_syntax syntax;
    std::optional<std::string_view> rendered;
  } rows[] = {
      {"1.2.3-rc+b", version_syntax::strict, "1.2.3-rc+b"},
      {"1.2", version_syntax::strict, "1.2.0"},
      {"", version_syntax::strict, "0.0.0"},
      {"1.2.x", version_syntax::strict, std::nullopt},
      {"v1.2.3", version_syntax::strict, std::nullopt},
      {"v1.2.3", version_syntax::loose, "1.2.3"},
      {"V2-rc", version_syntax::loose, "2.0.0-rc"},
      {"v-1", version_syntax::loose, std::nullopt},
      {"vv1", version_syntax::loose, std::nullopt},
      {"1.2.3", version_syntax::loose, "1.2.3"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.text) + (row.syntax == version_syntax::loose ? " loose" : ""));
    const std::optional<version_record> record = version_parse(row.text, row.syntax);
    const std::optional<version_view> view = version_parse_view(row.text, row.syntax);
    ASSERT_EQ(record.has_value(), row.rendered.has_value());
    ASSERT_EQ(view.has_value(), row.rendered.has_value());
    if (!row.rendered) continue;
    EXPECT_EQ(to_string(*record), *row.rendered);
    EXPECT_EQ(to_string(*view), *row.rendered);
  }
}

TEST(version_record_operators, stream_output_chains) {
  std::ostringstream out;
  out << '[' << parsed("1.0.0-rc.1") << ", " << parsed("2.0.0+x") << ']';
  EXPECT_EQ(out.str(), "[1.0.0-rc.1, 2.0.0+x]");
}

}  // namespace
}  // namespace quorbel
