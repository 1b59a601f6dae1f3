// Times short runs of commands precisely: spawn_times [--pipe] ROUNDS FILE
// COMMAND... [:: COMMAND...]... runs each command ROUNDS times on FILE (as
// its standard input, or written into a pipe with --pipe), output to
// /dev/null, alternating the commands and starting each round with another,
// and prints for each its median wall and CPU time in milliseconds:
// "<wall> <cpu> <command>". Wall time runs from the spawn to the wait; CPU
// time is the child's user and system time.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct timing {
  double wall_ms;
  double cpu_ms;
};

std::string contents(const char* path) {
  std::string text;
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char block[65536];
  for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;) {
    text.append(block, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// One run of the command; false when it cannot be spawned or fails.
bool run_once(std::vector<char*>& argv, const char* path, const std::string& text, bool pipe,
              timing* out) {
  int ends[2] = {-1, -1};
  int in = -1;
  if (pipe) {
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    in = ends[0];
  } else {
    in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
  }
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, null, 1);
  posix_spawn_file_actions_adddup2(&actions, null, 2);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in);
  ::close(null);
  if (pipe) {
    for (std::size_t done = 0; spawned == 0 && done < text.size();) {
      const ssize_t n = ::write(ends[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(ends[1]);
  }
  if (spawned != 0) return false;
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) return false;
  const auto stop = std::chrono::steady_clock::now();
  out->wall_ms = std::chrono::duration<double, std::milli>(stop - start).count();
  out->cpu_ms = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool pipe = argc > 1 && std::strcmp(argv[1], "--pipe") == 0;
  if (pipe) ++first;
  if (argc - first < 3) {
    std::fprintf(stderr, "Usage: spawn_times [--pipe] ROUNDS FILE COMMAND... [:: COMMAND...]...\n");
    return 2;
  }
  const int rounds = std::atoi(argv[first]);
  const char* path = argv[first + 1];
  std::vector<std::vector<char*>> commands(1);
  for (int i = first + 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "::") == 0) {
      commands.emplace_back();
    } else {
      commands.back().push_back(argv[i]);
    }
  }
  for (auto& command : commands) command.push_back(nullptr);
  const std::string text = pipe ? contents(path) : std::string();
  std::vector<std::vector<double>> walls(commands.size()), cpus(commands.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t k = 0; k < commands.size(); ++k) {
      const std::size_t c = (k + static_cast<std::size_t>(round)) % commands.size();
      timing t{};
      if (!run_once(commands[c], path, text, pipe, &t)) {
        std::fprintf(stderr, "spawn_times: %s failed\n", commands[c][0]);
        return 1;
      }
      walls[c].push_back(t.wall_ms);
      cpus[c].push_back(t.cpu_ms);
    }
  }
  for (std::size_t c = 0; c < commands.size(); ++c) {
    std::printf("%.3f %.3f", median(walls[c]), median(cpus[c]));
    for (char* const* word = commands[c].data(); *word != nullptr; ++word)
      std::printf(" %s", *word);
    std::printf("\n");
  }
  return 0;
}
