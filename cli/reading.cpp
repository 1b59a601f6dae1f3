// Taking blocks of input apart into runs and messages, on two threads.
#include "cli/reading.h"

#include <cerrno>
#include <mutex>

#include "cli/block_reader.h"
#include "cli/line_taker.h"
#include "cli/messages.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// The shortest texts that stay where they lie for coming in order: shorter
// ones save their records too little to pay for the pages held.
constexpr std::size_t IN_ORDER_STAY_FROM = 3 * sizeof(const char*);

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
  explicit block_worker(shared_reading* shared) noexcept
      : shared_(shared),
        taker_(shared->settings, shared->range),
        builder_(shared->settings.reverse, shared->settings.terminator) {}

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
      line_messages& messages = taker_.messages();
      if (shared_->messages != nullptr) shared_->messages->write(block.sequence, messages.text());
      messages.clear();
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

  // Takes the lines of a block apart into the builder, and their messages.
  void take_block(std::string_view lines) noexcept {
    taker_.start(lines);
    taken_line taken;
    while (status_.ok() && taker_.next(&taken)) {
      const bool held = taken.version == nullptr
                            ? builder_.add_again(taken.text)
                            : builder_.add(*taken.version, taken.text, taken.group);
      if (!held) status_ = {sort_status::problem::out_of_memory, 0};
    }
    if (taker_.failed()) status_ = {sort_status::problem::out_of_memory, 0};
    lines_ = taker_.taken();
  }

  shared_reading* shared_;
  growable<char> buffer_;  // for blocks that are read
  std::size_t lines_ = 0;  // in the block
  line_taker taker_;
  run_builder builder_;
  sort_status status_;
};

}  // namespace

read_outcome read_lines(int fd, const mapped_input& input, const sort_settings& settings,
                        const version_range* range, int messages, const command_tuning& tuning,
                        line_sorter* sorter) noexcept {
  message_order order(messages);
  message_order* const ordered = settings.quiet ? nullptr : &order;
  block_reader reader(fd, input, tuning.block_bytes, ordered, settings.terminator);
  shared_reading shared{settings, range, sorter, &reader, &input, tuning.texts_stay_from,
                        ordered,  {},    {}};
  block_worker first(&shared);
  block_worker second(&shared);
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
