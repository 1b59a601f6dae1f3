// The engine's order must be version_compare's, whatever way the lines are
// held: one run or many, in memory or in temporary files, with one thread
// or two, ascending or descending, every line or the first of each group,
// and after a prefix of the codes, with at most so many lines of each.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/sorter.h"
#include "tests/version_testing.h"

namespace quorbel {
namespace {

using namespace quorbel::testing;

version_view view_of(const std::string& text) {
  version_view view;
  EXPECT_EQ(version_parse_view(text, &view), 0) << text;
  return view;
}

// Lines that are versions alone.
class whole_text_finder final : public version_finder {
 public:
  bool find(std::string_view text, version_view* version) const noexcept override {
    *version = {};
    return version_parse_view(text, version) == 0;
  }
};

// The lines a stable sort by version_compare gives, each ended by `end`;
// with `unique` only the first of each group of equal versions. With
// groups, they come first in byte order, and at most `limit` lines of each
// are kept (of all, without groups).
std::string expected_output(const std::vector<std::string>& texts, bool descending, bool unique,
                            const std::vector<std::string>* groups = nullptr,
                            std::size_t limit = SIZE_MAX, char end = '\n') {
  std::vector<std::size_t> order(texts.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::vector<version_record> records;
  for (const std::string& text : texts) records.push_back(parsed(text));
  const auto group = [groups](std::size_t i) { return groups ? (*groups)[i] : std::string(); };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (group(a) != group(b)) return group(a) < group(b);
    const int c = version_compare(records[a], records[b]);
    return descending ? c > 0 : c < 0;
  });
  std::string out;
  std::size_t taken = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const bool same_group = k > 0 && group(order[k - 1]) == group(order[k]);
    if (groups && !same_group) taken = 0;
    if (unique && same_group && version_compare(records[order[k - 1]], records[order[k]]) == 0) {
      continue;
    }
    if (taken++ >= limit) continue;
    out += texts[order[k]] + end;
  }
  return out;
}

TEST(line_sorter, sorts_stably_however_the_lines_are_held) {
  const std::vector<std::string> texts = sample_versions(777, 3000);
  const whole_text_finder finder;
  struct path {
    const char* name;
    std::size_t block_lines;  // lines in each run
    bool shuffled;            // runs given out of input order
    sort_options options;
    bool spills;
  };
  const path paths[] = {
      {"one run", 3000, false, {}, false},
      {"many runs", 37, false, {}, false},
      {"a run a line, given out of order", 1, true, {}, false},
      {"many runs, one thread", 37, false, {.second_thread = false}, false},
      {"many runs, merged in small pieces", 37, true, {.piece_bytes = 700}, false},
      {"spilled", 37, true, {.memory_budget = 30000, .fan_in = 2}, true},
      {"spilled, one thread",
       100,
       false,
       {.memory_budget = 30000, .fan_in = 3, .second_thread = false},
       true},
  };
  // Groups as prefixes of the codes: empty, ones that start others, and one
  // of the highest bytes, which a comparison of signed chars puts first.
  std::vector<std::string> groups;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    groups.push_back(i % 6 == 5 ? std::string(20, '\xff') : std::string(i * 7 % 5, 'g'));
  }
  version_generator shuffler(99);
  for (const bool descending : {false, true}) {
    for (const bool unique : {false, true}) {
      // With groups, lines end with a zero byte and at most 40 of each are kept.
      for (const bool grouped : {false, true}) {
        const std::size_t limit = grouped ? 40 : SIZE_MAX;
        const char end = grouped ? '\0' : '\n';
        const std::string expected =
            expected_output(texts, descending, unique, grouped ? &groups : nullptr, limit, end);
        for (const path& p : paths) {
          SCOPED_TRACE(std::string(p.name) + (descending ? ", descending" : "") +
                       (unique ? ", unique" : "") + (grouped ? ", grouped" : ""));
          sort_options options = p.options;
          options.descending = descending;
          options.unique = unique;
          options.finder = &finder;
          options.terminator = end;
          options.prefixed = grouped;
          options.limit = limit;
          line_sorter sorter(options);
          std::vector<std::size_t> order;
          for (std::size_t b = 0; b * p.block_lines < texts.size(); ++b) order.push_back(b);
          if (p.shuffled) {
            for (std::size_t i = order.size(); i > 1; --i) {
              std::swap(order[i - 1], order[shuffler.below(i)]);
            }
          }
          run_builder builder(descending, end);
          for (const std::size_t block : order) {
            const std::size_t last = std::min(texts.size(), (block + 1) * p.block_lines);
            for (std::size_t i = block * p.block_lines; i < last; ++i) {
              const auto prefix =
                  grouped ? std::optional<std::string_view>(groups[i]) : std::nullopt;
              ASSERT_TRUE(builder.add(view_of(texts[i]), texts[i], prefix));
            }
            ASSERT_TRUE(sorter.hold(block, &builder).ok());
          }
          const int out = memory_file();
          ASSERT_TRUE(sorter.write_sorted(out).ok());
          EXPECT_EQ(sorter.spills() > 0, p.spills);
          EXPECT_TRUE(contents_of(out) == expected) << "order or content differs";
          close(out);
        }
      }
    }
  }
}

TEST(line_sorter, pieces_of_every_size_merge_every_line_once) {
  // One run of 1025 lines has two sampled lines, the first and the last:
  // with two pieces the second holds nothing at all, and each other size
  // gives other empty and full pieces.
  std::vector<std::string> texts;
  for (int i = 0; i < 1025; ++i) texts.push_back("1.0." + std::to_string(i));
  const whole_text_finder finder;
  for (const bool descending : {false, true}) {
    const std::string expected = expected_output(texts, descending, false);
    for (std::size_t piece_bytes : {std::size_t{1}, std::size_t{7}, expected.size() / 3,
                                    expected.size() / 2, expected.size(), 4 * expected.size()}) {
      SCOPED_TRACE("piece bytes " + std::to_string(piece_bytes) +
                   (descending ? ", descending" : ""));
      line_sorter sorter({.descending = descending, .finder = &finder, .piece_bytes = piece_bytes});
      run_builder builder(descending);
      for (const std::string& text : texts) ASSERT_TRUE(builder.add(view_of(text), text));
      ASSERT_TRUE(sorter.hold(0, &builder).ok());
      const int out = memory_file();
      ASSERT_TRUE(sorter.write_sorted(out).ok());
      EXPECT_TRUE(contents_of(out) == expected) << "order or content differs";
      close(out);
    }
  }
}

// A record that shares the code of one before it holds no code of its own:
// long groups of one version cross the marks a run is cut at, texts long
// enough that a group's first record lies too far back to be found, codes
// that tie on their first bytes and differ after, texts copied and texts
// left where they lie.
TEST(line_sorter, lines_of_one_version_keep_their_texts_in_every_run_and_piece) {
  // Each line's version, and its text: the version, then for some a long tail.
  std::vector<std::string> versions;
  std::vector<std::string> texts;
  const std::string long_tail(3000, 'x');
  for (int i = 0; i < 900; ++i) {
    // Lines come in pairs of one version, the second added again.
    const int pair = i / 2;
    const int group = pair % 9 < 7 ? pair % 3 : 3 + pair % 2;
    switch (group) {
      case 0: versions.push_back("1.2.3+" + std::to_string(i)); break;
      case 1: versions.push_back("1.2.3-alpha.beta.gamma.delta." + std::to_string(pair % 2)); break;
      case 2: versions.push_back("0.9.0+" + std::to_string(i)); break;
      default: versions.push_back("2.0.0-rc." + std::to_string(group)); break;
    }
    texts.push_back(versions.back() + (group == 2 ? " " + long_tail : ""));
  }
  std::string place;  // every text with its newline, where texts may stay
  for (const std::string& text : texts) place += text + '\n';
  std::vector<std::size_t> order(texts.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const whole_text_finder finder;
  for (const bool descending : {false, true}) {
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const int c = version_compare(parsed(versions[a]), parsed(versions[b]));
      return descending ? c > 0 : c < 0;
    });
    std::string expected;
    for (const std::size_t i : order) expected += texts[i] + '\n';
    for (const bool stay : {false, true}) {
      for (const std::size_t block_lines : {std::size_t{900}, std::size_t{130}}) {
        for (const std::size_t piece_bytes : {std::size_t{1} << 20, std::size_t{500}}) {
          SCOPED_TRACE(std::string(descending ? "descending" : "ascending") +
                       (stay ? ", texts stay" : ", texts copied") + ", " +
                       std::to_string(block_lines) + " lines a run, pieces of " +
                       std::to_string(piece_bytes));
          line_sorter sorter(
              {.descending = descending, .finder = &finder, .piece_bytes = piece_bytes});
          run_builder builder(descending);
          builder.texts_may_stay(stay);
          std::size_t at = 0;
          for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string_view text(place.data() + at, texts[i].size());
            at += texts[i].size() + 1;
            const bool again = i % 2 == 1 && i % block_lines != 0;
            ASSERT_TRUE(again ? builder.add_again(text) : builder.add(view_of(versions[i]), text));
            if ((i + 1) % block_lines == 0 || i + 1 == texts.size()) {
              builder.leave_texts(stay);
              ASSERT_TRUE(sorter.hold(i / block_lines, &builder).ok());
            }
          }
          const int out = memory_file();
          ASSERT_TRUE(sorter.write_sorted(out).ok());
          EXPECT_TRUE(contents_of(out) == expected) << "order or content differs";
          close(out);
        }
      }
    }
  }
}

// A text left where it lies must still end with its newline when it is
// written; one that does not lies in a file that changed under the sort, and
// the merge says so and writes nothing of it.
TEST(line_sorter, a_text_changed_where_it_lies_stops_the_output) {
  const whole_text_finder finder;
  for (const sort_options& options :
       {sort_options{.finder = &finder}, sort_options{.finder = &finder, .piece_bytes = 64},
        sort_options{.finder = &finder, .second_thread = false}}) {
    SCOPED_TRACE(options.piece_bytes);
    std::string place;
    for (int i = 999; i >= 0; --i) place += "1.0." + std::to_string(i) + "\n";
    run_builder builder(false);
    builder.texts_may_stay(true);
    for (std::size_t at = 0; at < place.size();) {
      const std::size_t end = place.find('\n', at);
      const std::string_view text(place.data() + at, end - at);
      ASSERT_TRUE(builder.add(view_of(std::string(text)), text));
      at = end + 1;
    }
    builder.leave_texts(true);
    line_sorter sorter(options);
    ASSERT_TRUE(sorter.hold(0, &builder).ok());
    place[place.find("1.0.500\n") + 7] = '!';  // a newline gone
    const int out = memory_file();
    EXPECT_EQ(sorter.write_sorted(out).what, sort_status::problem::text_changed);
    EXPECT_EQ(contents_of(out).find('!'), std::string::npos);
    close(out);
  }
}

}  // namespace
}  // namespace quorbel
