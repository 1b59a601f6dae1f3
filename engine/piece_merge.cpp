// The merge of sorted runs in memory, which can be cut anywhere: the output
// is cut into pieces at lines sampled from the runs, and two threads merge
// alternate pieces side by side, each writing its piece in its turn.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/cut_points.h"
#include "engine/gather.h"
#include "engine/io.h"
#include "engine/merge.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// A thread that merges pieces gathers a whole piece before its turn to
// write comes, so that it never waits with work left: its buffer holds a
// few pieces.
constexpr std::size_t PIECE_BUFFER = std::size_t{1} << 21;

// What one thread needs to merge pieces, taken before any is merged.
class piece_worker {
 public:
  explicit piece_worker(std::size_t count) noexcept
      : heads(make_heads(count + 1)),
        losers(static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)))),
        starts(static_cast<run_cut*>(std::malloc((count + 1) * sizeof(run_cut)))),
        sources(static_cast<memory_source*>(std::malloc((count + 1) * sizeof(memory_source)))),
        pointers(static_cast<memory_source**>(std::malloc((count + 1) * sizeof(memory_source*)))),
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
  memory_source** pointers;
  char* buffer;
  merge_result result;
};

// The pieces of a merge of runs in memory, merged by two threads in turn.
class piece_merge {
 public:
  piece_merge(const sorted_run* runs, std::size_t count, int fd, const sort_options& options,
              const cut_point* points, std::size_t pieces, run_cut* first_row,
              run_cut* second_row) noexcept
      : runs_(runs),
        count_(count),
        fd_(fd),
        rules_(rules_of(options, false)),
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
      for (std::size_t r = 0; r < count_; ++r) {
        if (starts[r].offset == ends[r].offset) continue;
        worker->pointers[taking_part] = new (&worker->sources[taking_part]) memory_source(
            runs_[r], runs_[r].records + starts[r].offset, runs_[r].records + ends[r].offset);
        ++taking_part;
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
      // A limit counts the lines of the group the piece starts in (of all
      // lines, without groups) from the pieces before.
      const bool limited = rules_.limit != SIZE_MAX;
      std::size_t taken = 0;
      if (limited && before != nullptr) {
        const std::size_t prefix =
            rules_.prefixed ? prefix_length(before->code, before->code_length) : 0;
        taken = lines_before(runs_, count_, starts, before->code, prefix);
      }
      if (taking_part == 1 && !rules_.unique && !limited) {
        copy_texts(worker->pointers[0], worker->buffer, PIECE_BUFFER, rules_.terminator, flush,
                   error_, &worker->result);
      } else {
        gather(worker->pointers, taking_part, rules_, worker->heads, worker->losers, worker->buffer,
               PIECE_BUFFER, flush, error_, &worker->result,
               before != nullptr ? before->code : nullptr,
               before != nullptr ? before->code_length : 0, taken);
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
  gather_rules rules_;       // of the output
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
                        const sort_options& options) noexcept {
  std::size_t bytes = 0;
  for (std::size_t r = 0; r < count; ++r) bytes += runs[r].size + runs[r].elsewhere;
  // Pieces of a few output buffers each; a small output is one piece.
  const std::size_t piece_bytes = std::max<std::size_t>(options.piece_bytes, 1);
  std::size_t samples = 0;
  cut_point* points = nullptr;
  std::size_t pieces = 1;
  std::size_t lines = 0;
  for (std::size_t r = 0; r < count; ++r) lines += runs[r].lines;
  // With -u, the lines a limit counts before a piece would need a merge of
  // their own: the output is then one piece.
  const bool whole = options.unique && options.limit != SIZE_MAX;
  if (options.second_thread && !whole && bytes >= 2 * piece_bytes) {
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
    result.text_changed = first.result.text_changed || second.result.text_changed;
  }
  std::free(first_row);
  std::free(second_row);
  std::free(points);
  return result;
}

}  // namespace quorbel
