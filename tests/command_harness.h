// Running the command in-process on memory files, for the command's tests.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"

namespace quorbel::testing {

struct outcome {
  std::string out;
  std::string err;
  int status = -1;
  long peak_kilobytes = -1;  // of the binary while it read, where measured
};

// A memory file holding `contents`, positioned at its start.
inline int memory_file(std::string_view contents = {}) {
  const int fd = memfd_create("quorbel-test", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  while (!contents.empty()) {
    const ssize_t n = write(fd, contents.data(), contents.size());
    if (n <= 0) break;
    contents.remove_prefix(static_cast<std::size_t>(n));
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

inline std::string contents_of(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char block[65536];
  for (ssize_t n; (n = read(fd, block, sizeof block)) > 0;) {
    text.append(block, static_cast<std::size_t>(n));
  }
  return text;
}

// Calls run() as it stands: the usual way run_in_process runs the command.
inline constexpr auto just_run = [](auto&& run) { return run(); };

// Runs the command in-process on memory files. `around` gets the call of the
// command alone, and must make it and return its status: tests change the
// conditions of that call there.
template <typename Around = decltype(just_run)>
outcome run_in_process(const std::vector<std::string>& args, std::string_view input,
                       command_tuning tuning = {}, Around around = just_run) {
  const int in = memory_file(input);
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
  close(in);
  close(out);
  close(err);
  return result;
}

}  // namespace quorbel::testing
