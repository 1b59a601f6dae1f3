// The merge: a tree of losers over the sources, and a writer that takes
// full buffers while the next one is gathered.
#include "engine/merge.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/bytes.h"
#include "engine/io.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// Each file source reads this much at a time; it holds any line whole.
constexpr std::size_t SOURCE_BUFFER = std::size_t{1} << 16;
static_assert(SOURCE_BUFFER >= 2 * (MAX_LINE_LENGTH + 1));
// Read parts of a temporary file are given back a page at a time, after
// every read, so that a merge holds its lines on disk once, not twice, even
// when its files are small.
constexpr std::uint64_t DROP_PIECE = 4096;
// Output is gathered in buffers this large, a line always fits.
constexpr std::size_t OUTPUT_BUFFER = std::size_t{1} << 20;
static_assert(OUTPUT_BUFFER > MAX_LINE_LENGTH + 1);
// A thread that merges pieces gathers a whole piece before its turn to
// write comes, so that it never waits with work left: its buffer holds a
// few pieces.
constexpr std::size_t PIECE_BUFFER = std::size_t{1} << 21;

// The current line of each source, with the first 16 bytes of its code as
// integers, which decide most comparisons (and hold most codes whole).
constexpr std::size_t HEAD_CODE_BYTES = 16;

struct head {
  line_view line;
  std::uint64_t high = 0;
  std::uint64_t low = 0;
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
    if (x.high != y.high) return x.high < y.high;
    if (x.low != y.low) return x.low < y.low;
    // Codes that agree so far and both end within it are the same: as
    // they cannot start one another, they would differ before the end.
    if (x.line.code_length > HEAD_CODE_BYTES || y.line.code_length > HEAD_CODE_BYTES) {
      const int c =
          compare_order_codes(x.line.code, x.line.code_length, y.line.code, y.line.code_length);
      if (c != 0) return c < 0;
    }
    return a < b;
  }

  head* heads_;
  std::size_t count_;
  std::size_t* losers_;  // by node, 1 to count - 1
  std::size_t winner_;
};

// Heads for `count` sources, each at its end until it is advanced; null
// when memory runs out.
head* make_heads(std::size_t count) noexcept {
  auto* heads = static_cast<head*>(std::malloc(count * sizeof(head)));
  if (heads != nullptr) {
    for (std::size_t i = 0; i < count; ++i) new (&heads[i]) head();
  }
  return heads;
}

// Takes a source's next line into its head.
void advance(line_source* source, head* h) noexcept {
  h->done = !source->next(&h->line);
  if (!h->done) {
    const std::size_t n = h->line.code_length;
    h->high = big_endian_word(h->line.code, n < 8 ? n : 8);
    h->low = n > 8 ? big_endian_word(h->line.code + 8, n < HEAD_CODE_BYTES ? n - 8 : 8) : 0;
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
  [[nodiscard]] const std::atomic<int>& error() const noexcept { return error_; }

 private:
  char* buffers_[2];
  int fd_;
  std::size_t used_[2] = {0, 0};
  std::atomic<int> full_[2] = {0, 0};
  std::atomic<int> error_{0};
};

// Texts of lines gathered into a buffer, which goes on to
// `flush(buffer, used)` when the next text would not fit; flush returns the
// buffer to gather into next.
//
// A text that lies apart from its record, in a mapped file, stands at a
// place of its own that the processor has not seen lately: its copy waits
// behind a few others, while the place is looked up, rather than stall on
// it at once.
template <typename Flush>
class text_gatherer {
 public:
  text_gatherer(char* buffer, std::size_t capacity, Flush& flush, const std::atomic<int>& stop,
                merge_result* result) noexcept
      : buffer_(buffer), capacity_(capacity), flush_(flush), stop_(stop), result_(result) {}

  // Adds a line's text; false when writing has failed and gathering stops.
  [[nodiscard]] bool put(const line_view& line) noexcept {
    const std::size_t n = line.text_length;
    if (n > capacity_ - used_) {
      copy_waiting();
      buffer_ = flush_(buffer_, used_);
      used_ = 0;
      if (stop_.load() != 0) return false;
    }
    char* const to = buffer_ + used_;
    used_ += n;
    result_->written += n;
    if (!line.text_elsewhere) {
      copy_bytes(to, line.text, n);
      return true;
    }
    // Its first and last bytes: the pages it lies on.
    __builtin_prefetch(line.text);
    __builtin_prefetch(line.text + n - 1);
    waiting_copy& slot = waiting_[next_ % WAITING];
    if (next_ >= WAITING) copy_bytes(slot.to, slot.from, slot.size);  // the oldest
    slot = {to, line.text, n};
    ++next_;
    return true;
  }

  // Passes on what is gathered.
  void finish() noexcept {
    copy_waiting();
    (void)flush_(buffer_, used_);
  }

 private:
  // The most copies that wait: enough that a text's pages are found
  // before its copy is made.
  static constexpr std::size_t WAITING = 16;
  struct waiting_copy {
    char* to;
    const char* from;
    std::size_t size;
  };

  void copy_waiting() noexcept {
    for (std::size_t i = next_ > WAITING ? next_ - WAITING : 0; i < next_; ++i) {
      const waiting_copy& slot = waiting_[i % WAITING];
      copy_bytes(slot.to, slot.from, slot.size);
    }
    next_ = 0;
  }

  char* buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
  waiting_copy waiting_[WAITING] = {};
  std::size_t next_ = 0;  // copies put to wait since the buffer was last passed on
  Flush& flush_;
  const std::atomic<int>& stop_;
  merge_result* result_;
};

// Gathers the merged lines into buffers and passes each full one on, to
// `flush(buffer, used)`, which returns the buffer to gather into next.
// With `unique`, a line whose code equals the one before it is left out;
// `before` (may be null) is the code of the line before the first.
template <typename Flush>
void gather(line_source* const* sources, std::size_t count, bool unique, head* heads,
            std::size_t* losers, char* buffer, std::size_t capacity, Flush flush,
            const std::atomic<int>& stop, merge_result* result,
            const std::uint8_t* before = nullptr, std::size_t before_length = 0) noexcept {
  if (count == 0) {
    (void)flush(buffer, 0);  // nothing to merge, but the turn comes all the same
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    advance(sources[i], &heads[i]);
    if (heads[i].done && sources[i]->error() != 0) {
      result->read_error = sources[i]->error();
      return;
    }
  }
  tree_of_losers tree(heads, count, losers);
  text_gatherer<Flush> out(buffer, capacity, flush, stop, result);
  std::uint8_t last_code[MAX_ORDER_CODE];
  std::size_t last_length = 0;
  bool any = before != nullptr;
  if (any) {
    std::memcpy(last_code, before, before_length);
    last_length = before_length;
  }
  for (;;) {
    const std::size_t w = tree.winner();
    head& h = heads[w];
    if (h.done) break;
    const bool repeated =
        unique && any &&
        compare_order_codes(last_code, last_length, h.line.code, h.line.code_length) == 0;
    if (!repeated) {
      if (!out.put(h.line)) break;
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
  if (result->read_error == 0) out.finish();
}

// gather for a piece that one sorted run holds alone, as in sorted input:
// its texts in the order they stand, with no merge to make.
template <typename Flush>
void copy_texts(const char* at, const char* end, char* buffer, std::size_t capacity, Flush flush,
                const std::atomic<int>& stop, merge_result* result) noexcept {
  text_gatherer<Flush> out(buffer, capacity, flush, stop, result);
  while (at != end) {
    const line_view line = read_record(at);
    at += record_size(line);
    if (!out.put(line)) return;
  }
  out.finish();
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
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::uint64_t>(SOURCE_BUFFER - kept, left));
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
  line->text_elsewhere = false;
  return true;
}

merge_result merge_lines(line_source* const* sources, std::size_t count, int fd,
                         const merge_options& options) noexcept {
  merge_result result;
  head* heads = make_heads(count + 1);
  auto* losers = static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)));
  char* buffers[2] = {static_cast<char*>(std::malloc(OUTPUT_BUFFER)), nullptr};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count; ++i) total += sources[i]->bytes();
  // A second buffer only when there is more than one to fill.
  if (options.second_thread && total > OUTPUT_BUFFER) {
    buffers[1] = static_cast<char*>(std::malloc(OUTPUT_BUFFER));
  }
  if (heads == nullptr || losers == nullptr || buffers[0] == nullptr) {
    result.out_of_memory = true;
  } else if (count > 0) {
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
            gather(sources, count, options.unique, heads, losers, out.take(0), OUTPUT_BUFFER, flush,
                   out.error(), &result);
            // Let the writer finish: END after the last buffer.
            out.give(slot, handoff::END);
          },
          [&out] { out.write_all(); });
      if (shared) result.write_error = out.error().load();
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
      gather(sources, count, options.unique, heads, losers, buffers[0], OUTPUT_BUFFER, flush, stop,
             &result);
    }
  }
  std::free(heads);
  std::free(losers);
  std::free(buffers[0]);
  std::free(buffers[1]);
  return result;
}

namespace {

// A line of a sorted run at which the output is cut: pieces end just after
// such lines. Lines order by code, then run, then place in the run, which is
// the order of the output, ties included.
struct cut_point {
  line_view line;
  std::size_t run = 0;
  std::size_t position = 0;  // the line's number in its run
};

// True when the line at `position` of run `run` comes after the point.
bool comes_after(const line_view& line, std::size_t run, std::size_t position,
                 const cut_point& point) noexcept {
  const int c =
      compare_order_codes(line.code, line.code_length, point.line.code, point.line.code_length);
  if (c != 0) return c > 0;
  if (run != point.run) return run > point.run;
  return position > point.position;
}

// Where a run is read to and from, by piece.
struct run_cut {
  std::size_t offset = 0;    // of the first record after the cut
  std::size_t position = 0;  // its number in the run
};

// Takes each run's cut from where it is to just after the point: its first
// line that comes after it. A run that moves far is crossed by its marks,
// galloping, so a cut costs little however many runs there are and however
// far they move.
void advance_cuts(const sorted_run* runs, std::size_t count, const cut_point& point,
                  run_cut* cuts) noexcept {
  for (std::size_t r = 0; r < count; ++r) {
    const sorted_run& run = runs[r];
    run_cut& cut = cuts[r];
    const auto after_mark = [&](std::size_t mark) {
      return comes_after(read_record(run.records + run.marks[mark]), r, mark * INDEX_STEP, point);
    };
    const std::size_t marks = (run.lines + INDEX_STEP - 1) / INDEX_STEP;
    // The last mark known to come before the point, and the first after it.
    std::size_t before = cut.position / INDEX_STEP;
    std::size_t beyond = before + 1;
    for (std::size_t step = 1; beyond < marks && !after_mark(beyond); step *= 2) {
      before = beyond;
      beyond = before + step;
    }
    if (beyond > marks) beyond = marks;
    while (beyond - before > 1) {
      const std::size_t middle = before + (beyond - before) / 2;
      if (after_mark(middle)) {
        beyond = middle;
      } else {
        before = middle;
      }
    }
    if (before * INDEX_STEP > cut.position) cut = {run.marks[before], before * INDEX_STEP};
    while (cut.offset < run.size) {
      const line_view line = read_record(run.records + cut.offset);
      if (comes_after(line, r, cut.position, point)) break;
      cut.offset += record_size(line);
      ++cut.position;
    }
  }
}

// The most lines between two samples of a run.
constexpr std::size_t MAX_SAMPLE_STEP = 16 * INDEX_STEP;

// Lines sampled from the runs, every `step`-th of each, in the order of the
// output: the points at which it can be cut into pieces of about equal size.
// Each run's samples start at a different line within the first step, so
// that runs of equal length, whose k-th lines stand near the same place in
// the output, do not crowd the samples together there with wide gaps
// between. Null when memory runs out.
cut_point* sample_cut_points(const sorted_run* runs, std::size_t count, std::size_t step,
                             std::size_t* samples) {
  std::size_t total = 0;
  for (std::size_t r = 0; r < count; ++r) total += (runs[r].lines + step - 1) / step;
  auto* points = static_cast<cut_point*>(std::malloc((total == 0 ? 1 : total) * sizeof(cut_point)));
  if (points == nullptr) return nullptr;
  std::size_t n = 0;
  for (std::size_t r = 0; r < count; ++r) {
    const sorted_run& run = runs[r];
    for (std::size_t position = r * step / count; position < run.lines; position += step) {
      const char* record = run.records + run.marks[position / INDEX_STEP];
      for (std::size_t i = 0; i < position % INDEX_STEP; ++i)
        record += record_size(read_record(record));
      new (&points[n++]) cut_point{read_record(record), r, position};
    }
  }
  std::sort(points, points + n, [](const cut_point& a, const cut_point& b) {
    return comes_after(b.line, b.run, b.position, a);
  });
  *samples = n;
  return points;
}

// What one thread needs to merge pieces, taken before any is merged.
class piece_worker {
 public:
  explicit piece_worker(std::size_t count) noexcept
      : heads(make_heads(count + 1)),
        losers(static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)))),
        starts(static_cast<run_cut*>(std::malloc((count + 1) * sizeof(run_cut)))),
        sources(static_cast<memory_source*>(std::malloc((count + 1) * sizeof(memory_source)))),
        pointers(static_cast<line_source**>(std::malloc((count + 1) * sizeof(line_source*)))),
        buffer(static_cast<char*>(std::malloc(PIECE_BUFFER))) {}
  piece_worker(const piece_worker&) = delete;
  piece_worker& operator=(const piece_worker&) = delete;
  ~piece_worker() {
    std::free(heads);
    std::free(losers);
    std::free(starts);
    std::free(sources);
    std::free(pointers);
    std::free(buffer);
  }
  [[nodiscard]] bool ready() const noexcept {
    return heads != nullptr && losers != nullptr && starts != nullptr && sources != nullptr &&
           pointers != nullptr && buffer != nullptr;
  }

  head* heads;
  std::size_t* losers;
  run_cut* starts;
  memory_source* sources;
  line_source** pointers;
  char* buffer;
  merge_result result;
};

// The pieces of a merge of runs in memory, merged by two threads in turn.
class piece_merge {
 public:
  piece_merge(const sorted_run* runs, std::size_t count, int fd, const merge_options& options,
              const cut_point* points, std::size_t pieces, run_cut* first_row,
              run_cut* second_row) noexcept
      : runs_(runs),
        count_(count),
        fd_(fd),
        options_(options),
        points_(points),
        pieces_(pieces),
        rows_{first_row, second_row} {}

  // Merges the pieces first, first + stride, ...
  void run(std::size_t first, std::size_t stride, piece_worker* worker) noexcept {
    for (std::size_t piece = first; piece < pieces_; piece += stride) {
      // This piece starts where the one before ends: wait for its cuts, take
      // them, and move them on to this piece's end for the next.
      for (std::size_t c = cut_row_.load(); c < piece; c = cut_row_.load()) cut_row_.wait(c);
      run_cut* const starts = worker->starts;
      std::memcpy(starts, rows_[piece % 2], count_ * sizeof(run_cut));
      run_cut* const ends = rows_[(piece + 1) % 2];
      std::memcpy(ends, starts, count_ * sizeof(run_cut));
      if (piece + 1 < pieces_) {
        advance_cuts(runs_, count_, points_[piece], ends);
      } else {
        for (std::size_t r = 0; r < count_; ++r) ends[r] = {runs_[r].size, runs_[r].lines};
      }
      // Only the runs that have lines in this piece take part: in sorted
      // input, or one version over and over, that is one or two of them.
      std::size_t taking_part = 0;
      std::size_t alone = 0;
      for (std::size_t r = 0; r < count_; ++r) {
        if (starts[r].offset == ends[r].offset) continue;
        worker->pointers[taking_part] = new (&worker->sources[taking_part])
            memory_source(runs_[r].records + starts[r].offset, runs_[r].records + ends[r].offset);
        ++taking_part;
        alone = r;
      }
      cut_row_.store(piece + 1);
      cut_row_.notify_all();
      bool my_turn = false;
      const auto flush = [&](char* gathered, std::size_t used) {
        if (!my_turn) {
          for (std::size_t t = turn_.load(); t != piece; t = turn_.load()) turn_.wait(t);
          my_turn = true;
        }
        if (error_.load() == 0 && used > 0) {
          const int error = write_fully(fd_, {gathered, used});
          if (error != 0) error_.store(error);
        }
        return gathered;
      };
      const line_view* before = piece > 0 ? &points_[piece - 1].line : nullptr;
      if (taking_part == 1 && !options_.unique) {
        copy_texts(runs_[alone].records + starts[alone].offset,
                   runs_[alone].records + ends[alone].offset, worker->buffer, PIECE_BUFFER, flush,
                   error_, &worker->result);
      } else {
        gather(worker->pointers, taking_part, options_.unique, worker->heads, worker->losers,
               worker->buffer, PIECE_BUFFER, flush, error_, &worker->result,
               before != nullptr ? before->code : nullptr,
               before != nullptr ? before->code_length : 0);
      }
      turn_.store(piece + 1);
      turn_.notify_all();
    }
  }

  [[nodiscard]] int error() const noexcept { return error_.load(); }

 private:
  const sorted_run* runs_;
  std::size_t count_;
  int fd_;
  merge_options options_;
  const cut_point* points_;  // pieces - 1 of them: piece i ends after points_[i]
  std::size_t pieces_;
  // The cuts where a piece starts, by the piece's parity: piece i's end is
  // written while piece i + 1 waits for it, and read before piece i + 2's.
  run_cut* rows_[2];
  // How many pieces have their starting cuts known: piece i may start once
  // it is more than i.
  std::atomic<std::size_t> cut_row_{0};
  std::atomic<std::size_t> turn_{0};  // the piece to be written next
  std::atomic<int> error_{0};
};

}  // namespace

merge_result merge_runs(const sorted_run* runs, std::size_t count, int fd,
                        const merge_options& options) noexcept {
  std::size_t bytes = 0;
  for (std::size_t r = 0; r < count; ++r) bytes += runs[r].size + runs[r].elsewhere;
  // Pieces of a few output buffers each; a small output is one piece.
  const std::size_t piece_bytes = std::max<std::size_t>(options.piece_bytes, 1);
  std::size_t samples = 0;
  cut_point* points = nullptr;
  std::size_t pieces = 1;
  std::size_t lines = 0;
  for (std::size_t r = 0; r < count; ++r) lines += runs[r].lines;
  if (options.second_thread && bytes >= 2 * piece_bytes) {
    // Many samples to a piece, so that pieces come out near their size:
    // the thread with the smaller piece waits for the other's to be written
    // before its own, and one that outgrows its buffer waits mid-piece.
    const std::size_t step =
        std::clamp<std::size_t>(lines / (16 * (bytes / piece_bytes)), 1, MAX_SAMPLE_STEP);
    points = sample_cut_points(runs, count, step, &samples);
    // Each cut looks at every run, so the cuts cost no more than the lines
    // do when runs are many (input that came a few lines at a time).
    if (points != nullptr) {
      pieces = std::min({bytes / piece_bytes, samples + 1, lines / (count == 0 ? 1 : count)});
    }
  }
  merge_result result;
  if (pieces < 2) {
    std::free(points);
    source_array<memory_source> sources(count);
    if (!sources.ready()) {
      result.out_of_memory = true;
      return result;
    }
    for (std::size_t r = 0; r < count; ++r) sources.add(runs[r]);
    return merge_lines(sources.sources(), sources.count(), fd, options);
  }
  // The cut points: evenly spaced samples, so pieces hold about as much.
  cut_point* chosen = points;
  for (std::size_t i = 1; i < pieces; ++i) chosen[i - 1] = points[i * samples / pieces];
  auto* first_row = static_cast<run_cut*>(std::calloc(count + 1, sizeof(run_cut)));
  auto* second_row = static_cast<run_cut*>(std::calloc(count + 1, sizeof(run_cut)));
  piece_worker first(count), second(count);
  if (first_row == nullptr || second_row == nullptr || !first.ready() || !second.ready()) {
    result.out_of_memory = true;
  } else {
    piece_merge merge(runs, count, fd, options, chosen, pieces, first_row, second_row);
    if (!side_by_side([&] { merge.run(0, 2, &first); }, [&] { merge.run(1, 2, &second); })) {
      merge.run(0, 1, &first);
    }
    result.written = first.result.written + second.result.written;
    result.write_error = merge.error();
  }
  std::free(first_row);
  std::free(second_row);
  std::free(points);
  return result;
}

}  // namespace quorbel
