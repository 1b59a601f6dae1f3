// Input and surroundings meant to break the command: binary noise, huge
// lines, millions of lines, absurd fields, stray bytes inside versions, a
// closed output and a directory as input. The command must stay up, keep
// its memory small, drop nothing it should keep and say what went wrong.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "tests/command_harness.h"
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    const outcome got = run_binary(
        {}, {.input = c.tail, .block = std::string(std::size_t{1} << 20, '7'), .repeat = megabytes});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, c.out);
    EXPECT_TRUE(got.err == message) << got.err.size() << " bytes of messages";
    EXPECT_GT(got.peak_kilobytes, 0);
    EXPECT_LT(got.peak_kilobytes, 64 * 1024) << "peak resident memory, in kilobytes";
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

TEST(hostile, closed_standard_output_is_a_write_error) {
  const struct {
    std::vector<std::string> args;
    std::string in;
    std::string err;
  } cases[] = {
      {{}, "1.0.0\n", "Write error: Bad file descriptor\n"},
      {{}, "junk\n2.0.0\n1.0.0\n", "Invalid semver: junk\nWrite error: Bad file descriptor\n"},
      {{"-h"}, "", "Write error: Bad file descriptor\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    const outcome got =
        run_binary(c.args, {.input = c.in, .out = binary_setup::output::closed});
    EXPECT_EQ(got.status, 1);
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

}  // namespace
}  // namespace quorbel
