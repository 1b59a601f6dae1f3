// The merge: a tree of losers over the sources, and a writer that takes
// full buffers while the next one is gathered.
#include "engine/merge.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/io.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// Each file source reads this much at a time; it holds any line whole.
constexpr std::size_t SOURCE_BUFFER = std::size_t{1} << 16;
static_assert(SOURCE_BUFFER >= 2 * (MAX_LINE_LENGTH + 1));
// Read parts of a temporary file are given back in pieces this large.
constexpr std::uint64_t DROP_PIECE = std::uint64_t{1} << 20;
// Output is gathered in buffers this large, a line always fits.
constexpr std::size_t OUTPUT_BUFFER = std::size_t{1} << 20;
static_assert(OUTPUT_BUFFER > MAX_LINE_LENGTH + 1);

// The current line of each source, with the first bytes of its code as an
// integer, which decides most comparisons.
struct head {
  line_view line;
  std::uint64_t prefix = 0;
  bool done = true;
};

class tree_of_losers {
 public:
  tree_of_losers(head* heads, std::size_t count, std::size_t* losers) noexcept
      : heads_(heads), count_(count), losers_(losers) {
    // Each source enters at its leaf and climbs: the first to reach a node
    // waits there, the second plays it, and the winner climbs on.
    constexpr std::size_t WAITING = SIZE_MAX;
    for (std::size_t node = 1; node < count_; ++node) losers_[node] = WAITING;
    winner_ = 0;
    for (std::size_t source = 0; source < count_; ++source) {
      std::size_t climbing = source;
      std::size_t node = (count_ + source) / 2;
      for (; node >= 1; node /= 2) {
        if (losers_[node] == WAITING) {
          losers_[node] = climbing;
          break;
        }
        if (before(losers_[node], climbing)) std::swap(losers_[node], climbing);
      }
      if (node == 0) winner_ = climbing;
    }
  }

  [[nodiscard]] std::size_t winner() const noexcept { return winner_; }

  // After the winner's head has moved on: the new winner.
  void replay() noexcept {
    std::size_t climbing = winner_;
    for (std::size_t node = (count_ + winner_) / 2; node >= 1; node /= 2) {
      if (before(losers_[node], climbing)) std::swap(losers_[node], climbing);
    }
    winner_ = climbing;
  }

 private:
  // True when source a's line comes before source b's: by code, and on equal
  // codes the earlier source first. A source at its end comes last.
  [[nodiscard]] bool before(std::size_t a, std::size_t b) const noexcept {
    const head& x = heads_[a];
    const head& y = heads_[b];
    if (x.done || y.done) return !x.done;
    if (x.prefix != y.prefix) return x.prefix < y.prefix;
    const int c = compare_order_codes(x.line.code, x.line.code_length, y.line.code,
                                      y.line.code_length);
    if (c != 0) return c < 0;
    return a < b;
  }

  head* heads_;
  std::size_t count_;
  std::size_t* losers_;  // by node, 1 to count - 1
  std::size_t winner_;
};

// Takes a source's next line into its head.
void advance(line_source* source, head* h) noexcept {
  h->done = !source->next(&h->line);
  if (!h->done) {
    const std::size_t n = h->line.code_length < 8 ? h->line.code_length : 8;
    h->prefix = big_endian_word(h->line.code, n);
  }
}

// Buffers handed from the thread that gathers lines to the thread that
// writes them, two in turn.
class handoff {
 public:
  static constexpr std::size_t END = SIZE_MAX;

  handoff(char* first, char* second, int fd) noexcept : buffers_{first, second}, fd_(fd) {}

  // The gathering side: the buffer in turn, once the writer is done with it.
  char* take(std::size_t slot) noexcept {
    for (int f = full_[slot].load(); f != 0; f = full_[slot].load()) full_[slot].wait(f);
    return buffers_[slot];
  }
  // The gathering side: `used` bytes of the buffer are to be written (END:
  // nothing more comes).
  void give(std::size_t slot, std::size_t used) noexcept {
    used_[slot] = used;
    full_[slot].store(1);
    full_[slot].notify_all();
  }
  // The writing side, until END. After an error the rest is not written.
  void write_all() noexcept {
    for (std::size_t slot = 0;; slot ^= 1) {
      for (int f = full_[slot].load(); f == 0; f = full_[slot].load()) full_[slot].wait(f);
      const std::size_t used = used_[slot];
      if (used == END) return;
      if (error_.load() == 0) {
        const int error = write_fully(fd_, {buffers_[slot], used});
        if (error != 0) error_.store(error);
      }
      full_[slot].store(0);
      full_[slot].notify_all();
    }
  }
  [[nodiscard]] int error() const noexcept { return error_.load(); }
  [[nodiscard]] const std::atomic<int>& failed() const noexcept { return error_; }

 private:
  char* buffers_[2];
  int fd_;
  std::size_t used_[2] = {0, 0};
  std::atomic<int> full_[2] = {0, 0};
  std::atomic<int> error_{0};
};

// Gathers the merged lines into buffers and passes each full one on, to
// `flush(buffer, used)`, which returns the buffer to gather into next.
template <typename Flush>
void gather(line_source* const* sources, std::size_t count, bool unique, head* heads,
            std::size_t* losers, char* buffer, Flush flush, const std::atomic<int>& stop,
            merge_result* result) noexcept {
  for (std::size_t i = 0; i < count; ++i) {
    advance(sources[i], &heads[i]);
    if (heads[i].done && sources[i]->error() != 0) {
      result->read_error = sources[i]->error();
      return;
    }
  }
  tree_of_losers tree(heads, count, losers);
  std::size_t used = 0;
  std::uint8_t last_code[MAX_ORDER_CODE];
  std::size_t last_length = 0;
  bool any = false;
  for (;;) {
    const std::size_t w = tree.winner();
    head& h = heads[w];
    if (h.done) break;
    const bool repeated = unique && any &&
                          compare_order_codes(last_code, last_length, h.line.code,
                                              h.line.code_length) == 0;
    if (!repeated) {
      if (h.line.text_length > OUTPUT_BUFFER - used) {
        buffer = flush(buffer, used);
        used = 0;
        if (stop.load() != 0) break;
      }
      std::memcpy(buffer + used, h.line.text, h.line.text_length);
      used += h.line.text_length;
      result->written += h.line.text_length;
      if (unique) {
        std::memcpy(last_code, h.line.code, h.line.code_length);
        last_length = h.line.code_length;
        any = true;
      }
    }
    advance(sources[w], &h);
    if (h.done && sources[w]->error() != 0) {
      result->read_error = sources[w]->error();
      break;
    }
    tree.replay();
  }
  if (result->read_error == 0) (void)flush(buffer, used);
}

}  // namespace

file_source::~file_source() { std::free(buffer_); }

bool file_source::open() noexcept {
  buffer_ = static_cast<char*>(std::malloc(SOURCE_BUFFER));
  return buffer_ != nullptr;
}

bool file_source::refill() noexcept {
  // Keep the unfinished line, and read behind it.
  const std::size_t kept = end_ - start_;
  if (kept > 0 && start_ > 0) std::memmove(buffer_, buffer_ + start_, kept);
  start_ = 0;
  end_ = kept;
  if (read_ == size_) return false;
  const std::uint64_t left = size_ - read_;
  const std::size_t want = static_cast<std::size_t>(
      std::min<std::uint64_t>(SOURCE_BUFFER - kept, left));
  int error = 0;
  const ssize_t got = read_at(fd_, buffer_ + end_, want, static_cast<off_t>(read_), &error);
  if (got < 0) {
    error_ = error;
    return false;
  }
  if (got == 0) return false;
  end_ += static_cast<std::size_t>(got);
  read_ += static_cast<std::uint64_t>(got);
  const std::uint64_t done = read_ - end_;
  if (done >= dropped_ + DROP_PIECE) {
    const std::uint64_t until = done - done % DROP_PIECE;
    drop_range(fd_, static_cast<off_t>(dropped_), static_cast<std::size_t>(until - dropped_));
    dropped_ = until;
  }
  return true;
}

bool file_source::next(line_view* line) noexcept {
  const void* newline = nullptr;
  while ((newline = std::memchr(buffer_ + start_, '\n', end_ - start_)) == nullptr) {
    if (!refill()) {
      // Every line written ends with a newline: anything else is a fault.
      if (error_ == 0 && end_ != start_) error_ = EIO;
      return false;
    }
  }
  const char* const text = buffer_ + start_;
  const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - text) + 1;
  start_ += length;
  version_view version;
  if (!finder_.find({text, length - 1}, &version)) {
    error_ = EIO;  // the file does not hold what was written to it
    return false;
  }
  line->code_length = encode_order_code(version, descending_, code_);
  line->code = code_;
  line->text = text;
  line->text_length = length;
  return true;
}

merge_result merge_lines(line_source* const* sources, std::size_t count, int fd,
                         const merge_options& options) noexcept {
  merge_result result;
  auto* heads = static_cast<head*>(std::calloc(count == 0 ? 1 : count, sizeof(head)));
  auto* losers = static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)));
  char* buffers[2] = {static_cast<char*>(std::malloc(OUTPUT_BUFFER)), nullptr};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count; ++i) total += sources[i]->text_bytes();
  // A second buffer only when there is more than one to fill.
  if (options.second_thread && total > OUTPUT_BUFFER) {
    buffers[1] = static_cast<char*>(std::malloc(OUTPUT_BUFFER));
  }
  if (heads == nullptr || losers == nullptr || buffers[0] == nullptr) {
    result.out_of_memory = true;
  } else if (count > 0) {
    for (std::size_t i = 0; i < count; ++i) new (&heads[i]) head();
    bool shared = false;
    if (buffers[1] != nullptr) {
      handoff out(buffers[0], buffers[1], fd);
      std::size_t slot = 0;
      const auto flush = [&out, &slot](char*, std::size_t used) {
        out.give(slot, used);
        slot ^= 1;
        return out.take(slot);
      };
      shared = side_by_side(
          [&] {
            gather(sources, count, options.unique, heads, losers, out.take(0), flush,
                   out.failed(), &result);
            // Let the writer finish: END after the last buffer.
            out.give(slot, handoff::END);
          },
          [&out] { out.write_all(); });
      if (shared) result.write_error = out.error();
    }
    if (!shared) {
      result = {};
      std::atomic<int> stop{0};
      const auto flush = [fd, &result, &stop](char* buffer, std::size_t used) {
        if (result.write_error == 0) {
          result.write_error = write_fully(fd, {buffer, used});
          stop.store(result.write_error);
        }
        return buffer;
      };
      gather(sources, count, options.unique, heads, losers, buffers[0], flush, stop, &result);
    }
  }
  std::free(heads);
  std::free(losers);
  std::free(buffers[0]);
  std::free(buffers[1]);
  return result;
}

}  // namespace quorbel
