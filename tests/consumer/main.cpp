// Uses an installed quorbel the way an outside program does: through
// <quorbel/version.h> only. Exits with 1 on a wrong result.
#include <quorbel/version.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

int failures = 0;

void expect(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "consumer: wrong result: %s\n", what);
  ++failures;
}

}  // namespace

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

  std::printf("%s\n", sorted.str().c_str());
  return failures == 0 ? 0 : 1;
}
