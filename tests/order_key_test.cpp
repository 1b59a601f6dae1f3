// Order keys and codes: their byte order must be version_compare's, over
// random pairs and over every pair of the texts at the edges of the layout,
// and the key is the format byte and the ascending code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <quorbel/version.h>
#include "tests/version_testing.h"
#include "version/internal.h"

namespace quorbel {
namespace {

using namespace quorbel::testing;

using bytes = std::vector<std::uint8_t>;

version_view view_of(const std::string& text) {
  version_view view;
  EXPECT_EQ(version_parse_view(text, &view), 0) << text;
  return view;
}

bytes key_of(const version_view& version) {
  version_key key;
  EXPECT_EQ(version_order_key(version, &key), 0);
  return bytes(key.bytes.begin(), key.bytes.begin() + static_cast<std::ptrdiff_t>(key.length));
}

bytes descending_code_of(const version_view& version) {
  std::uint8_t code[ORDER_CODE_ROOM];
  const std::size_t n = encode_order_code(version, true, code);
  return bytes(code, code + n);
}

int compare_bytes(const bytes& a, const bytes& b) {
  return compare_order_codes(a.data(), a.size(), b.data(), b.size());
}

TEST(order_key, orders_exactly_like_version_compare) {
  const std::vector<std::string> texts = sample_versions(12345, 3000);
  std::vector<bytes> up, down;
  for (const std::string& text : texts) {
    up.push_back(key_of(view_of(text)));
    down.push_back(descending_code_of(view_of(text)));
  }
  version_generator g(54321);
  for (int i = 0; i < 200000; ++i) {
    const std::size_t a = g.below(texts.size());
    const std::size_t b = g.below(texts.size());
    const int expected = version_compare(view_of(texts[a]), view_of(texts[b]));
    ASSERT_EQ(compare_bytes(up[a], up[b]), expected) << texts[a] << " vs " << texts[b];
    ASSERT_EQ(compare_bytes(down[a], down[b]), -expected)
        << texts[a] << " vs " << texts[b] << " descending";
  }
}

// Versions at the edges of the layout: core numbers at the borders of their
// byte counts, wrapped to negative and saturated; numeric identifiers at 19
// and 20 digits, beyond 64 bits, with leading zeros and signs; words that a
// sign starts, or a digit; empty identifiers; identifiers of 40 and more
// bytes that share their first 20 or differ only in their last.
std::vector<std::string> edge_texts() {
  const std::string a20(20, 'a');
  const std::string n45 = "123456789012345678901234567890123456789012345";
  // clang-format off
  const std::vector<std::string> cores = {
      "", "0.0.0", "1.2.3", "01.002.3", "1.2.3.4", "1..3", "1.2.3.4.5", "255.256.65535.65536",
      "16777215.16777216.1", "2147483647.0.0", "2147483648.0.0", "3000000000.1",
      "4294967295.4294967296", "99999999999999999999.0.0"};
  const std::vector<std::string> ids = {
      "", "0", "00", "1", "01", "9", "10", "255", "256", "65536", "4294967296",
      "9999999999999999999", "10000000000000000000", "18446744073709551615",
      "18446744073709551616", "000000000000000000000000000001",
      n45, n45 + "6", n45.substr(0, 44) + "6",
      "-1", "-0", "-01", "-18446744073709551616", "-", "--1", "-a", "0-1", "1-",
      "0a", "a0", "A", "Z", "a", "alpha", "alpha-1",
      a20, a20 + "a", a20 + "b", a20 + "b.1", a20 + "-", a20.substr(0, 19) + "b"};
  // clang-format on
  std::vector<std::string> prereleases;
  for (const std::string& id : ids) prereleases.push_back("-" + id);
  for (const char* more :
       {"-.", "-..", "-a..b", "-.1", "-1.", "-1.a", "-a.1", "-a.b.c", "-1.1.1"}) {
    prereleases.push_back(more);
  }
  std::vector<std::string> texts;
  for (const std::string& core : cores) {
    texts.push_back(core);
    texts.push_back(core + "+build");
    for (const std::string& pre : prereleases) texts.push_back(core + pre);
  }
  // Two identifiers, on one core: any first, two in three seconds.
  for (const std::string& first : ids) {
    for (std::size_t j = 0; j < ids.size(); ++j) {
      if (j % 3 != 2) texts.push_back("1.2.3-" + first + "." + ids[j]);
    }
  }
  return texts;
}

TEST(order_key, every_pair_of_edge_texts_orders_like_version_compare) {
  const std::vector<std::string> texts = edge_texts();
  ASSERT_GT(texts.size(), 1800u);
  std::vector<version_view> views;
  std::vector<bytes> up, down;
  for (const std::string& text : texts) {
    views.push_back(view_of(text));
    up.push_back(key_of(views.back()));
    down.push_back(descending_code_of(views.back()));
  }
  for (std::size_t a = 0; a < texts.size(); ++a) {
    for (std::size_t b = 0; b < texts.size(); ++b) {
      const int expected = version_compare(views[a], views[b]);
      if (compare_bytes(up[a], up[b]) != expected || compare_bytes(down[a], down[b]) != -expected) {
        FAIL() << texts[a] << " vs " << texts[b] << ": version_compare gives " << expected;
      }
    }
  }
}

TEST(order_key, is_the_format_byte_and_the_ascending_code_for_records_and_views) {
  for (const char* text : {"", "1.2.3", "1.2.3-rc.1+b", "2147483648.0.0-a..1"}) {
    SCOPED_TRACE(text);
    const version_record record = parsed(text);
    version_key from_record;
    ASSERT_EQ(version_order_key(record, &from_record), 0);
    const bytes key(from_record.bytes.begin(),
                    from_record.bytes.begin() + static_cast<std::ptrdiff_t>(from_record.length));
    EXPECT_EQ(key, key_of(view_of(text)));
    std::uint8_t code[ORDER_CODE_ROOM];
    const std::size_t n = encode_order_code(view_of(text), false, code);
    EXPECT_EQ(key, [&] {
      bytes expected{ORDER_KEY_FORMAT};
      expected.insert(expected.end(), code, code + n);
      return expected;
    }());
  }
}

TEST(order_key, takes_a_record_filled_by_hand_up_to_its_first_zero_byte) {
  const auto key_of_prerelease = [](std::string prerelease) {
    version_record record;
    record.major = 1;
    record.prerelease = std::move(prerelease);
    version_key key;
    key.length = 0;
    const int result = version_order_key(record, &key);
    return result == 0 ? bytes(key.bytes.begin(),
                               key.bytes.begin() + static_cast<std::ptrdiff_t>(key.length))
                       : bytes{};
  };
  // Bytes no parse lets through still order as version_compare orders them.
  const std::vector<std::string> prereleases = {
      " 5", "5 ", "\t-7", "\xff", "a\x80", "x.+1", "", std::string("rc\0x", 4), "rc"};
  for (const std::string& a : prereleases) {
    for (const std::string& b : prereleases) {
      SCOPED_TRACE("'" + a + "' vs '" + b + "'");
      version_record x, y;
      x.major = y.major = 1;
      x.prerelease = a;
      y.prerelease = b;
      EXPECT_EQ(compare_bytes(key_of_prerelease(a), key_of_prerelease(b)), version_compare(x, y));
    }
  }
  // A pre-release longer than a version text may be has no key.
  EXPECT_FALSE(key_of_prerelease(std::string(255, 'a')).empty());
  version_record record;
  record.prerelease = std::string(256, 'a');
  version_key key;
  key.length = 7;
  EXPECT_EQ(version_order_key(record, &key), -1);
  EXPECT_EQ(key.length, 7u);
}

TEST(order_key, fits_its_greatest_length_on_the_longest_texts) {
  // Single-letter words between dots take the most bits a byte, after the
  // widest core numbers.
  std::size_t longest = 0;
  for (const std::string core : {"", "2147483648.2147483648.2147483648.2147483648"}) {
    for (const char* unit : {"a.", ".", "1.", "-1.", "99999999999999999999."}) {
      std::string text = core + "-";
      while (text.size() + std::strlen(unit) <= static_cast<std::size_t>(MAX_VERSION_LENGTH)) {
        text += unit;
      }
      SCOPED_TRACE(text);
      longest = std::max(longest, key_of(view_of(text)).size());
    }
  }
  EXPECT_LE(longest, MAX_ORDER_KEY);
  EXPECT_GE(longest, MAX_ORDER_KEY - 30);  // the bound is not loose either
}

}  // namespace
}  // namespace quorbel
