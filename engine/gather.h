// Gathering the texts of merged lines into buffers that are passed on when
// full: the step shared by the merge of files and the merge of pieces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/bytes.h"
#include "engine/loser_tree.h"
#include "engine/merge.h"
#include "engine/record.h"
#include "engine/sort_options.h"
#include "engine/source.h"
#include "version/internal.h"

namespace quorbel {

// Texts of lines gathered into a buffer, which goes on to
// `flush(buffer, used)` when the next text would not fit; flush returns the
// buffer to gather into next.
//
// A text that lies apart from its record, in a mapped file, stands at a
// place of its own that the processor has not seen lately: its copy waits
// behind a few others, while the place is looked up, rather than stall on
// it at once. Such a text must still end with its end byte when it is
// copied; one that does not lies in a file that changed under the sort,
// and gathering stops without passing on what it holds.
template <typename Flush>
class text_gatherer {
 public:
  // Texts end with the byte `end`.
  text_gatherer(char* buffer, std::size_t capacity, char end, Flush& flush,
                const std::atomic<int>& stop, merge_result* result) noexcept
      : buffer_(buffer),
        capacity_(capacity),
        end_(end),
        flush_(flush),
        stop_(stop),
        result_(result) {}

  // Adds a line's text, after the first `prefix` bytes of its code; false
  // when writing has failed or a text changed, and gathering stops.
  [[nodiscard]] bool put(const line_view& line, std::size_t prefix = 0) noexcept {
    const std::size_t n = line.text_length;
    if (prefix + n > capacity_ - used_) {
      if (!copy_waiting()) return changed();
      buffer_ = flush_(buffer_, used_);
      used_ = 0;
      if (stop_.load() != 0) return false;
    }
    if (prefix > 0) {
      copy_bytes(buffer_ + used_, line.code, prefix);
      used_ += prefix;
      result_->written += prefix;
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
    if (next_ >= WAITING && !copy(slot)) return changed();  // the oldest
    slot = {to, line.text, n};
    ++next_;
    return true;
  }

  // True when a text changed where it lies, and nothing more is passed on.
  [[nodiscard]] bool broken() const noexcept { return broken_; }

  // Passes on what is gathered.
  void finish() noexcept {
    if (!copy_waiting()) {
      (void)changed();
      return;
    }
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

  // Copies a text that lies elsewhere: false when it no longer ends with
  // its end byte.
  bool copy(const waiting_copy& slot) const noexcept {
    copy_bytes(slot.to, slot.from, slot.size);
    return slot.to[slot.size - 1] == end_;
  }

  bool copy_waiting() noexcept {
    bool whole = true;
    for (std::size_t i = next_ > WAITING ? next_ - WAITING : 0; i < next_; ++i) {
      whole = copy(waiting_[i % WAITING]) && whole;
    }
    next_ = 0;
    return whole;
  }

  // A text changed where it lies: nothing gathered goes on, but the turn
  // to write passes all the same.
  bool changed() noexcept {
    result_->text_changed = true;
    broken_ = true;
    next_ = 0;
    (void)flush_(buffer_, 0);
    return false;
  }

  char* buffer_;
  std::size_t capacity_;
  char end_;
  std::size_t used_ = 0;
  waiting_copy waiting_[WAITING] = {};
  std::size_t next_ = 0;  // copies put to wait since the buffer was last passed on
  bool broken_ = false;
  Flush& flush_;
  const std::atomic<int>& stop_;
  merge_result* result_;
};

// What a merge leaves out of its output, and what it adds.
struct gather_rules {
  bool unique = false;           // a line whose code equals the one before it
  std::size_t limit = SIZE_MAX;  // lines after the limit'th of a prefix (of all, without)
  bool prefixed = false;         // the codes have prefixes
  bool write_prefixes = false;   // each text goes out after its prefix, as files hold them
  char terminator = '\n';        // the byte each text ends with
};

// The rules of sort_options, for the output or for a temporary file.
[[nodiscard]] inline gather_rules rules_of(const sort_options& options, bool to_file) noexcept {
  return {options.unique, options.limit, options.prefixed, to_file && options.prefixed,
          options.terminator};
}

// Gathers the merged lines into buffers and passes each full one on, to
// `flush(buffer, used)`, which returns the buffer to gather into next, by
// the rules. `before` (may be null) is the code of the line before the
// first, and `taken` the lines of its prefix (of all, without prefixes)
// that a limit counts before the first.
template <typename Source, typename Flush>
void gather(Source* const* sources, std::size_t count, const gather_rules& rules, head* heads,
            std::size_t* losers, char* buffer, std::size_t capacity, Flush flush,
            const std::atomic<int>& stop, merge_result* result,
            const std::uint8_t* before = nullptr, std::size_t before_length = 0,
            std::size_t taken = 0) noexcept {
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
  text_gatherer<Flush> out(buffer, capacity, rules.terminator, flush, stop, result);
  const bool limited = rules.limit != SIZE_MAX;
  const bool remember = rules.unique || (limited && rules.prefixed);
  std::uint8_t last_code[MAX_LINE_CODE];
  std::size_t last_length = 0;
  std::size_t last_prefix = 0;
  bool any = before != nullptr;
  if (any) {
    std::memcpy(last_code, before, before_length);
    last_length = before_length;
    if (limited && rules.prefixed) last_prefix = prefix_length(before, before_length);
  }
  // `taken`: lines of the last prefix, or of all.
  for (;;) {
    const std::size_t w = tree.winner();
    head& h = heads[w];
    if (h.done) break;
    const line_view& line = h.line;
    const bool repeated =
        rules.unique && any &&
        compare_order_codes(last_code, last_length, line.code, line.code_length) == 0;
    if (!repeated) {
      const std::size_t prefix = rules.prefixed && (limited || rules.write_prefixes)
                                     ? prefix_length(line.code, line.code_length)
                                     : 0;
      if (limited) {
        if (rules.prefixed &&
            (!any || prefix != last_prefix || std::memcmp(line.code, last_code, prefix) != 0)) {
          taken = 0;
        }
        if (taken == rules.limit && !rules.prefixed) break;  // all the lines there may be
      }
      if (taken < rules.limit) {
        if (!out.put(line, rules.write_prefixes ? prefix : 0)) break;
        ++taken;
      }
      if (remember) {
        std::memcpy(last_code, line.code, line.code_length);
        last_length = line.code_length;
        last_prefix = prefix;
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
  if (result->read_error == 0 && !out.broken()) out.finish();
}

// gather for a piece that one sorted run holds alone, as in sorted input:
// its texts in the order they stand, with no merge to make.
template <typename Flush>
void copy_texts(memory_source* source, char* buffer, std::size_t capacity, char terminator,
                Flush flush, const std::atomic<int>& stop, merge_result* result) noexcept {
  text_gatherer<Flush> out(buffer, capacity, terminator, flush, stop, result);
  line_view line;
  while (source->next(&line)) {
    if (!out.put(line)) return;
  }
  out.finish();
}

}  // namespace quorbel
