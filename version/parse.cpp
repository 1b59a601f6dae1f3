// Validity and parsing of version texts.
#include <array>
#include <new>

#include "version/internal.h"

namespace quorbel {

namespace {

// VERSION_CHARS as a lookup table, for the checks run on every input line.
constexpr std::array<bool, 256> allowed_table() {
  std::array<bool, 256> table{};
  for (char c : VERSION_CHARS) table[static_cast<unsigned char>(c)] = true;
  return table;
}
constexpr std::array<bool, 256> ALLOWED = allowed_table();

bool all_allowed(std::string_view text) noexcept {
  for (char c : text) {
    if (!ALLOWED[static_cast<unsigned char>(c)]) return false;
  }
  return true;
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
  return all_allowed(text) ? 1 : 0;
}

std::optional<std::string_view> split_off(std::string_view* text,
                                          char separator) noexcept {
  const std::size_t at = text->find(separator);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view tail = text->substr(at + 1);
  *text = text->substr(0, at);
  return tail;
}

int parse_core(std::string_view core, version_view* view) noexcept {
  for (int index = 0; index < MAX_COMPONENTS; ++index) {
    const std::size_t dot = core.find('.');
    const std::string_view text = core.substr(0, dot);
    if (text.size() > static_cast<std::size_t>(MAX_COMPONENT_LENGTH)) return -1;
    std::size_t consumed = 0;
    const std::int32_t value = convert_integer(text, &consumed);
    if (consumed != text.size()) return -1;  // a letter, or no digits but text
    *component(view, index) = value;
    if (dot == std::string_view::npos) break;
    core.remove_prefix(dot + 1);
  }
  return 0;
}

int version_parse_view(std::string_view text, version_view* view) noexcept {
  text = until_zero(text);
  if (version_is_valid(text) == 0) return -1;
  std::string_view rest = text;
  view->build = split_off(&rest, '+');
  // The pre-release starts at the first '-' before the build, so 1.0.0-rc-1
  // has the pre-release rc-1, and a '-' inside the build starts nothing.
  view->prerelease = split_off(&rest, '-');
  view->raw = text;
  return parse_core(rest, view);
}

int version_parse(std::string_view text, version_record* record) noexcept {
  version_view view{record->major, record->minor, record->patch,
                    record->fourth, {}, {}, {}};
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

void version_release(version_record* record) noexcept {
  record->build.reset();
  record->prerelease.reset();
  record->raw.reset();
}

}  // namespace quorbel
