// The command as a user sees it: rows of {arguments, standard input,
// standard output, standard error, status}, checked byte for byte. Most rows
// run in-process; the last ones run the built binary to prove the wiring.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/known_fields.h"
#include "cli/mapped_input.h"
#include "tests/command_harness.h"

namespace quorbel {
namespace {

using namespace std::literals;
using namespace quorbel::testing;

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

// The nine lines of the first release, byte for byte, then one a later option.
const std::string USAGE =
    "Usage: <versions> | quorbel [options]\n"
    "Sort all semver-valid versions at input and write them at output.\n"
    "Available options:\n"
    "\t-h         show this help\n"
    "\t-k <num>   extract and use field <num> instead of all line (starts at 1)\n"
    "\t-r         sort descending\n"
    "\t-t <char>  use <char> as field separator (defaults to space)\n"
    "\t-q         do not print any messages\n"
    "\t-v         print only versions, not entire lines\n"
    "\t-l         also accept versions written with a leading v or V (v1.2.3)\n"
    "\t-m <range> print only versions that satisfy <range> (\">=1.2 <2 || ^3.1\")\n"
    "\t-p         let pre-releases satisfy <range> by their precedence alone\n"
    "\t-u         print only the first line of each group of equal versions\n"
    "\t-S <size>  hold at most <size> of lines in memory (512K, 64M, 2G), the rest on disk\n"
    "\t-T <dir>   put temporary files in <dir> (defaults to $TMPDIR, then /tmp)\n"
    "\t--version  print the version and exit\n"
    "\t-z         end lines with a zero byte, not a newline\n"
    "\t-g <num>   group by field <num>: groups in byte order, versions sorted within each\n"
    "\t-n <count> print at most <count> lines of each group (of all lines without -g)\n"
    "\t-c         check that the input is in order already, and print nothing\n"
    "\t-o <file>  write the output to <file> once it is complete; <file> may be the input\n";

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
      // Input in the other order, ties among it; the same field again.
      {{},
       "2.0.0\n1.2.3+b\n1.2.3.0\n1.2.3+a\n1.0.0\n",
       "1.0.0\n1.2.3+b\n1.2.3.0\n1.2.3+a\n2.0.0\n",
       "",
       0},
      {{"-r"}, "1.0.0\n1.2.3+b\n1.2.3\n2.0.0\n", "2.0.0\n1.2.3+b\n1.2.3\n1.0.0\n", "", 0},
      {{"-k", "2"},
       "a 1.0.0\nb 1.0.0\nc 0.1.0\nd 1.0.0\ne 1.0.0-rc.1\n",
       "c 0.1.0\ne 1.0.0-rc.1\na 1.0.0\nb 1.0.0\nd 1.0.0\n",
       "",
       0},
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
      // Usage, and the first argument that made it due.
      {{"-h"}, "1.0.0\n", USAGE, "", 255},
      {{"-k"}, "1.0.0\n", USAGE, "Missing value: -k\n", 255},
      {{"-q", "--help"}, "", USAGE, "", 255},
      {{"-x"}, "", USAGE, "Unknown argument: -x\n", 255},
      {{"-qr"}, "", USAGE, "Unknown argument: -qr\n", 255},
      {{"tags.txt"}, "1.0.0\n", USAGE, "Unknown argument: tags.txt\n", 255},
      {{"-kr", "2"}, "", USAGE, "Unknown argument: -kr\n", 255},
      {{"-h", "-x", "-y"}, "", USAGE, "Unknown argument: -x\n", 255},
      {{"-x", "-k"}, "", USAGE, "Unknown argument: -x\n", 255},
      {{"-k", "-h"}, "1.0.0 a\n", "1.0.0 a\n", "", 0},  // -h is the value of -k here
      {{"-S"}, "1.0.0\n", USAGE, "Missing value: -S\n", 255},
      {{"-T"}, "1.0.0\n", USAGE, "Missing value: -T\n", 255},
      {{"-q", "-o"}, "1.0.0\n", USAGE, "Missing value: -o\n", 255},
      {{"-g"}, "1.0.0\n", USAGE, "Missing value: -g\n", 255},
      {{"-n"}, "1.0.0\n", USAGE, "Missing value: -n\n", 255},
      {{"--version"}, "1.0.0\n", "quorbel " QUORBEL_VERSION "\n", "", 0},
      {{"-r", "--version", "-q"}, "", "quorbel " QUORBEL_VERSION "\n", "", 0},
      // Sizes: digits and a unit (K when none, as in sort), a whole argument.
      {{"-S", "abc"}, "1.0.0\n", "", "Invalid size: abc\n", 255},
      {{"-S", ""}, "1.0.0\n", "", "Invalid size: \n", 255},
      {{"-S", "12X"}, "1.0.0\n", "", "Invalid size: 12X\n", 255},
      {{"-S", "1KB"}, "1.0.0\n", "", "Invalid size: 1KB\n", 255},
      {{"-S", "-1"}, "1.0.0\n", "", "Invalid size: -1\n", 255},
      {{"-S", " 1K"}, "1.0.0\n", "", "Invalid size:  1K\n", 255},
      {{"-S", "101%"}, "1.0.0\n", "", "Invalid size: 101%\n", 255},
      {{"-S", "99999999999999999999"}, "1.0.0\n", "", "Invalid size: 99999999999999999999\n", 255},
      {{"-S", "17179869184T"}, "1.0.0\n", "", "Invalid size: 17179869184T\n", 255},
      {{"-S", "0"}, "2.0.0\n1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      {{"-S", "64b"}, "2.0.0\n1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      {{"-S", "1k", "-S", "2M"}, "2.0.0\n1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      {{"-S", "3g"}, "2.0.0\n1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      {{"-S", "5%"}, "2.0.0\n1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      // Input that fits the budget never touches the disk, however small.
      {{"-S", "1K", "-T", "/nonexistent/quorbel"}, "2.0.0\n1.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      // Distinct versions: the first line, in input order, of each group.
      {{"-u"},
       "1.2.3+b\n1.0.0\n1.2.3\n1.2.3.0\nx\n1.0.0+a\n",
       "1.0.0\n1.2.3+b\n",
       "Invalid semver: x\n",
       0},
      {{"-u", "-r", "-v", "-k", "2"},
       "a 1.2.3+b\nb 1.0.0\nc 1.2.3\nd 1.2.3.0\ne 1.0.0+a\n",
       "1.2.3+b\n1.0.0\n",
       "",
       0},
      // A leading v or V before a digit, printed as written.
      {{"-l"},
       "v1.10.0\nV1.2.0\n1.9.0\nv\nvx1\nv-1\nv1.2.0-rc.1\n",
       "v1.2.0-rc.1\nV1.2.0\n1.9.0\nv1.10.0\n",
       "Invalid semver: v\nInvalid semver: vx1\nInvalid semver: v-1\n",
       0},
      {{"-l", "-r", "-v", "-k", "2"}, "a v1.0.0\nb 2.0.0\n", "2.0.0\nv1.0.0\n", "", 0},
      {{"-l", "-u"}, "v1.0.0\n1.0.0\nV1.0.0+b\n", "v1.0.0\n", "", 0},
      // Ranges: lines outside are left out without a message.
      {{"-m"}, "1.0.0\n", USAGE, "Missing value: -m\n", 255},
      {{"-m", ">=>1"}, "1.0.0\n", "", "Invalid range: >=>1\n", 255},
      {{"-m", "1.2.3 -", "-q"}, "1.0.0\n", "", "Invalid range: 1.2.3 -\n", 255},
      {{"-m", "2.x"},
       "1.9.9\n2.0.0-rc.1\n2.5.1\nx\n2.0.0\n3.0.0\n",
       "2.0.0\n2.5.1\n",
       "Invalid semver: x\n",
       0},
      {{"-m", "2.x", "-p"}, "2.0.0-rc.1\n1.9.9\n2.0.0\n", "2.0.0-rc.1\n2.0.0\n", "", 0},
      {{"-m", "16.0.0 - 16.3", "-p"},
       "16.4.0\n16.0.0-rc.1\n16.3.1\n",
       "16.0.0-rc.1\n16.3.1\n",
       "",
       0},
      {{"-m", "~= v1.2"}, "1.3.0\n1.2.7\n1.2.0-rc.1\n", "1.2.7\n", "", 0},
      {{"-m", ">=1.2.0 <3 || ^4.1", "-k", "2", "-v", "-r"},
       "a 1.1.0\nb 1.2.0\nc 2.9.9\nd 3.0.0\ne 4.0.5\nf 4.1.0\ng 4.9.0-rc.1\n",
       "4.1.0\n2.9.9\n1.2.0\n",
       "",
       0},
      {{"-l", "-m", "*", "-r", "-u"},
       "v1.0.0\nv2.0.0-rc.1\nV1.5.0\nv1.5.0+b\nnightly\n",
       "V1.5.0\nv1.0.0\n",
       "Invalid semver: nightly\n",
       0},
      // Records that end with a zero byte, a newline being an ordinary byte.
      {{"-z"}, "2.0.0\0001.0.0\0"s, "1.0.0\0002.0.0\0"s, "", 0},
      {{"-z", "-k", "2"}, "b\n1 2.0.0\0a 1.0.0"s, "a 1.0.0\0b\n1 2.0.0\0"s, "", 0},
      {{"-z", "-v", "-k", "2", "-r"}, "b\n1 2.0.0\0a 1.0.0\0"s, "2.0.0\0001.0.0\0"s, "", 0},
      {{"-z"}, "x\ny\0\0001.0.0\n\0"s, "", "Invalid semver: x\ny\nInvalid semver: 1.0.0\n\n", 0},
      // Groups in byte order of their field, versions in order within each.
      {{"-g", "1", "-k", "2"},
       "web 2.0.0\napi 1.0.0\nweb 1.0.0\napi 1.0.0-rc.1\nweb2 0.1.0\nWeb 9\n",
       "Web 9\napi 1.0.0-rc.1\napi 1.0.0\nweb 1.0.0\nweb 2.0.0\nweb2 0.1.0\n",
       "",
       0},
      {{"-g", "1", "-k", "2", "-r"},
       "web 2.0.0\napi 1.0.0\nweb 1.0.0\napi 1.0.0-rc.1\nweb2 0.1.0\n",
       "api 1.0.0\napi 1.0.0-rc.1\nweb 2.0.0\nweb 1.0.0\nweb2 0.1.0\n",
       "",
       0},
      {{"-g", "1", "-k", "2"},
       "a 1.0.0+x\nb 0\na 1.0.0+y\n 2\n",
       " 2\na 1.0.0+x\na 1.0.0+y\nb 0\n",
       "",
       0},
      {{"-g", "1", "-k", "2", "-u"},
       "web 1.0.0\napi 1.0.0\nweb 1.0.0+b\nweb 0.1.0\n",
       "api 1.0.0\nweb 0.1.0\nweb 1.0.0\n",
       "",
       0},
      {{"-k", "2", "-g", "1", "-v"}, "b 1.0.0\na 2.0.0\n", "2.0.0\n1.0.0\n", "", 0},
      {{"-g", "3", "-k", "2"},
       "a 1.0.0\nb\n",
       "",
       "Field 3 not found in a 1.0.0\nField 2 not found in b\n",
       0},
      {{"-g", "2"}, "1.0.0 x\nx\n", "1.0.0 x\n", "Field 2 not found in x\n", 0},
      // The newest of each group, of all lines, or the first few.
      {{"-g", "1", "-k", "2", "-r", "-n", "1"},
       "web 2.0.0\napi 1.0.0\nweb 1.0.0\napi 1.0.0-rc.1\nweb2 0.1.0\n",
       "api 1.0.0\nweb 2.0.0\nweb2 0.1.0\n",
       "",
       0},
      {{"-t", "@", "-g", "1", "-k", "2", "-m", "*", "-r", "-n", "1"},
       "web@2.3.0\napi@1.0.0\nweb@2.4.0-rc.1\nweb@2.3.1\napi@1.1.0\n",
       "api@1.1.0\nweb@2.3.1\n",
       "",
       0},
      {{"-g", "1", "-k", "2", "-u", "-n", "2"},
       "a 3\na 1\nb 1\na 1+b\na 2\nb 1.0\n",
       "a 1\na 2\nb 1\n",
       "",
       0},
      {{"-l", "-r", "-n", "1"}, "v1.0.0\nv1.10.0\nv1.9.0\n", "v1.10.0\n", "", 0},
      {{"-n", "2"}, "3.0.0\n1.0.0\nx\n2.0.0\n", "1.0.0\n2.0.0\n", "Invalid semver: x\n", 0},
      {{"-n", "2", "-u"}, "1.0.0\n1.0.0+b\n3.0.0\n2.0.0\n", "1.0.0\n2.0.0\n", "", 0},
      {{"-n", "0"}, "1.0.0\nx\n", "", "Invalid semver: x\n", 0},
      {{"-n", "007", "-n", "99999999999999999999"}, "2\n1\n", "1\n2\n", "", 0},
      {{"-n", "x"}, "1.0.0\n", "", "Invalid count: x\n", 255},
      {{"-n", ""}, "1.0.0\n", "", "Invalid count: \n", 255},
      {{"-n", "-1", "-q"}, "1.0.0\n", "", "Invalid count: -1\n", 255},
      {{"-n", " 1"}, "1.0.0\n", "", "Invalid count:  1\n", 255},
      {{"-n", "1k"}, "1.0.0\n", "", "Invalid count: 1k\n", 255},
      // Checks: the first line out of order, counting every line read.
      {{"-c"}, "1.0.0-rc.1\n1.0.0\n1.0.0+b\n1.10.0\n", "", "", 0},
      {{"-c"}, "", "", "", 0},
      {{"-c"}, "1.0.0\n1.0.0-rc.1\n0.1.0\n", "", "Disorder at line 2: 1.0.0-rc.1\n", 1},
      {{"-c", "-u"}, "1.0.0\n2.0.0\n2.0.0+b\n", "", "Disorder at line 3: 2.0.0+b\n", 1},
      {{"-c", "-u"}, "1.0.0\n1.0.0\n", "", "Disorder at line 2: 1.0.0\n", 1},
      {{"-c", "-r"}, "2.0.0\n1.0.0\n1.0.0+b\n", "", "", 0},
      {{"-c", "-r", "-u"}, "2.0.0\n1.0.0\n1.0.0+b\n", "", "Disorder at line 3: 1.0.0+b\n", 1},
      {{"-c", "-r"}, "2.0.0\n3.0.0\n", "", "Disorder at line 2: 3.0.0\n", 1},
      {{"-c", "-k", "2"},
       "a 1.0.0\nx\n\nb\nc 0.9.0\nd\n",
       "",
       "Field 2 not found in x\nField 2 not found in b\nDisorder at line 5: c 0.9.0\n",
       1},
      {{"-c", "-q"}, "x\n2.0.0\n1.0.0\n", "", "Disorder at line 3: 1.0.0\n", 1},
      {{"-c", "-m", "1.x"}, "1.2.0\n3.0.0\n1.3.0\n", "", "", 0},
      {{"-c", "-v", "-n", "1", "-k", "2"}, "a 1.0.0\nb 1.0.0\n", "", "", 0},
      {{"-c", "-g", "1", "-k", "2"}, "a 2.0.0\na 3.0.0\nb 1.0.0\nb 1.0.0\n", "", "", 0},
      {{"-c", "-g", "1", "-k", "2"}, "b 1.0.0\na 2.0.0\n", "", "Disorder at line 2: a 2.0.0\n", 1},
      {{"-c", "-g", "1", "-k", "2", "-r"}, "a 3.0.0\na 2.0.0\nb 4.0.0\n", "", "", 0},
      {{"-z", "-c"}, "1.0.0\0000.1.0\0"s, "", "Disorder at line 2: 0.1.0\n", 1},
      {{"-z", "-c"}, "1\n\0002\0"s, "", "Invalid semver: 1\n\n", 0},
      {{"-c", "-o", "x"}, "1.0.0\n", "", "Incompatible options: -c -o\n", 255},
      // Lines.
      {{}, "\n\n1.0.0\n\n", "1.0.0\n", "", 0},
      {{}, "2.0.0\n1.2.3", "1.2.3\n2.0.0\n", "", 0},
      {{}, "1.2.3\r\n", "", "Invalid semver: 1.2.3\r\n", 0},
      {{}, "1.2.3\0junk\n"s, "1.2.3\n", "", 0},
      {{}, "\0 1.0.0\n"s, "", "", 0},
      {{"-k", "2"}, "a\0 1.0.0\n"s, "", "Field 2 not found in a\n", 0},
      {{"-k", "2"}, "a\0 1.0.0 and then some\n"s, "", "Field 2 not found in a\n", 0},
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
       "1.0.0\n" + LONG_4096 + std::string(5000, 'z') + "\n0.5.0\n",
       "0.5.0\n1.0.0\n",
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

// The ways the engine may hold the lines, down to a run a line, merged two
// at a time, one thread doing everything, and input mapped rather than read,
// its lines copied or left where they lie; the inputs of these tests are too
// small for any of it with the engine's own sizes.
const command_tuning HELD[] = {
    {.block_bytes = 1, .fan_in = 2},
    {.block_bytes = 40, .fan_in = 3, .piece_bytes = 30},
    {.block_bytes = 40, .second_thread = false},
    {.block_bytes = 1, .piece_bytes = 30, .map_from = 0},
    {.block_bytes = 40, .piece_bytes = 30, .map_from = 0, .texts_stay_from = 0}};

// Every row once as it is, once for each way of holding the lines, and once
// more with a budget so small that every few lines go to a temporary file
// and the files are merged in several passes: the output never changes.
TEST(command, rows_in_process) {
  for (const row& r : rows()) {
    SCOPED_TRACE(trace_of(r));
    check(r, run_in_process(r.args, r.in));
    for (const command_tuning& tuning : HELD) check(r, run_in_process(r.args, r.in, tuning));
    std::vector<std::string> spilling = {"-S", "1K"};
    spilling.insert(spilling.end(), r.args.begin(), r.args.end());
    check(r, run_in_process(spilling, r.in, {.block_bytes = 60, .fan_in = 2}));
    check(r, run_in_process(spilling, r.in,
                            {.block_bytes = 60, .fan_in = 2, .map_from = 0, .texts_stay_from = 0}));
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
  for (int major = 399; major >= 0; --major) {
    for (int minor = 99; minor >= 0; --minor) {
      input += std::to_string(major) + "." + std::to_string(minor) + ".0 pkg\n";
    }
  }
  for (int major = 0; major < 400; ++major) {
    for (int minor = 0; minor < 100; ++minor) {
      expected += std::to_string(major) + "." + std::to_string(minor) + ".0 pkg\n";
    }
  }
  const command_tuning alone{.second_thread = false};
  for (const command_tuning& tuning : {command_tuning{}, HELD[0], HELD[1], HELD[4], alone}) {
    SCOPED_TRACE("block bytes " + std::to_string(tuning.block_bytes));
    const outcome got = run_in_process({}, input, tuning);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_TRUE(got.out == expected) << "output differs";
  }
}

TEST(command, versions_seen_again_keep_their_order) {
  // A field seen lately is known again without parsing. A thousand
  // distinct fields first stop the lookups for the rest of their block,
  // and come again at the end; between them come two versions known by one
  // slot, a field as long as any that is known and one byte longer, one
  // with a v that only -l accepts, and one that is never valid: each line
  // keeps its version, and each invalid one its message, also in groups.
  std::vector<std::string> pool = {"1.0.0",  "1.0.0-rc.1",
                                   "10.0.0", "2.3.4",
                                   "v2.3.4", "1.2.3-alpha.beta.gamma.9",
                                   "x.y",    "1.2.3-alpha.beta.gamma.10"};
  for (int n = 1; known_fields::slot_of(pool.back()) != known_fields::slot_of("1.0.0"); ++n) {
    pool.push_back("3." + std::to_string(n) + ".0");
  }
  struct line {
    std::string text, field, group;
  };
  std::vector<line> lines;
  for (int i = 0; i < 1100; ++i) lines.push_back({"", "3.0." + std::to_string(i), "c"});
  for (unsigned i = 0, draw = 7; i < 2000; ++i, draw = draw * 1103515245 + 12345) {
    const std::size_t pick = (draw >> 16) % 3 == 0 ? pool.size() - 1 : (draw >> 16) % 8;
    lines.push_back({"", pool[pick], (draw >> 20) % 2 == 0 ? "a" : "b"});
  }
  for (int i = 0; i < 1100; ++i) lines.push_back(lines[static_cast<std::size_t>(i)]);
  std::string input;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    lines[i].text = "p" + std::to_string(i) + " " + lines[i].field + " " + lines[i].group;
    input += lines[i].text + "\n";
  }
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"-r"}, {"-u"}, {"-v"}, {"-g", "3"}, {"-l", "-m", ">=2"}}) {
    const auto has = [&](const char* option) {
      return std::find(options.begin(), options.end(), option) != options.end();
    };
    const bool with_v = has("-l");
    std::vector<line> kept;
    std::string messages;
    const auto version_of = [&](const line& l) {
      return parsed(with_v ? version_skip_v(l.field) : std::string_view(l.field));
    };
    for (const line& l : lines) {
      version_record record;
      if (version_parse(with_v ? version_skip_v(l.field) : l.field, &record) != 0) {
        messages += "Invalid semver: " + l.text + "\n";
      } else if (!with_v || version_compare(record, parsed("2.0.0")) >= 0) {
        kept.push_back(l);
      }
    }
    std::stable_sort(kept.begin(), kept.end(), [&](const line& a, const line& b) {
      if (has("-g") && a.group != b.group) return a.group < b.group;
      const int c = version_compare(version_of(a), version_of(b));
      return has("-r") ? c > 0 : c < 0;
    });
    std::string expected;
    for (std::size_t i = 0; i < kept.size(); ++i) {
      if (has("-u") && i > 0 &&
          version_compare(version_of(kept[i]), version_of(kept[i - 1])) == 0) {
        continue;
      }
      expected += (has("-v") ? kept[i].field : kept[i].text) + "\n";
    }
    std::vector<std::string> args = {"-k", "2"};
    args.insert(args.end(), options.begin(), options.end());
    for (const command_tuning& tuning : {command_tuning{}, HELD[2], HELD[4],
                                         command_tuning{.block_bytes = 30000, .map_from = 0}}) {
      SCOPED_TRACE(trace_of({args, "", "", "", 0}));
      const outcome got = run_in_process(args, input, tuning);
      EXPECT_EQ(got.status, 0);
      EXPECT_TRUE(got.err == messages) << "messages differ";
      EXPECT_TRUE(got.out == expected) << "order or content differs";
    }
  }
}

TEST(known_fields, keep_popular_fields_with_their_codes) {
  // A field is found once its code is kept too, never with a code longer
  // than any it can have, and holds its slot against a newcomer for each
  // time it was found since it came.
  const std::uint8_t code[known_fields::LONGEST_CODE + 1] = {7, 8, 9};
  std::vector<std::string> same_slot = {"1.0.0"};
  for (int n = 1; same_slot.size() < 3; ++n) {
    const std::string other = "2." + std::to_string(n) + ".0";
    if (known_fields::slot_of(other) == known_fields::slot_of("1.0.0")) same_slot.push_back(other);
  }
  const std::size_t slot = known_fields::slot_of("1.0.0");
  auto table = std::make_unique<known_fields>();
  ASSERT_TRUE(table->keep(slot, "1.0.0"));
  EXPECT_FALSE(table->holds(slot, "1.0.0"));  // no code yet
  table->keep_code(slot, code, sizeof code);  // too long to be its code
  EXPECT_FALSE(table->holds(slot, "1.0.0"));
  table->keep_code(slot, code, 3);
  EXPECT_TRUE(table->holds(slot, "1.0.0"));
  EXPECT_TRUE(table->holds(slot, "1.0.0"));
  EXPECT_EQ(std::vector<std::uint8_t>(table->code(slot), table->code(slot) + 3),
            std::vector<std::uint8_t>(code, code + 3));
  EXPECT_EQ(table->code_length(slot), 3u);
  EXPECT_FALSE(table->holds(slot, same_slot[1]));
  EXPECT_FALSE(table->keep(slot, same_slot[1]));  // found twice: two newcomers turned away
  EXPECT_FALSE(table->keep(slot, same_slot[2]));
  EXPECT_TRUE(table->holds(slot, "1.0.0"));
  EXPECT_FALSE(table->keep(slot, same_slot[1]));
  EXPECT_TRUE(table->keep(slot, same_slot[2]));  // the third newcomer takes the slot
  EXPECT_FALSE(table->holds(slot, "1.0.0"));
  table->keep_code(slot, code, 2);
  EXPECT_TRUE(table->holds(slot, same_slot[2]));
  EXPECT_EQ(known_fields::slot_of(std::string(known_fields::LONGEST + 1, '1')),
            known_fields::NO_SLOT);
  EXPECT_EQ(known_fields::slot_of(""), known_fields::NO_SLOT);
  // A stretch of lookups that finds fewer than one in eight stops them
  // until the next block; one that finds more does not.
  for (const int found_every : {4, 9}) {
    table->start_block();
    for (int i = 0; i < 1024; ++i) {
      EXPECT_TRUE(table->worth_looking());
      (void)table->holds(slot, i % found_every == 0 ? same_slot[2] : "9.9.9");
    }
    EXPECT_EQ(table->worth_looking(), found_every == 4) << found_every;
  }
  table->start_block();
  EXPECT_TRUE(table->worth_looking());
}

TEST(command, groups_hold_through_temporary_files) {
  // Far more lines than -S 1K holds, in groups that start one another: runs
  // of them go to temporary files and back, with their groups, also when
  // only the versions are written.
  struct line {
    std::string group;
    int minor;
  };
  std::vector<line> lines;
  std::string input;
  for (int i = 0; i < 3000; ++i) {
    lines.push_back({"g" + std::string(static_cast<std::size_t>(i % 7), 'x'), i * 7919 % 3000});
    input += lines.back().group + " 1." + std::to_string(lines.back().minor) + ".0\n";
  }
  for (const bool reverse : {false, true}) {
    for (const bool versions : {false, true}) {
      for (const std::size_t limit : {std::size_t{2}, SIZE_MAX}) {
        std::vector<line> order = lines;
        std::sort(order.begin(), order.end(), [reverse](const line& a, const line& b) {
          if (a.group != b.group) return a.group < b.group;
          return reverse ? a.minor > b.minor : a.minor < b.minor;
        });
        std::string expected;
        std::size_t taken = 0;
        for (std::size_t i = 0; i < order.size(); ++i) {
          taken = i > 0 && order[i].group == order[i - 1].group ? taken + 1 : 0;
          if (taken >= limit) continue;
          const std::string version = "1." + std::to_string(order[i].minor) + ".0";
          expected += (versions ? version : order[i].group + " " + version) + "\n";
        }
        std::vector<std::string> args = {"-S", "1K", "-g", "1", "-k", "2"};
        if (reverse) args.push_back("-r");
        if (versions) args.push_back("-v");
        if (limit != SIZE_MAX) args.insert(args.end(), {"-n", std::to_string(limit)});
        SCOPED_TRACE(trace_of({args, "", "", "", 0}));
        const outcome got = run_in_process(args, input, {.block_bytes = 200, .fan_in = 2});
        EXPECT_EQ(got.status, 0);
        EXPECT_EQ(got.err, "");
        EXPECT_TRUE(got.out == expected) << "order or content differs";
      }
    }
  }
}

// A mapped file cut short: its lost pages read as zeros and the input says
// it shrank, where reading them would otherwise end the process; so it does
// when cut within the last page read. Mapping starts at the file's offset,
// the unfinished last line is left to read, and a bus error sent by
// someone still ends the process.
TEST(mapped_input, survives_a_file_cut_short_under_it) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::string text;
  while (text.size() < 3 * page) text += std::string(99, 'x') + "\n";
  for (const std::size_t cut : {std::size_t{1000}, text.size() - 10}) {
    SCOPED_TRACE(cut);
    const int fd = memory_file(text + "1.0.0");
    ASSERT_EQ(lseek(fd, 300, SEEK_SET), 300);
    mapped_input input;
    ASSERT_TRUE(input.map(fd, 0, SIZE_MAX));
    const std::string_view lines = input.lines();
    EXPECT_TRUE(lines == std::string_view(text).substr(300));
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(text.size()));
    EXPECT_EQ(input.check(), mapped_input::state::whole);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(cut)), 0);
    EXPECT_EQ(static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\0')),
              lines.size() - (cut - 300));
    EXPECT_EQ(input.check(), mapped_input::state::shrank);
    close(fd);
  }
  const int fd = memory_file(text);
  // Whatever handled it before ends the process: the default action, or a
  // sanitizer's report.
  EXPECT_DEATH(
      {
        mapped_input input;
        if (input.map(fd, 0, SIZE_MAX)) raise(SIGBUS);
        std::exit(0);
      },
      "");
  close(fd);
}

// A regular input file written while it is sorted, read or mapped, its
// texts copied or left where they lie: never output with status 0. Its time
// of writing is set in the past first, so that a change shows whatever the
// clock's grain.
TEST(command, an_input_file_changed_while_it_is_sorted_is_a_read_error) {
  std::string text;
  for (int i = 999; i >= 0; --i)
    text += "1.0." + std::to_string(i) + " " + std::string(40, 'x') + "\n";
  const std::string changed = "Read error: input file changed while it was sorted\n";
  const std::string shrank = "Read error: input file shrank while it was sorted\n";
  const struct {
    const char* name;
    std::function<void(int)> change;
    std::string err;
  } changes[] = {
      {"rewritten in place", [](int fd) { EXPECT_EQ(pwrite(fd, "2", 1, 0), 1); }, changed},
      {"grown", [](int fd) { EXPECT_EQ(pwrite(fd, "9.9.9\n", 6, 1 << 20), 6); }, changed},
      {"cut short", [](int fd) { EXPECT_EQ(ftruncate(fd, 100), 0); }, shrank},
      {"left alone", [](int) {}, ""},
  };
  const command_tuning ways[] = {{.map_from = SIZE_MAX},
                                 {.map_from = 0},
                                 {.block_bytes = 4096, .map_from = 0, .texts_stay_from = 0}};
  for (const auto& c : changes) {
    for (command_tuning tuning : ways) {
      SCOPED_TRACE(std::string(c.name) + (tuning.map_from == 0 ? ", mapped" : ", read"));
      const int in = memory_file(text);
      const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
      ASSERT_EQ(futimens(in, past), 0);
      const int out = memory_file();
      const int err = memory_file();
      tuning.after_reading = [&] { c.change(in); };
      const char* argv[] = {"quorbel", "-q", nullptr};
      EXPECT_EQ(run_command(2, argv, {in, out, err}, tuning), c.err.empty() ? 0 : 1);
      EXPECT_EQ(contents_of(err), c.err);
      EXPECT_EQ(contents_of(out).size(), c.err.empty() ? text.size() : 0);
      for (const int fd : {in, out, err}) close(fd);
    }
  }
}

// quorbel < f 1<> f sorts f in place: the output changes the input file,
// which is no error.
TEST(command, sorts_a_file_in_place_through_its_own_output) {
  const int in = memory_file("2.0.0 " + std::string(2000, 'x') + "\n1.0.0\n");
  const int out = open(("/proc/self/fd/" + std::to_string(in)).c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(out, 0);
  const int err = memory_file();
  const char* argv[] = {"quorbel", nullptr};
  EXPECT_EQ(run_command(1, argv, {in, out, err}, {.map_from = 0, .texts_stay_from = 0}), 0);
  EXPECT_EQ(contents_of(err), "");
  EXPECT_EQ(contents_of(in), "1.0.0\n2.0.0 " + std::string(2000, 'x') + "\n");
  for (const int fd : {in, out, err}) close(fd);
}

// --- The built binary ------------------------------------------------------

TEST(binary, rows) {
  const row binary_rows[] = {
      {{},
       "1.10.0\n1.2.0\nx\n1.2.0-rc.1\n",
       "1.2.0-rc.1\n1.2.0\n1.10.0\n",
       "Invalid semver: x\n",
       0},
      {{"-r", "-k", "2", "-v"}, "a 1.0.0\nb 2.0.0\n", "2.0.0\n1.0.0\n", "", 0},
      {{"-h"}, "", USAGE, "", 255},
      {{"-qr"}, "", USAGE, "Unknown argument: -qr\n", 255},
  };
  for (const row& r : binary_rows) {
    SCOPED_TRACE(trace_of(r));
    check(r, run_binary(r.args, {.input = r.in}));
  }
}

TEST(binary, messages_come_before_the_output) {
  const outcome got =
      run_binary({}, {.input = "2.0.0\nx\n1.0.0\ny\n", .out = binary_setup::output::into_stderr});
  EXPECT_EQ(got.err, "Invalid semver: x\nInvalid semver: y\n1.0.0\n2.0.0\n");
  EXPECT_EQ(got.status, 0);
}

TEST(binary, a_message_shows_as_soon_as_the_input_pauses) {
  bool shown_while_waiting = false;
  const outcome got =
      run_binary({}, {.conduct = [&](pid_t, int in, int err) {
                   ASSERT_EQ(write(in, "x\n2.0.0\n", 8), 8);
                   // The input stays open: the message must come while quorbel waits.
                   for (int tries = 0; tries < 1000 && !shown_while_waiting; ++tries) {
                     shown_while_waiting = contents_of(err) == "Invalid semver: x\n";
                     if (!shown_while_waiting) usleep(10000);
                   }
                   ASSERT_EQ(write(in, "y\n1.0.0\n", 8), 8);
                 }});
  EXPECT_TRUE(shown_while_waiting);
  EXPECT_EQ(got.out, "1.0.0\n2.0.0\n");
  EXPECT_EQ(got.err, "Invalid semver: x\nInvalid semver: y\n");
  EXPECT_EQ(got.status, 0);
}

TEST(binary, a_check_ends_at_the_first_disorder_while_the_input_stays_open) {
  bool ended = false;
  const outcome got = run_binary({"-c"}, {.conduct = [&](pid_t pid, int in, int) {
                                   ASSERT_EQ(write(in, "2.0.0\nx\n1.0.0\n", 14), 14);
                                   for (int tries = 0; tries < 1000 && !ended; ++tries) {
                                     siginfo_t info{};
                                     ended = waitid(P_PID, static_cast<id_t>(pid), &info,
                                                    WEXITED | WNOHANG | WNOWAIT) == 0 &&
                                             info.si_pid == pid;
                                     if (!ended) usleep(10000);
                                   }
                                 }});
  EXPECT_TRUE(ended) << "it waited for the input to end";
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "Invalid semver: x\nDisorder at line 3: 1.0.0\n");
  EXPECT_EQ(got.status, 1);
}

TEST(binary, standard_input_that_is_a_directory_is_a_read_error) {
  const int dir = open("/", O_RDONLY | O_DIRECTORY);
  const outcome got = run_binary({"-q"}, {.in_fd = dir});
  close(dir);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "Read error: Is a directory\n");
  EXPECT_EQ(got.status, 1);
}

TEST(binary, standard_output_on_dev_full_is_a_write_error) {
  const int full = open("/dev/full", O_WRONLY);
  const outcome got =
      run_binary({"-q"}, {.input = "1.0.0\n", .out = binary_setup::output::given, .out_fd = full});
  close(full);
  EXPECT_EQ(got.err, "Write error: No space left on device\n");
  EXPECT_EQ(got.status, 1);
}

TEST(binary, a_memory_limit_sorts_through_temporary_files_or_says_out_of_memory) {
  if (SANITIZED) GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit";
  const auto line = [](int i) {
    return "1.2." + std::to_string(i) + "-" + std::string(200, 'a') + "\n";
  };
  std::string input, expected;
  input.reserve(std::size_t{90} << 20);
  for (int i = 399999; i >= 0; --i) input += line(i);  // about 80 MB
  for (int i = 0; i < 400000; ++i) expected += line(i);
  // Under the limit the budget is small, and the lines go to disk.
  const outcome sorted = run_binary({}, {.input = input, .memory_limit = rlim_t{48} << 20});
  EXPECT_EQ(sorted.status, 0);
  EXPECT_EQ(sorted.err, "");
  EXPECT_TRUE(sorted.out == expected) << "output differs";
  // Told to hold more than it may, it runs out, says so, and writes nothing.
  const outcome refused =
      run_binary({"-S", "1G"}, {.input = input, .memory_limit = rlim_t{48} << 20});
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "Out of memory\n");
  EXPECT_EQ(refused.status, 1);
}

// A file mapped under a limit on address space: the mapping and every
// thread's memory stay inside it, spilling as needed, never out of memory.
TEST(binary, a_file_under_a_memory_limit_sorts) {
  if (SANITIZED) GTEST_SKIP() << "the sanitizer runtime needs more address space than the limit";
  std::string input;
  input.reserve(std::size_t{42} << 20);
  char line[32];
  for (int i = 0; i < 2500000; ++i) {
    input.append(line,
                 static_cast<std::size_t>(std::snprintf(line, sizeof line, "pkg%06d 1.2.3\n", i)));
  }
  const int file = memory_file(input);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-k", "2"}, std::vector<std::string>{"-k", "2", "-S", "80M"}}) {
    SCOPED_TRACE(args.size());
    ASSERT_EQ(lseek(file, 0, SEEK_SET), 0);
    const outcome got = run_binary(args, {.in_fd = file, .memory_limit = rlim_t{200000} << 10});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_TRUE(got.out == input) << "output differs";  // one version: input order
  }
  close(file);
}

// Few descriptors: the merges take as many files at once as may be opened.
TEST(binary, few_descriptors_merge_fewer_files_at_once) {
  std::string input, expected;
  for (int i = 20000; i > 0; --i) input += "1." + std::to_string(i) + ".0 pkg\n";
  for (int i = 1; i <= 20000; ++i) expected += "1." + std::to_string(i) + ".0 pkg\n";
  // Nine leave one descriptor spare, where a sanitizer's runtime wants a
  // few for its own checks.
  for (const rlim_t descriptors : {rlim_t{SANITIZED ? 16 : 12}, rlim_t{SANITIZED ? 12 : 9}}) {
    SCOPED_TRACE(descriptors);
    const outcome got = run_binary({"-S", "8K"}, {.input = input, .descriptor_limit = descriptors});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    EXPECT_TRUE(got.out == expected) << "output differs";
  }
}

}  // namespace
}  // namespace quorbel
