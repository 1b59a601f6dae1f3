// Validity and parsing of version texts.
#include <array>
#include <new>

#include "version/internal.h"

namespace quorbel {

namespace {

// Components of at most so many digits are read in 64 bits: no such value
// reaches the limit where the conversion rule saturates.
constexpr std::size_t EXACT_DIGITS = 18;
// The quick core takes such components without asking whether they are
// too long.
static_assert(EXACT_DIGITS <= static_cast<std::size_t>(MAX_COMPONENT_LENGTH));

// Reads the digits from p on into *value (exact up to EXACT_DIGITS of
// them): where they end.
const char* read_digits(const char* p, const char* end, std::uint64_t* value) noexcept {
  std::uint64_t v = 0;
  for (; p != end && is_digit_byte(*p); ++p) v = v * 10 + static_cast<unsigned>(*p - '0');
  *value = v;
  return p;
}

// VERSION_CHARS as a lookup table, for the checks run on every input line:
// 0 for a byte that may not appear, else a class bit.
constexpr std::uint8_t ORDINARY = 1;
constexpr std::uint8_t MINUS = 2;
constexpr std::uint8_t PLUS = 4;
constexpr std::uint8_t END = 8;  // the zero byte, which ends a text

constexpr std::array<std::uint8_t, 256> class_table() {
  std::array<std::uint8_t, 256> table{};
  table[0] = END;
  for (char c : VERSION_CHARS) {
    table[static_cast<unsigned char>(c)] = c == '-' ? MINUS : c == '+' ? PLUS : ORDINARY;
  }
  return table;
}
constexpr std::array<std::uint8_t, 256> CLASS = class_table();

// Ors together the classes of the text's bytes, or 0 when one is not allowed.
std::uint8_t classes_of(std::string_view text) noexcept {
  std::uint8_t all = ORDINARY;
  bool allowed = true;
  for (char c : text) {
    const std::uint8_t k = CLASS[static_cast<unsigned char>(c)];
    allowed &= k != 0 && k != END;
    all |= k;
  }
  return allowed ? all : 0;
}

std::int32_t* component(version_view* view, int index) noexcept {
  switch (index) {
    case 0: return &view->major;
    case 1: return &view->minor;
    case 2: return &view->patch;
    default: return &view->fourth;
  }
}

}  // namespace

int length_ok(std::string_view text) noexcept {
  return until_zero(text).size() <= static_cast<std::size_t>(MAX_VERSION_LENGTH) ? 1 : 0;
}

int char_in_set(char byte, const char* set, int count) noexcept {
  for (int i = 0; i < count; ++i) {
    if (set[i] == byte) return 1;
  }
  return 0;
}

int chars_in_set(std::string_view text, std::string_view set) noexcept {
  const auto count = static_cast<int>(set.size());
  for (char c : until_zero(text)) {
    if (char_in_set(c, set.data(), count) == 0) return 0;
  }
  return 1;
}

int version_is_valid(std::string_view text) noexcept {
  text = until_zero(text);
  if (text.size() > static_cast<std::size_t>(MAX_VERSION_LENGTH)) return 0;
  return classes_of(text) != 0 ? 1 : 0;
}

std::optional<std::string_view> split_off(std::string_view* text, char separator) noexcept {
  const std::size_t at = text->find(separator);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view tail = text->substr(at + 1);
  *text = text->substr(0, at);
  return tail;
}

int parse_core(std::string_view core, version_view* view) noexcept {
  const char* p = core.data();
  const char* const end = p + core.size();
  for (int index = 0; index < MAX_COMPONENTS; ++index) {
    // A component is empty or all digits up to its '.' or the end of the core.
    const char* const start = p;
    std::uint64_t value = 0;
    p = read_digits(p, end, &value);
    const auto length = static_cast<std::size_t>(p - start);
    if (length > static_cast<std::size_t>(MAX_COMPONENT_LENGTH)) return -1;
    if (p != end && *p != '.') return -1;  // a letter in the component
    if (length > EXACT_DIGITS) {
      std::size_t consumed = 0;  // saturating, by the one conversion rule
      *component(view, index) = convert_integer({start, length}, &consumed);
    } else {
      *component(view, index) = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    if (p == end) break;
    ++p;  // past the '.'
  }
  return 0;
}

namespace {

// The core of a version as most are written, one to four components of at
// most EXACT_DIGITS digits, read from the start of the text: the numbers,
// and where the core stops, at the text's end or its first byte that is
// neither a digit nor a dot. False for a longer component or a fifth one;
// a core that stops short of where the pre-release or build begins (a
// letter in it) is read again by parse_core.
struct quick_core {
  std::int32_t numbers[MAX_COMPONENTS];
  int count;
  std::size_t stop;
};

[[nodiscard]] bool read_quick_core(std::string_view text, quick_core* core) noexcept {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  for (int index = 0;; ++index) {
    const char* const start = p;
    std::uint64_t value = 0;
    p = read_digits(p, end, &value);
    if (static_cast<std::size_t>(p - start) > EXACT_DIGITS) return false;
    core->numbers[index] = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    if (p == end || *p != '.') {
      core->count = index + 1;
      core->stop = static_cast<std::size_t>(p - begin);
      return true;
    }
    if (index + 1 == MAX_COMPONENTS) return false;
    ++p;  // past the '.'
  }
}

}  // namespace

int version_parse_view(std::string_view text, version_view* view) noexcept {
  // One pass finds where the text ends (its first zero byte), checks every
  // byte before it, and notes its first '+' and its first '-', where the
  // build and the pre-release are cut off, as split_off would. The core of
  // most versions is read on the way, digits and dots being ordinary bytes.
  constexpr std::size_t scanned = MAX_VERSION_LENGTH + 1;  // enough to tell "too long"
  const std::size_t limit = text.size() < scanned ? text.size() : scanned;
  quick_core quick;
  const bool read = limit > 0 && read_quick_core(text.substr(0, limit), &quick);
  std::size_t plus = limit;
  std::size_t minus = limit;
  std::size_t length = read ? quick.stop : 0;
  for (; length < limit; ++length) {
    const std::uint8_t k = CLASS[static_cast<unsigned char>(text[length])];
    if (k == ORDINARY) continue;
    if (k == 0) return -1;
    if (k == END) break;
    if (k == PLUS && plus == limit) plus = length;
    if (k == MINUS && minus == limit) minus = length;
  }
  if (length > static_cast<std::size_t>(MAX_VERSION_LENGTH)) return -1;
  text = text.substr(0, length);
  std::size_t core = length;
  view->build = std::nullopt;
  if (plus < length) {
    view->build = text.substr(plus + 1);
    core = plus;
  }
  // The pre-release starts at the first '-' before the build, so 1.0.0-rc-1
  // has the pre-release rc-1, and a '-' inside the build starts nothing.
  view->prerelease = std::nullopt;
  if (minus < core) {
    view->prerelease = text.substr(minus + 1, core - minus - 1);
    core = minus;
  }
  view->raw = text;
  // The quick core is the core when it stops where the core ends.
  if (!read || quick.stop != core) return parse_core(text.substr(0, core), view);
  for (int index = 0; index < quick.count; ++index) *component(view, index) = quick.numbers[index];
  return 0;
}

int version_parse(std::string_view text, version_record* record) noexcept {
  version_view view{record->major, record->minor, record->patch, record->fourth, {}, {}, {}};
  const int result = version_parse_view(text, &view);
  if (!view.raw) return -1;  // invalid length or byte: the record is untouched
  try {
    std::optional<std::string> build, prerelease;
    std::string raw(*view.raw);
    if (view.build) build.emplace(*view.build);
    if (view.prerelease) prerelease.emplace(*view.prerelease);
    record->build = std::move(build);
    record->prerelease = std::move(prerelease);
    record->raw = std::move(raw);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  record->major = view.major;
  record->minor = view.minor;
  record->patch = view.patch;
  record->fourth = view.fourth;
  return result;
}

std::string_view version_skip_v(std::string_view text) noexcept {
  // Only before a digit, so that a pre-release such as v-1 is never taken apart.
  if (text.size() > 1 && (text[0] == 'v' || text[0] == 'V') && is_digit_byte(text[1])) {
    return text.substr(1);
  }
  return text;
}

void version_release(version_record* record) noexcept {
  record->build.reset();
  record->prerelease.reset();
  record->raw.reset();
}

}  // namespace quorbel
