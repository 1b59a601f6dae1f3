// Any bytes as range texts: the parser must never crash, must say where a
// text stopped making sense, and matching must obey the laws of "||" (also
// over many alternatives, repeated) and of comparators joined by white space,
// and searching the index must agree with walking the alternatives. The
// input's first line is a range A, its second a range B, and each further
// line a version; versions at the bounds of A and B are added, where the
// mistakes would be.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.h"
#include "version/internal.h"

namespace {

using quorbel::version_range;
using quorbel::version_record;

constexpr std::size_t MAX_VERSIONS = 24;

// Parses the text into a range that held 1.2.3; the result, and where
// parsing stopped, must be sound.
int parse(std::string_view text, version_range* range) {
  const std::string_view meant = quorbel::until_zero(text);
  CHECK(quorbel::version_range_parse("1.2.3", range, nullptr) == 0);
  std::size_t stopped = 0;
  const int result = quorbel::version_range_parse(text, range, &stopped);
  CHECK(result == 0 || result == -1);
  if (result == 0) {
    CHECK(stopped == meant.size());
    return 0;
  }
  CHECK(stopped <= meant.size());
  CHECK(range->alternatives.size() == 1 && range->alternatives[0].lower &&
        range->alternatives[0].lower->patch == 3);
  // Every byte before the one reported fits: that prefix is valid, or only
  // its end is missing something.
  version_range prefix;
  std::size_t prefix_stopped = 0;
  if (quorbel::version_range_parse(meant.substr(0, stopped), &prefix, &prefix_stopped) != 0) {
    CHECK(prefix_stopped == stopped);
  }
  // And the reported byte does not: no ending makes a valid range of it.
  if (stopped == meant.size()) return -1;
  for (std::string_view ending : {"", "1", "|", " 1", "1.1.1"}) {
    const std::string longer = std::string(meant.substr(0, stopped + 1)) + std::string(ending);
    CHECK(quorbel::version_range_parse(longer, &prefix, nullptr) == -1);
  }
  return -1;
}

int satisfies(const version_record& v, const version_range& range, int prereleases) {
  const int result = quorbel::version_satisfies(v, range, prereleases);
  CHECK(result == 0 || result == 1);
  return result;
}

// Searching the index and walking the alternatives one by one agree.
void check_index(const version_range& range, const std::vector<version_record>& versions) {
  CHECK(range.index != nullptr);
  version_range walked = range;
  walked.index.reset();
  for (const version_record& v : versions) {
    for (int prereleases = 0; prereleases <= 1; ++prereleases) {
      CHECK(satisfies(v, walked, prereleases) == satisfies(v, range, prereleases));
    }
  }
}

// The four numbers as a range writes them (the low 32 bits read back the
// same), and the pre-release: a comparator that every version with these
// numbers and pre-release meets, and that names its pre-release.
std::string exact_comparator(const version_record& v) {
  std::string text = ">=";
  for (std::int32_t n : {v.major, v.minor, v.patch, v.fourth}) {
    text += std::to_string(static_cast<std::uint32_t>(n));
    text += '.';
  }
  text.back() = '-';
  text += *v.prerelease;
  return text;
}

void add_version(std::vector<version_record>* versions, version_record v) {
  if (versions->size() < MAX_VERSIONS) versions->push_back(std::move(v));
}

void add_numbers(std::vector<version_record>* versions, const std::array<std::int64_t, 4>& n) {
  std::array<std::int32_t, 4> m{};
  for (std::size_t i = 0; i < m.size(); ++i) {
    if (n[i] != static_cast<std::int32_t>(n[i])) return;  // no version has these numbers
    m[i] = static_cast<std::int32_t>(n[i]);
  }
  version_record v{m[0], m[1], m[2], m[3], {}, {}, {}};
  add_version(versions, v);
  v.prerelease = "";
  add_version(versions, v);
  v.prerelease = "rc.-1";
  add_version(versions, v);
  if (v.fourth > std::numeric_limits<std::int32_t>::min()) {
    --v.fourth;  // the last version below these numbers
    v.prerelease.reset();
    add_version(versions, v);
  }
}

void add_bounds(std::vector<version_record>* versions, const version_range& range) {
  for (const auto& a : range.alternatives) {
    for (const auto& bound : {a.lower, a.upper}) {
      if (!bound) continue;
      add_version(versions, *bound);
      add_numbers(versions, {bound->major, bound->minor, bound->patch, bound->fourth});
    }
    if (a.from) add_numbers(versions, *a.from);
    if (a.below) add_numbers(versions, *a.below);
  }
}

// A and B joined by "||", or by a space when neither has alternatives.
void check_laws(std::string_view a_text, const version_range& a, std::string_view b_text,
                const version_range& b, const std::vector<version_record>& versions) {
  const bool single =
      a_text.find('|') == std::string_view::npos && b_text.find('|') == std::string_view::npos;
  version_range either, both, many;
  CHECK(parse(std::string(a_text) + "||" + std::string(b_text), &either) == 0);
  CHECK(parse(std::string(a_text) + " " + std::string(b_text), &both) == 0);
  std::string repeated(a_text);
  for (int i = 0; i < 40; ++i) repeated += " || " + std::string(i % 3 == 0 ? a_text : b_text);
  CHECK(parse(repeated, &many) == 0);
  for (const version_range* range : {&either, &both, &many}) check_index(*range, versions);
  for (const version_record& v : versions) {
    for (int prereleases = 0; prereleases <= 1; ++prereleases) {
      const int in_a = satisfies(v, a, prereleases);
      const int in_b = satisfies(v, b, prereleases);
      CHECK(satisfies(v, either, prereleases) == (in_a | in_b));
      CHECK(satisfies(v, many, prereleases) == (in_a | in_b));
      if (!single) continue;
      const int in_both = satisfies(v, both, prereleases);
      if (prereleases == 1 || !v.prerelease) {
        CHECK(in_both == (in_a & in_b));
        continue;
      }
      // A held-back pre-release needs only one comparator of the joined
      // alternative to name it, and the bounds of both to hold. The bounds
      // alone are what the range says with a comparator naming v added.
      const std::string named = exact_comparator(v);
      version_range a_named, b_named;
      if (parse(std::string(a_text) + " " + named, &a_named) != 0) continue;
      CHECK(parse(std::string(b_text) + " " + named, &b_named) == 0);
      const int a_bounds = satisfies(v, a_named, 0);
      const int b_bounds = satisfies(v, b_named, 0);
      CHECK(in_a <= a_bounds && in_b <= b_bounds);
      CHECK(in_both == ((in_a & b_bounds) | (in_b & a_bounds)));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  version_range whole;
  (void)parse(input, &whole);

  std::string_view rest = input;
  std::string_view lines[2];
  for (std::string_view& line : lines) {
    const std::size_t end = rest.find('\n');
    line = quorbel::until_zero(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  version_range a, b;
  const int a_ok = parse(lines[0], &a);
  const int b_ok = parse(lines[1], &b);

  std::vector<version_record> versions;
  while (!rest.empty() && versions.size() < MAX_VERSIONS / 2) {
    const std::size_t end = rest.find('\n');
    version_record v;
    if (quorbel::version_parse(rest.substr(0, end), &v) == 0) versions.push_back(v);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  if (a_ok == 0) add_bounds(&versions, a);
  if (b_ok == 0) add_bounds(&versions, b);

  for (const version_range* range : {&whole, &a, &b}) {
    if (range->index) check_index(*range, versions);
  }
  for (const version_record& v : versions) {
    const quorbel::version_view view{v.major, v.minor, v.patch, v.fourth, {}, v.prerelease, {}};
    for (const version_range* range : {&whole, &a, &b}) {
      const int held_back = satisfies(v, *range, 0);
      const int let_in = satisfies(v, *range, 1);
      CHECK(quorbel::version_satisfies(view, *range, 0) == held_back);
      CHECK(quorbel::version_satisfies(view, *range, 1) == let_in);
      // Letting pre-releases in only ever admits more; a release it leaves alone.
      CHECK(held_back <= let_in);
      if (!v.prerelease) CHECK(held_back == let_in);
    }
  }
  if (a_ok == 0 && b_ok == 0) check_laws(lines[0], a, lines[1], b, versions);
  return 0;
}
