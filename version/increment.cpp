// Moving a version to the next one of a kind, as package managers increment
// versions; the bumps of clean.cpp add 1 to one number and leave the rest.
#include <limits>
#include <new>
#include <stdexcept>

#include "version/internal.h"

namespace quorbel {

namespace {

constexpr std::string_view IDENTIFIER_CHARS =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-";

// The value of a number identifier plus one, in decimal without leading
// zeros, exact at any length: 9 gives 10, -1 gives 0, -10 gives -9.
std::string plus_one(const prerelease_identifier& id) {
  std::string digits(id.text);  // its significant digits; none for 0
  std::size_t i = digits.size();
  if (!id.negative) {
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) return "1" + digits;
    ++digits[i - 1];
    return digits;
  }
  while (digits[i - 1] == '0') digits[--i] = '9';  // a negative number has a non-zero digit
  --digits[i - 1];
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : "-" + digits.substr(first);
}

// The pre-release with its last number one higher, or with .0 added when no
// identifier is a number (rc.1.a gives rc.2.a, rc gives rc.0).
std::string next_prerelease(std::string_view prerelease) {
  std::size_t end = prerelease.size();
  for (;;) {
    const std::size_t dot = end == 0 ? std::string_view::npos : prerelease.rfind('.', end - 1);
    const std::size_t begin = dot == std::string_view::npos ? 0 : dot + 1;
    const prerelease_identifier id = read_identifier(prerelease.substr(begin, end - begin));
    if (id.numeric) {
      return std::string(prerelease.substr(0, begin)) + plus_one(id) +
             std::string(prerelease.substr(end));
    }
    if (dot == std::string_view::npos) return std::string(prerelease) + ".0";
    end = dot;
  }
}

// Whether the pre-release starts with the identifier and a number after it.
bool named_and_numbered(std::string_view prerelease, std::string_view identifier) {
  const std::size_t dot = prerelease.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view second =
      prerelease.substr(dot + 1, prerelease.find('.', dot + 1) - dot - 1);
  return compare_identifiers(read_identifier(prerelease.substr(0, dot)),
                             read_identifier(identifier)) == 0 &&
         read_identifier(second).numeric;
}

// Adds 1 to numbers[moved] and clears the numbers after it; false when it
// would pass the limit.
bool move_number(std::int32_t* numbers[4], int moved) {
  if (*numbers[moved] == std::numeric_limits<std::int32_t>::max()) return false;
  ++*numbers[moved];
  for (int i = moved + 1; i < 4; ++i) *numbers[i] = 0;
  return true;
}

// The step applied to a copy of the version's numbers and pre-release.
bool step_to(version_record* next, version_step step, std::string_view identifier) {
  std::int32_t* numbers[4] = {&next->major, &next->minor, &next->patch, &next->fourth};
  const std::string first = identifier.empty() ? "0" : std::string(identifier) + ".0";
  switch (step) {
    case version_step::major:
    case version_step::minor:
    case version_step::patch: {
      const int moved = static_cast<int>(step) - static_cast<int>(version_step::major);
      // A pre-release of the very release the step leads to becomes that release.
      bool below_release = next->prerelease.has_value();
      for (int i = moved + 1; i < 4; ++i) below_release = below_release && *numbers[i] == 0;
      const bool moves = below_release || move_number(numbers, moved);
      next->prerelease.reset();
      return moves;
    }
    case version_step::premajor:
    case version_step::preminor:
    case version_step::prepatch: {
      const int moved = static_cast<int>(step) - static_cast<int>(version_step::premajor);
      next->prerelease = first;
      return move_number(numbers, moved);
    }
    case version_step::prerelease:
      if (!next->prerelease) {
        next->prerelease = first;
        return move_number(numbers, 2);
      }
      next->prerelease = next_prerelease(until_zero(*next->prerelease));
      if (!identifier.empty() && !named_and_numbered(*next->prerelease, identifier)) {
        next->prerelease = first;
      }
      return true;
  }
  return false;
}

}  // namespace

int version_increment(version_record* record, version_step step,
                      std::string_view identifier) noexcept {
  identifier = until_zero(identifier);
  if (chars_in_set(identifier, IDENTIFIER_CHARS) == 0) return -1;
  try {
    version_record next{record->major, record->minor,      record->patch, record->fourth,
                        std::nullopt,  record->prerelease, std::nullopt};
    // An increment never leads down, as a new identifier could.
    if (!step_to(&next, step, identifier) || version_compare(next, *record) <= 0) return -1;
    *record = std::move(next);  // moving the texts allocates nothing
  } catch (const std::bad_alloc&) {
    return -1;
  } catch (const std::length_error&) {
    return -1;
  }
  return 0;
}

}  // namespace quorbel
