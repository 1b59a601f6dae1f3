// Taking a block's lines apart by the rules of a line.
#include "cli/line_taker.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "cli/fields.h"
#include "engine/bytes.h"

namespace quorbel {

namespace {

std::size_t find_zero(const char* base, std::size_t from, std::size_t end) noexcept {
  const void* found = std::memchr(base + from, 0, end - from);
  return found == nullptr ? end : static_cast<std::size_t>(static_cast<const char*>(found) - base);
}

}  // namespace

void line_taker::remember_fields() noexcept {
  static_assert(std::is_trivially_destructible_v<known_fields>);
  // A group is part of a line's code, so its field alone does not tell it.
  if (known_ != nullptr || settings_.group != 0) return;
  if (void* memory = std::malloc(sizeof(known_fields))) known_.reset(new (memory) known_fields);
}

void line_taker::start(std::string_view lines) noexcept {
  lines_ = lines;
  at_ = 0;
  zero_ = find_zero(lines.data(), 0, lines.size());
  taken_ = 0;
  last_field_size_ = 0;
  if (known_ != nullptr) known_->start_block();
  looking_ = known_ != nullptr;
}

bool line_taker::next(taken_line* taken) noexcept {
  const char* const bytes = lines_.data();
  const std::size_t end = lines_.size();
  while (at_ < end && !failed_) {
    const std::size_t from = at_;
    const auto stop = static_cast<std::size_t>(
        find_byte(bytes + from, bytes + end, settings_.terminator) - bytes);
    at_ = stop + 1;
    ++taken_;
    if (stop - from > MAX_LINE_LENGTH) {
      if (!settings_.quiet) note(messages_.too_long({bytes + from, LONG_LINE_SHOWN}));
      continue;
    }
    // A line's text ends at its first zero byte.
    if (zero_ < from) zero_ = find_zero(bytes, from, end);
    if (accept({bytes + from, (zero_ < stop ? zero_ : stop) - from}, taken)) return true;
  }
  return false;
}

bool line_taker::same_as_last(std::string_view field,
                              std::optional<std::string_view> group) const noexcept {
  if (field.size() != last_field_size_ || last_field_size_ == 0) return false;
  // Most fields differ early: the first eight bytes tell them apart.
  if (last_field_size_ >= 8) {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    std::memcpy(&a, field.data(), 8);
    std::memcpy(&b, last_field_, 8);
    if (a != b) return false;
  }
  if (std::memcmp(field.data(), last_field_, last_field_size_) != 0) return false;
  return !group || (group->size() == last_group_size_ &&
                    std::memcmp(group->data(), last_group_, last_group_size_) == 0);
}

inline void line_taker::remember_last(std::string_view field,
                                      std::optional<std::string_view> group) noexcept {
  last_field_size_ = field.size() <= sizeof last_field_ ? field.size() : 0;
  copy_bytes(last_field_, field.data(), last_field_size_);
  if (group) {
    std::memcpy(last_group_, group->data(), group->size());
    last_group_size_ = group->size();
  }
}

// Takes one line, up to its end or first zero byte: true when it is
// accepted, else it is dropped, with its message, or left out.
bool line_taker::accept(std::string_view line, taken_line* taken) noexcept {
  if (line.empty()) return false;
  // The rest of the block may be read past the line.
  const auto after =
      static_cast<std::size_t>(lines_.data() + lines_.size() - line.data()) - line.size();
  const auto field = find_field(line, settings_.separator, settings_.field, after);
  if (!field) {
    if (!settings_.quiet) note(messages_.field_missing(settings_.field, line));
    return false;
  }
  // Written in place, member by member: a whole record built on the stack
  // and copied costs more than the rest of the line.
  std::optional<std::string_view>& group = taken->group;
  group.reset();
  if (settings_.group != 0) {
    group = find_field(line, settings_.separator, settings_.group, after);
    if (!group) {
      if (!settings_.quiet) note(messages_.field_missing(settings_.group, line));
      return false;
    }
  }
  taken->line = line;
  taken->text = settings_.versions_only ? *field : line;
  taken->version = &version_;
  taken->code = nullptr;
  taken->slot = known_fields::NO_SLOT;
  // Lists repeat versions: a field the same as the last one accepted, in
  // the same group, is the same version, accepted again without parsing;
  // so is one kept lately.
  if (same_as_last(*field, group)) {
    taken->version = nullptr;
    return true;
  }
  if (looking_) {
    const std::size_t slot = known_fields::slot_of(*field);
    if (slot != known_fields::NO_SLOT && known_->holds(slot, *field)) {
      taken->version = nullptr;
      taken->code = known_->code(slot);
      taken->code_length = known_->code_length(slot);
      remember_last(*field, group);
      return true;
    }
    taken->slot = slot;
    looking_ = known_->worth_looking();
  }
  if (parse_field(settings_, *field, &version_) != 0) {
    if (!settings_.quiet) note(messages_.invalid_version(line));
    return false;
  }
  if (range_ != nullptr &&
      version_satisfies(version_, *range_, settings_.prereleases_match ? 1 : 0) == 0) {
    return false;  // not asked for: no message, it is no error
  }
  if (taken->slot != known_fields::NO_SLOT && !known_->keep(taken->slot, *field)) {
    taken->slot = known_fields::NO_SLOT;  // its code is not kept either
  }
  remember_last(*field, group);
  return true;
}

}  // namespace quorbel
