// -o: the output takes the place of a file, the command's own input among
// them, only once all of it is written; on any failure the file stays as
// it was and nothing is left beside it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "tests/command_harness.h"
#include "tests/scratch_directory.h"

namespace quorbel {
namespace {

using namespace quorbel::testing;

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes, mode_t mode) {
  std::ofstream(path, std::ios::binary) << bytes;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

mode_t mode_of(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Runs the command in-process with standard input read from `input` (a
// file, or a directory to fail reading).
template <typename Around = decltype(just_run)>
outcome run_on(const std::vector<std::string>& args, const std::string& input,
               command_tuning tuning = {}, Around around = just_run) {
  const int in = open(input.c_str(), O_RDONLY);
  outcome result = run_in_process_on(args, in, std::move(tuning), around);
  close(in);
  return result;
}

// Lines in reverse version order, and the same sorted.
struct lines {
  std::string unsorted;
  std::string sorted;
};
lines package_lines(int count) {
  lines made;
  for (int i = count; i > 0; --i)
    made.unsorted += "pkg" + std::to_string(i) + " 1." + std::to_string(i) + ".0\n";
  for (int i = 1; i <= count; ++i)
    made.sorted += "pkg" + std::to_string(i) + " 1." + std::to_string(i) + ".0\n";
  return made;
}

TEST(output_file, replaces_its_own_input) {
  const lines input = package_lines(5000);
  // Read, mapped with its texts copied, and mapped with its texts left in
  // the old file's pages until they are written.
  const command_tuning ways[] = {{},
                                 {.block_bytes = 4096, .map_from = 0},
                                 {.block_bytes = 4096, .map_from = 0, .texts_stay_from = 0},
                                 {.block_bytes = 40, .second_thread = false}};
  for (const command_tuning& tuning : ways) {
    SCOPED_TRACE("map from " + std::to_string(tuning.map_from));
    scratch_directory directory;
    const std::string file = directory.at("packages.txt");
    write_file(file, input.unsorted, 0640);
    const outcome got = run_on({"-k", "2", "-o", file}, file, tuning);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "");
    EXPECT_TRUE(read_file(file) == input.sorted) << "the file does not hold the sorted lines";
    EXPECT_EQ(mode_of(file), 0640u) << "permission bits";
    EXPECT_EQ(directory.names(), std::vector<std::string>{"packages.txt"});
  }
}

TEST(output_file, follows_links_and_makes_new_files) {
  scratch_directory directory;
  const std::string file = directory.at("tags.txt");
  write_file(file, "2.0.0\n1.0.0\n", 0600);
  ASSERT_EQ(symlink("tags.txt", directory.at("link").c_str()), 0);
  ASSERT_EQ(symlink("made.txt", directory.at("dangling").c_str()), 0);
  const mode_t umask_before = umask(027);
  EXPECT_EQ(run_on({"-o", directory.at("link")}, file).status, 0);
  EXPECT_EQ(run_on({"-r", "-o", directory.at("dangling")}, file).status, 0);
  EXPECT_EQ(run_on({"-o", directory.at("new.txt")}, file).status, 0);
  umask(umask_before);
  // The links stay links; the files they name hold the output.
  struct stat status {};
  ASSERT_EQ(lstat(directory.at("link").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(lstat(directory.at("dangling").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(read_file(file), "1.0.0\n2.0.0\n");
  EXPECT_EQ(mode_of(file), 0600u);
  EXPECT_EQ(read_file(directory.at("made.txt")), "2.0.0\n1.0.0\n");
  EXPECT_EQ(read_file(directory.at("new.txt")), "1.0.0\n2.0.0\n");
  EXPECT_EQ(mode_of(directory.at("new.txt")), 0640u) << "a new file's bits, less the umask";
  EXPECT_EQ(directory.names(),
            (std::vector<std::string>{"dangling", "link", "made.txt", "new.txt", "tags.txt"}));
}

// Runs the command under a limit on the size of the files it writes, with
// the signal of going beyond it ignored, so that a write fails instead.
int with_small_files(const std::function<int()>& run) {
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 4096;
  setrlimit(RLIMIT_FSIZE, &small);
  const int status = run();
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, handler);
  return status;
}

TEST(output_file, a_failure_leaves_the_old_file_and_nothing_beside_it) {
  const lines input = package_lines(3000);
  scratch_directory directory;
  const std::string file = directory.at("f");
  const std::string input_file = directory.at("input");
  const std::string gone = directory.at("not-there");
  write_file(file, "old\n", 0644);
  write_file(input_file, input.unsorted, 0644);
  struct failure {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    std::string err;
    bool small_files;
  };
  const failure failures[] = {
      {"temporary files cannot be made",
       {"-k", "2", "-S", "1K", "-T", gone, "-o", file},
       input_file,
       "Temporary file error: " + gone + ": No such file or directory\n",
       false},
      {"the output cannot be written whole",
       {"-k", "2", "-o", file},
       input_file,
       "Write error: " + file + ": File too large\n",
       true},
      {"the input cannot be read",
       {"-o", file},
       directory.at(""),
       "Read error: Is a directory\n",
       false},
      {"a directory to write to",
       {"-o", gone + "/f"},
       input_file,
       "Write error: " + gone + "/f: No such file or directory\n",
       false},
  };
  for (const failure& f : failures) {
    SCOPED_TRACE(f.name);
    const outcome got =
        f.small_files ? run_on(f.args, f.input, {}, with_small_files) : run_on(f.args, f.input);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, f.err);
    EXPECT_EQ(read_file(file), "old\n");
    EXPECT_EQ(directory.names(), (std::vector<std::string>{"f", "input"}));
  }
  // A directory is no file to replace.
  const outcome got = run_on({"-o", directory.at("")}, input_file);
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.err, "Write error: " + directory.at("") + ": Is a directory\n");
}

}  // namespace
}  // namespace quorbel
