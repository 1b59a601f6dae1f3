// Work on a second thread, with one thread doing it all when no second can
// be had.
#pragma once

#include <exception>
#include <optional>
#include <thread>
#include <utility>

namespace quorbel {

// A second thread, started only once the work proves to need it, and
// waited for when it goes: work too small for two threads never pays for
// starting one.
class helper_thread {
 public:
  helper_thread() = default;
  helper_thread(const helper_thread&) = delete;
  helper_thread& operator=(const helper_thread&) = delete;
  ~helper_thread() { join(); }

  // Runs `work` on the thread, once: false when it has run already or no
  // thread can be had, and the caller is to do the work another way.
  template <typename Work>
  bool start(Work work) noexcept {
    if (thread_) return false;
    try {
      thread_.emplace(std::move(work));
    } catch (const std::exception&) {
      return false;
    }
    return true;
  }

  [[nodiscard]] bool started() const noexcept { return thread_.has_value(); }

  // Waits for the work, when it was started.
  void join() noexcept {
    if (thread_) {
      thread_->join();
      thread_.reset();
    }
  }

 private:
  std::optional<std::thread> thread_;
};

// Runs `second` on a thread of its own and `first` on this one, and returns
// true once both are done. When no thread can be had, runs neither and
// returns false, so that the caller can do the work another way.
template <typename First, typename Second>
bool side_by_side(First first, Second second) noexcept {
  helper_thread helper;
  if (!helper.start(std::move(second))) return false;
  first();
  helper.join();
  return true;
}

}  // namespace quorbel
