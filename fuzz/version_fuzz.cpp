// Any bytes as a version text: the library must never crash on them, and
// what it answers must obey the laws that hold for every version: of
// precedence, of views and hashes beside records, and of increments.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/check.h"
#include "version/internal.h"

namespace {

using quorbel::version_record;
using quorbel::version_view;

constexpr std::string_view OPERATORS[] = {"^", "~", "=", "<", "<=", ">", ">="};

bool same_text(const std::optional<std::string>& owned,
               const std::optional<std::string_view>& viewed) {
  if (owned.has_value() != viewed.has_value()) return false;
  return !owned || *owned == *viewed;
}

bool is_result(int value) { return value == -1 || value == 0 || value == 1; }
bool is_test(int value) { return value == 0 || value == 1; }

// Both parsers from fresh records: same result, same numbers, same texts.
int parse_both(std::string_view text, version_record* record, version_view* view) {
  const int owned = quorbel::version_parse(text, record);
  const int viewed = quorbel::version_parse_view(text, view);
  CHECK(owned == viewed);
  CHECK(owned == 0 || owned == -1);
  CHECK(record->major == view->major && record->minor == view->minor &&
        record->patch == view->patch && record->fourth == view->fourth);
  CHECK(same_text(record->raw, view->raw));
  CHECK(same_text(record->prerelease, view->prerelease));
  CHECK(same_text(record->build, view->build));
  // A text of a bad length or byte leaves the record untouched.
  if (quorbel::version_is_valid(text) == 0) {
    CHECK(owned == -1 && !record->raw && !record->prerelease && !record->build);
    CHECK(record->major == 0 && record->minor == 0 && record->patch == 0 && record->fourth == 0);
  } else {
    CHECK(record->raw && *record->raw == quorbel::until_zero(text));
  }
  return owned;
}

void check_single(const version_record& x, const version_view& xv) {
  CHECK(quorbel::version_compare(x, x) == 0);
  CHECK(quorbel::version_compare(xv, xv) == 0);
  for (std::string_view op : OPERATORS) {
    const int match = quorbel::version_matches(x, x, op);
    // Every operator that admits equality holds between a version and itself.
    const bool strict = op == "<" || op == ">";
    CHECK(match == (strict ? 0 : 1));
  }
  const int value = quorbel::version_value(x);
  if (x.major < 0 || x.minor < 0 || x.patch < 0) CHECK(value == -1);
  if (!x.prerelease && !x.build) CHECK(value >= -1);

  // Rendering drops fourth and writes every number in decimal, so the text
  // parses again whenever it fits; it is the same version when no number was
  // negative (a negative one renders with a '-' that starts a pre-release).
  std::string rendered;
  if (quorbel::version_render(x, &rendered) != 0) return;
  CHECK(rendered.find('\0') == std::string::npos);
  if (rendered.size() > static_cast<std::size_t>(quorbel::MAX_VERSION_LENGTH)) return;
  version_record again;
  CHECK(quorbel::version_parse(rendered, &again) == 0);
  std::string twice;
  CHECK(quorbel::version_render(again, &twice) == 0);
  if (x.major >= 0 && x.minor >= 0 && x.patch >= 0) {
    version_record without_fourth = x;
    without_fourth.fourth = 0;
    CHECK(quorbel::version_compare(again, without_fourth) == 0);
    CHECK(again.fourth == 0);
    CHECK(again.prerelease == x.prerelease && again.build == x.build);
    CHECK(twice == rendered);
    if (x.fourth == 0) CHECK(quorbel::version_compare(again, x) == 0);
  }
}

void check_pair(const version_record& a, const version_view& av, const version_record& b,
                const version_view& bv) {
  const int c = quorbel::version_compare(a, b);
  CHECK(is_result(c));
  CHECK(quorbel::version_compare(b, a) == -c);
  CHECK(quorbel::version_compare(av, bv) == c);
  CHECK(quorbel::version_gt(a, b) == (c > 0 ? 1 : 0));
  CHECK(quorbel::version_lt(a, b) == (c < 0 ? 1 : 0));
  CHECK(quorbel::version_eq(a, b) == (c == 0 ? 1 : 0));
  CHECK(quorbel::version_ne(a, b) == (c != 0 ? 1 : 0));
  CHECK(quorbel::version_ge(a, b) == (c >= 0 ? 1 : 0));
  CHECK(quorbel::version_le(a, b) == (c <= 0 ? 1 : 0));
  CHECK(quorbel::version_matches(a, b, "=") == (c == 0 ? 1 : 0));
  CHECK(quorbel::version_matches(a, b, "<") == (c < 0 ? 1 : 0));
  CHECK(quorbel::version_matches(a, b, "<=") == (c <= 0 ? 1 : 0));
  CHECK(quorbel::version_matches(a, b, ">") == (c > 0 ? 1 : 0));
  CHECK(quorbel::version_matches(a, b, ">=") == (c >= 0 ? 1 : 0));
  CHECK(is_test(quorbel::version_matches(a, b, "^")));
  CHECK(is_test(quorbel::version_matches(a, b, "~")));
  CHECK(is_test(quorbel::version_matches(b, a, "^")));
  // "~" only looks at major and minor, so it is symmetric.
  CHECK(quorbel::version_matches(a, b, "~") == quorbel::version_matches(b, a, "~"));
  // Views order as records do, with each other and with records; equal
  // versions hash alike.
  CHECK((av <=> b) == (c <=> 0) && (a <=> bv) == (c <=> 0) && (av == bv) == (c == 0));
  if (c == 0) CHECK(quorbel::version_hash(a) == quorbel::version_hash(bv));
}

// Every step leads above the version, or fails and changes nothing.
void check_increment(const version_record& x, std::string_view identifier) {
  for (int step = 0; step <= static_cast<int>(quorbel::version_step::prerelease); ++step) {
    version_record next = x;
    const int result =
        quorbel::version_increment(&next, static_cast<quorbel::version_step>(step), identifier);
    CHECK(result == 0 || result == -1);
    if (result == -1) {
      CHECK(next.raw == x.raw && next.build == x.build && next.prerelease == x.prerelease);
      CHECK(quorbel::version_compare(next, x) == 0 && next.fourth == x.fourth);
      continue;
    }
    CHECK(quorbel::version_compare(next, x) > 0);
    CHECK(!next.build && !next.raw);
  }
}

// Scrubbing keeps exactly the allowed bytes of the text, in order.
void check_scrub(std::string_view bytes) {
  const std::string original(bytes);
  std::string text = original;
  const int result = quorbel::version_scrub(&text);
  const std::string_view meant = quorbel::until_zero(original);
  if (meant.size() > static_cast<std::size_t>(quorbel::MAX_VERSION_LENGTH)) {
    CHECK(result == -1);
    CHECK(text == original);
    return;
  }
  CHECK(result == 0);
  std::string expected;
  for (char c : meant) {
    if (quorbel::VERSION_CHARS.find(c) != std::string_view::npos) expected += c;
  }
  CHECK(text == expected);
  CHECK(text.size() <= original.size());
  std::string again = text;
  CHECK(quorbel::version_scrub(&again) == 0);
  CHECK(again == text);
}

void check_cut(std::string_view bytes, std::int32_t start, std::int32_t count) {
  const std::string original(bytes);
  std::string text = original;
  const std::int32_t removed = quorbel::cut_chars(&text, start, count);
  const auto length = static_cast<std::int64_t>(quorbel::until_zero(original).size());
  if (start < 0 || start > length) {
    CHECK(removed == -1);
    CHECK(text == original);
    return;
  }
  std::int64_t expected = count < 0 ? length - start : count;
  if (expected > length - start) expected = length - start;
  CHECK(removed == expected);
  const auto at = static_cast<std::size_t>(start);
  CHECK(text == original.substr(0, at) + original.substr(at + static_cast<std::size_t>(expected)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  version_record whole;
  version_view whole_view;
  if (parse_both(input, &whole, &whole_view) == 0) check_single(whole, whole_view);

  version_record first, second;
  version_view first_view, second_view;
  const int first_ok = parse_both(input.substr(0, size / 2), &first, &first_view);
  const int second_ok = parse_both(input.substr(size / 2), &second, &second_view);
  if (first_ok == 0) check_single(first, first_view);
  if (second_ok == 0) check_single(second, second_view);
  if (first_ok == 0 && second_ok == 0) {
    check_pair(first, first_view, second, second_view);
    if (whole.raw) check_pair(first, first_view, whole, whole_view);
  }
  if (first_ok == 0) {
    check_increment(first, {});
    check_increment(first, input.substr(size / 2, 8));
  }
  // Any operator text gives 0 or 1, even between records of failed parses.
  if (size >= 2) {
    CHECK(is_test(quorbel::version_matches(first, second, input.substr(0, 2))));
    CHECK(is_test(quorbel::version_matches(whole, second, input.substr(0, 1))));
  }
  (void)quorbel::version_value(first);
  (void)quorbel::version_value(second);

  check_scrub(input);

  // Positions from the first bytes: small ones, and any 32-bit ones.
  if (size >= 2) {
    check_cut(input.substr(2), static_cast<std::int8_t>(data[0]),
              static_cast<std::int8_t>(data[1]));
  }
  if (size >= 8) {
    std::int32_t start = 0;
    std::int32_t count = 0;
    std::memcpy(&start, data, sizeof start);
    std::memcpy(&count, data + 4, sizeof count);
    check_cut(input.substr(8), start, count);
  }
  return 0;
}
