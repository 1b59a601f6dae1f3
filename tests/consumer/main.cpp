// Uses an installed quorbel the way an outside program does: through
// <quorbel/version.h> only, the README's example included word for word.
// Exits with 1 on a wrong result.
#include <quorbel/version.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

int failures = 0;

void expect(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "consumer: wrong result: %s\n", what);
  ++failures;
}

}  // namespace

// The README's example, as written there.
// The newest tag that a range admits, moved on to its next release
// candidate: "v1.4.2", "v2.0.0-rc.1" and "junk" give "1.4.3-rc.0".
std::string next_candidate(const std::vector<std::string>& tags) {
  quorbel::version_range range;
  if (quorbel::version_range_parse("^1.2 || >=3", &range, nullptr) != 0) return "";
  std::vector<quorbel::version_record> versions;
  for (const std::string& tag : tags) {
    if (auto v = quorbel::version_parse(tag, quorbel::version_syntax::loose)) {
      versions.push_back(*v);
    }
  }
  auto newest = quorbel::version_max_satisfying(versions, range);
  if (newest == versions.end()) return "";
  quorbel::version_record next = *newest;
  if (quorbel::version_increment(&next, quorbel::version_step::prerelease, "rc") != 0) {
    return "";
  }
  return quorbel::to_string(next);
}

// The C++ conveniences: values, operators, hashing, searches, steps.
void conveniences() {
  expect(next_candidate({"v1.4.2", "v2.0.0-rc.1", "junk"}) == "1.4.3-rc.0",
         "the README's next_candidate");
  const auto strict = quorbel::version_parse("v1.2.3");
  const auto loose = quorbel::version_parse_view("V1.2.3", quorbel::version_syntax::loose);
  expect(!strict && loose && *loose == *quorbel::version_parse("1.2.3.0+b"),
         "v1.2.3 only loose, and equal to 1.2.3.0+b");
  expect(quorbel::version_skip_v("v2") == "2" && quorbel::version_skip_v("v-1") == "v-1",
         "a tag's v before a digit only");
  const std::unordered_set<quorbel::version_record> set = {*quorbel::version_parse("1.0.0-rc.07"),
                                                           *quorbel::version_parse("1.0.0-rc.7+b")};
  expect(set.size() == 1, "a hash set keeps equal versions once");
  expect(quorbel::to_string(*quorbel::version_parse_view("1.2.3.4-rc+b")) == "1.2.3-rc+b",
         "a view renders as a record does");
#if defined(__cpp_lib_format)
  expect(std::format("[{:>7}]", *quorbel::version_parse("1.2")) == "[  1.2.0]", "std::format");
#endif
  expect(quorbel::version_satisfies("1.4.2", "^1.2 || >=3") == 1 &&
             quorbel::version_satisfies("1.4.2", "^1.2 ||| >=3") == 0,
         "one-call text tests");
  quorbel::version_range range;
  const char* const texts[] = {"1.2.0", "1.9.0-rc.1", "1.5.0", "x"};
  expect(quorbel::version_range_parse("^1", &range, nullptr) == 0 &&
             quorbel::version_max_satisfying(texts, range) == texts + 2 &&
             quorbel::version_max_satisfying(texts, range, true) == texts + 1 &&
             quorbel::version_min_satisfying(texts, range) == texts &&
             quorbel::version_satisfies(*quorbel::version_parse_view("1.9.0-rc.1"), range, true),
         "searches of a parsed range");
  quorbel::version_record record = *quorbel::version_parse("1.2.3-rc.1+b");
  expect(quorbel::version_increment(&record, quorbel::version_step::prerelease) == 0 &&
             quorbel::to_string(record) == "1.2.3-rc.2" &&
             quorbel::version_increment(&record, quorbel::version_step::prerelease, "beta") == -1 &&
             quorbel::version_increment(&record, quorbel::version_step::major) == 0 &&
             quorbel::to_string(record) == "2.0.0",
         "increments");
}

int main() {
  std::vector<quorbel::version_record> records;
  for (const char* text : {"1.10.0", "1.2.0+build.7", "1.2.0-rc.1", "1.9.0"}) {
    quorbel::version_record record;
    if (quorbel::version_parse(text, &record) != 0) {
      std::fprintf(stderr, "consumer: %s did not parse\n", text);
      return 1;
    }
    records.push_back(record);
  }
  quorbel::version_record bad;
  expect(quorbel::version_parse("v1.2.3", &bad) == -1, "v1.2.3 is rejected");

  expect(quorbel::version_compare(records[2], records[1]) == -1, "1.2.0-rc.1 < 1.2.0");
  expect(records[0] > records[3], "1.10.0 > 1.9.0 by operator>");
  expect(quorbel::version_matches(records[0], records[3], "^") == 1, "1.10.0 matches ^1.9.0");

  std::sort(records.begin(), records.end());
  std::ostringstream sorted;
  for (const auto& record : records) sorted << record << ' ';
  expect(sorted.str() == "1.2.0-rc.1 1.2.0+build.7 1.9.0 1.10.0 ", "sorted and streamed");

  std::map<quorbel::version_record, int> seen;
  for (const auto& record : records) ++seen[record];
  quorbel::version_record same;
  expect(quorbel::version_parse("1.2.0+other", &same) == 0 && seen.count(same) == 1,
         "a map finds 1.2.0 whatever its build");

  quorbel::version_range range;
  std::size_t stopped = 0;
  expect(quorbel::version_range_parse("^1.2.0-rc || >=1.10 <2", &range, &stopped) == 0 &&
             quorbel::version_satisfies(records[2], range) == 1 &&
             quorbel::version_satisfies(records[3], range) == 1,
         "1.2.0-rc.1 and 1.9.0 satisfy ^1.2.0-rc || >=1.10 <2");
  expect(quorbel::version_range_parse(">=1 <", &range, &stopped) == -1 && stopped == 5,
         ">=1 < stops at its end");

  conveniences();
  std::printf("%s\n", sorted.str().c_str());
  return failures == 0 ? 0 : 1;
}
