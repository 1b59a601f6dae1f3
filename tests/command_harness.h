// Running the command for its tests: in-process on memory files, or as the
// built binary (QUORBEL_BINARY) with its standard streams set up as asked.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/command.h"
#include "tests/version_testing.h"

extern char** environ;

namespace quorbel::testing {

// A sanitizer build runs every test too: its big cases are smaller there,
// and a limit on address space does not leave its runtime enough.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool SANITIZED = true;
#else
inline constexpr bool SANITIZED = false;
#endif
#else
inline constexpr bool SANITIZED = false;
#endif

struct outcome {
  std::string out;
  std::string err;
  int status = -1;           // the exit status, or 128 + the signal that ended it
  long peak_kilobytes = -1;  // of the binary once all input was in, where measured
};

// Calls run() as it stands: the usual way run_in_process runs the command.
inline constexpr auto just_run = [](auto&& run) { return run(); };

// Runs the command in-process with standard input read from `in` (the
// caller's, left open) and memory files for the rest. `around` gets the call
// of the command alone, and must make it and return its status: tests change
// the conditions of that call there.
template <typename Around = decltype(just_run)>
outcome run_in_process_on(const std::vector<std::string>& args, int in, command_tuning tuning = {},
                          Around around = just_run) {
  const int out = memory_file();
  const int err = memory_file();
  std::vector<const char*> argv{"quorbel"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  outcome result;
  result.status = around([&] {
    return run_command(static_cast<int>(argv.size() - 1), argv.data(), {in, out, err}, tuning);
  });
  result.out = contents_of(out);
  result.err = contents_of(err);
  close(out);
  close(err);
  return result;
}

// The same with standard input a memory file holding `input`.
template <typename Around = decltype(just_run)>
outcome run_in_process(const std::vector<std::string>& args, std::string_view input,
                       command_tuning tuning = {}, Around around = just_run) {
  const int in = memory_file(input);
  outcome result = run_in_process_on(args, in, std::move(tuning), around);
  close(in);
  return result;
}

// How the binary runs. Its standard input is `in_fd` when given, else a
// pipe that gets `block` `repeat` times and then `input`; with `closed`,
// the standard descriptors it names are closed instead (0, 1 or 2).
struct binary_setup {
  std::string input = {};
  std::string block = {};
  std::size_t repeat = 0;
  int in_fd = -1;
  enum class output { memory_file, into_stderr, closed, given } out = output::memory_file;
  int out_fd = -1;              // with output::given
  rlim_t memory_limit = 0;      // on address space, when not 0
  rlim_t descriptor_limit = 0;  // on open descriptors, when not 0
  std::vector<int> closed = {};
  // When given, feeds the pipe instead of `input`, watching the running
  // binary: it gets the binary's pid, the pipe's end to write (which it may
  // leave open; it is closed after) and the memory file of standard error.
  std::function<void(pid_t, int, int)> conduct = {};
};

// The high-water mark of a running process's resident memory, or -1.
inline long peak_resident_kilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Runs the built binary and waits for it.
inline outcome run_binary(const std::vector<std::string>& args, const binary_setup& setup = {}) {
  outcome result;
  int pipe_ends[2] = {-1, -1};
  int in = setup.in_fd;
  if (in < 0) {
    EXPECT_EQ(pipe2(pipe_ends, O_CLOEXEC), 0);
    in = pipe_ends[0];
  }
  const int err = memory_file();
  int out = -1;
  switch (setup.out) {
    case binary_setup::output::memory_file: out = memory_file(); break;
    case binary_setup::output::into_stderr: out = err; break;
    case binary_setup::output::closed: break;
    case binary_setup::output::given: out = setup.out_fd; break;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  if (out >= 0) {
    posix_spawn_file_actions_adddup2(&actions, out, 1);
  } else {
    posix_spawn_file_actions_addclose(&actions, 1);
  }
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  for (const int fd : setup.closed) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> words;
  // A shell lowers the limits, then becomes the binary.
  std::string limits;
  if (setup.memory_limit != 0)
    limits += "ulimit -v " + std::to_string(setup.memory_limit / 1024) + " && ";
  if (setup.descriptor_limit != 0)
    limits += "ulimit -n " + std::to_string(setup.descriptor_limit) + " && ";
  if (!limits.empty()) words = {"/bin/sh", "-c", limits + "exec \"$0\" \"$@\""};
  words.push_back(QUORBEL_BINARY);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  // A binary that stops reading early must not kill this process with
  // SIGPIPE; the binary itself gets the default action back.
  std::signal(SIGPIPE, SIG_IGN);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipe_signal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  EXPECT_EQ(spawned, 0);
  if (pipe_ends[0] >= 0 && setup.conduct && spawned == 0) {
    close(pipe_ends[0]);
    setup.conduct(pid, pipe_ends[1], err);
    close(pipe_ends[1]);
  } else if (pipe_ends[0] >= 0) {
    close(pipe_ends[0]);
    const auto send = [&](std::string_view bytes) {
      while (!bytes.empty()) {
        const ssize_t n = write(pipe_ends[1], bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
      }
      return true;
    };
    bool sending = true;
    for (std::size_t i = 0; sending && i < setup.repeat; ++i) sending = send(setup.block);
    if (sending) send(setup.input);
    // All input is in, and the binary waits for its end: its peak so far is
    // the peak of reading. (The rusage of wait4 would not do: the child's
    // figure starts from this process's own, inherited at the spawn.)
    if (spawned == 0) result.peak_kilobytes = peak_resident_kilobytes(pid);
    close(pipe_ends[1]);
  }
  if (spawned == 0) {
    int status = 0;
    rusage usage{};
    EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
    // Without a pipe the peak is the binary's whole-run figure, which counts
    // this process's own at the spawn too: tests keep that small.
    if (pipe_ends[0] < 0) result.peak_kilobytes = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  if (setup.out == binary_setup::output::memory_file) {
    result.out = contents_of(out);
    close(out);
  }
  result.err = contents_of(err);
  close(err);
  return result;
}

}  // namespace quorbel::testing
