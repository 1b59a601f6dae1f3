// Using quorbel's version library from C++: parse, compare, match, step and
// render, first with values and operators, then with the calls under them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include <quorbel/version.h>

int main() {
  // Tags as git lists them: a leading v, a pre-release, a line that is none.
  const std::vector<std::string> tags = {"v1.4.0-rc.1", "v1.3.2", "v1.10.0", "release",
                                         "v1.3.2+r2"};
  std::vector<quorbel::version_record> versions;
  for (const std::string& tag : tags) {
    if (auto v = quorbel::version_parse(tag, quorbel::version_syntax::loose))
      versions.push_back(*v);
  }

  // Records sort by precedence: a pre-release below its release, 1.10 above 1.4.
  std::sort(versions.begin(), versions.end());
  std::printf("sorted:");
  for (const auto& v : versions) std::printf(" %s", quorbel::to_string(v).c_str());
  std::printf("\n");

  // Equal precedence hashes alike: 1.3.2 and 1.3.2+r2 are one version.
  const std::unordered_set<quorbel::version_record> distinct(versions.begin(), versions.end());
  std::printf("distinct versions: %zu\n", distinct.size());

  // A range is parsed once, then searched; pre-releases only when let in.
  quorbel::version_range range;
  if (quorbel::version_range_parse(">=1.3 <1.5", &range, nullptr) == 0) {
    const auto newest = quorbel::version_max_satisfying(versions, range);
    const auto newest_any = quorbel::version_max_satisfying(versions, range, true);
    if (newest != versions.end() && newest_any != versions.end()) {
      std::printf("newest in >=1.3 <1.5: %s, with pre-releases: %s\n",
                  quorbel::to_string(*newest).c_str(), quorbel::to_string(*newest_any).c_str());
    }
  }
  std::printf("1.4.2 in ~1.4 (one call): %d\n", quorbel::version_satisfies("1.4.2", "~1.4"));

  // The steps package managers take, and the bump that adds 1 to one number.
  if (auto next = quorbel::version_parse("1.4.0-rc.1")) {
    if (quorbel::version_increment(&*next, quorbel::version_step::prerelease) == 0) {
      std::printf("after 1.4.0-rc.1: %s\n", quorbel::to_string(*next).c_str());
    }
    if (quorbel::version_increment(&*next, quorbel::version_step::minor) == 0) {
      std::printf("its release: %s\n", quorbel::to_string(*next).c_str());
    }
  }

  // Under them, the conventional calls: a status, a record to fill and release.
  quorbel::version_record installed;
  if (quorbel::version_parse("1.4.0-rc.1+exp.5", &installed) == 0) {
    std::string text = "bumped: ";
    quorbel::version_bump_minor(&installed);  // 1.5.0-rc.1+exp.5: one number only
    if (quorbel::version_render(installed, &text) == 0) std::printf("%s\n", text.c_str());
  }
  quorbel::version_release(&installed);  // also after a failed parse

  // Clean a text typed by a person before parsing it.
  std::string typed = " =2.0.1\n";
  if (quorbel::version_scrub(&typed) == 0) std::printf("scrubbed: %s\n", typed.c_str());
  return 0;
}
