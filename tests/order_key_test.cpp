// Order keys and codes: their byte order must be version_compare's, over
// random pairs and over every pair of the texts at the edges of the layout,
// and the bytes of format 1 never change.
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

// The key, or no bytes when there is none.
template <typename Version>
bytes key_of(const Version& version) {
  version_key key;
  if (version_order_key(version, &key) != 0) return {};
  return bytes(key.bytes.begin(), key.bytes.begin() + static_cast<std::ptrdiff_t>(key.length));
}

bytes descending_code_of(const version_view& version) {
  std::uint8_t code[ORDER_CODE_ROOM];
  return bytes(code, code + encode_order_code(version, true, code));
}

int compare_bytes(const bytes& a, const bytes& b) {
  return compare_order_codes(a.data(), a.size(), b.data(), b.size());
}

// Every pair the function gives, in both directions: the keys order as
// version_compare does, the descending codes the other way round.
template <typename Pairs>
void expect_orders_like_version_compare(const std::vector<std::string>& texts, Pairs pairs) {
  std::vector<version_view> views;
  std::vector<bytes> up, down;
  for (const std::string& text : texts) {
    views.push_back(view_of(text));
    up.push_back(key_of(views.back()));
    down.push_back(descending_code_of(views.back()));
  }
  pairs([&](std::size_t a, std::size_t b) {
    const int expected = version_compare(views[a], views[b]);
    if (compare_bytes(up[a], up[b]) == expected && compare_bytes(down[a], down[b]) == -expected) {
      return true;
    }
    ADD_FAILURE() << texts[a] << " vs " << texts[b] << ": version_compare gives " << expected;
    return false;
  });
}

TEST(order_key, orders_exactly_like_version_compare) {
  const std::vector<std::string> texts = sample_versions(12345, 3000);
  version_generator g(54321);
  expect_orders_like_version_compare(texts, [&](auto agrees) {
    for (int i = 0; i < 200000 && agrees(g.below(texts.size()), g.below(texts.size())); ++i) {
    }
  });
}

TEST(order_key, every_pair_of_edge_texts_orders_like_version_compare) {
  const std::vector<std::string> texts = edge_texts();
  ASSERT_GT(texts.size(), 1800u);
  expect_orders_like_version_compare(texts, [&](auto agrees) {
    for (std::size_t a = 0; a < texts.size(); ++a) {
      for (std::size_t b = 0; b < texts.size(); ++b) {
        if (!agrees(a, b)) return;
      }
    }
  });
}

TEST(order_key, keeps_the_bytes_of_format_1_for_records_and_views) {
  const std::pair<const char*, bytes> rows[] = {
      {"1.2.3", {0x01, 0x40, 0x28, 0x09, 0x01, 0x98}},
      {"1.10.0+b", {0x01, 0x40, 0x28, 0x28, 0x98}},
      {"1.0.0-rc.1", {0x01, 0x40, 0x24, 0x94, 0xE4, 0xC6, 0x00, 0xC4, 0x04}},
      {"2147483648.0.0-a..1", {0x01, 0x10, 0, 0, 0, 0x04, 0x94, 0xC2, 0x00, 0xC1, 0x88, 0x08}},
  };
  for (const auto& [text, key] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(key_of(view_of(text)), key);
    EXPECT_EQ(key_of(parsed(text)), key);
  }
}

TEST(order_key, takes_a_record_filled_by_hand_up_to_its_first_zero_byte) {
  // Bytes no parse lets through still order as version_compare orders them.
  const std::string prereleases[] = {
      " 5", "5 ", "\t-7", "\xff", "a\x80", "x.+1", "", std::string("rc\0x", 4), "rc"};
  for (const std::string& a : prereleases) {
    for (const std::string& b : prereleases) {
      SCOPED_TRACE("'" + a + "' vs '" + b + "'");
      version_record x, y;
      x.prerelease = a;
      y.prerelease = b;
      EXPECT_EQ(compare_bytes(key_of(x), key_of(y)), version_compare(x, y));
    }
  }
  // A pre-release longer than a version text may be has no key.
  version_record record;
  record.prerelease = std::string(255, 'a');
  EXPECT_FALSE(key_of(record).empty());
  record.prerelease = std::string(256, 'a');
  version_key key;
  key.length = 7;
  EXPECT_EQ(version_order_key(record, &key), -1);
  EXPECT_EQ(key.length, 7u);
}

TEST(order_key, fits_its_greatest_length_on_the_longest_texts) {
  // Single-letter words between dots take the most bits a byte.
  std::size_t longest = 0;
  for (const std::string core : {"", "2147483648.2147483648.2147483648.2147483648"}) {
    for (const char* unit : {"a.", ".", "1.", "-1.", "99999999999999999999."}) {
      std::string text = core + "-";
      while (text.size() + std::strlen(unit) <= static_cast<std::size_t>(MAX_VERSION_LENGTH)) {
        text += unit;
      }
      longest = std::max(longest, key_of(view_of(text)).size());
    }
  }
  EXPECT_LE(longest, MAX_ORDER_KEY);
  EXPECT_GE(longest, MAX_ORDER_KEY - 30);  // the bound is not loose either
}

}  // namespace
}  // namespace quorbel
