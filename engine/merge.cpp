// The merge of sorted sources into one stream: a tree of losers picks the
// lines, and a writer takes full buffers while the next one is gathered.
#include "engine/merge.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "engine/gather.h"
#include "engine/io.h"
#include "engine/threads.h"

namespace quorbel {

namespace {

// Output is gathered in buffers this large, or as large as the sources
// when they are smaller; a line with its prefix always fits.
constexpr std::size_t OUTPUT_BUFFER = std::size_t{1} << 20;
constexpr std::size_t SMALLEST_OUTPUT_BUFFER = std::size_t{1} << 14;
static_assert(SMALLEST_OUTPUT_BUFFER > MAX_CODE_PREFIX + 1 + MAX_TEXT_LENGTH + 1);

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

}  // namespace

merge_result merge_lines(line_source* const* sources, std::size_t count, int fd,
                         const sort_options& options, bool to_file) noexcept {
  merge_result result;
  const gather_rules rules = rules_of(options, to_file);
  head* heads = make_heads(count + 1);
  auto* losers = static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)));
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count; ++i) total += sources[i]->bytes();
  const auto capacity = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(total + 1, SMALLEST_OUTPUT_BUFFER, OUTPUT_BUFFER));
  char* buffers[2] = {static_cast<char*>(std::malloc(capacity)), nullptr};
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
            gather(sources, count, rules, heads, losers, out.take(0), capacity, flush, out.error(),
                   &result);
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
      gather(sources, count, rules, heads, losers, buffers[0], capacity, flush, stop, &result);
    }
  }
  std::free(heads);
  std::free(losers);
  std::free(buffers[0]);
  std::free(buffers[1]);
  return result;
}

}  // namespace quorbel
