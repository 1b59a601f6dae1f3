// The collation's quick path must give the order of parsing both texts, for
// every pair of versions at the edges of the layout and of texts that are
// almost versions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sqlite/text_order.h"
#include "tests/version_testing.h"

namespace quorbel::sqlite {
namespace {

using namespace std::string_literals;

std::vector<std::string> collated_texts() {
  std::vector<std::string> texts;
  const std::vector<std::string> edges = testing::edge_texts();
  for (std::size_t i = 0; i < edges.size(); i += 3) texts.push_back(edges[i]);
  // clang-format off
  const std::vector<std::string> near = {
      "1.2.x", "1.x.3", "x.2.3", "v1.2.3", "V1.2.3", "1.2.3 ", " 1.2.3", "1.2.3\xff", "\xe9",
      "1.2.3\0"s, "1.2.3\0x"s, "\0"s, "1.2\0.3"s, "1.2.3-rc\0.1"s, "1.2.3-rc\0.2"s,
      "1.2.3.4.5", "1.2.3.4.x", "1.2.3.4x", "1.2.3.4.5.6-rc", "1.2.3.4-rc", "1.2.3.4.0",
      "1..3", ".1", "1.", "1.2.", "", ".", "01.2.3", "1.02.3", "1.2.03", "0.0.0", "00.0", "0",
      "999999999.0.0", "1000000000.0.0", "1234567890.1", "0999999999.1", "2147483648",
      "1.2.3-", "1.2.3+", "-", "+", "1-", "1+-", "1.2.3+b-c", "1.2.3-a+b-c", "1.2.3-+",
      "1.2.3-a", "1.2.3-b", "1.2.3-a.b", "1.10.3-a", "1.9.3-a", "1.2.10", "1.2.9", "10", "9",
      "1.2.3-" + std::string(57, 'a'), "1.2.3-" + std::string(58, 'a'),
      "1.2.3-" + std::string(57, 'b'), std::string(63, '1'), std::string(64, '1'),
      "1.2.3-" + std::string(249, 'a'), "1.2.3-" + std::string(250, 'a'), std::string(256, 'a')};
  // clang-format on
  texts.insert(texts.end(), near.begin(), near.end());
  return texts;
}

TEST(collation_order, quick_path_agrees_with_parsing_both_texts) {
  const std::vector<std::string> texts = collated_texts();
  for (const std::string& x : texts) {
    for (const std::string& y : texts) {
      const int expected = compare_texts_parsed(x, y);
      if (compare_texts(x, y) != expected) {
        FAIL() << "'" << x << "' vs '" << y << "': parsing both gives " << expected;
      }
    }
  }
}

}  // namespace
}  // namespace quorbel::sqlite
