// Checking the order of the input, block by block on two threads: each
// thread compares the lines within its blocks by version_compare (which the
// codes follow), and in each block's turn the code of its first line is
// compared with that of the last line of the blocks before.
#include "cli/check.h"

#include <atomic>
#include <cerrno>
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

struct code_buffer {
  std::uint8_t bytes[LINE_CODE_ROOM];
  std::size_t length = 0;
};

// True when a line of code `next` may not follow one of code `before`.
bool out_of_order(const code_buffer& before, const code_buffer& next, bool unique) noexcept {
  const int c = compare_order_codes(before.bytes, before.length, next.bytes, next.length);
  return c > 0 || (c == 0 && unique);
}

// What the threads share. `last` and `lines` are read and written only in
// a block's turn, which the message order hands on.
struct shared_check {
  const sort_settings& settings;
  const version_range* range;
  block_reader* reader;
  message_order* order;
  code_buffer last;       // of the last line accepted in the blocks before
  bool any = false;       // whether there was one
  std::size_t lines = 0;  // read in the blocks before
  std::atomic<bool> stopped{false};
  std::atomic<bool> found{false};  // a line out of order
  std::atomic<bool> out_of_memory{false};
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
      check_block(block);
    }
  }

 private:
  // A line of the block: where it is, for its message.
  struct place {
    std::size_t number = 0;  // in the block, from 1; 0: none
    std::string_view line;
    std::size_t messages = 0;  // bytes of the block's messages before it
  };

  // Checks the lines within the block, then, in its turn, its first line
  // against the blocks before.
  void check_block(const input_block& block) noexcept {
    const bool unique = shared_->settings.unique;
    const bool descending = shared_->settings.reverse;
    taker_.start(block.lines);
    place first;
    place found;
    held_line first_line;
    held_line last;
    taken_line taken;
    while (taker_.next(&taken)) {
      const place here{taker_.taken(), taken.line, taker_.messages().text().size()};
      if (first.number == 0) {
        first = here;
        first_line = last = {*taken.version, taken.group};
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
      found = here;
      break;
    }
    if (taker_.failed()) {
      shared_->out_of_memory.store(true);
      stop();
      return;
    }
    shared_->order->wait_for(block.sequence);
    if (shared_->stopped.load()) return;
    if (first.number != 0 && shared_->any) {
      first_line.encode(descending, &code_);
      if (out_of_order(shared_->last, code_, unique)) found = first;
    }
    line_messages& messages = taker_.messages();
    if (found.number != 0) {
      messages.cut(found.messages);
      if (!messages.disorder(shared_->lines + found.number, found.line)) {
        shared_->out_of_memory.store(true);
      }
      shared_->found.store(true);
      shared_->stopped.store(true);
      shared_->order->write(block.sequence, messages.text());
      stop();
      return;
    }
    if (first.number != 0) {
      last.encode(descending, &shared_->last);
      shared_->any = true;
    }
    shared_->lines += taker_.taken();
    shared_->order->write(block.sequence, messages.text());
    messages.clear();
  }

  void stop() noexcept {
    shared_->stopped.store(true);
    shared_->reader->stop();
    shared_->order->stop();
  }

  shared_check* shared_;
  growable<char> buffer_;  // for blocks that are read
  line_taker taker_;
  code_buffer code_;  // of the block's first line
};

}  // namespace

check_outcome check_lines(int fd, const sort_settings& settings, const version_range* range,
                          int messages, const command_tuning& tuning) noexcept {
  const mapped_input none;
  message_order order(messages);
  block_reader reader(fd, none, tuning.block_bytes != 0 ? tuning.block_bytes : CHECK_BLOCK,
                      settings.quiet ? nullptr : &order, settings.terminator);
  shared_check shared{settings, range, &reader, &order, {}, false, 0, {false}, {false}, {false}};
  check_worker first(&shared);
  check_worker second(&shared);
  if (!tuning.second_thread || !side_by_side([&] { first.run(); }, [&] { second.run(); })) {
    first.run();
  }
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
