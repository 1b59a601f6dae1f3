// The memory budget: the -S option, and what the process may use otherwise.
#include "cli/budget.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/io.h"

namespace quorbel {

namespace {

std::size_t physical_memory() noexcept {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return SIZE_MAX;
  const auto total = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  return total > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(total);
}

// The start of a small file, as much as one read gives into the buffer, or
// empty when it cannot be read.
std::string_view read_small_file(const char* path, char* buffer, std::size_t size) noexcept {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  int error = 0;
  const ssize_t got = read_some(fd, buffer, size, &error);
  ::close(fd);
  return got <= 0 ? std::string_view() : std::string_view(buffer, static_cast<std::size_t>(got));
}

// The first line of a small file, or empty when it cannot be read.
std::string_view first_line(const char* path, char* buffer, std::size_t size) noexcept {
  const std::string_view text = read_small_file(path, buffer, size);
  return text.substr(0, text.find('\n'));
}

// A limit as the control groups write it: a number of bytes, or "max".
std::size_t read_limit(const char* path) noexcept {
  char buffer[64];
  const std::string_view text = first_line(path, buffer, sizeof buffer);
  std::uint64_t value = 0;
  if (text.empty()) return SIZE_MAX;
  for (const char c : text) {
    if (c < '0' || c > '9') return SIZE_MAX;  // "max", or something unknown
    if (value > (UINT64_MAX - 9) / 10) return SIZE_MAX;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(value);
}

// The least limit of the control group at `path` under `root` and of every
// group above it, with `file` the name of the limit.
std::size_t group_limit(const char* root, std::string_view path, const char* file) noexcept {
  std::size_t least = SIZE_MAX;
  for (;;) {
    char full[4096];
    const int n = std::snprintf(full, sizeof full, "%s%.*s/%s", root, static_cast<int>(path.size()),
                                path.data(), file);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof full)
      least = std::min(least, read_limit(full));
    if (path.empty() || path == "/") return least;
    const std::size_t slash = path.rfind('/');
    path = path.substr(0, slash == std::string_view::npos ? 0 : slash);
  }
}

// The limits of the process's control groups, v2 and v1.
std::size_t control_group_memory() noexcept {
  char buffer[4096];
  std::string_view lines = read_small_file("/proc/self/cgroup", buffer, sizeof buffer);
  std::size_t least = SIZE_MAX;
  while (!lines.empty()) {
    const std::size_t newline = lines.find('\n');
    std::string_view line = lines.substr(0, newline);
    lines.remove_prefix(newline == std::string_view::npos ? lines.size() : newline + 1);
    // "<id>:<controllers>:<path>": v2 has id 0 and no controllers.
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1);
    if (line.substr(0, first) == "0" && controllers.empty()) {
      least = std::min(least, group_limit("/sys/fs/cgroup", path, "memory.max"));
    } else if (controllers.find("memory") != std::string_view::npos) {
      least = std::min(least, group_limit("/sys/fs/cgroup/memory", path, "memory.limit_in_bytes"));
    }
  }
  return least;
}

// Address space the process has mapped already, or 0 when unknown.
std::size_t mapped_now() noexcept {
  char buffer[128];
  const std::string_view text = first_line("/proc/self/statm", buffer, sizeof buffer);
  std::size_t pages = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    pages = pages * 10 + static_cast<unsigned>(c - '0');
  }
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? pages * static_cast<std::size_t>(page) : 0;
}

// The limit on a resource, in bytes; SIZE_MAX when there is none.
std::size_t limit_of(int resource) noexcept {
  struct rlimit limit {};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  if (limit.rlim_cur > SIZE_MAX) return SIZE_MAX;
  return static_cast<std::size_t>(limit.rlim_cur);
}

// What a limit on address space or data leaves for held lines: the limit
// counts what is mapped already, and what threads and buffers will map
// (mostly the stacks of the second threads), not only what is touched.
std::size_t resource_limit(int resource) noexcept {
  constexpr std::size_t THREADS_AND_BUFFERS = std::size_t{32} << 20;
  const std::size_t total = limit_of(resource);
  if (total == SIZE_MAX) return SIZE_MAX;
  const std::size_t taken = mapped_now() + THREADS_AND_BUFFERS;
  return total > taken ? total - taken : 0;
}

}  // namespace

std::optional<std::size_t> parse_size(std::string_view text) noexcept {
  std::uint64_t value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (i == 0 || text.size() - i > 1) return std::nullopt;
  const char unit = i < text.size() ? text[i] : 'K';
  if (unit == '%') {
    if (value > 100) return std::nullopt;
    const std::size_t memory = physical_memory();
    return memory / 100 * value;
  }
  unsigned shift = 0;
  switch (unit) {
    case 'b': shift = 0; break;
    case 'k':
    case 'K': shift = 10; break;
    case 'm':
    case 'M': shift = 20; break;
    case 'g':
    case 'G': shift = 30; break;
    case 't':
    case 'T': shift = 40; break;
    default: return std::nullopt;
  }
  if (value > (SIZE_MAX >> shift)) return std::nullopt;
  return static_cast<std::size_t>(value << shift);
}

std::size_t default_memory_budget() noexcept {
  const std::size_t usable = std::min({physical_memory(), control_group_memory(),
                                       resource_limit(RLIMIT_AS), resource_limit(RLIMIT_DATA)});
  return usable / 2;
}

std::size_t address_space_left() noexcept { return resource_limit(RLIMIT_AS); }

void set_up_memory() noexcept {
#ifdef M_MMAP_THRESHOLD
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
#ifdef M_ARENA_MAX
  if (limit_of(RLIMIT_AS) != SIZE_MAX) mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace quorbel
