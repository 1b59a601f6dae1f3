// Input and surroundings meant to break the command: binary noise, huge
// lines, millions of lines, absurd fields, stray bytes inside versions, a
// closed output and a directory as input. The command must stay up, keep
// its memory small, drop nothing it should keep and say what went wrong.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "tests/command_harness.h"
#include "tests/scratch_directory.h"
#include "version/internal.h"

namespace quorbel {
namespace {

using namespace std::literals;
using namespace quorbel::testing;

constexpr std::size_t MILLION = SANITIZED ? 200000 : 1000000;

// Bytes that are mostly the stuff of versions and lines, with zero bytes,
// separators and anything else mixed in.
std::string noise(std::mt19937* random, std::size_t size) {
  static constexpr std::string_view COMMON = "0123456789.....---++abz\n\n\n ,";
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> any_byte(0, 255);
  std::uniform_int_distribution<std::size_t> common(0, COMMON.size() - 1);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    const int p = percent(*random);
    if (p < 80) {
      c = COMMON[common(*random)];
    } else if (p < 83) {
      c = '\0';
    } else {
      c = static_cast<char>(any_byte(*random));
    }
  }
  return bytes;
}

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    lines.push_back(text.substr(0, newline));
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  return lines;
}

TEST(hostile, random_bytes_give_only_sorted_versions) {
  std::mt19937 random(5150);
  // Two read blocks and more, so lines straddle the block boundaries.
  const std::size_t size = SANITIZED ? 1500000 : 3000000;
  const std::vector<std::vector<std::string>> option_sets = {{"-v"},
                                                             {"-v", "-r"},
                                                             {"-v", "-q", "-t", ",", "-k", "2"},
                                                             {"-v", "-t", ""},
                                                             {"-v", "-t", ".", "-k", "3"}};
  for (const auto& args : option_sets) {
    SCOPED_TRACE(args.size() > 1 ? args[1] : args[0]);
    const std::string input = noise(&random, size);
    const outcome got = run_in_process(args, input);
    ASSERT_EQ(got.status, 0);
    ASSERT_TRUE(got.out.empty() || got.out.back() == '\n');
    const bool reverse = args.size() > 1 && args[1] == "-r";
    version_record previous;
    bool first = true;
    std::size_t count = 0;
    for (std::string_view line : lines_of(got.out)) {
      version_record current;
      ASSERT_EQ(version_parse(line, &current), 0) << line;
      ASSERT_EQ(line.find('\0'), std::string_view::npos);
      if (!first) {
        const int c = version_compare(previous, current);
        ASSERT_TRUE(reverse ? c >= 0 : c <= 0) << *previous.raw << " then " << line;
      }
      previous = std::move(current);
      first = false;
      ++count;
    }
    // Noise this dense in version bytes always holds some versions.
    EXPECT_GT(count, 0u);
  }
}

TEST(hostile, huge_line_is_reported_once_in_little_memory) {
  const std::size_t megabytes = 100;
  const std::string shown(4096, '7');
  const std::string message = "Input line too long: " + shown + "\n";
  const struct {
    std::string tail;
    std::string out;
  } cases[] = {
      {"", ""},                  // the line never ends
      {"\n1.0.0\n", "1.0.0\n"},  // the next line is still read
  };
  const std::string block(std::size_t{1} << 20, '7');
  for (const auto& c : cases) {
    // Through a pipe, and from a file, which is mapped rather than read
    // when its last line ends.
    const int file = memory_file();
    for (std::size_t i = 0; i < megabytes; ++i) ASSERT_TRUE(append(file, block));
    ASSERT_TRUE(append(file, c.tail));
    ASSERT_EQ(lseek(file, 0, SEEK_SET), 0);
    for (const int in_fd : {-1, file}) {
      SCOPED_TRACE(c.out + (in_fd < 0 ? "from a pipe" : "from a file"));
      const outcome got =
          run_binary({}, {.input = c.tail, .block = block, .repeat = megabytes, .in_fd = in_fd});
      EXPECT_EQ(got.status, 0);
      EXPECT_EQ(got.out, c.out);
      EXPECT_TRUE(got.err == message) << got.err.size() << " bytes of messages";
      EXPECT_GT(got.peak_kilobytes, 0);
      EXPECT_LT(got.peak_kilobytes, 64 * 1024) << "peak resident memory, in kilobytes";
    }
    close(file);
  }
}

TEST(hostile, a_million_empty_lines_give_nothing) {
  const outcome got = run_in_process({}, std::string(MILLION, '\n'));
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "");
}

TEST(hostile, a_million_equal_versions_keep_their_input_order) {
  // Equal precedence, told apart by their builds: stable in both directions.
  std::string input;
  input.reserve(MILLION * 16);
  for (std::size_t i = 0; i < MILLION; ++i) input += "1.2.3+" + std::to_string(i) + "\n";
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"-r"}}) {
    SCOPED_TRACE(args.empty() ? "ascending" : "descending");
    const outcome got = run_in_process(args, input);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_EQ(got.out.size(), input.size());
    EXPECT_TRUE(got.out == input) << "order or content changed";
  }
}

TEST(hostile, separators_and_absurd_fields) {
  const std::string many_commas(3000, ',');
  const struct {
    std::vector<std::string> args;
    std::string in;
    std::string out;
    std::string err;
  } cases[] = {
      // A line of separators has empty fields, and an empty text is the version 0.
      {{}, "   \n", "   \n", ""},
      {{"-t", ","}, many_commas + "\n", many_commas + "\n", ""},
      {{"-t", ",", "-k", "3001"}, many_commas + "\n", many_commas + "\n", ""},
      {{"-t", ",", "-k", "3002"},
       many_commas + "\n",
       "",
       "Field 3002 not found in " + many_commas + "\n"},
      {{"-t", "."}, "....\n", "....\n", ""},
      {{"-t", "-", "-k", "2"}, "-\n--\n", "-\n--\n", ""},
      {{"-k", "2147483647"},
       "1.2.3\n1 2 3 4\n",
       "",
       "Field 2147483647 not found in 1.2.3\nField 2147483647 not found in 1 2 3 4\n"},
      {{"-k", "2147483647", "-t", ","},
       many_commas + "\n",
       "",
       "Field 2147483647 not found in " + many_commas + "\n"},
      // Values past 32 bits keep their low bits; below 1 is the first field.
      {{"-k", "2147483648"}, "1.0.0 x\n", "1.0.0 x\n", ""},
      {{"-k", "4294967298"}, "x 1.0.0\n", "x 1.0.0\n", ""},
      {{"-k", "99999999999999999999999"}, "1.0.0 x\n", "1.0.0 x\n", ""},
      {{"-k", "-2147483649"}, "x 1.0.0\n", "", "Field 2147483647 not found in x 1.0.0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.substr(0, 20));
    const outcome got = run_in_process(c.args, c.in);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, c.out);
    EXPECT_EQ(got.err, c.err);
  }
}

TEST(hostile, stray_bytes_anywhere_in_a_version_line) {
  const std::string line = "1.20.3-rc.1+b.7";
  for (const char stray : {'\0', '\x80', '\xc3', '\xff', '\x7f'}) {
    for (std::size_t at = 0; at <= line.size(); ++at) {
      for (const bool replace : {false, true}) {
        if (replace && at == line.size()) continue;
        std::string text = line;
        if (replace) {
          text[at] = stray;
        } else {
          text.insert(at, 1, stray);
        }
        SCOPED_TRACE(std::to_string(static_cast<unsigned char>(stray)) + " at " +
                     std::to_string(at) + (replace ? " replacing" : " inserted"));
        const outcome got = run_in_process({}, text + "\n");
        EXPECT_EQ(got.status, 0);
        if (stray == '\0') {
          // The line ends at the zero byte: what is left of it is judged alone.
          const std::string kept = text.substr(0, at);
          version_record version;
          if (kept.empty()) {
            EXPECT_EQ(got.out, "");
            EXPECT_EQ(got.err, "");
          } else if (version_parse(kept, &version) == 0) {
            EXPECT_EQ(got.out, kept + "\n");
            EXPECT_EQ(got.err, "");
          } else {
            EXPECT_EQ(got.out, "");
            EXPECT_EQ(got.err, "Invalid semver: " + kept + "\n");
          }
        } else {
          EXPECT_EQ(got.out, "");
          EXPECT_EQ(got.err, "Invalid semver: " + text + "\n");
        }
      }
    }
  }
}

// A closed standard input or output is an error at once, before any input
// is read; with standard error closed the sort goes on, and nothing it opens
// (a temporary file above all) takes the place of a closed stream.
TEST(hostile, closed_standard_streams_are_errors_at_once) {
  std::string many;
  for (int i = 3000; i > 0; --i) many += "1.0." + std::to_string(i) + (i % 7 == 0 ? "x\n" : "\n");
  std::string sorted;
  for (int i = 1; i <= 3000; ++i) {
    if (i % 7 != 0) sorted += "1.0." + std::to_string(i) + "\n";
  }
  const struct {
    std::vector<std::string> args;
    std::string in;
    std::vector<int> closed;
    std::string out;
    std::string err;
    int status;
  } cases[] = {
      {{}, "1.0.0\n", {1}, "", "Write error: Bad file descriptor\n", 1},
      {{}, "junk\n2.0.0\n1.0.0\n", {1}, "", "Write error: Bad file descriptor\n", 1},
      {{"-h"}, "", {1}, "", "Write error: Bad file descriptor\n", 1},
      {{}, "1.0.0\n", {0}, "", "Read error: Bad file descriptor\n", 1},
      {{"-q", "-r"}, "", {0, 1}, "", "Read error: Bad file descriptor\n", 1},
      {{"-S", "1K"}, many, {2}, sorted, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.substr(0, 20) + " closed: " + std::to_string(c.closed.front()));
    const outcome got = run_binary(c.args, {.input = c.in, .closed = c.closed});
    EXPECT_EQ(got.status, c.status);
    EXPECT_TRUE(got.out == c.out) << "output differs";
    EXPECT_EQ(got.err, c.err);
  }
}

TEST(hostile, directory_as_standard_input_is_a_read_error) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"-q", "-r"}}) {
    const int directory = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(directory, 0);
    const outcome got = run_binary(args, {.in_fd = directory});
    close(directory);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "Read error: Is a directory\n");
  }
}

TEST(hostile, versions_crafted_to_tie_on_every_key_still_sort_in_time) {
  // Pre-releases that share their first 200 bytes tie on the part of the
  // code a sort key holds, so every one of them is put in order by its whole
  // code. That must stay a sort, never a comparison of each with each: a
  // quadratic path takes minutes on this, the right one well under a second.
  std::mt19937 random(2718);
  const std::string shared = "1.0.0-" + std::string(100, 'a') + "." + std::string(99, '0') + "1.";
  const std::size_t lines = SANITIZED ? 50000 : 200000;
  std::string input;
  std::vector<std::string> versions;
  for (std::size_t i = 0; i < lines; ++i) {
    std::string tail;
    for (int k = 0; k < 8; ++k) tail += static_cast<char>('a' + random() % 26);
    versions.push_back(shared + tail);
    input += versions.back() + "\n";
  }
  std::sort(versions.begin(), versions.end());  // bytewise is precedence here
  std::string expected;
  for (const std::string& v : versions) expected += v + "\n";
  const auto start = std::chrono::steady_clock::now();
  const outcome got = run_in_process({}, input);
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(got.status, 0);
  EXPECT_TRUE(got.out == expected) << "order or content differs";
  EXPECT_LT(seconds, 60.0) << "a generous bound: only a quadratic path comes near it";
}

// Lines that go to temporary files under a budget of a few kilobytes.
std::string spilling_lines(int count) {
  std::string input;
  for (int i = count; i > 0; --i)
    input += "pkg" + std::to_string(i) + " 1." + std::to_string(i) + ".0\n";
  return input;
}

TEST(hostile, temporary_files_that_cannot_be_made_or_written_are_an_error_and_no_output) {
  const std::string input = spilling_lines(30000);  // about 500 kB
  struct place {
    const char* name;
    unsigned long flags;  // of the small file system mounted there, if any
    bool mounted;
    std::string reason;
  };
  const place places[] = {
      {"a full disk", 0, true, "No space left on device"},
      {"a read-only file system", MS_RDONLY, true, "Read-only file system"},
      {"a directory that is not there", 0, false, "No such file or directory"},
  };
  for (const place& p : places) {
    SCOPED_TRACE(p.name);
    scratch_directory directory;
    ASSERT_FALSE(directory.path().empty());
    std::string where = directory.path();
    if (p.mounted && mount("tmpfs", where.c_str(), "tmpfs", p.flags, "size=64k,mode=0777") != 0) {
      std::printf("skipped %s: mounting a file system needs root\n", p.name);
      continue;
    }
    if (!p.mounted) where += "/not-there";
    const outcome got = run_binary({"-k", "2", "-S", "4K", "-T", where}, {.input = input});
    if (p.mounted) umount(where.c_str());
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    // The message names the directory.
    EXPECT_EQ(got.err, "Temporary file error: " + where + ": " + p.reason + "\n");
  }
}

TEST(hostile, temporary_files_take_little_more_disk_than_the_lines) {
  // Under a budget this small the files are merged again and again; a merge
  // gives back what it has read as it goes, so the disk holds the lines once
  // and a half at the most, never twice.
  const std::string input = spilling_lines(100000);  // about 1.7 MB
  const std::size_t room = input.size() * 3 / 2;
  scratch_directory directory;
  ASSERT_FALSE(directory.path().empty());
  const std::string size = "size=" + std::to_string(room / 4096 * 4096);
  if (mount("tmpfs", directory.path().c_str(), "tmpfs", 0, size.c_str()) != 0) {
    GTEST_SKIP() << "mounting a file system needs root";
  }
  const outcome got =
      run_binary({"-k", "2", "-S", "64K", "-T", directory.path()}, {.input = input});
  umount(directory.path().c_str());
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(got.out.size(), input.size());
}

TEST(hostile, no_temporary_file_is_left_behind_not_even_after_kill) {
  const std::string input = spilling_lines(30000);
  scratch_directory directory;
  ASSERT_FALSE(directory.path().empty());
  const std::vector<std::string> args = {"-k", "2", "-q", "-S", "4K", "-T", directory.path()};
  const outcome done = run_binary(args, {.input = input});
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.out.size(), input.size());
  EXPECT_TRUE(directory.names().empty());

  // Killed while it holds temporary files: they must go with it.
  bool held_files = false;
  const outcome killed =
      run_binary(args, {.conduct = [&](pid_t pid, int in, int) {
                   const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
                   for (int round = 0; round < 2000 && !held_files; ++round) {
                     if (write(in, input.data(), 4096) != 4096) break;
                     for (const std::string& fd : names_in(fds)) {
                       char target[4096] = {};
                       const std::string link = fds + "/" + fd;
                       if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                           std::string(target).find(directory.path()) == 0) {
                         held_files = true;
                       }
                     }
                   }
                   kill(pid, SIGKILL);
                 }});
  EXPECT_TRUE(held_files) << "it never held a temporary file";
  EXPECT_EQ(killed.status, 128 + SIGKILL);
  EXPECT_TRUE(directory.names().empty());
}

TEST(hostile, a_failure_ends_the_command_while_the_input_stays_open) {
  // The first block fails (its temporary file cannot be made) while the
  // other thread waits for more input: the command must end with its error
  // all the same, not when the input ends.
  std::string block(4093 * 2, 'x');
  for (std::size_t i = 1; i < block.size(); i += 2) block[i] = '\n';
  block += "1.0.0\n";
  bool ended_on_its_own = false;
  const outcome got = run_binary(
      {"-q", "-S", "0", "-T", "/nonexistent/quorbel"}, {.conduct = [&](pid_t pid, int in, int) {
        ASSERT_EQ(write(in, block.data(), block.size()), static_cast<ssize_t>(block.size()));
        for (int tries = 0; tries < 2000 && !ended_on_its_own; ++tries) {
          siginfo_t info{};
          ended_on_its_own =
              waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
              info.si_pid == pid;
          if (!ended_on_its_own) usleep(10000);
        }
      }});
  EXPECT_TRUE(ended_on_its_own) << "it waited for the input to end";
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "Temporary file error: /nonexistent/quorbel: No such file or directory\n");
}

TEST(hostile, the_budget_holds_for_the_shortest_lines) {
  // Keys outweigh lines of one byte twentyfold: blocks of them are cut
  // shorter, so the runs being read stay small beside the budget.
  const std::size_t lines = SANITIZED ? 500000 : 4000000;
  std::string ones;
  for (int i = 0; i < (1 << 15); ++i) ones += "1\n";
  long peak = -1;
  const outcome got =
      run_binary({"-q", "-S", "8M"}, {.conduct = [&](pid_t pid, int in, int) {
                   for (std::size_t sent = 0; sent < lines; sent += 1 << 15) {
                     if (write(in, ones.data(), ones.size()) != static_cast<ssize_t>(ones.size())) {
                       return;
                     }
                   }
                   peak = peak_resident_kilobytes(pid);
                 }});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out.size(), 2 * ((lines + (1 << 15) - 1) >> 15 << 15));
  if (!SANITIZED) {
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, (8 + 16) * 1024) << "peak resident memory, in kilobytes";
  }
}

}  // namespace
}  // namespace quorbel
