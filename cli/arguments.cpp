// Reading the command line.
#include "cli/arguments.h"

#include <cstddef>

#include "version/internal.h"

namespace quorbel {

namespace {

// The first nine lines are the command's from its first release; each later
// option adds a line after them.
constexpr std::string_view USAGE_LINES[] = {
    "Usage: <versions> | quorbel [options]",
    "Sort all semver-valid versions at input and write them at output.",
    "Available options:",
    "\t-h         show this help",
    "\t-k <num>   extract and use field <num> instead of all line (starts at 1)",
    "\t-r         sort descending",
    "\t-t <char>  use <char> as field separator (defaults to space)",
    "\t-q         do not print any messages",
    "\t-v         print only versions, not entire lines",
    "\t-l         also accept versions written with a leading v or V (v1.2.3)",
    "\t-m <range> print only versions that satisfy <range> (\">=1.2 <2 || ^3.1\")",
    "\t-p         let pre-releases satisfy <range> by their precedence alone",
    "\t-u         print only the first line of each group of equal versions",
    "\t-S <size>  hold at most <size> of lines in memory (512K, 64M, 2G), the rest on disk",
    "\t-T <dir>   put temporary files in <dir> (defaults to $TMPDIR, then /tmp)",
    "\t--version  print the version and exit",
    "\t-z         end lines with a zero byte, not a newline",
    "\t-g <num>   group by field <num>: groups in byte order, versions sorted within each",
    "\t-n <count> print at most <count> lines of each group (of all lines without -g)",
    "\t-c         check that the input is in order already, and print nothing",
    "\t-o <file>  write the output to <file> once it is complete; <file> may be the input",
};

}  // namespace

const std::span<const std::string_view> USAGE = USAGE_LINES;

sort_settings parse_arguments(int count, const char* const* arguments) noexcept {
  sort_settings settings;
  for (int i = 0; i < count; ++i) {
    const std::string_view argument = arguments[i];
    // Options that take a value: the next argument, whatever it looks like.
    const bool last = i + 1 == count;
    if (argument == "-q") {
      settings.quiet = true;
    } else if (argument == "-r") {
      settings.reverse = true;
    } else if (argument == "-h" || argument == "--help") {
      settings.show_help = true;
    } else if (argument == "-v") {
      settings.versions_only = true;
    } else if (argument == "-l") {
      settings.v_prefix = true;
    } else if (argument == "-p") {
      settings.prereleases_match = true;
    } else if (argument == "-u") {
      settings.unique = true;
    } else if (argument == "--version") {
      settings.show_version = true;
    } else if (argument == "-z") {
      settings.terminator = '\0';
    } else if (argument == "-c") {
      settings.check = true;
    } else if (argument == "-t") {
      if (last) break;  // a trailing -t has no effect
      settings.separator = arguments[++i][0];
    } else if (argument == "-k" || argument == "-m" || argument == "-S" || argument == "-T" ||
               argument == "-g" || argument == "-n" || argument == "-o") {
      if (last) {
        settings.show_help = true;  // the value is missing
        if (settings.wrong_argument == nullptr) {
          settings.wrong_argument = arguments[i];
          settings.missing_value = true;
        }
        break;
      }
      const char* value = arguments[++i];
      if (argument == "-k" || argument == "-g") {
        // A field number reads like a core number; below 1 it is field 1.
        std::size_t consumed = 0;
        const std::int32_t field = convert_integer(value, &consumed);
        (argument == "-k" ? settings.field : settings.group) = field < 1 ? 1 : field;
      } else if (argument == "-m") {
        settings.range = value;
      } else if (argument == "-S") {
        settings.size = value;
      } else if (argument == "-T") {
        settings.temporary_directory = value;
      } else if (argument == "-n") {
        settings.count = value;
      } else {
        settings.output = value;
      }
    } else {
      settings.show_help = true;
      if (settings.wrong_argument == nullptr) settings.wrong_argument = arguments[i];
    }
  }
  return settings;
}

std::optional<std::size_t> parse_count(std::string_view text) noexcept {
  if (text.empty()) return std::nullopt;
  std::size_t count = 0;
  for (const char c : text) {
    if (!is_digit_byte(c)) return std::nullopt;
    const auto digit = static_cast<std::size_t>(c - '0');
    count = count > (SIZE_MAX - digit) / 10 ? SIZE_MAX : count * 10 + digit;
  }
  return count;
}

}  // namespace quorbel
