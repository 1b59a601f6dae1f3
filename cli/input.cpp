// Reading input in blocks of whole lines, and taking the blocks apart, on
// two threads.
#include "cli/input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/bytes.h"
#include "engine/io.h"
#include "engine/threads.h"
#include "version/internal.h"

namespace quorbel {

namespace {

// The shortest texts that stay where they lie for coming in order: shorter
// ones save their records too little to pay for the pages held.
constexpr std::size_t IN_ORDER_STAY_FROM = 3 * sizeof(const char*);

// How much of an over-long line its message shows.
constexpr std::size_t LONG_LINE_SHOWN = MAX_LINE_LENGTH + 1;

// True unless a read of fd would wait for its writer.
bool readable(int fd) noexcept {
  pollfd ready{fd, POLLIN, 0};
  // A file that cannot be polled never waits; an error shows in the read.
  return ::poll(&ready, 1, 0) != 0;
}

// Waits until fd can be read or `wake` is written to; false for the latter.
bool wait_readable(int fd, int wake) noexcept {
  pollfd ready[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
  for (;;) {
    const int got = ::poll(ready, wake >= 0 ? 2 : 1, -1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return true;  // let the read say what is wrong
    return ready[1].revents == 0 || ready[0].revents != 0;
  }
}

// Widens a pipe to hold a block, up to what the system lets anyone ask for,
// so that its writer and its reader take turns a block at a time rather
// than 64 KiB at a time, with fewer reads and wake-ups. A pipe that cannot
// grow stays as it is.
void widen_pipe(int fd, std::size_t block_bytes) noexcept {
#ifdef F_SETPIPE_SZ
  constexpr std::size_t WIDEST = std::size_t{1} << 20;  // the unprivileged limit by default
  const std::size_t wanted = std::min(block_bytes, WIDEST);
  struct stat input {};
  if (::fstat(fd, &input) != 0 || !S_ISFIFO(input.st_mode)) return;
  const int now = ::fcntl(fd, F_GETPIPE_SZ);
  if (now >= 0 && static_cast<std::size_t>(now) < wanted) {
    (void)::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(wanted));
  }
#else
  (void)fd;
  (void)block_bytes;
#endif
}

std::size_t find_zero(const char* base, std::size_t from, std::size_t end) noexcept {
  const void* found = std::memchr(base + from, 0, end - from);
  return found == nullptr ? end : static_cast<std::size_t>(static_cast<const char*>(found) - base);
}

// The messages of the blocks, written in input order: each block's once the
// blocks before it have written theirs.
class message_order {
 public:
  explicit message_order(int fd) noexcept : fd_(fd) {}

  // Writes the messages of block `sequence` in its turn.
  void write(std::size_t sequence, std::string_view messages) noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    turn_.wait(lock, [&] { return next_ == sequence || stopped_; });
    if (stopped_) return;
    // A message that cannot be written is lost, not a reason to stop.
    if (!messages.empty()) (void)write_fully(fd_, messages);
    ++next_;
    turn_.notify_all();
  }

  // Waits until the blocks before `sequence` have written their messages.
  void wait_for(std::size_t sequence) noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    turn_.wait(lock, [&] { return next_ >= sequence || stopped_; });
  }

  // Reading has failed: nobody waits any more.
  void stop() noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    turn_.notify_all();
  }

 private:
  int fd_;
  std::mutex mutex_;
  std::condition_variable turn_;
  std::size_t next_ = 0;
  bool stopped_ = false;
};

// A block of whole lines, each with its newline, and its number.
struct input_block {
  std::string_view lines;
  std::size_t sequence = 0;
  bool mapped = false;  // the lines lie in the mapped input, else in the buffer given
};

// Cuts the input into numbered blocks of whole lines, one reader at a time:
// first the mapped lines, if any, where they lie, then what is read after
// them. An over-long line that is read is cut to the bytes its message
// shows, with a newline, and the rest of it is skipped: it never becomes a
// line of its own.
class block_reader {
 public:
  block_reader(int fd, const mapped_input& input, std::size_t block_bytes,
               message_order* messages) noexcept
      : fd_(fd),
        mapped_(input.lines()),
        mapped_end_(input.end_offset()),
        block_bytes_(block_bytes == 0 ? 1 : block_bytes),
        messages_(messages) {
    // Another thread wakes a reader that waits for input by writing here.
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
    widen_pipe(fd, block_bytes_);
  }
  block_reader(const block_reader&) = delete;
  block_reader& operator=(const block_reader&) = delete;
  ~block_reader() {
    if (wake_[0] >= 0) ::close(wake_[0]);
    if (wake_[1] >= 0) ::close(wake_[1]);
  }

  // Takes the size of a block just read, so that blocks of short lines are
  // cut shorter: the keys of short lines outweigh their bytes.
  void learn(std::size_t bytes, std::size_t lines) noexcept {
    if (lines > 0) bytes_per_line_.store(std::max<std::size_t>(bytes / lines, 1));
  }

  // The next block, read into *buffer unless it is mapped: false at the end
  // of input, or when reading failed (error() then tells why).
  [[nodiscard]] bool next(growable<char>* buffer, input_block* block) noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ended_ || stopped_.load()) return false;
    // A line costs its bytes and about KEY_COST more while its run is
    // sorted: a block holds the lines that take about twice its size then.
    constexpr std::size_t KEY_COST = sizeof(run_key) + RECORD_HEADER + 12;
    const std::size_t line = bytes_per_line_.load();
    const std::size_t block_bytes = std::max<std::size_t>(
        std::min(block_bytes_, 2 * block_bytes_ / (line + KEY_COST) * line), 1);
    if (!mapped_.empty() && next_mapped(block_bytes, block)) return true;
    if (ended_) return false;
    // Room for the unfinished line before, a block, and a newline after a
    // cut line.
    const std::size_t room = block_bytes_ + MAX_LINE_LENGTH + 2;
    if (!buffer->reserve_exactly(room)) {
      fail(ENOMEM);
      return false;
    }
    char* const bytes = buffer->data();
    std::memcpy(bytes, carry_, carried_);
    std::size_t size = carried_;
    std::size_t line_start = 0;  // of the unfinished line
    bool complete = false;       // the block has a whole line
    carried_ = 0;
    while (!(complete && size >= block_bytes)) {
      if (!readable(fd_)) {
        // The input pauses: what is whole goes now, and every message so far
        // is out before waiting, which another thread's failure cuts short.
        if (complete) break;
        if (messages_ != nullptr) messages_->wait_for(next_);
        if (stopped_.load() || !wait_readable(fd_, wake_[0])) return false;
      }
      const std::size_t wanted = std::max(block_bytes > size ? block_bytes - size : 0,
                                          std::min(block_bytes, LONG_LINE_SHOWN));
      int error = 0;
      const ssize_t got = read_some(fd_, bytes + size, std::min(wanted, room - 1 - size), &error);
      if (got < 0) {
        fail(error);
        return false;
      }
      if (got == 0) {
        ended_ = true;
        break;
      }
      std::size_t added = static_cast<std::size_t>(got);
      if (skipping_) {
        // The tail of an over-long line: dropped up to its newline.
        const void* newline = std::memchr(bytes + size, '\n', added);
        if (newline == nullptr) continue;
        const std::size_t past =
            static_cast<std::size_t>(static_cast<const char*>(newline) - (bytes + size)) + 1;
        std::memmove(bytes + size, bytes + size + past, added - past);
        added -= past;
        skipping_ = false;
      }
      const char* last = static_cast<const char*>(::memrchr(bytes + size, '\n', added));
      size += added;
      if (last != nullptr) {
        line_start = static_cast<std::size_t>(last - bytes) + 1;
        complete = true;
      }
      if (size - line_start > MAX_LINE_LENGTH) {
        // Over-long before its end: keep what its message shows.
        size = line_start + LONG_LINE_SHOWN;
        bytes[size++] = '\n';
        line_start = size;
        complete = true;
        skipping_ = true;
      }
    }
    if (!ended_) {
      // The unfinished line waits for the next block.
      carried_ = size - line_start;
      std::memcpy(carry_, bytes + line_start, carried_);
      size = line_start;
    } else if (skipping_) {
      size = line_start;  // the input ended inside an over-long line
    }
    if (size == 0 && ended_) return false;
    *block = {{bytes, size}, next_++, false};
    return true;
  }

  [[nodiscard]] int error() const noexcept {
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }

  // Ends reading for every thread, when something else has failed, and
  // wakes a reader that waits for input. Needs no lock: the reader may hold
  // it while it waits.
  void stop() noexcept {
    stopped_.store(true);
    if (wake_[1] >= 0) (void)!::write(wake_[1], "", 1);
  }

 private:
  void fail(int error) noexcept {
    error_ = error;
    ended_ = true;
  }

  // The next mapped block: up to the newline that ends the line at the
  // block's reach, unless that line is over-long. Reading then takes over at
  // the line's start, and skips it without holding it whole. False when no
  // mapped line is left, or when that fails (ended_ is then set).
  [[nodiscard]] bool next_mapped(std::size_t block_bytes, input_block* block) noexcept {
    const char* const lines = mapped_.data();
    const std::size_t reach = std::min(block_bytes, mapped_.size()) - 1;
    const std::size_t window = std::min(mapped_.size() - reach, MAX_LINE_LENGTH + 2);
    const void* newline = std::memchr(lines + reach, '\n', window);
    std::size_t size = 0;
    if (newline == nullptr) newline = ::memrchr(lines, '\n', reach);
    if (newline != nullptr) {
      size = static_cast<std::size_t>(static_cast<const char*>(newline) - lines) + 1;
    }
    if (size <= reach) {
      if (::lseek(fd_, mapped_end_ - static_cast<off_t>(mapped_.size() - size), SEEK_SET) < 0) {
        fail(errno);
        return false;
      }
      mapped_ = mapped_.substr(0, size);
    }
    if (size == 0) return false;
    *block = {mapped_.substr(0, size), next_++, true};
    mapped_.remove_prefix(size);
    return true;
  }

  int fd_;
  std::string_view mapped_;  // the mapped lines not yet in a block
  off_t mapped_end_;         // the offset in the file just past them
  std::size_t block_bytes_;  // the most a block holds, of lines of any length
  message_order* messages_;  // null when quiet
  int wake_[2] = {-1, -1};
  std::atomic<bool> stopped_{false};
  std::atomic<std::size_t> bytes_per_line_{32};
  mutable std::mutex mutex_;
  char carry_[MAX_LINE_LENGTH + 1];  // the start of the unfinished line
  std::size_t carried_ = 0;
  bool skipping_ = false;  // inside the tail of an over-long line
  bool ended_ = false;
  int error_ = 0;
  std::size_t next_ = 0;  // the number of the next block
};

// What the threads share.
struct shared_reading {
  const sort_settings& settings;
  line_rules rules;
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
      // The budget leaves room for two blocks in hand: their bytes, read
      // or mapped, and their builders.
      const std::size_t in_hand = block.mapped ? block.lines.size() : buffer_.capacity();
      const std::size_t reserve = 2 * (in_hand + builder_.held());
      const sort_status held =
          status_.ok() ? shared_->sorter->hold(block.sequence, &builder_, reserve) : status_;
      if (block.mapped && !stay) {
        shared_->input->release(block.lines.data(), block.lines.data() + block.lines.size());
      }
      if (shared_->messages != nullptr) {
        shared_->messages->write(block.sequence, {messages_.data(), messages_.size()});
      }
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
        too_long(bytes + pos);
      } else {
        // A line's text ends at its first zero byte.
        if (zero < pos) zero = find_zero(bytes, pos, end);
        take_line({bytes + pos, (zero < stop ? zero : stop) - pos});
      }
      pos = stop + 1;
      ++lines_;
    }
  }

  void put(std::string_view text) noexcept {
    if (!messages_.reserve(messages_.size() + text.size())) {
      status_ = {sort_status::problem::out_of_memory, 0};
      return;
    }
    std::memcpy(messages_.end(), text.data(), text.size());
    messages_.resize_within(messages_.size() + text.size());
  }

  void too_long(const char* line) noexcept {
    if (settings_.quiet) return;
    put("Input line too long: ");
    put(until_zero({line, LONG_LINE_SHOWN}));
    put("\n");
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
    const line_rules& rules = shared_->rules;
    const auto field = find_field(line, rules.separator, rules.field);
    if (!field) {
      if (!settings_.quiet) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(rules.field));
        put("Field ");
        put(number);
        put(" not found in ");
        put(line);
        put("\n");
      }
      return;
    }
    const std::string_view text = settings_.versions_only ? *field : line;
    // Lists repeat versions: a field the same as the last one kept is the
    // same version, kept again without parsing it.
    if (field->size() == last_field_size_ && same_as_last(*field)) {
      if (!builder_.add_again(text)) status_ = {sort_status::problem::out_of_memory, 0};
      return;
    }
    if (parse_field(rules, *field, &version_) != 0) {
      if (!settings_.quiet) {
        put("Invalid semver: ");
        put(line);
        put("\n");
      }
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
  growable<char> messages_;
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

std::optional<std::string_view> find_field(std::string_view line, char separator,
                                           std::int32_t field) noexcept {
  const char* start = nullptr;
  const char* stop = nullptr;
  if (!find_field_bytes(line.data(), line.data() + line.size(), separator, field, &start, &stop)) {
    return std::nullopt;
  }
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
  const auto field =
      versions_only_ ? std::optional(text) : find_field(text, rules_.separator, rules_.field);
  return field && parse_field(rules_, *field, version) == 0;
}

read_outcome read_lines(int fd, const mapped_input& input, const sort_settings& settings,
                        const version_range* range, int messages, const read_options& options,
                        line_sorter* sorter) noexcept {
  message_order order(messages);
  message_order* const ordered = settings.quiet ? nullptr : &order;
  block_reader reader(fd, input, options.block_bytes, ordered);
  shared_reading shared{settings,
                        {settings.separator, settings.field, settings.v_prefix},
                        range,
                        sorter,
                        &reader,
                        &input,
                        options.texts_stay_from,
                        ordered,
                        {},
                        {}};
  block_worker first(&shared, settings.reverse);
  block_worker second(&shared, settings.reverse);
  if (!options.second_thread || !side_by_side([&] { first.run(); }, [&] { second.run(); })) {
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
