// The tree of losers that picks, line after line, the source whose current
// line comes first: by order code, and on equal codes the earlier source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "engine/bytes.h"
#include "engine/source.h"
#include "version/internal.h"

namespace quorbel {

// The current line of each source, with the first 16 bytes of its code as
// integers, which decide most comparisons (and hold most codes whole).
inline constexpr std::size_t HEAD_CODE_BYTES = 16;

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
inline head* make_heads(std::size_t count) noexcept {
  auto* heads = static_cast<head*>(std::malloc(count * sizeof(head)));
  if (heads != nullptr) {
    for (std::size_t i = 0; i < count; ++i) new (&heads[i]) head();
  }
  return heads;
}

// Takes a source's next line into its head: a call of the source's own
// next where its type is known.
template <typename Source>
void advance(Source* source, head* h) noexcept {
  h->done = !source->next(&h->line);
  if (!h->done) {
    const std::size_t n = h->line.code_length;
    h->high = big_endian_word(h->line.code, n < 8 ? n : 8);
    h->low = n > 8 ? big_endian_word(h->line.code + 8, n < HEAD_CODE_BYTES ? n - 8 : 8) : 0;
  }
}

}  // namespace quorbel
