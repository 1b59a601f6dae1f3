// Finding a line's field and parsing it as a version.
#include "cli/fields.h"

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorbel {

namespace {

// The field'th field (1-based) of [from, to) split at every `separator`:
// its start in *start and its end in *stop, or false when there are fewer.
// Reads no byte outside [from, readable), which holds [from, to): bytes
// past `to` are read sixteen at a time with the line's, and not looked at.
bool find_field_bytes(const char* from, const char* to, const char* readable, char separator,
                      long field, const char** start, const char** stop) noexcept {
  const char* field_start = from;
  long passed = 0;  // separators behind
  const char* at = from;
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(separator);
  for (; at < to && readable - at >= 16; at += 16) {
    auto hits = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), wanted)));
    if (to - at < 16) hits &= (1u << (to - at)) - 1;
    for (; hits != 0; hits &= hits - 1) {
      const char* found = at + __builtin_ctz(hits);
      if (passed == field - 1) {
        *start = field_start;
        *stop = found;
        return true;
      }
      ++passed;
      field_start = found + 1;
    }
  }
#endif
  for (; at < to; ++at) {
    if (*at != separator) continue;
    if (passed == field - 1) {
      *start = field_start;
      *stop = at;
      return true;
    }
    ++passed;
    field_start = at + 1;
  }
  if (passed != field - 1) return false;
  *start = field_start;
  *stop = to;
  return true;
}

}  // namespace

std::optional<std::string_view> find_field(std::string_view line, char separator,
                                           std::int32_t field,
                                           std::size_t readable_after) noexcept {
  const char* start = nullptr;
  const char* stop = nullptr;
  const char* const end = line.data() + line.size();
  if (!find_field_bytes(line.data(), end, end + readable_after, separator, field, &start, &stop)) {
    return std::nullopt;
  }
  return std::string_view(start, static_cast<std::size_t>(stop - start));
}

int parse_field(const sort_settings& settings, std::string_view field,
                version_view* version) noexcept {
  // v1.2.3: the v is the field's, not the version's.
  if (settings.v_prefix) field = version_skip_v(field);
  // A core leaves the numbers it does not give as they are: they start at 0.
  version->major = version->minor = version->patch = version->fourth = 0;
  return version_parse_view(field, version);
}

bool held_text_finder::find(std::string_view text, version_view* version) const noexcept {
  const auto field = settings_.versions_only
                         ? std::optional(text)
                         : find_field(text, settings_.separator, settings_.field);
  return field && parse_field(settings_, *field, version) == 0;
}

}  // namespace quorbel
