// Work on a second thread, with one thread doing it all when no second can
// be had.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace quorbel {

// Runs `second` on a thread of its own and `first` on this one, and returns
// true once both are done. When no thread can be had, runs neither and
// returns false, so that the caller can do the work another way.
template <typename First, typename Second>
bool side_by_side(First first, Second second) noexcept {
  std::optional<std::thread> helper;
  try {
    helper.emplace(std::move(second));
  } catch (const std::exception&) {
    return false;
  }
  first();
  helper->join();
  return true;
}

// A second thread that does one piece of work at a time while this one goes
// on; started with the first piece, so it costs nothing until then, and
// kept for the next, so a piece costs a wake-up, not a thread.
class worker_thread {
 public:
  worker_thread() = default;
  worker_thread(const worker_thread&) = delete;
  worker_thread& operator=(const worker_thread&) = delete;
  ~worker_thread() {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  // Starts work(context) on the thread, once the piece before is done. False
  // when no thread can be had: nothing ran, and the caller does the work.
  [[nodiscard]] bool start(void (*work)(void*), void* context) noexcept {
    wait();
    if (!thread_.joinable()) {
      if (unavailable_) return false;
      try {
        thread_ = std::thread([this] { serve(); });
      } catch (const std::exception&) {
        unavailable_ = true;  // no use trying again for every piece
        return false;
      }
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      work_ = work;
      context_ = context;
      busy_ = true;
    }
    wake_.notify_all();
    return true;
  }

  // Waits until the piece of work started last is done.
  void wait() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
  }

 private:
  void serve() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || work_ != nullptr; });
      if (work_ == nullptr) return;
      void (*const work)(void*) = work_;
      void* const context = context_;
      work_ = nullptr;
      lock.unlock();
      work(context);
      lock.lock();
      busy_ = false;
      done_.notify_all();
    }
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  void (*work_)(void*) = nullptr;
  void* context_ = nullptr;
  bool busy_ = false;
  bool quit_ = false;
  bool unavailable_ = false;
};

}  // namespace quorbel
