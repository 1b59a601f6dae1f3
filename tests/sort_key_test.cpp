// The command sorts by compact keys; their order must be version_compare's.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/sort_key.h"
#include <quorbel/version.h>

namespace quorbel {
namespace {

std::string random_number(std::mt19937& random) {
  static const char* const kinds[] = {"0",
                                      "1",
                                      "2",
                                      "10",
                                      "007",
                                      "255",
                                      "256",
                                      "65536",
                                      "16777215",
                                      "16777216",
                                      "2147483647",
                                      "2147483648",
                                      "4294967295",
                                      "4294967296",
                                      "99999999999999999999",
                                      ""};
  if (random() % 3 == 0) return kinds[random() % std::size(kinds)];
  return std::to_string(random() % 20);
}

std::string random_identifier(std::mt19937& random) {
  static const char* const kinds[] = {
      "alpha",          "beta",           "rc", "Beta", "-", "-5", "x-y", "a1",
      "20231231235959", "20240101000000", "0",  "00",   "",  "1"};
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

TEST(sort_key, sorts_stably_in_both_directions_ranked_or_not) {
  std::mt19937 random(777);
  std::string store;
  std::vector<sort_entry> entries;
  std::vector<version_record> records;
  // Pre-releases of the most identifiers a version can hold, among the rest.
  const std::string most = "1.0.0-" + std::string(249, '.');
  const std::string extremes[] = {most, "1.0.0-" + std::string(128, '.'), most.substr(0, 200),
                                  "1.0.0--" + std::string(248, '.'), "1.0.0-a" + most.substr(7)};
  for (int i = 0; i < 4000; ++i) {
    const std::string version = i % 800 < 5 ? extremes[i % 800] : random_version(random);
    version_view view;
    ASSERT_EQ(version_parse_view(version, &view), 0);
    const std::size_t offset = store.size();
    store += version + "\n";
    // The view must point into the store, as the command's views do.
    ASSERT_EQ(version_parse_view(std::string_view(store).substr(offset, version.size()), &view), 0);
    entries.push_back(make_sort_entry(view, std::string_view(store).substr(offset), offset));
    version_record record;
    ASSERT_EQ(version_parse(version, &record), 0);
    records.push_back(record);
  }
  for (const bool descending : {false, true}) {
    // The reference: a stable sort of the records by version_compare.
    std::vector<std::size_t> expected(records.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
      const int c = version_compare(records[a], records[b]);
      return descending ? c > 0 : c < 0;
    });
    struct path {
      const char* name;
      sort_limits limits;
    };
    const path paths[] = {
        {"ranked, one run", {.split_from = SIZE_MAX}},
        {"ranked, two runs", {.split_from = 0}},
        {"numbers unpacked", {.split_from = SIZE_MAX, .packed_bits = 0}},
        {"numbers unpacked, two runs", {.split_from = 0, .packed_bits = 0}},
        // More pre-releases than ranks: every text is learnt before ranking.
        {"learnt first", {.max_ranked = 1500, .split_from = SIZE_MAX}},
        // So few ranks that texts are compared instead.
        {"texts compared", {.max_ranked = 3}},
    };
    for (const path& p : paths) {
      SCOPED_TRACE(std::string(descending ? "descending, " : "ascending, ") + p.name);
      std::vector<sort_entry> sorted = entries;
      sorted_keys order = sort_by_version(sorted.data(), sorted.data() + sorted.size(),
                                          store.data(), descending, p.limits);
      ASSERT_EQ(order.size(), expected.size());
      // Slices, as the writing threads take them, hold the keys at their
      // places in the whole order.
      for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, 0},
                                     {0, 1},
                                     {1, 2},
                                     {17, 1000},
                                     {1999, 2001},
                                     {3990, expected.size()}}) {
        sorted_keys slice = order.slice(from, to);
        ASSERT_EQ(slice.size(), to - from);
        for (std::size_t i = from; i < to; ++i) {
          ASSERT_EQ(slice.next(), entries[expected[i]].where >> WHERE_SHIFT) << "slice at " << i;
        }
      }
      for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_FALSE(order.empty()) << "at " << i;
        ASSERT_EQ(order.next(), entries[expected[i]].where >> WHERE_SHIFT) << "at " << i;
      }
      EXPECT_TRUE(order.empty());
    }
  }
}

}  // namespace
}  // namespace quorbel
