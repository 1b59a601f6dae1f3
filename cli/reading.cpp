// Taking blocks of input apart into runs and messages, on two threads.
#include "cli/reading.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "cli/block_reader.h"
#include "cli/fields.h"
#include "cli/messages.h"
#include "engine/bytes.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// The shortest texts that stay where they lie for coming in order: shorter
// ones save their records too little to pay for the pages held.
constexpr std::size_t IN_ORDER_STAY_FROM = 3 * sizeof(const char*);

std::size_t find_zero(const char* base, std::size_t from, std::size_t end) noexcept {
  const void* found = std::memchr(base + from, 0, end - from);
  return found == nullptr ? end : static_cast<std::size_t>(static_cast<const char*>(found) - base);
}

// What the threads share.
struct shared_reading {
  const sort_settings& settings;
  const version_range* range;  // null: every version
  line_sorter* sorter;
  block_reader* reader;
  const mapped_input* input;
  std::size_t texts_stay_from;  // line length from which mapped texts stay where they lie
  message_order* messages;      // null when quiet
  std::mutex mutex;
  sort_status failure;  // the first failure of the sorter
};

// One thread's part: blocks in turn, each taken apart into its run and its
// messages.
class block_worker {
 public:
  block_worker(shared_reading* shared, bool descending) noexcept
      : shared_(shared), settings_(shared->settings), builder_(descending) {}

  void run() noexcept {
    input_block block;
    while (shared_->reader->next(&buffer_, &block)) {
      builder_.texts_may_stay(block.mapped && shared_->texts_stay_from != SIZE_MAX);
      take_block(block.lines);
      // Mapped texts stay where they lie until they are written, the
      // block's pages held for them, when they are at least half the block
      // and either long, or in order (or in reverse order) and several
      // times the size of the address that replaces each, so that they are
      // written from those pages one after another. Other texts are copied
      // into their run and the pages given back.
      const std::size_t staying = builder_.staying_bytes();
      const std::size_t count = builder_.staying_lines();
      const std::size_t average = count > 0 ? staying / count : 0;
      const bool stay = count > 0 && 2 * staying >= block.lines.size() &&
                        (average >= shared_->texts_stay_from ||
                         (average >= IN_ORDER_STAY_FROM && builder_.comes_in_order()));
      builder_.leave_texts(stay);
      shared_->reader->learn(block.lines.size(), lines_);
      // The budget leaves room for two blocks in hand, while more input
      // comes: their bytes, read or mapped, and their builders.
      const std::size_t in_hand = block.mapped ? block.lines.size() : buffer_.capacity();
      const std::size_t reserve = block.last ? 0 : 2 * (in_hand + builder_.held());
      const sort_status held =
          status_.ok() ? shared_->sorter->hold(block.sequence, &builder_, reserve) : status_;
      if (block.mapped && !stay) {
        shared_->input->release(block.lines.data(), block.lines.data() + block.lines.size());
      }
      if (shared_->messages != nullptr) shared_->messages->write(block.sequence, messages_.text());
      messages_.clear();
      if (!held.ok()) {
        fail(held);
        return;
      }
    }
  }

 private:
  void fail(const sort_status& status) noexcept {
    {
      const std::lock_guard<std::mutex> lock(shared_->mutex);
      if (shared_->failure.ok()) shared_->failure = status;
    }
    shared_->reader->stop();
    if (shared_->messages != nullptr) shared_->messages->stop();
  }

  void take_block(std::string_view lines) noexcept {
    const char* const bytes = lines.data();
    const std::size_t end = lines.size();
    lines_ = 0;
    std::size_t zero = find_zero(bytes, 0, end);  // first zero byte at or after pos
    for (std::size_t pos = 0; pos < end && status_.ok();) {
      const auto stop = static_cast<std::size_t>(find_byte(bytes + pos, bytes + end, '\n') - bytes);
      if (stop - pos > MAX_LINE_LENGTH) {
        if (!settings_.quiet) note(messages_.too_long({bytes + pos, LONG_LINE_SHOWN}));
      } else {
        // A line's text ends at its first zero byte.
        if (zero < pos) zero = find_zero(bytes, pos, end);
        take_line({bytes + pos, (zero < stop ? zero : stop) - pos});
      }
      pos = stop + 1;
      ++lines_;
    }
  }

  // Notes that memory ran out for a message, which stops reading.
  void note(bool kept) noexcept {
    if (!kept) status_ = {sort_status::problem::out_of_memory, 0};
  }

  // True when a field of the last kept field's size holds its bytes too.
  [[nodiscard]] bool same_as_last(std::string_view field) const noexcept {
    if (last_field_size_ == 0) return false;
    // Most fields differ early: the first eight bytes tell them apart.
    if (last_field_size_ >= 8) {
      std::uint64_t a = 0;
      std::uint64_t b = 0;
      std::memcpy(&a, field.data(), 8);
      std::memcpy(&b, last_field_, 8);
      if (a != b) return false;
    }
    return std::memcmp(field.data(), last_field_, last_field_size_) == 0;
  }

  // Handles the text of one line, up to its newline or first zero byte.
  void take_line(std::string_view line) noexcept {
    if (line.empty()) return;
    const auto field = find_field(line, settings_.separator, settings_.field);
    if (!field) {
      if (!settings_.quiet) note(messages_.field_missing(settings_.field, line));
      return;
    }
    const std::string_view text = settings_.versions_only ? *field : line;
    // Lists repeat versions: a field the same as the last one kept is the
    // same version, kept again without parsing it.
    if (field->size() == last_field_size_ && same_as_last(*field)) {
      if (!builder_.add_again(text)) status_ = {sort_status::problem::out_of_memory, 0};
      return;
    }
    if (parse_field(settings_, *field, &version_) != 0) {
      if (!settings_.quiet) note(messages_.invalid_version(line));
      return;
    }
    const version_range* range = shared_->range;
    if (range != nullptr &&
        version_satisfies(version_, *range, settings_.prereleases_match ? 1 : 0) == 0) {
      return;  // not asked for: no message, it is no error
    }
    if (!builder_.add(version_, text)) {
      status_ = {sort_status::problem::out_of_memory, 0};
      return;
    }
    // A version is at most MAX_VERSION_LENGTH bytes, and one more with -l.
    if (field->size() <= sizeof last_field_) {
      std::memcpy(last_field_, field->data(), field->size());
      last_field_size_ = field->size();
    }
  }

  shared_reading* shared_;
  const sort_settings& settings_;
  growable<char> buffer_;  // for blocks that are read
  std::size_t lines_ = 0;  // in the block
  line_messages messages_;
  run_builder builder_;
  sort_status status_;
  // One view serves every line: rewriting a fresh one for each line costs
  // more than parsing it.
  version_view version_;
  // The field of the line kept last; empty before the first.
  char last_field_[MAX_VERSION_LENGTH + 1];
  std::size_t last_field_size_ = 0;
};

}  // namespace

read_outcome read_lines(int fd, const mapped_input& input, const sort_settings& settings,
                        const version_range* range, int messages, const command_tuning& tuning,
                        line_sorter* sorter) noexcept {
  message_order order(messages);
  message_order* const ordered = settings.quiet ? nullptr : &order;
  block_reader reader(fd, input, tuning.block_bytes, ordered);
  shared_reading shared{settings, range, sorter, &reader, &input, tuning.texts_stay_from,
                        ordered,  {},    {}};
  block_worker first(&shared, settings.reverse);
  block_worker second(&shared, settings.reverse);
  if (!tuning.second_thread || !side_by_side([&] { first.run(); }, [&] { second.run(); })) {
    first.run();
  }
  read_outcome outcome;
  if (!shared.failure.ok()) {
    outcome.why = read_outcome::stop::sorter;
    outcome.sorter_status = shared.failure;
  } else if (reader.error() == ENOMEM) {
    outcome.why = read_outcome::stop::sorter;
    outcome.sorter_status = {sort_status::problem::out_of_memory, 0};
  } else if (reader.error() != 0) {
    outcome.why = read_outcome::stop::read_error;
    outcome.error = reader.error();
  }
  return outcome;
}

}  // namespace quorbel
