// Any bytes as the command's standard input, with options drawn from the
// first four bytes. The command runs in-process on memory files; its output
// (on standard output, or in the file of -o) and messages must be exactly
// what the line rules give, worked out here line by line with the library
// alone: sorted, grouped and limited, or checked (-c).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "fuzz/check.h"
#include "version/internal.h"

namespace {

constexpr std::size_t LONGEST_LINE = 4095;

struct options {
  bool reverse = false;
  bool versions_only = false;
  bool quiet = false;
  bool has_separator = false;
  char separator = ' ';
  std::int32_t field = 1;
  bool unique = false;
  bool v_prefix = false;
  bool prereleases_match = false;
  const char* range = nullptr;  // -m, as written
  bool check = false;
  char terminator = '\n';
  std::int32_t group = 0;       // 0: none
  const char* count = nullptr;  // -n, as written
  bool output_file = false;     // -o
  std::vector<std::string> arguments;
};

// The counts of -n: the usual ones, a leading zero, one that is none and
// one beyond any count of lines.
constexpr const char* COUNTS[] = {"0", "1", "2", "3", "01", "x", "99999999999999999999"};

// The ranges of -m: the common shapes, pre-releases on either side of a
// bound, one that matches everything, one that matches nothing and one the
// command must refuse.
constexpr const char* RANGES[] = {
    "*",
    "2.x",
    ">=1.2.0 <3",
    "^0.1 || ~2.3",
    "1.2.3 - 2.0",
    "<1.0.0-rc.1",
    ">=1.0.0-0",
    "",
    ">=1.2.3-beta <1.3",
    "~1.2.3.4 || 0.0.x",
    "=v1.0.0+build",
    "^0.0.0 || >=10",
    ">*",
    ">=1<2",
    "1 - 2 || 3.0.0-alpha - 3.0.0",
};

// Byte 0: bit 0 -r, bit 1 -v, bit 2 -q, bits 3-5 the separator, bit 6 -k,
// bit 7 tiny runs and budget.
// Byte 1: bits 0-2 the -k argument, some of them odd spellings of small
// numbers; bits 3-7 the sizes of runs, merges and budget, with bit 7.
// Byte 2: bit 0 -u, bit 1 -l, bit 2 -p, bits 3-6 the range of -m (0: none),
// bit 7 these options before the others.
// Byte 3: bit 0 -c, bit 1 -z, bits 2-3 the field of -g (0: none), bits 4-6
// the count of -n (0: none), bit 7 -o. These come last.
// A zero byte adds nothing, so the inputs written before bytes 2 and 3
// existed kept their meaning with a zero inserted.
options pick_options(std::uint8_t flags, std::uint8_t field, std::uint8_t more,
                     std::uint8_t habits) {
  static constexpr char SEPARATORS[] = {' ', ',', '.', '-', '\0', '+', 'a', '\t'};
  static constexpr struct {
    const char* text;
    std::int32_t value;
  } FIELDS[] = {{"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"0", 1}, {"-5", 1}, {"+2", 2}, {" 3x", 3}};
  options o;
  std::vector<std::string> newer;
  if ((more & 1) != 0) {
    o.unique = true;
    newer.push_back("-u");
  }
  if ((more & 2) != 0) {
    o.v_prefix = true;
    newer.push_back("-l");
  }
  if ((more & 4) != 0) {
    o.prereleases_match = true;
    newer.push_back("-p");
  }
  if (const unsigned range = (more >> 3) & 15u; range != 0) {
    o.range = RANGES[range - 1];
    newer.push_back("-m");
    newer.push_back(o.range);
  }
  o.arguments.push_back("quorbel");
  if ((more & 0x80) != 0) o.arguments.insert(o.arguments.end(), newer.begin(), newer.end());
  if ((flags & 1) != 0) {
    o.reverse = true;
    o.arguments.push_back("-r");
  }
  if ((flags & 2) != 0) {
    o.versions_only = true;
    o.arguments.push_back("-v");
  }
  if ((flags & 4) != 0) {
    o.quiet = true;
    o.arguments.push_back("-q");
  }
  const unsigned which = (flags >> 3) & 7u;
  if (which != 0) {
    o.has_separator = true;
    o.separator = SEPARATORS[which];
    o.arguments.push_back("-t");
    o.arguments.push_back(std::string(1, o.separator).c_str());  // '\0' gives ""
  }
  if ((flags & 0x40) != 0) {
    const auto& f = FIELDS[field & 7u];
    o.field = f.value;
    o.arguments.push_back("-k");
    o.arguments.push_back(f.text);
  }
  if ((more & 0x80) == 0) o.arguments.insert(o.arguments.end(), newer.begin(), newer.end());
  if ((habits & 1) != 0) {
    o.check = true;
    o.arguments.push_back("-c");
  }
  if ((habits & 2) != 0) {
    o.terminator = '\0';
    o.arguments.push_back("-z");
  }
  if (const unsigned group = (habits >> 2) & 3u; group != 0) {
    o.group = static_cast<std::int32_t>(group);
    o.arguments.push_back("-g");
    o.arguments.push_back(std::to_string(group));
  }
  if (const unsigned count = (habits >> 4) & 7u; count != 0) {
    o.count = COUNTS[count - 1];
    o.arguments.push_back("-n");
    o.arguments.push_back(o.count);
  }
  o.output_file = (habits & 0x80) != 0;  // its path is added by the caller
  return o;
}

struct accepted {
  quorbel::version_record version;
  std::string text;
  std::string group;
  std::string line;
  std::size_t number;  // of the line, from 1
};

// The order the command gives: groups in byte order, then versions, which
// -r reverses.
int compare(const accepted& a, const accepted& b, bool reverse) {
  if (a.group != b.group) return a.group < b.group ? -1 : 1;
  const int c = quorbel::version_compare(a.version, b.version);
  return reverse ? -c : c;
}

// The field'th field (1-based) of the line, or nothing when there are fewer.
bool field_of(std::string_view line, char separator, std::int32_t field, std::string_view* found) {
  for (std::int32_t n = 1;; ++n) {
    const std::size_t at = line.find(separator);
    if (n == field) {
      *found = line.substr(0, at);
      return true;
    }
    if (at == std::string_view::npos) return false;
    line.remove_prefix(at + 1);
  }
}

// The count of -n: digits alone, beyond SIZE_MAX SIZE_MAX; false if none.
bool count_of(const char* text, std::size_t* count) {
  const std::string_view digits = text;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  *count = 0;
  for (const char c : digits) {
    const auto digit = static_cast<std::size_t>(c - '0');
    *count = *count > (SIZE_MAX - digit) / 10 ? SIZE_MAX : *count * 10 + digit;
  }
  return true;
}

// The exit status the command must give, with its output and messages.
int expect(std::string_view input, const options& o, std::string* out, std::string* err) {
  quorbel::version_range range;
  // Refused before any input is read, even with -q.
  if (o.range != nullptr && quorbel::version_range_parse(o.range, &range, nullptr) != 0) {
    *err += "Invalid range: ";
    *err += o.range;
    *err += '\n';
    return quorbel::EXIT_USAGE;
  }
  std::size_t limit = SIZE_MAX;
  if (o.count != nullptr && !count_of(o.count, &limit)) {
    *err += "Invalid count: ";
    *err += o.count;
    *err += '\n';
    return quorbel::EXIT_USAGE;
  }
  if (o.check && o.output_file) {
    *err += "Incompatible options: -c -o\n";
    return quorbel::EXIT_USAGE;
  }
  std::vector<accepted> lines;
  std::size_t pos = 0;
  std::size_t number = 0;
  std::string messages;  // about dropped lines
  while (pos < input.size()) {
    std::size_t end = input.find(o.terminator, pos);
    if (end == std::string_view::npos) end = input.size();
    const std::string_view physical = input.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (physical.size() > LONGEST_LINE) {
      messages += "Input line too long: ";
      messages += quorbel::until_zero(physical.substr(0, LONGEST_LINE + 1));
      messages += '\n';
      continue;
    }
    const std::string_view line = quorbel::until_zero(physical);
    if (line.empty()) continue;
    std::string_view field;
    std::string_view group;
    const std::int32_t missing = !field_of(line, o.separator, o.field, &field) ? o.field
                                 : o.group != 0 && !field_of(line, o.separator, o.group, &group)
                                     ? o.group
                                     : 0;
    if (missing != 0) {
      messages += "Field " + std::to_string(missing) + " not found in ";
      messages += line;
      messages += '\n';
      continue;
    }
    // With -l, v1.2.3 is the version 1.2.3, but v-1 stays the version v-1.
    std::string_view version_text = field;
    if (o.v_prefix && field.size() > 1 && (field[0] == 'v' || field[0] == 'V') && field[1] >= '0' &&
        field[1] <= '9') {
      version_text.remove_prefix(1);
    }
    accepted a;
    if (quorbel::version_parse(version_text, &a.version) != 0) {
      messages += "Invalid semver: ";
      messages += line;
      messages += '\n';
      continue;
    }
    if (o.range != nullptr &&
        quorbel::version_satisfies(a.version, range, o.prereleases_match ? 1 : 0) == 0) {
      continue;  // left out without a message
    }
    a.text = o.versions_only ? field : line;
    a.group = group;
    a.line = line;
    a.number = number;
    // A check ends at the first line out of order, and reads no further.
    if (o.check && !lines.empty()) {
      const int c = compare(lines.back(), a, o.reverse);
      if (c > 0 || (c == 0 && o.unique)) {
        if (!o.quiet) *err += messages;
        *err += "Disorder at line " + std::to_string(a.number) + ": " + a.line + "\n";
        return quorbel::EXIT_DISORDER;
      }
    }
    lines.push_back(std::move(a));
  }
  if (!o.quiet) *err += messages;
  if (o.check) return quorbel::EXIT_SORTED;
  std::stable_sort(lines.begin(), lines.end(), [&o](const accepted& a, const accepted& b) {
    return compare(a, b, o.reverse) < 0;
  });
  std::size_t taken = 0;  // of the group, or of all
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // The sort is stable, so the first of a group is the first in input order.
    if (o.unique && i > 0 && compare(lines[i - 1], lines[i], o.reverse) == 0) continue;
    if (o.group != 0 && (i == 0 || lines[i - 1].group != lines[i].group)) taken = 0;
    if (taken++ >= limit) continue;
    *out += lines[i].text;
    *out += o.terminator;
  }
  return quorbel::EXIT_SORTED;
}

int memory_file() {
  const int fd = memfd_create("quorbel-fuzz", 0);
  CHECK(fd >= 0);
  return fd;
}

std::string read_back(int fd) {
  std::string bytes;
  CHECK(lseek(fd, 0, SEEK_SET) == 0);
  char block[65536];
  for (;;) {
    const ssize_t got = read(fd, block, sizeof block);
    CHECK(got >= 0);
    if (got == 0) return bytes;
    bytes.append(block, static_cast<std::size_t>(got));
  }
}

// A directory of its own for the file of -o, made for one input.
class output_directory {
 public:
  output_directory() {
    char directory[] = "/tmp/quorbel-fuzz-XXXXXX";
    CHECK(mkdtemp(directory) != nullptr);
    directory_ = directory;
    path_ = directory_ + "/out";
  }
  [[nodiscard]] const std::string& path() const { return path_; }

  // The output, if the file was made; the directory is removed, which only
  // works when nothing else was left in it.
  std::string take() {
    std::string bytes;
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      bytes = read_back(fd);
      close(fd);
      CHECK(unlink(path_.c_str()) == 0);
    }
    CHECK(rmdir(directory_.c_str()) == 0);
    return bytes;
  }

 private:
  std::string directory_;
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  options o = pick_options(data[0], data[1], data[2], data[3]);
  std::optional<output_directory> output;
  if (o.output_file) {
    output.emplace();
    o.arguments.push_back("-o");
    o.arguments.push_back(output->path());
  }
  // Bit 7 of the first byte: the lines are held in small runs, and either a
  // tiny memory budget sends them to temporary files merged a few at a time,
  // or (bits 5-7 of the second byte all set) they stay in memory and the
  // output is merged in tiny pieces by two threads. Bit 0 of the second
  // byte (shared with the choice of field) has the input mapped, and bit 1
  // then leaves its lines where they lie.
  quorbel::command_tuning tuning;
  std::vector<std::string> arguments = o.arguments;
  if ((data[0] & 0x80) != 0) {
    tuning.block_bytes = 1u + 64u * ((data[1] >> 3) & 3u);
    tuning.fan_in = 2 + ((data[1] >> 5) & 3u);
    if ((data[1] & 1u) != 0) tuning.map_from = 0;
    if ((data[1] & 2u) != 0) tuning.texts_stay_from = 0;
    const unsigned budget = (data[1] >> 5) & 7u;
    if (budget == 7) {
      tuning.piece_bytes = 1u + 16u * ((data[1] >> 3) & 3u);
    } else {
      arguments.push_back("-S");
      arguments.push_back(std::to_string(budget) + "b");
    }
  }
  const std::string_view input(reinterpret_cast<const char*>(data) + 4, size - 4);

  const quorbel::command_streams streams{memory_file(), memory_file(), memory_file()};
  std::size_t written = 0;
  while (written < input.size()) {
    const ssize_t n = write(streams.in, input.data() + written, input.size() - written);
    CHECK(n > 0);
    written += static_cast<std::size_t>(n);
  }
  CHECK(lseek(streams.in, 0, SEEK_SET) == 0);

  std::vector<const char*> argv;
  for (const std::string& a : arguments) argv.push_back(a.c_str());
  const int status =
      quorbel::run_command(static_cast<int>(argv.size()), argv.data(), streams, tuning);
  const std::string out = read_back(streams.out);
  const std::string err = read_back(streams.err);
  close(streams.in);
  close(streams.out);
  close(streams.err);
  const std::string in_file = output ? output->take() : std::string();

  std::string expected_out, expected_err;
  const int expected_status = expect(input, o, &expected_out, &expected_err);
  CHECK(status == expected_status);
  CHECK(err == expected_err);
  CHECK((o.output_file ? in_file : out) == expected_out);
  CHECK(!o.output_file || out.empty());
  return 0;
}
