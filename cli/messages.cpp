// Building the messages about dropped lines, and writing them in order.
#include "cli/messages.h"

#include <cstdio>
#include <cstring>

#include "engine/io.h"
#include "version/internal.h"

namespace quorbel {

bool line_messages::put(std::string_view a, std::string_view b, std::string_view c,
                        std::string_view d) noexcept {
  const std::size_t size = bytes_.size() + a.size() + b.size() + c.size() + d.size() + 1;
  if (!bytes_.reserve(size)) return false;
  char* at = bytes_.end();
  for (const std::string_view part : {a, b, c, d}) {
    if (part.empty()) continue;
    std::memcpy(at, part.data(), part.size());
    at += part.size();
  }
  *at = '\n';
  bytes_.resize_within(size);
  return true;
}

bool line_messages::too_long(std::string_view shown) noexcept {
  return put("Input line too long: ", until_zero(shown));
}

bool line_messages::field_missing(std::int32_t field, std::string_view line) noexcept {
  char number[16];
  const int length = std::snprintf(number, sizeof number, "%d", static_cast<int>(field));
  return put("Field ", {number, static_cast<std::size_t>(length)}, " not found in ", line);
}

bool line_messages::invalid_version(std::string_view line) noexcept {
  return put("Invalid semver: ", line);
}

bool line_messages::disorder(std::size_t number, std::string_view line) noexcept {
  char digits[24];
  const int length = std::snprintf(digits, sizeof digits, "%zu", number);
  return put("Disorder at line ", {digits, static_cast<std::size_t>(length)}, ": ", line);
}

void message_order::write(std::size_t sequence, std::string_view messages) noexcept {
  std::unique_lock<std::mutex> lock(mutex_);
  turn_.wait(lock, [&] { return next_ == sequence || stopped_; });
  if (stopped_) return;
  // A message that cannot be written is lost, not a reason to stop.
  if (!messages.empty()) (void)write_fully(fd_, messages);
  ++next_;
  turn_.notify_all();
}

void message_order::wait_for(std::size_t sequence) noexcept {
  std::unique_lock<std::mutex> lock(mutex_);
  turn_.wait(lock, [&] { return next_ >= sequence || stopped_; });
}

void message_order::stop() noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  turn_.notify_all();
}

}  // namespace quorbel
