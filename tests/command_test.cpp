// The command as a user sees it: rows of {arguments, standard input,
// standard output, standard error, status}, checked byte for byte. Most rows
// run in-process; the last ones run the built binary to prove the wiring.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "tests/command_harness.h"

extern char** environ;

namespace quorbel {
namespace {

using namespace std::literals;
using namespace quorbel::testing;

std::vector<const char*> argv_of(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"quorbel"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return argv;
}

struct row {
  std::vector<std::string> args;
  std::string in;
  std::string out;
  std::string err;
  int status;
};

void check(const row& r, const outcome& got) {
  EXPECT_EQ(got.out, r.out);
  EXPECT_EQ(got.err, r.err);
  EXPECT_EQ(got.status, r.status);
}

std::string trace_of(const row& r) {
  std::string trace = "args:";
  for (const std::string& a : r.args) trace += " [" + a + "]";
  return trace + " input: " + r.in.substr(0, 60);
}

const std::string USAGE =
    "Usage: <versions> | quorbel [options]\n"
    "Sort all semver-valid versions at input and write them at output.\n"
    "Available options:\n"
    "\t-h         show this help\n"
    "\t-k <num>   extract and use field <num> instead of all line (starts at 1)\n"
    "\t-r         sort descending\n"
    "\t-t <char>  use <char> as field separator (defaults to space)\n"
    "\t-q         do not print any messages\n"
    "\t-v         print only versions, not entire lines\n";

const std::string LONG_4095 = "1.2.3 " + std::string(4089, 'x');
const std::string LONG_4096 = "9.9.9 " + std::string(4090, 'y');

const std::vector<row>& rows() {
  static const std::vector<row> table = {
      // Order.
      {{}, "", "", "", 0},
      {{}, "1.10.0\n1.2.0\n1.2.0-rc.1\n1.9.0\n", "1.2.0-rc.1\n1.2.0\n1.9.0\n1.10.0\n", "", 0},
      {{"-r"}, "1.10.0\n1.2.0\n1.2.0-rc.1\n1.9.0\n", "1.10.0\n1.9.0\n1.2.0\n1.2.0-rc.1\n", "", 0},
      {{}, "1.0.0.5\n1.0.0\n", "1.0.0\n1.0.0.5\n", "", 0},
      {{},
       "1.0.0\n1.0.0-rc.1\n1.0.0-beta.11\n1.0.0-beta.2\n1.0.0-alpha\n",
       "1.0.0-alpha\n1.0.0-beta.2\n1.0.0-beta.11\n1.0.0-rc.1\n1.0.0\n",
       "",
       0},
      {{},
       "1.0.0-nightly.20240101000000\n1.0.0-nightly.20231231235959\n1.0.0-4294967296\n1.0.0-1\n",
       "1.0.0-1\n1.0.0-4294967296\n1.0.0-nightly.20231231235959\n1.0.0-nightly.20240101000000\n",
       "",
       0},
      {{}, "1.0.0-2147483648\n1.0.0-2147483647\n", "1.0.0-2147483647\n1.0.0-2147483648\n", "", 0},
      // Every byte of a pre-release may be a '.': 249 empty identifiers,
      // which count as 0, rank below a word.
      {{},
       "1.0.0-rc.1\n1.0.0-alpha\n1.0.0\n1.0.0-" + std::string(248, '.') + "\n",
       "1.0.0-" + std::string(248, '.') + "\n1.0.0-alpha\n1.0.0-rc.1\n1.0.0\n",
       "",
       0},
      {{}, "4294967297.0.0\n2.0.0\n", "4294967297.0.0\n2.0.0\n", "", 0},
      // Equal versions keep their input order, in both directions.
      {{},
       "1.2.3+b\n1.2.3+a\n1.2.3.0\n1.0.0\n1.2.3\n",
       "1.0.0\n1.2.3+b\n1.2.3+a\n1.2.3.0\n1.2.3\n",
       "",
       0},
      {{"-r"},
       "1.2.3+b\n1.2.3+a\n1.2.3.0\n1.0.0\n1.2.3\n",
       "1.2.3+b\n1.2.3+a\n1.2.3.0\n1.2.3\n1.0.0\n",
       "",
       0},
      {{"-r"}, "1.0.0-01\nx 1\n1.0.0-1\n", "1.0.0-01\n1.0.0-1\n", "Invalid semver: x 1\n", 0},
      // Fields.
      {{}, "app 2.0.0 x\n", "", "Invalid semver: app 2.0.0 x\n", 0},
      {{"-k", "2"}, "app 2.0.0 x\n", "app 2.0.0 x\n", "", 0},
      {{"-k", "2", "-v"}, "app 2.0.0 x\nlib 1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      {{"-k", "4"}, "a b c\n", "", "Field 4 not found in a b c\n", 0},
      {{"-t", ",", "-k", "2"}, "x,1.0.0,y\nx,,1.0.0\n", "x,,1.0.0\nx,1.0.0,y\n", "", 0},
      {{}, " 1.2.3\n0.0.1\n", " 1.2.3\n0.0.1\n", "", 0},
      {{"-v"}, " 1.2.3\n0.0.1\n", "\n0.0.1\n", "", 0},
      {{"-k", "2"}, "a  1.0.0\n", "a  1.0.0\n", "", 0},  // field 2 is empty: version 0
      {{"-k", "0"}, "1.0.0 x\n", "1.0.0 x\n", "", 0},
      {{"-k", "-3"}, "1.0.0 x\n", "1.0.0 x\n", "", 0},
      {{"-k", "x"}, "1.0.0 x\n", "1.0.0 x\n", "", 0},
      {{"-k", "2abc"}, "a\n", "", "Field 2 not found in a\n", 0},
      {{"-k", " +2"}, "a 1.0.0\n", "a 1.0.0\n", "", 0},
      {{"-k", "4294967298"}, "a 1.0.0\n", "a 1.0.0\n", "", 0},
      {{"-k", "2147483647"}, "a b\n", "", "Field 2147483647 not found in a b\n", 0},
      {{"-k", "3", "-k", "2"}, "a 1.0.0\n", "a 1.0.0\n", "", 0},
      {{"-t", ""}, "1.2.3\na b\n", "1.2.3\n", "Invalid semver: a b\n", 0},
      {{"-t", "", "-k", "2"}, "1.2.3\n", "", "Field 2 not found in 1.2.3\n", 0},
      {{"-t", ":x", "-k", "2"}, "a:1.0.0\n", "a:1.0.0\n", "", 0},
      {{"-t", "-", "-k", "2", "-v"}, "pkg-1.2.3\n", "1.2.3\n", "", 0},
      {{"-t", "v", "-k", "2"},
       "v1.2.3\nv1.10.0\nv1.2.3-rc.1\n",
       "v1.2.3-rc.1\nv1.2.3\nv1.10.0\n",
       "",
       0},
      {{"-t"}, "2.0.0\n1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      // Usage.
      {{"-h"}, "1.0.0\n", USAGE, "", 255},
      {{"-k"}, "1.0.0\n", USAGE, "", 255},
      {{"-q", "--help"}, "", USAGE, "", 255},
      {{"-x"}, "", USAGE, "", 255},
      {{"-qr"}, "", USAGE, "", 255},
      {{"-k", "-h"}, "1.0.0 a\n", "1.0.0 a\n", "", 0},  // -h is the value of -k here
      // Lines.
      {{}, "\n\n1.0.0\n\n", "1.0.0\n", "", 0},
      {{}, "2.0.0\n1.2.3", "1.2.3\n2.0.0\n", "", 0},
      {{}, "1.2.3\r\n", "", "Invalid semver: 1.2.3\r\n", 0},
      {{}, "1.2.3\0junk\n"s, "1.2.3\n", "", 0},
      {{}, "\0 1.0.0\n"s, "", "", 0},
      {{"-k", "2"}, "a\0 1.0.0\n"s, "", "Field 2 not found in a\n", 0},
      {{}, "v1.2.3\nx\n1.2.3\n", "1.2.3\n", "Invalid semver: v1.2.3\nInvalid semver: x\n", 0},
      {{"-q"}, "v1.2.3\n1.2.3\n" + LONG_4096 + "\n", "1.2.3\n", "", 0},
      {{"-q", "-k", "3"}, "a b\n1.0.0 1 2.0.0\n", "1.0.0 1 2.0.0\n", "", 0},
      {{}, LONG_4095 + "\n1.0.0\n", "1.0.0\n" + LONG_4095 + "\n", "", 0},
      {{}, LONG_4095, LONG_4095 + "\n", "", 0},
      // An over-long line is dropped whole: its tail is never a line of its own.
      {{}, LONG_4096 + "\n1.0.0\n", "1.0.0\n", "Input line too long: " + LONG_4096 + "\n", 0},
      {{}, LONG_4096, "", "Input line too long: " + LONG_4096 + "\n", 0},
      {{}, LONG_4096 + " 2.0.0\n1.0.0\n", "1.0.0\n", "Input line too long: " + LONG_4096 + "\n", 0},
      {{},
       LONG_4096 + std::string(100000, 'z') + "\n3.0.0\n" + "2.0.0\n",
       "2.0.0\n3.0.0\n",
       "Input line too long: " + LONG_4096 + "\n",
       0},
      {{},
       "1.0.0\0"s + std::string(5000, 'z') + "\n0.1.0\n",
       "0.1.0\n",
       "Input line too long: 1.0.0\n",
       0},
  };
  return table;
}

// The ways of sharing the work with a second thread, down to sorting two
// lines by halves and writing one line a chunk; the inputs of these tests
// are too small to be shared at all with the command's own sizes.
const command_tuning SHARED[] = {{.sort_split_from = 0, .chunk_lines = 1},
                                 {.sort_split_from = 2, .chunk_lines = 3}};

TEST(command, rows_in_process) {
  for (const row& r : rows()) {
    SCOPED_TRACE(trace_of(r));
    check(r, run_in_process(r.args, r.in));
    for (const command_tuning& tuning : SHARED) {
      check(r, run_in_process(r.args, r.in, tuning));
    }
  }
}

TEST(command, reports_a_read_error_and_writes_nothing) {
  const int in = open("/", O_RDONLY | O_DIRECTORY);
  const int out = memory_file("");
  const int err = memory_file("");
  const char* argv[] = {"quorbel", "-q", nullptr};
  EXPECT_EQ(run_command(2, argv, {in, out, err}), 1);
  EXPECT_EQ(contents_of(out), "");
  EXPECT_EQ(contents_of(err), "Read error: Is a directory\n");
  close(in);
  close(out);
  close(err);
}

TEST(command, reports_a_write_error) {
  const char* argv[] = {"quorbel", "-q", nullptr};
  const char* help[] = {"quorbel", "-h", nullptr};
  for (const auto& args : {argv, help}) {
    const int in = memory_file("1.0.0\n");
    const int out = open("/dev/full", O_WRONLY);
    const int err = memory_file("");
    EXPECT_EQ(run_command(2, args, {in, out, err}), 1);
    EXPECT_EQ(contents_of(err), "Write error: No space left on device\n");
    close(in);
    close(out);
    close(err);
  }
}

TEST(command, many_lines_come_out_sorted_and_complete) {
  // Enough lines to cross the read and write block sizes many times.
  std::string input, expected;
  for (int major = 1999; major >= 0; --major) {
    for (int minor = 99; minor >= 0; --minor) {
      input += std::to_string(major) + "." + std::to_string(minor) + ".0 pkg\n";
    }
  }
  for (int major = 0; major < 2000; ++major) {
    for (int minor = 0; minor < 100; ++minor) {
      expected += std::to_string(major) + "." + std::to_string(minor) + ".0 pkg\n";
    }
  }
  const command_tuning alone{.sort_split_from = SIZE_MAX, .chunk_lines = SIZE_MAX};
  for (const command_tuning& tuning : {command_tuning{}, SHARED[0], SHARED[1], alone}) {
    SCOPED_TRACE("chunk_lines " + std::to_string(tuning.chunk_lines));
    const outcome got = run_in_process({}, input, tuning);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_TRUE(got.out == expected) << "output differs";
  }
}

// --- The built binary ------------------------------------------------------

struct spawn_options {
  int in = -1;   // -1: a memory file holding the input
  int out = -1;  // -1: a memory file; -2: the same file as standard error
  rlim_t memory_limit = 0;
};

outcome run_binary(const std::vector<std::string>& args, std::string_view input,
                   spawn_options options = {}) {
  const int in = options.in >= 0 ? options.in : memory_file(input);
  const int err = memory_file("");
  const int out = options.out == -2 ? err : options.out >= 0 ? options.out : memory_file("");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<std::string> full = args;
  std::vector<const char*> argv = argv_of(full);
  argv[0] = QUORBEL_BINARY;
  std::vector<std::string> prefix;
  if (options.memory_limit != 0) {
    // Run under a shell that lowers the address-space limit first.
    prefix = {"/bin/sh", "-c",
              "ulimit -v " + std::to_string(options.memory_limit / 1024) + " && exec \"$0\" \"$@\"",
              QUORBEL_BINARY};
    std::vector<const char*> wrapped;
    for (const std::string& p : prefix) wrapped.push_back(p.c_str());
    for (std::size_t i = 1; i < argv.size(); ++i) wrapped.push_back(argv[i]);
    argv = wrapped;
  }
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  outcome result{out == err ? "" : contents_of(out), contents_of(err),
                 WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1};
  if (options.in < 0) close(in);
  if (options.out < 0 && out != err) close(out);
  close(err);
  return result;
}

TEST(binary, rows) {
  const row binary_rows[] = {
      {{},
       "1.10.0\n1.2.0\nx\n1.2.0-rc.1\n",
       "1.2.0-rc.1\n1.2.0\n1.10.0\n",
       "Invalid semver: x\n",
       0},
      {{"-r", "-k", "2", "-v"}, "a 1.0.0\nb 2.0.0\n", "2.0.0\n1.0.0\n", "", 0},
      {{"-h"}, "", USAGE, "", 255},
      {{"-qr"}, "", USAGE, "", 255},
  };
  for (const row& r : binary_rows) {
    SCOPED_TRACE(trace_of(r));
    check(r, run_binary(r.args, r.in));
  }
}

TEST(binary, messages_come_before_the_output) {
  const outcome got = run_binary({}, "2.0.0\nx\n1.0.0\ny\n", {.out = -2});
  EXPECT_EQ(got.err, "Invalid semver: x\nInvalid semver: y\n1.0.0\n2.0.0\n");
  EXPECT_EQ(got.status, 0);
}

TEST(binary, standard_input_that_is_a_directory_is_a_read_error) {
  const int dir = open("/", O_RDONLY | O_DIRECTORY);
  const outcome got = run_binary({"-q"}, "", {.in = dir});
  close(dir);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "Read error: Is a directory\n");
  EXPECT_EQ(got.status, 1);
}

TEST(binary, standard_output_on_dev_full_is_a_write_error) {
  const int full = open("/dev/full", O_WRONLY);
  const outcome got = run_binary({"-q"}, "1.0.0\n", {.out = full});
  close(full);
  EXPECT_EQ(got.err, "Write error: No space left on device\n");
  EXPECT_EQ(got.status, 1);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUORBEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUORBEL_SANITIZED 1
#endif
#endif

TEST(binary, running_out_of_memory_is_reported_without_partial_output) {
#ifdef QUORBEL_SANITIZED
  GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit allows";
#else
  std::string line = "1.2.3-" + std::string(200, 'a') + "\n";
  std::string input;
  input.reserve(line.size() * 400000);
  for (int i = 0; i < 400000; ++i) input += line;  // about 80 MB, all accepted
  const outcome got = run_binary({}, input, {.memory_limit = rlim_t{48} << 20});
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "Out of memory\n");
  EXPECT_EQ(got.status, 1);
#endif
}

}  // namespace
}  // namespace quorbel
