// In-place cleaning of texts, and bumping of version numbers.
#include <algorithm>
#include <limits>

#include "version/internal.h"

namespace quorbel {

namespace {

std::int32_t plus_one(std::int32_t value) noexcept {
  // Through unsigned arithmetic: 2147483647 wraps to -2147483648, defined.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) + 1U);
}

}  // namespace

std::int32_t cut_chars(std::string* text, std::int32_t start, std::int32_t count) noexcept {
  // The text ends at its first zero byte; what follows it stays in place.
  const std::size_t size = until_zero(*text).size();
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return -1;
  const auto length = static_cast<std::int64_t>(size);
  if (start < 0 || start > length) return -1;
  // 64-bit, so start + count cannot overflow; a negative count means "to the end".
  std::int64_t removed = count < 0 ? length - start : count;
  if (start + removed > length) removed = length - start;
  text->erase(static_cast<std::size_t>(start), static_cast<std::size_t>(removed));
  return static_cast<std::int32_t>(removed);
}

int version_scrub(std::string* text) noexcept {
  // The text ends at its first zero byte: the limit applies to those bytes,
  // and whatever follows the zero is dropped rather than joined to the text.
  const std::size_t length = until_zero(*text).size();
  if (length > static_cast<std::size_t>(MAX_VERSION_LENGTH)) return -1;
  text->resize(length);  // shrinking never allocates
  // One pass keeping the allowed bytes in order, as repeated cuts of one byte would.
  const auto kept = std::remove_if(text->begin(), text->end(), [](char c) {
    return VERSION_CHARS.find(c) == std::string_view::npos;
  });
  text->erase(kept, text->end());
  return 0;
}

void version_bump_major(version_record* record) noexcept {
  record->major = plus_one(record->major);
}
void version_bump_minor(version_record* record) noexcept {
  record->minor = plus_one(record->minor);
}
void version_bump_patch(version_record* record) noexcept {
  record->patch = plus_one(record->patch);
}

}  // namespace quorbel
