// Laws that no table can cover: over many random versions, precedence is a
// total preorder, hashing agrees with it, and the copying and the viewing
// parser agree. Fixed seeds, so a failure is the same failure on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/version_testing.h"
#include "version/internal.h"

namespace quorbel {
namespace {

using namespace quorbel::testing;

std::vector<version_record> random_versions(unsigned seed, std::size_t count) {
  version_generator g(seed);
  std::vector<version_record> versions;
  while (versions.size() < count) {
    const std::string text = g.version();
    version_record record;
    if (text.size() > static_cast<std::size_t>(MAX_VERSION_LENGTH)) continue;
    EXPECT_EQ(version_parse(text, &record), 0) << text;
    versions.push_back(std::move(record));
  }
  return versions;
}

std::string shown(const version_record& v) { return v.raw.value_or("(none)"); }

TEST(version_compare, is_antisymmetric_over_random_pairs) {
  const std::vector<version_record> versions = random_versions(20240611, 600);
  for (const version_record& a : versions) {
    for (const version_record& b : versions) {
      const int ab = version_compare(a, b);
      ASSERT_TRUE(ab == -1 || ab == 0 || ab == 1) << shown(a) << " vs " << shown(b);
      ASSERT_EQ(ab, -version_compare(b, a)) << shown(a) << " vs " << shown(b);
    }
  }
}

TEST(version_compare, is_transitive_over_random_triples) {
  const std::vector<version_record> versions = random_versions(7, 300);
  version_generator g(11);
  for (int i = 0; i < 200000; ++i) {
    const version_record& a = versions[g.below(versions.size())];
    const version_record& b = versions[g.below(versions.size())];
    const version_record& c = versions[g.below(versions.size())];
    const int ab = version_compare(a, b);
    const int bc = version_compare(b, c);
    if (ab > 0 || bc > 0) continue;
    const int ac = version_compare(a, c);
    // a <= b <= c gives a <= c, equal only when both steps are equal.
    ASSERT_EQ(ac, ab == 0 && bc == 0 ? 0 : -1)
        << shown(a) << " / " << shown(b) << " / " << shown(c);
  }
}

TEST(version_compare, sorted_sequence_is_ordered_between_every_pair) {
  // A sort only looks at neighbours it happens to compare; a preorder must
  // also order every pair of the result.
  std::vector<version_record> versions = random_versions(99, 500);
  std::sort(versions.begin(), versions.end(), [](const version_record& a, const version_record& b) {
    return version_compare(a, b) < 0;
  });
  for (std::size_t i = 0; i < versions.size(); ++i) {
    for (std::size_t j = i + 1; j < versions.size(); ++j) {
      ASSERT_LE(version_compare(versions[i], versions[j]), 0)
          << shown(versions[i]) << " before " << shown(versions[j]);
    }
  }
}

TEST(version_compare, views_order_like_records) {
  version_generator g(3);
  for (int i = 0; i < 20000; ++i) {
    const std::string x = g.version();
    const std::string y = g.version();
    version_record xr, yr;
    version_view xv, yv;
    if (version_parse(x, &xr) != 0 || version_parse(y, &yr) != 0) continue;
    ASSERT_EQ(version_parse_view(x, &xv), 0);
    ASSERT_EQ(version_parse_view(y, &yv), 0);
    ASSERT_EQ(version_compare(xv, yv), version_compare(xr, yr)) << x << " vs " << y;
  }
}

// Equal versions hash alike, and, at this size with a 64-bit hash, unequal
// ones differently; a view hashes as its record.
TEST(version_hash, agrees_with_equality_over_random_pairs) {
  const std::vector<version_record> versions = random_versions(20240612, 600);
  const std::hash<version_record> hash;
  for (const version_record& a : versions) {
    ASSERT_EQ(std::hash<version_view>{}(version_view_of(a)), hash(a)) << shown(a);
    for (const version_record& b : versions) {
      ASSERT_EQ(hash(a) == hash(b), a == b) << shown(a) << " vs " << shown(b);
    }
  }
}

TEST(version_parse_view, agrees_with_version_parse) {
  version_generator g(42);
  for (int i = 0; i < 50000; ++i) {
    const std::string text = i % 2 == 0 ? g.version() : g.text();
    SCOPED_TRACE(text);
    version_record record;
    version_view view;
    ASSERT_EQ(version_parse(text, &record), version_parse_view(text, &view));
    ASSERT_EQ(record.major, view.major);
    ASSERT_EQ(record.minor, view.minor);
    ASSERT_EQ(record.patch, view.patch);
    ASSERT_EQ(record.fourth, view.fourth);
    const auto same = [](const std::optional<std::string>& owned,
                         const std::optional<std::string_view>& viewed) {
      return owned.has_value() == viewed.has_value() && (!owned || *owned == *viewed);
    };
    ASSERT_TRUE(same(record.raw, view.raw));
    ASSERT_TRUE(same(record.prerelease, view.prerelease));
    ASSERT_TRUE(same(record.build, view.build));
  }
}

}  // namespace
}  // namespace quorbel
