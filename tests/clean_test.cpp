#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "version/internal.h"

namespace quorbel {
namespace {

constexpr std::int32_t INT32_LARGEST = 2147483647;
constexpr std::int32_t INT32_SMALLEST = -2147483647 - 1;

TEST(version_scrub, removes_every_byte_outside_version_chars) {
  const std::string allowed_255(255, '1');
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"=1.2.3", "1.2.3"},
      {" 1.2.3 ", "1.2.3"},
      {"1 . 2 . 3", "1.2.3"},
      {"1.2.3\r\n", "1.2.3"},
      {"~>1.2", "1.2"},
      {"v1.2.3", "v1.2.3"},
      {"1.0.0-rc.1+b-7", "1.0.0-rc.1+b-7"},
      {"^^<>==_/\t\t1", "1"},
      {"", ""},
      {" \t=\x01\x7f\x80\xff", ""},
      {"\xc3\xa9"
       "1.2",
       "1.2"},
      {allowed_255, allowed_255},
      {" " + allowed_255.substr(1), allowed_255.substr(1)},
      // The text ends at its first zero byte; what follows is not joined to it.
      {std::string("1.2.3\0"
                   "4",
                   7),
       "1.2.3"},
      {allowed_255 + std::string(1, '\0') + std::string(100, 'x'), allowed_255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    std::string text = c.text;
    EXPECT_EQ(version_scrub(&text), 0);
    EXPECT_EQ(text, c.expected);
  }
}

TEST(version_scrub, refuses_texts_over_the_limit_before_cleaning) {
  const std::string cases[] = {
      std::string(256, '1'),
      std::string(255, ' ') + "1",  // would clean down to one byte
      std::string(1000, '='),
  };
  for (const std::string& original : cases) {
    SCOPED_TRACE(original.size());
    std::string text = original;
    EXPECT_EQ(version_scrub(&text), -1);
    EXPECT_EQ(text, original);
  }
}

TEST(version_scrub, keeps_allowed_bytes_in_order_and_is_idempotent) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 255);
  for (int i = 0; i < 5000; ++i) {
    std::string text(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : text) c = static_cast<char>(byte(random));
    // Zero bytes are rare at random; put one in every few texts.
    if (i % 4 == 0 && !text.empty()) text[text.size() / 2] = '\0';
    std::string expected;
    for (char c : until_zero(text)) {
      if (VERSION_CHARS.find(c) != std::string_view::npos) expected += c;
    }
    const std::string original = text;
    ASSERT_EQ(version_scrub(&text), 0);
    ASSERT_EQ(text, expected) << "from " << original.size() << " bytes";
    ASSERT_LE(text.size(), original.size());
    for (char c : text) ASSERT_NE(VERSION_CHARS.find(c), std::string_view::npos);
    std::string again = text;
    ASSERT_EQ(version_scrub(&again), 0);
    ASSERT_EQ(again, text);
  }
}

TEST(cut_chars, removes_a_clamped_range) {
  const struct {
    std::string text;
    std::int32_t start;
    std::int32_t count;
    std::int32_t expected;
    std::string after;
  } cases[] = {
      {"abcdef", 2, 2, 2, "abef"},
      {"abcdef", 4, 10, 2, "abcd"},
      {"abcdef", 1, -1, 5, "a"},
      {"abcdef", 0, 6, 6, ""},
      {"abcdef", 0, 0, 0, "abcdef"},
      {"abcdef", 6, 1, 0, "abcdef"},
      {"abcdef", 6, -1, 0, "abcdef"},
      {"abcdef", 3, INT32_LARGEST, 3, "abc"},
      {"abcdef", 3, INT32_SMALLEST, 3, "abc"},
      {"", 0, 5, 0, ""},
      {"", 0, -1, 0, ""},
      // Start outside the text: nothing changes.
      {"abcdef", 7, 1, -1, "abcdef"},
      {"abcdef", -1, 2, -1, "abcdef"},
      {"abcdef", INT32_LARGEST, INT32_LARGEST, -1, "abcdef"},
      {"abcdef", INT32_SMALLEST, -1, -1, "abcdef"},
      {"", 1, 0, -1, ""},
      // The text ends at its first zero byte, which stays with what follows.
      {std::string("abc\0xy", 6), 1, -1, 2, std::string("a\0xy", 4)},
      {std::string("abc\0xy", 6), 2, 10, 1, std::string("ab\0xy", 5)},
      {std::string("abc\0xy", 6), 4, 1, -1, std::string("abc\0xy", 6)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " start " + std::to_string(c.start) + " count " +
                 std::to_string(c.count));
    std::string text = c.text;
    EXPECT_EQ(cut_chars(&text, c.start, c.count), c.expected);
    EXPECT_EQ(text, c.after);
  }
}

TEST(version_bump, adds_one_to_one_number_and_wraps) {
  const struct {
    void (*bump)(version_record*);
    std::int32_t version_record::*field;
    std::int32_t start;
    std::int32_t expected;
  } cases[] = {
      {version_bump_major, &version_record::major, 1, 2},
      {version_bump_minor, &version_record::minor, 1, 2},
      {version_bump_patch, &version_record::patch, 3, 4},
      {version_bump_major, &version_record::major, -1, 0},
      {version_bump_major, &version_record::major, INT32_LARGEST, INT32_SMALLEST},
      {version_bump_minor, &version_record::minor, INT32_LARGEST, INT32_SMALLEST},
      {version_bump_patch, &version_record::patch, INT32_LARGEST, INT32_SMALLEST},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.start));
    version_record record{7, 7, 7, 7, "b", "rc.1", "raw"};
    record.*c.field = c.start;
    version_record expected = record;
    expected.*c.field = c.expected;
    c.bump(&record);
    EXPECT_EQ(record.major, expected.major);
    EXPECT_EQ(record.minor, expected.minor);
    EXPECT_EQ(record.patch, expected.patch);
    EXPECT_EQ(record.fourth, expected.fourth);
    EXPECT_EQ(record.build, expected.build);
    EXPECT_EQ(record.prerelease, expected.prerelease);
    EXPECT_EQ(record.raw, expected.raw);
  }
}

}  // namespace
}  // namespace quorbel
