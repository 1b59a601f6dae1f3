// Work on a second thread, with one thread doing it all when no second can
// be had.
#pragma once

#include <exception>
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

}  // namespace quorbel
