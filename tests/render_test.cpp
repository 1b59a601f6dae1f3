#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "version/internal.h"

namespace quorbel {
namespace {

version_record make(std::int32_t major, std::int32_t minor, std::int32_t patch,
                    std::optional<std::string> prerelease = std::nullopt,
                    std::optional<std::string> build = std::nullopt) {
  version_record record;
  record.major = major;
  record.minor = minor;
  record.patch = patch;
  record.prerelease = std::move(prerelease);
  record.build = std::move(build);
  return record;
}

TEST(version_render, appends_numbers_prerelease_and_build) {
  const std::string long_text(300, 'x');
  version_record with_extras = make(1, 2, 3, "rc", "b");
  with_extras.fourth = 4;
  with_extras.raw = "1.2.3.4-rc+b";
  const struct {
    version_record record;
    std::string destination;
    std::string expected;
  } cases[] = {
      {make(1, 2, 3), "", "1.2.3"},
      {make(1, 0, 0, "alpha", "build.5"), "", "1.0.0-alpha+build.5"},
      {make(1, 2, 3, ""), "", "1.2.3-"},
      {make(1, 2, 3, std::nullopt, ""), "", "1.2.3+"},
      {make(1, 2, 3, "", ""), "", "1.2.3-+"},
      {make(1, 2, 3), "v", "v1.2.3"},
      {with_extras, "", "1.2.3-rc+b"},
      {make(-1, 2147483647, -2147483647 - 1), "", "-1.2147483647.-2147483648"},
      // Longer than a formatting piece: still whole.
      {make(1, 2, 3, long_text, long_text), "", "1.2.3-" + long_text + "+" + long_text},
      {make(0, 0, 0, std::string("a\0b", 3)), "", "0.0.0-a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string destination = c.destination;
    EXPECT_EQ(version_render(c.record, &destination), 0);
    EXPECT_EQ(destination, c.expected);
  }
}

TEST(version_value, joins_numbers_and_adds_text_sums) {
  const struct {
    version_record record;
    int expected;
  } cases[] = {
      {make(1, 2, 3), 123},
      {make(1, 2, 3, "alpha"), 641},
      {make(1, 0, 0, "rc.1"), 408},
      {make(1, 2, 3, std::nullopt, "build.5"), 750},
      {make(0, 0, 0), 0},
      {make(0, 0, 0, ""), 0},
      {make(1, 0, 0), 100},
      {make(0, 10, 0), 100},
      {make(0, 2, 3), 23},
      {make(0, 0, 3), 3},
      {make(10, 0, 1), 1001},
      {make(1, 10, 0), 1100},
      {make(11, 0, 0), 1100},
      {make(2147, 48364, 7), 2147483647},
      {make(2147, 48364, 8), -1},
      {make(2147483647, 2147483647, 2147483647), -1},
      {make(-1, 2, 3), -1},
      {make(1, -2, 3), -1},
      {make(0, 0, -2147483647 - 1), -1},
      // Bytes outside VERSION_CHARS add nothing; the sum wraps in 32 bits.
      {make(0, 0, 1, "a b\xff"), 1 + 'a' + 'b'},
      {make(2147, 48364, 7, std::nullopt, "1"), -2147483600},
  };
  // fourth plays no part.
  version_record with_fourth = make(1, 2, 3);
  with_fourth.fourth = 9;
  EXPECT_EQ(version_value(with_fourth), 123);
  for (const auto& c : cases) {
    std::string shown;
    ASSERT_EQ(version_render(c.record, &shown), 0);
    SCOPED_TRACE(shown);
    EXPECT_EQ(version_value(c.record), c.expected);
  }
}

TEST(digits_to_int, reads_only_plain_digits_up_to_the_limit) {
  const std::string many_zeros = std::string(1000, '0') + "42";
  const std::string many_nines(1000, '9');
  const struct {
    std::string_view text;
    std::int32_t expected;
  } cases[] = {
      {"", 0},    {"0042", 42}, {"2147483647", 2147483647}, {"2147483648", -1}, {"4a", -1},
      {"-4", -1}, {" 4", -1},   {many_zeros, 42},           {many_nines, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text.substr(0, 40)));
    EXPECT_EQ(digits_to_int(c.text), c.expected);
  }
}

TEST(version_render, round_trips_parsed_text) {
  std::mt19937 random(20240611);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  auto number = [&]() -> std::string {
    switch (pick(0, 2)) {
      case 0: return std::to_string(pick(0, 9));
      case 1: return std::to_string(pick(0, 99999));
      default: return std::to_string(pick(0, 2147483647));
    }
  };
  // Everything but '+' may follow the '-'; the build may hold anything.
  auto text_from = [&](std::string_view alphabet) {
    std::string text(static_cast<std::size_t>(pick(0, 110)), '\0');
    for (char& c : text) {
      c = alphabet[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
    }
    return text;
  };
  const std::string_view prerelease_chars = VERSION_CHARS.substr(0, 64);
  for (int i = 0; i < 2000; ++i) {
    std::string text = number() + "." + number() + "." + number();
    if (pick(0, 1) == 1) text += "-" + text_from(prerelease_chars);
    if (pick(0, 1) == 1) text += "+" + text_from(VERSION_CHARS);
    SCOPED_TRACE(text);
    version_record record;
    ASSERT_EQ(version_parse(text, &record), 0);
    std::string rendered;
    ASSERT_EQ(version_render(record, &rendered), 0);
    EXPECT_EQ(rendered, text);
  }
}

}  // namespace
}  // namespace quorbel
