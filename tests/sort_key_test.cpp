// The command sorts by compact keys; their order must be version_compare's.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cli/sort_key.h"
#include "version/version.h"

namespace quorbel {
namespace {

std::string random_number(std::mt19937& random) {
  static const char* const kinds[] = {"0", "1", "2", "10", "007", "2147483647", "2147483648",
                                      "4294967295", "4294967296", "99999999999999999999", ""};
  if (random() % 3 == 0) return kinds[random() % std::size(kinds)];
  return std::to_string(random() % 20);
}

std::string random_identifier(std::mt19937& random) {
  static const char* const kinds[] = {"alpha", "beta", "rc", "Beta", "-", "-5", "x-y", "a1",
                                      "20231231235959", "20240101000000", "0", "00", "", "1"};
  if (random() % 2 == 0) return kinds[random() % std::size(kinds)];
  return std::to_string(random() % 12);
}

std::string random_version(std::mt19937& random) {
  std::string text = random_number(random);
  const auto components = random() % 4;
  for (std::size_t i = 0; i < components; ++i) text += "." + random_number(random);
  if (random() % 2 == 0) {
    text += "-" + random_identifier(random);
    const auto more = random() % 3;
    for (std::size_t i = 0; i < more; ++i) text += "." + random_identifier(random);
  }
  if (random() % 4 == 0) text += "+build." + std::to_string(random() % 3);
  return text;
}

TEST(sort_key, orders_exactly_like_version_compare) {
  std::mt19937 random(12345);
  // Texts sit in one store behind a prefix, as lines do in the command.
  std::string store;
  std::vector<std::pair<std::size_t, std::size_t>> places;  // offset of line, of version
  for (int i = 0; i < 3000; ++i) {
    const std::string prefix(random() % 3, 'p');
    places.emplace_back(store.size(), store.size() + prefix.size());
    store += prefix + random_version(random) + "\n";
  }
  std::vector<sort_entry> entries;
  std::vector<version_view> views;
  for (const auto& [line, at] : places) {
    const std::size_t end = store.find('\n', at);
    const std::string_view text(store.data() + line, end - line);
    version_view view;
    ASSERT_EQ(version_parse_view(text.substr(at - line), &view), 0) << text;
    views.push_back(view);
    entries.push_back(make_sort_entry(view, text, line));
  }
  for (int i = 0; i < 200000; ++i) {
    const std::size_t a = random() % entries.size();
    const std::size_t b = random() % entries.size();
    const int expected = version_compare(views[a], views[b]);
    ASSERT_EQ(compare_entries(entries[a], entries[b], store.data()), expected)
        << *views[a].raw << " vs " << *views[b].raw;
  }
}

}  // namespace
}  // namespace quorbel
