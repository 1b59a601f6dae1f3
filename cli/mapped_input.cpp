// Mapping a regular file of input, and the bus-error handler that keeps a
// file cut short under it from ending the process.
#include "cli/mapped_input.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quorbel {

namespace {

// How far from the end of the file its last newline is looked for.
constexpr std::size_t LAST_LINE_SEARCH = std::size_t{1} << 16;

// The mapping the handler watches: signals reach any thread, so it is
// process-wide, and one input is mapped at a time.
std::atomic<std::uintptr_t> watched_start{0};
std::atomic<std::size_t> watched_size{0};
std::atomic<bool> watched_fault{false};
std::atomic<bool> watching{false};
std::size_t page_size = 4096;
// What handled bus errors before: it has them back once nothing is mapped,
// and meanwhile every bus error that is not the mapping's.
struct sigaction before {};

// A fault on a page of the mapping means the file no longer has it (or
// could not read it): zeros are mapped from there to the end, since a file
// cut short has lost all of that, and the access is made again. Any other
// bus error goes to what handled it before: a fault is made again on
// return and meets it, a signal sent by someone is raised again.
void on_bus_error(int, siginfo_t* info, void*) {
  const int saved = errno;
  const std::uintptr_t start = watched_start.load();
  const std::size_t size = watched_size.load();
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (info->si_code > 0 && start != 0 && at >= start && at - start < size) {
    const std::uintptr_t page = at & ~(page_size - 1);
    if (::mmap(reinterpret_cast<void*>(page), start + size - page, PROT_READ,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      watched_fault.store(true);
      errno = saved;
      return;
    }
  }
  ::sigaction(SIGBUS, &before, nullptr);
  if (info->si_code <= 0) ::raise(SIGBUS);
  errno = saved;
}

}  // namespace

mapped_input::~mapped_input() { unmap(); }

void mapped_input::unmap() noexcept {
  if (map_start_ == nullptr) return;
  ::sigaction(SIGBUS, &before, nullptr);
  watched_start.store(0);
  watched_size.store(0);
  ::munmap(map_start_, map_size_);
  map_start_ = nullptr;
  map_size_ = 0;
  begin_ = nullptr;
  size_ = 0;
  watching.store(false);
}

bool mapped_input::map(int fd, std::size_t least, std::size_t most, char terminator) noexcept {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  const off_t offset = ::lseek(fd, 0, SEEK_CUR);
  if (offset < 0 || status.st_size <= offset) return false;
  const auto left = static_cast<std::uint64_t>(status.st_size - offset);
  if (left < least || left > most || left > SIZE_MAX / 2) return false;
  bool idle = false;
  if (!watching.compare_exchange_strong(idle, true)) return false;
  const long page = ::sysconf(_SC_PAGESIZE);
  page_size = page > 0 ? static_cast<std::size_t>(page) : 4096;
  const auto skipped = static_cast<std::size_t>(offset) & (page_size - 1);
  const std::size_t size = skipped + static_cast<std::size_t>(left);
  void* const start =
      ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, offset - static_cast<off_t>(skipped));
  if (start == MAP_FAILED) {
    watching.store(false);
    return false;
  }
  fd_ = fd;
  map_start_ = static_cast<char*>(start);
  map_size_ = size;
  watched_fault.store(false);
  watched_size.store(size);
  watched_start.store(reinterpret_cast<std::uintptr_t>(start));
  struct sigaction handler {};
  handler.sa_sigaction = on_bus_error;
  handler.sa_flags = SA_SIGINFO;
  sigemptyset(&handler.sa_mask);
  ::sigaction(SIGBUS, &handler, &before);
  // Whole lines only: an unfinished last line is read, with what may follow
  // it. A last line too long to be a line is read too, and so is all of
  // the file when there is such a line, rather than looked through whole.
  const char* const lines = map_start_ + skipped;
  const std::size_t tail = std::min<std::size_t>(static_cast<std::size_t>(left), LAST_LINE_SEARCH);
  const void* last = ::memrchr(lines + (left - tail), terminator, tail);
  const std::size_t whole =
      last == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(last) - lines) + 1;
  end_offset_ = offset + static_cast<off_t>(whole);
  if (whole == 0 || ::lseek(fd, end_offset_, SEEK_SET) < 0) {
    unmap();
    return false;
  }
  begin_ = lines;
  size_ = whole;
  return true;
}

void mapped_input::release(const char* from, const char* to) const noexcept {
  // Pages shared with the lines around are given back too: nothing is
  // written to the mapping, so whoever reads them again reads the file.
  const auto first = reinterpret_cast<std::uintptr_t>(from) & ~(page_size - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(to) + page_size - 1) & ~(page_size - 1);
  if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

mapped_input::state mapped_input::check() const noexcept {
  if (map_start_ == nullptr) return state::whole;
  // A file cut short within the last page read gives zeros, not a fault:
  // its length tells.
  struct stat status {};
  if (::fstat(fd_, &status) == 0 && status.st_size < end_offset_) return state::shrank;
  return watched_fault.load() ? state::failed : state::whole;
}

}  // namespace quorbel
