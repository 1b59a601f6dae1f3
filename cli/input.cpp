// Reading input in large blocks and taking it apart into lines and fields.
#include "cli/input.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/io.h"
#include "version/internal.h"

namespace quorbel {

namespace {

// How much of an over-long line its message shows.
constexpr std::size_t LONG_LINE_SHOWN = MAX_LINE_LENGTH + 1;
constexpr std::size_t READ_BLOCK = std::size_t{1} << 20;
// A block is read behind the unfinished line of the one before, which is
// never longer than a line may be (a longer one is skipped, not kept).
constexpr std::size_t READ_BUFFER = READ_BLOCK + MAX_LINE_LENGTH + 1;

std::size_t find_zero(const char* base, std::size_t from, std::size_t end) noexcept {
  const void* found = std::memchr(base + from, 0, end - from);
  return found == nullptr ? end : static_cast<std::size_t>(static_cast<const char*>(found) - base);
}

class line_reader {
 public:
  line_reader(const sort_settings& settings, writer* messages, line_sorter* sorter) noexcept
      : settings_(settings),
        rules_{settings.separator, settings.field, settings.v_prefix},
        messages_(messages),
        sorter_(sorter) {}

  read_outcome run(int fd) noexcept {
    read_outcome outcome;
    char* const buffer = static_cast<char*>(std::malloc(READ_BUFFER));
    if (buffer == nullptr) {
      outcome.why = read_outcome::stop::sorter;
      outcome.sorter_status = {sort_status::problem::out_of_memory, 0};
      return outcome;
    }
    std::size_t pos = 0;    // first byte not yet examined
    std::size_t end = 0;    // end of the bytes read
    bool skipping = false;  // inside the tail of an over-long line
    for (;;) {
      // Keep the unfinished line at the start, and read behind it.
      if (pos > 0) {
        std::memmove(buffer, buffer + pos, end - pos);
        end -= pos;
        pos = 0;
      }
      // Every message so far goes out before a read that may wait.
      if (messages_->pending()) messages_->flush();
      int error = 0;
      const ssize_t got = read_some(fd, buffer + end, READ_BUFFER - end, &error);
      if (got < 0) {
        outcome.why = read_outcome::stop::read_error;
        outcome.error = error;
        break;
      }
      if (got == 0) {
        // A last line without a newline counts whole.
        if (!skipping && pos < end) take_line({buffer + pos, find_zero(buffer, pos, end) - pos});
        break;
      }
      end += static_cast<std::size_t>(got);
      std::size_t zero = find_zero(buffer, pos, end);  // first zero byte at or after pos
      while (pos < end && status_.ok()) {
        const void* found = std::memchr(buffer + pos, '\n', end - pos);
        if (found == nullptr) {
          if (!skipping && end - pos > MAX_LINE_LENGTH) {
            too_long(buffer + pos);
            skipping = true;
          }
          if (skipping) pos = end;
          break;
        }
        const auto newline = static_cast<std::size_t>(static_cast<const char*>(found) - buffer);
        if (skipping) {
          skipping = false;
        } else if (newline - pos > MAX_LINE_LENGTH) {
          too_long(buffer + pos);
        } else {
          // A line's text ends at its first zero byte.
          if (zero < pos) zero = find_zero(buffer, pos, end);
          const std::size_t stop = zero < newline ? zero : newline;
          take_line({buffer + pos, stop - pos});
        }
        pos = newline + 1;
      }
      if (!status_.ok()) break;
    }
    std::free(buffer);
    if (outcome.why == read_outcome::stop::end_of_input && !status_.ok()) {
      outcome.why = read_outcome::stop::sorter;
      outcome.sorter_status = status_;
    }
    return outcome;
  }

 private:
  void too_long(const char* line) noexcept {
    if (settings_.quiet) return;
    messages_->put("Input line too long: ");
    messages_->put(until_zero({line, LONG_LINE_SHOWN}));
    messages_->put("\n");
  }

  // Handles the text of one line, up to its newline or first zero byte.
  void take_line(std::string_view line) noexcept {
    if (line.empty()) return;
    const auto field = find_field(line, rules_.separator, rules_.field);
    if (!field) {
      if (!settings_.quiet) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(rules_.field));
        messages_->put("Field ");
        messages_->put(number);
        messages_->put(" not found in ");
        messages_->put(line);
        messages_->put("\n");
      }
      return;
    }
    if (parse_field(rules_, *field, &version_) != 0) {
      if (!settings_.quiet) {
        messages_->put("Invalid semver: ");
        messages_->put(line);
        messages_->put("\n");
      }
      return;
    }
    status_ = sorter_->add(version_, settings_.versions_only ? *field : line);
  }

  const sort_settings& settings_;
  line_rules rules_;
  writer* messages_;
  line_sorter* sorter_;
  sort_status status_;
  // One view serves every line: rewriting a fresh one for each line costs
  // more than parsing it.
  version_view version_;
};

}  // namespace

std::optional<std::string_view> find_field(std::string_view line, char separator,
                                           std::int32_t field) noexcept {
  const char* start = line.data();
  const char* const end = line.data() + line.size();
  for (std::int32_t n = 1; n < field; ++n) {
    const void* found = std::memchr(start, separator, static_cast<std::size_t>(end - start));
    if (found == nullptr) return std::nullopt;
    start = static_cast<const char*>(found) + 1;
  }
  const void* found = std::memchr(start, separator, static_cast<std::size_t>(end - start));
  const char* stop = found == nullptr ? end : static_cast<const char*>(found);
  return std::string_view(start, static_cast<std::size_t>(stop - start));
}

int parse_field(const line_rules& rules, std::string_view field, version_view* version) noexcept {
  // v1.2.3: the v is the field's, not the version's. Only before a digit, so
  // that a pre-release such as v-1 is never taken apart.
  if (rules.v_prefix && field.size() > 1 && (field[0] == 'v' || field[0] == 'V') &&
      is_digit_byte(field[1])) {
    field.remove_prefix(1);
  }
  // A core leaves the numbers it does not give as they are: they start at 0.
  version->major = version->minor = version->patch = version->fourth = 0;
  return version_parse_view(field, version);
}

bool held_text_finder::find(std::string_view text, version_view* version) const noexcept {
  const auto field = versions_only_ ? std::optional(text)
                                    : find_field(text, rules_.separator, rules_.field);
  return field && parse_field(rules_, *field, version) == 0;
}

read_outcome read_lines(int fd, const sort_settings& settings, writer* messages,
                        line_sorter* sorter) noexcept {
  return line_reader(settings, messages, sorter).run(fd);
}

}  // namespace quorbel
