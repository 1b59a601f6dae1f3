// version_increment: each step from versions with and without a pre-release,
// a fourth number and a build, and the cases it refuses.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "tests/version_testing.h"

namespace quorbel {
namespace {

using step = version_step;

TEST(version_increment, steps_as_package_managers_do) {
  const struct {
    std::string_view from;
    step by;
    std::string_view identifier;
    std::optional<std::string_view> to;  // nothing: refused, the record unchanged
  } rows[] = {
      {"1.2.3", step::major, "", "2.0.0"},
      {"1.2.3.4+b", step::major, "rc", "2.0.0"},
      {"2.0.0-rc.1", step::major, "", "2.0.0"},
      {"2.0.0.1-rc.1", step::major, "", "3.0.0"},
      {"1.2.3-rc.1", step::minor, "", "1.3.0"},
      {"1.2.0-rc.1", step::minor, "", "1.2.0"},
      {"1.2.3-rc.1", step::patch, "", "1.2.3"},
      {"1.2.3.4-rc", step::patch, "", "1.2.4"},
      {"1.2.3.4", step::patch, "", "1.2.4"},
      {"1.2.3", step::premajor, "", "2.0.0-0"},
      {"1.2.3", step::preminor, "rc", "1.3.0-rc.0"},
      {"1.2.3-rc.1", step::prepatch, "", "1.2.4-0"},
      {"1.2.3.9", step::prerelease, "", "1.2.4-0"},
      {"1.2.3+b", step::prerelease, "rc", "1.2.4-rc.0"},
      {"1.2.3.4-rc.1", step::prerelease, "", "1.2.3.4-rc.2"},
      {"1.2.3-rc.1", step::prerelease, "rc", "1.2.3-rc.2"},
      {"1.2.3-rc.1.beta", step::prerelease, "", "1.2.3-rc.2.beta"},
      {"1.2.3-alpha.1", step::prerelease, "beta", "1.2.3-beta.0"},
      {"1.2.3-rc", step::prerelease, "", "1.2.3-rc.0"},
      {"1.2.3-rc", step::prerelease, "rc", "1.2.3-rc.0"},
      // Numbers in a pre-release by their exact value, as precedence reads them.
      {"1.2.3-rc.99999999999999999999", step::prerelease, "", "1.2.3-rc.100000000000000000000"},
      {"1.2.3-rc.007", step::prerelease, "", "1.2.3-rc.8"},
      {"1.2.3--1", step::prerelease, "", "1.2.3-0"},
      {"1.2.3--10", step::prerelease, "", "1.2.3--9"},
      {"1.2.3-", step::prerelease, "", "1.2.3-1"},
      {"1.2.3-rc..b", step::prerelease, "", "1.2.3-rc.1.b"},
      // Never downwards, never past the limit, one identifier of plain bytes.
      {"1.2.3-rc.1", step::prerelease, "beta", std::nullopt},
      {"1.2.3-rc.beta", step::prerelease, "rc", std::nullopt},
      {"2147483647.0.0", step::major, "", std::nullopt},
      {"2147483647.0.0-rc", step::major, "", "2147483647.0.0"},
      {"1.2147483647.0", step::preminor, "", std::nullopt},
      {"1.2.2147483647", step::prerelease, "", std::nullopt},
      {"1.2.3", step::prerelease, "r.c", std::nullopt},
      {"1.2.3", step::premajor, "rc+1", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.from) + " by step " + std::to_string(static_cast<int>(row.by)) +
                 " '" + std::string(row.identifier) + "'");
    version_record record = testing::parsed(row.from);
    const int result = version_increment(&record, row.by, row.identifier);
    if (!row.to) {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(record.raw, std::string(row.from));
      continue;
    }
    ASSERT_EQ(result, 0);
    const version_record expected = testing::parsed(*row.to);
    EXPECT_EQ(std::tie(record.major, record.minor, record.patch, record.fourth, record.prerelease),
              std::tie(expected.major, expected.minor, expected.patch, expected.fourth,
                       expected.prerelease));
    EXPECT_FALSE(record.build || record.raw);
  }
}

}  // namespace
}  // namespace quorbel
