#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include <quorbel/version.h>
#include "version/internal.h"

namespace quorbel {
namespace {

using namespace std::literals;

constexpr std::int32_t UNSET = 77;  // what the caller left in the record

struct parse_row {
  std::string_view text;
  int result;
  std::int32_t major, minor, patch, fourth;
  std::optional<std::string_view> prerelease, build;
};

// Numbers the text does not give stay UNSET; texts are checked only when the
// length and byte checks passed.
const parse_row PARSE_ROWS[] = {
    {"1.2.3", 0, 1, 2, 3, UNSET, {}, {}},
    {"1.2.3.4", 0, 1, 2, 3, 4, {}, {}},
    {"1.2.3.4.5", 0, 1, 2, 3, 4, {}, {}},
    {"1.2.3.4.x", 0, 1, 2, 3, 4, {}, {}},
    {"1.2.3.4.", 0, 1, 2, 3, 4, {}, {}},
    {"1", 0, 1, UNSET, UNSET, UNSET, {}, {}},
    {"1.2", 0, 1, 2, UNSET, UNSET, {}, {}},
    {"", 0, 0, UNSET, UNSET, UNSET, {}, {}},
    {".", 0, 0, 0, UNSET, UNSET, {}, {}},
    {"1..3", 0, 1, 0, 3, UNSET, {}, {}},
    {"1.", 0, 1, 0, UNSET, UNSET, {}, {}},
    {"01.002.3", 0, 1, 2, 3, UNSET, {}, {}},
    {"1.0.0-alpha+exp.sha.5", 0, 1, 0, 0, UNSET, "alpha", "exp.sha.5"},
    {"1.0.0+build-7", 0, 1, 0, 0, UNSET, {}, "build-7"},
    {"1.0.0-rc-1", 0, 1, 0, 0, UNSET, "rc-1", {}},
    {"1.2.3-", 0, 1, 2, 3, UNSET, "", {}},
    {"1.2.3+", 0, 1, 2, 3, UNSET, {}, ""},
    {"1.2.3-+", 0, 1, 2, 3, UNSET, "", ""},
    {"1.2.3+a+b-c", 0, 1, 2, 3, UNSET, {}, "a+b-c"},
    {"-1.2.3", 0, 0, UNSET, UNSET, UNSET, "1.2.3", {}},
    {"4294967297.0.0", 0, 1, 0, 0, UNSET, {}, {}},
    {"2147483648.0.0", 0, INT32_MIN, 0, 0, UNSET, {}, {}},
    {"00000000000000000000000000000000000000000000000001", 0, 1, UNSET, UNSET, UNSET, {}, {}},
    {"99999999999999999999999999999999999999999999999999", 0, -1, UNSET, UNSET, UNSET, {}, {}},
    // Cores read as they are checked, and cores that stop short of the
    // pre-release or build, read again.
    {"1234567890123456789.12345678901234567890", 0, 2112454933, -1, UNSET, UNSET, {}, {}},
    {"1.2.3.4-rc.1+b", 0, 1, 2, 3, 4, "rc.1", "b"},
    {"1.2.3.4.5-rc", 0, 1, 2, 3, 4, "rc", {}},
    {"7.+b", 0, 7, 0, UNSET, UNSET, {}, "b"},
    {"1.2.3.-rc", 0, 1, 2, 3, 0, "rc", {}},
    {"123456789012345678.1", 0, -1506741426, 1, UNSET, UNSET, {}, {}},
    // A bad core still sets the texts and the numbers before it.
    {"9.9.x", -1, 9, 9, UNSET, UNSET, {}, {}},
    {"1.2.x-rc+b", -1, 1, 2, UNSET, UNSET, "rc", "b"},
    {"v1.2.3", -1, UNSET, UNSET, UNSET, UNSET, {}, {}},
    {"1.2.x", -1, 1, 2, UNSET, UNSET, {}, {}},
    {"1.2.3a", -1, 1, 2, UNSET, UNSET, {}, {}},
    {"1.2.3a-rc", -1, 1, 2, UNSET, UNSET, "rc", {}},
    {"1.2.3-rc\x01", -1, UNSET, UNSET, UNSET, UNSET, {}, {}},
    {"000000000000000000000000000000000000000000000000001", -1, UNSET, UNSET, UNSET, UNSET, {}, {}},
    {"1.aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", -1, 1, UNSET, UNSET, UNSET, {}, {}},
};

TEST(version_parse, fills_the_numbers_and_texts_the_text_gives) {
  for (const parse_row& r : PARSE_ROWS) {
    SCOPED_TRACE(r.text);
    version_record record{UNSET, UNSET, UNSET, UNSET, {}, {}, {}};
    EXPECT_EQ(version_parse(r.text, &record), r.result);
    EXPECT_EQ(record.major, r.major);
    EXPECT_EQ(record.minor, r.minor);
    EXPECT_EQ(record.patch, r.patch);
    EXPECT_EQ(record.fourth, r.fourth);
    if (version_is_valid(r.text) == 1) {
      EXPECT_EQ(record.prerelease, r.prerelease);
      EXPECT_EQ(record.build, r.build);
      EXPECT_EQ(record.raw, r.text);
    }
    version_release(&record);
  }
}

TEST(version_parse, rejects_bad_length_or_bytes_without_touching_the_record) {
  const std::string rows[] = {
      "1.2.3 ",
      " 1.2.3",
      "1.2.3\r",
      "1.2.3\t",
      "1.2.3=",
      "1.2.3_4",
      "1.2.\xc3\xa9",
      std::string(256, '1'),
      "1.2.3-" + std::string(250, 'a'),
  };
  for (const std::string& text : rows) {
    SCOPED_TRACE(text);
    version_record record{5, 6, 7, 8, "b", "p", "r"};
    EXPECT_EQ(version_parse(text, &record), -1);
    EXPECT_EQ(record.major, 5);
    EXPECT_EQ(record.fourth, 8);
    EXPECT_EQ(record.build, "b");
    EXPECT_EQ(record.prerelease, "p");
    EXPECT_EQ(record.raw, "r");
  }
}

TEST(version_parse, limits_length_and_components) {
  std::string longest = "1.2.3-" + std::string(249, 'a');
  ASSERT_EQ(longest.size(), 255u);
  version_record record;
  EXPECT_EQ(version_parse(longest, &record), 0);
  EXPECT_EQ(version_parse(longest + "a", &record), -1);
  EXPECT_EQ(version_parse(std::string(50, '9') + ".1", &record), 0);
  EXPECT_EQ(version_parse(std::string(51, '1'), &record), -1);
}

TEST(version_parse, text_ends_at_its_first_zero_byte) {
  version_record record;
  EXPECT_EQ(version_parse("1.2.3\0garbage"sv, &record), 0);
  EXPECT_EQ(record.raw, "1.2.3");
  EXPECT_EQ(version_parse("1.2\0.3"sv, &record), 0);
  EXPECT_EQ(record.raw, "1.2");
  EXPECT_EQ(record.patch, 3);  // left as it was: the text gave no patch
  EXPECT_EQ(version_parse("7.8.9\0\x01"sv, &record), 0);
  EXPECT_EQ(record.raw, "7.8.9");
  EXPECT_EQ(version_is_valid("1.2.3\0 "sv), 1);
  EXPECT_EQ(length_ok(std::string(300, '1').replace(10, 1, 1, '\0')), 1);
}

TEST(version_parse, view_parse_points_into_the_text) {
  const std::string text = "1.4.0-rc.1+exp.5";
  version_view view;
  ASSERT_EQ(version_parse_view(text, &view), 0);
  EXPECT_EQ(view.prerelease->data(), text.data() + 6);
  EXPECT_EQ(*view.prerelease, "rc.1");
  EXPECT_EQ(*view.build, "exp.5");
  EXPECT_EQ(view.raw->data(), text.data());
}

TEST(version_skip_v, takes_a_tags_v_only_before_a_digit) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"v1.2.3", "1.2.3"}, {"V2", "2"},    {"v", "v"},     {"v-1", "v-1"},
      {"vx", "vx"},        {"vv1", "vv1"}, {"1.2", "1.2"}, {"v\0001"sv, "v\0001"sv},
  };
  for (const auto& [text, expected] : rows) {
    SCOPED_TRACE(std::string(text));
    const std::string_view skipped = version_skip_v(text);
    EXPECT_EQ(skipped, expected);
    EXPECT_EQ(skipped.data() + skipped.size(), text.data() + text.size());  // a view of the text
  }
}

TEST(version_release, marks_texts_absent_and_keeps_numbers) {
  version_record record;
  ASSERT_EQ(version_parse("1.2.3-rc+b", &record), 0);
  version_release(&record);
  EXPECT_FALSE(record.prerelease || record.build || record.raw);
  EXPECT_EQ(record.patch, 3);
  version_release(&record);
  EXPECT_FALSE(record.prerelease || record.build || record.raw);
}

TEST(validity_helpers, check_length_then_bytes) {
  EXPECT_EQ(char_in_set('c', "abc", 3), 1);
  EXPECT_EQ(char_in_set('c', "abc", 2), 0);
  EXPECT_EQ(chars_in_set("", VERSION_CHARS), 1);
  EXPECT_EQ(chars_in_set("1.2.3-rc+B", VERSION_CHARS), 1);
  EXPECT_EQ(chars_in_set("1.2.3_", VERSION_CHARS), 0);
  EXPECT_EQ(length_ok(std::string(255, 'x')), 1);
  EXPECT_EQ(length_ok(std::string(256, 'x')), 0);
  EXPECT_EQ(version_is_valid(std::string(256, '1')), 0);
  EXPECT_EQ(version_is_valid(""), 1);
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool allowed = VERSION_CHARS.find(c) != std::string_view::npos;
    EXPECT_EQ(version_is_valid(std::string(1, c)), c == '\0' || allowed ? 1 : 0) << byte;
  }
}

TEST(split_off, cuts_at_the_first_separator) {
  std::string_view text = "1.0.0-a-b";
  EXPECT_EQ(split_off(&text, '-'), "a-b");
  EXPECT_EQ(text, "1.0.0");
  EXPECT_EQ(split_off(&text, '-'), std::nullopt);
  EXPECT_EQ(text, "1.0.0");
  std::string_view trailing = "1+";
  EXPECT_EQ(split_off(&trailing, '+'), "");
  EXPECT_EQ(trailing, "1");
}

}  // namespace
}  // namespace quorbel
