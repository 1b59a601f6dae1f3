// Checking the order of the input, block by block on two threads: each
// thread compares the lines within its blocks by version_compare (which the
// codes follow), and leaves what the blocks around need of a block in a
// ring of results. In input order, whichever thread completes a result
// hands it on: its first line is compared, by its code, with the last line
// of the blocks before, and its messages are written. A thread may so run
// a few blocks ahead of the other rather than wait for it at each.
#include "cli/check.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

#include "cli/block_reader.h"
#include "cli/line_taker.h"
#include "cli/mapped_input.h"
#include "cli/messages.h"
#include "engine/line_code.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// Input is checked in blocks of this much, when the tuning leaves it open:
// two of them in hand keep the memory small.
constexpr std::size_t CHECK_BLOCK = std::size_t{1} << 20;
// Results of blocks that wait for their turn, at most.
constexpr std::size_t RING = 4;

struct code_buffer {
  std::uint8_t bytes[LINE_CODE_ROOM];
  std::size_t length = 0;

  void copy(const code_buffer& other) noexcept {
    std::memcpy(bytes, other.bytes, other.length);
    length = other.length;
  }
};

// A line of a block, for its message.
struct place {
  std::size_t number = 0;    // in the block, from 1; 0: none
  std::size_t messages = 0;  // bytes of the block's messages before it
  std::size_t length = 0;
  char text[MAX_LINE_LENGTH];

  void hold(std::size_t at, std::string_view line, std::size_t before) noexcept {
    number = at;
    messages = before;
    length = line.size();
    std::memcpy(text, line.data(), length);
  }
  [[nodiscard]] std::string_view line() const noexcept { return {text, length}; }
};

// What the blocks after a block need of it, kept until its turn.
struct block_result {
  std::size_t lines = 0;  // read in the block
  place first;            // its first accepted line
  place found;            // its first line out of order with the one before it
  code_buffer first_code;
  code_buffer last_code;  // of its last accepted line
  line_messages messages;
  bool failed = false;  // memory ran out for a message
  bool ready = false;   // waiting for its turn
};

// What the threads share, under `mutex` from `results` on.
struct shared_check {
  const sort_settings& settings;
  const version_range* range;
  block_reader* reader;
  message_order* order;
  std::mutex mutex;
  std::condition_variable turn;
  block_result results[RING];  // block n's at n % RING
  std::size_t next = 0;        // the block handed on next
  code_buffer last;            // of the last line accepted in the blocks handed on
  bool any = false;            // whether there was one
  std::size_t lines = 0;       // read in the blocks handed on
  std::atomic<bool> stopped{false};
  std::atomic<bool> found{false};  // a line out of order
  std::atomic<bool> out_of_memory{false};
  // Started for a second worker once a block shows that more input
  // follows; null when one thread is to do it all.
  helper_thread* helper = nullptr;
  class check_worker* second = nullptr;

  explicit shared_check(const sort_settings& s, const version_range* r, block_reader* b,
                        message_order* o) noexcept
      : settings(s), range(r), reader(b), order(o) {}

  // Ends reading for every thread, and wakes those that wait.
  void stop() noexcept {
    stopped.store(true);
    reader->stop();
    order->stop();
    turn.notify_all();
  }

  // The room for block `sequence`'s result, once the block RING before it
  // is handed on; null when the check has stopped.
  block_result* room(std::size_t sequence) noexcept {
    std::unique_lock<std::mutex> lock(mutex);
    turn.wait(lock, [&] { return stopped.load() || sequence < next + RING; });
    return stopped.load() ? nullptr : &results[sequence % RING];
  }

  // Block `sequence`'s result is ready: it and those after it that are,
  // in turn, are handed on.
  void ready(std::size_t sequence) noexcept {
    const std::lock_guard<std::mutex> lock(mutex);
    results[sequence % RING].ready = true;
    while (!stopped.load() && results[next % RING].ready) {
      hand_on(&results[next % RING]);
      ++next;
    }
    turn.notify_all();
  }

 private:
  void hand_on(block_result* result) noexcept {
    result->ready = false;
    if (result->failed) {
      out_of_memory.store(true);
      stop();
      return;
    }
    const place* wrong = result->found.number != 0 ? &result->found : nullptr;
    const int c = result->first.number != 0 && any
                      ? compare_order_codes(last.bytes, last.length, result->first_code.bytes,
                                            result->first_code.length)
                      : -1;
    if (c > 0 || (c == 0 && settings.unique)) wrong = &result->first;
    if (wrong != nullptr) {
      result->messages.cut(wrong->messages);
      if (!result->messages.disorder(lines + wrong->number, wrong->line())) {
        out_of_memory.store(true);
      }
      found.store(true);
      order->write(next, result->messages.text());
      stop();
      return;
    }
    if (result->first.number != 0) {
      last.copy(result->last_code);
      any = true;
    }
    lines += result->lines;
    order->write(next, result->messages.text());
    result->messages.clear();
  }
};

// An accepted line as the check holds it: its version and group, which
// point into its block.
struct held_line {
  version_view version;
  std::optional<std::string_view> group;

  // Its code, as the sort gives it.
  void encode(bool descending, code_buffer* code) const noexcept {
    code->length = encode_line_code(group, version, descending, code->bytes);
  }
};

// The order of two lines, as their codes would give it: groups in byte
// order, then versions, which -r reverses.
int compare_lines(const held_line& a, const held_line& b, bool descending) noexcept {
  if (a.group) {
    const int c = a.group->compare(*b.group);
    if (c != 0) return c < 0 ? -1 : 1;
  }
  const int c = version_compare(a.version, b.version);
  return descending ? -c : c;
}

// One thread's part: blocks in turn.
class check_worker {
 public:
  explicit check_worker(shared_check* shared) noexcept
      : shared_(shared), taker_(shared->settings, shared->range) {}

  void run() noexcept {
    input_block block;
    while (!shared_->stopped.load() && shared_->reader->next(&buffer_, &block)) {
      block_result* result = shared_->room(block.sequence);
      if (result == nullptr) return;
      check_block(block, result);
      shared_->ready(block.sequence);
      if (!block.last) start_second();
    }
  }

 private:
  // More input follows the block just done: a second worker checks blocks
  // too from now on. Only the first worker starts it, once.
  void start_second() noexcept {
    helper_thread* const helper = shared_->helper;
    if (shared_->second == this || helper == nullptr || helper->started()) return;
    shared_->reader->make_wakeable();
    check_worker* const second = shared_->second;
    (void)helper->start([second] { second->run(); });
  }

  // Checks the lines within the block, and leaves the rest to its turn.
  void check_block(const input_block& block, block_result* result) noexcept {
    const bool unique = shared_->settings.unique;
    const bool descending = shared_->settings.reverse;
    taker_.start(block.lines);
    result->first.number = 0;
    result->found.number = 0;
    held_line first;
    held_line last;
    taken_line taken;
    while (taker_.next(&taken)) {
      const std::size_t before = taker_.messages().text().size();
      if (result->first.number == 0) {
        result->first.hold(taker_.taken(), taken.line, before);
        first = last = {*taken.version, taken.group};
        continue;
      }
      // A line the same as the one before is equal to it.
      if (taken.version == nullptr) {
        if (!unique) continue;
      } else {
        const held_line line{*taken.version, taken.group};
        const int c = compare_lines(last, line, descending);
        last = line;
        if (c < 0 || (c == 0 && !unique)) continue;
      }
      result->found.hold(taker_.taken(), taken.line, before);
      break;
    }
    if (result->first.number != 0) {
      first.encode(descending, &result->first_code);
      last.encode(descending, &result->last_code);
    }
    result->lines = taker_.taken();
    result->failed = taker_.failed();
    // The result takes the messages; the taker, the result's old buffer.
    result->messages.swap(taker_.messages());
    taker_.messages().clear();
  }

  shared_check* shared_;
  growable<char> buffer_;  // for blocks that are read
  line_taker taker_;
};

}  // namespace

check_outcome check_lines(int fd, const sort_settings& settings, const version_range* range,
                          int messages, const command_tuning& tuning) noexcept {
  const mapped_input none;
  message_order order(messages);
  block_reader reader(fd, none, tuning.block_bytes != 0 ? tuning.block_bytes : CHECK_BLOCK,
                      settings.quiet ? nullptr : &order, settings.terminator);
  shared_check shared(settings, range, &reader, &order);
  check_worker first(&shared);
  check_worker second(&shared);
  helper_thread helper;
  if (tuning.second_thread) {
    shared.helper = &helper;
    shared.second = &second;
  }
  first.run();
  helper.join();
  check_outcome outcome;
  if (shared.out_of_memory.load() || reader.error() == ENOMEM) {
    outcome.why = check_outcome::stop::out_of_memory;
  } else if (shared.found.load()) {
    outcome.why = check_outcome::stop::disorder;
  } else if (reader.error() != 0) {
    outcome.why = check_outcome::stop::read_error;
    outcome.error = reader.error();
  }
  return outcome;
}

}  // namespace quorbel
