// Using quorbel's version library from C++: parse, compare, match, render.
#include <cstdio>
#include <string>

#include <quorbel/version.h>

int main() {
  quorbel::version_record installed;
  quorbel::version_record wanted;
  if (quorbel::version_parse("1.4.0-rc.1+exp.5", &installed) != 0 ||
      quorbel::version_parse("1.4.0", &wanted) != 0) {
    std::fputs("not a version\n", stderr);
    quorbel::version_release(&installed);  // a bad core still leaves texts
    quorbel::version_release(&wanted);
    return 1;
  }

  // -1, 0 or 1: a pre-release ranks below its release; the build never counts.
  std::printf("compare: %d\n", quorbel::version_compare(installed, wanted));
  std::printf("satisfies ^1.4.0: %d\n", quorbel::version_matches(installed, wanted, "^"));
  std::printf("satisfies >=1.4.0: %d\n", quorbel::version_matches(installed, wanted, ">="));

  // A range is parsed once, then tested against any number of versions.
  quorbel::version_range range;
  std::size_t stopped = 0;
  if (quorbel::version_range_parse(">=1.2 <2 || ^3.1", &range, &stopped) == 0) {
    std::printf("in >=1.2 <2 || ^3.1: %d, with pre-releases let in: %d\n",
                quorbel::version_satisfies(installed, range),
                quorbel::version_satisfies(installed, range, 1));
  }

  // Rendering appends to what the string already holds.
  std::string text = "next: ";
  quorbel::version_bump_minor(&wanted);
  if (quorbel::version_render(wanted, &text) == 0) std::printf("%s\n", text.c_str());

  // Clean a text typed by a person before parsing it.
  std::string typed = " =2.0.1\n";
  if (quorbel::version_scrub(&typed) == 0) std::printf("scrubbed: %s\n", typed.c_str());

  quorbel::version_release(&installed);
  quorbel::version_release(&wanted);
  return 0;
}
