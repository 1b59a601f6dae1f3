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
