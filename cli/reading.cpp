// Taking blocks of input apart into runs and messages, on two threads.
#include "cli/reading.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "cli/block_reader.h"
#include "cli/line_taker.h"
#include "cli/messages.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// Input is cut into runs of a thirty-second of the memory budget, within
// these bounds: large enough that runs are few, small enough that the two
// being read take little beside the budget.
constexpr std::size_t SMALLEST_BLOCK = std::size_t{1} << 13;
constexpr std::size_t LARGEST_BLOCK = std::size_t{1} << 22;
static_assert(LARGEST_BLOCK <= MAX_RUN_INPUT, "a run is built from one block");

std::size_t block_bytes_for(std::size_t budget) noexcept {
  return std::clamp(budget / 32, SMALLEST_BLOCK, LARGEST_BLOCK);
}

// The shortest texts that stay where they lie for coming in order: a
// staying text's record holds its place, four bytes, instead of the text,
// and copying shorter ones costs less than reading them from afar.
constexpr std::size_t IN_ORDER_STAY_FROM = 8;

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
  // Once a block shows that more input follows: the budget, looked up if
  // it is not known, the size of blocks it gives unless the tuning set it,
  // and the thread started for a second worker (null: one thread does all).
  memory_budget* budget = nullptr;
  bool sized_by_budget = false;
  helper_thread* helper = nullptr;
  class block_worker* second = nullptr;
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
      // Lists repeat versions, but the first block goes without knowing
      // the fields it has seen: a list that ends there is too short to
      // gain from it, and a long one loses little.
      if (block.sequence > 0) taker_.remember_fields();
      take_block(block.lines);
      // Mapped texts stay where they lie until they are written, the
      // block's pages held for them, when they are at least half the block
      // and either long, or in order (or in reverse order) and twice the
      // size of the place that replaces each, so that they are
      // written from those pages one after another. Other texts are copied
      // into their run and the pages given back.
      const std::size_t staying = builder_.staying_bytes();
      const std::size_t count = builder_.staying_lines();
      const std::size_t average = count > 0 ? staying / count : 0;
      const bool stay = count > 0 && 2 * staying >= block.lines.size() &&
                        (average >= shared_->texts_stay_from ||
                         (average >= IN_ORDER_STAY_FROM && builder_.comes_in_order()));
      builder_.leave_texts(stay);
      shared_->reader->learn(block.lines.size(), taker_.taken());
      // The budget leaves room for two blocks in hand, while more input
      // comes: their bytes, read or mapped, and their builders.
      const std::size_t in_hand = block.mapped ? block.lines.size() : buffer_.capacity();
      const std::size_t reserve = block.last ? 0 : 2 * (in_hand + builder_.held());
      if (!block.last) more_input_follows();
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
  // More input follows the block just done, which the first worker learns
  // once: the budget counts from now on, and a second worker takes blocks
  // too, before this one is held.
  void more_input_follows() noexcept {
    helper_thread* const helper = shared_->helper;
    if (shared_->second == this || more_seen_) return;
    more_seen_ = true;
    if (!shared_->budget->known()) {
      const std::size_t budget = shared_->budget->get();
      shared_->sorter->set_memory_budget(budget);
      if (shared_->sized_by_budget) shared_->reader->set_block_bytes(block_bytes_for(budget));
    }
    if (helper == nullptr) return;
    shared_->reader->make_wakeable();
    block_worker* const second = shared_->second;
    (void)helper->start([second] { second->run(); });
  }

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
      bool held = false;
      if (taken.version != nullptr) {
        held = builder_.add(*taken.version, taken.text, taken.group);
        if (held && taken.slot != known_fields::NO_SLOT) {
          taker_.keep_code(taken.slot, builder_.last_code(), builder_.last_code_length());
        }
      } else if (taken.code != nullptr) {
        held = builder_.add_code(taken.code, taken.code_length, taken.text);
      } else {
        held = builder_.add_again(taken.text);
      }
      if (!held) status_ = {sort_status::problem::out_of_memory, 0};
    }
    if (taker_.failed()) status_ = {sort_status::problem::out_of_memory, 0};
  }

  shared_reading* shared_;
  bool more_seen_ = false;  // more input was seen to follow
  growable<char> buffer_;   // for blocks that are read
  line_taker taker_;
  run_builder builder_;
  sort_status status_;
};

}  // namespace

read_outcome read_lines(int fd, const mapped_input& input, const sort_settings& settings,
                        const version_range* range, int messages, const command_tuning& tuning,
                        std::size_t texts_stay_from, memory_budget* budget,
                        line_sorter* sorter) noexcept {
  message_order order(messages);
  message_order* const ordered = settings.quiet ? nullptr : &order;
  const bool sized_by_budget = tuning.block_bytes == 0;
  const std::size_t block_bytes = !sized_by_budget  ? tuning.block_bytes
                                  : budget->known() ? block_bytes_for(budget->get())
                                                    : LARGEST_BLOCK;
  block_reader reader(fd, input, block_bytes, ordered, settings.terminator);
  shared_reading shared{settings, range, sorter, &reader, &input, texts_stay_from, ordered, {}, {}};
  block_worker first(&shared);
  block_worker second(&shared);
  helper_thread helper;
  shared.budget = budget;
  shared.sized_by_budget = sized_by_budget;
  shared.second = &second;
  if (tuning.second_thread) shared.helper = &helper;
  first.run();
  helper.join();
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
