// Any bytes as the command's standard input, with options drawn from the
// first three bytes. The command runs in-process on memory files; its output
// and messages must be exactly what the line rules give, worked out here
// line by line with the library alone.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
  std::vector<std::string> arguments;
};

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
// bit 7 these options before the others. A zero byte adds nothing, so the
// inputs written before it existed kept their meaning with a zero inserted.
options pick_options(std::uint8_t flags, std::uint8_t field, std::uint8_t more) {
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
  return o;
}

struct accepted {
  quorbel::version_record version;
  std::string text;
};

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

// The exit status the command must give, with its output and messages.
int expect(std::string_view input, const options& o, std::string* out, std::string* err) {
  quorbel::version_range range;
  if (o.range != nullptr && quorbel::version_range_parse(o.range, &range, nullptr) != 0) {
    // Refused before any input is read, even with -q.
    *err += "Invalid range: ";
    *err += o.range;
    *err += '\n';
    return quorbel::EXIT_USAGE;
  }
  std::vector<accepted> lines;
  std::size_t pos = 0;
  while (pos < input.size()) {
    std::size_t newline = input.find('\n', pos);
    if (newline == std::string_view::npos) newline = input.size();
    const std::string_view physical = input.substr(pos, newline - pos);
    pos = newline + 1;
    if (physical.size() > LONGEST_LINE) {
      *err += "Input line too long: ";
      *err += quorbel::until_zero(physical.substr(0, LONGEST_LINE + 1));
      *err += '\n';
      continue;
    }
    const std::string_view line = quorbel::until_zero(physical);
    if (line.empty()) continue;
    std::string_view field;
    if (!field_of(line, o.separator, o.field, &field)) {
      *err += "Field " + std::to_string(o.field) + " not found in ";
      *err += line;
      *err += '\n';
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
      *err += "Invalid semver: ";
      *err += line;
      *err += '\n';
      continue;
    }
    if (o.range != nullptr &&
        quorbel::version_satisfies(a.version, range, o.prereleases_match ? 1 : 0) == 0) {
      continue;  // left out without a message
    }
    a.text = o.versions_only ? field : line;
    lines.push_back(std::move(a));
  }
  std::stable_sort(lines.begin(), lines.end(), [&o](const accepted& a, const accepted& b) {
    const int c = quorbel::version_compare(a.version, b.version);
    return o.reverse ? c > 0 : c < 0;
  });
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // The sort is stable, so the first of a group is the first in input order.
    if (o.unique && i > 0 &&
        quorbel::version_compare(lines[i - 1].version, lines[i].version) == 0) {
      continue;
    }
    *out += lines[i].text;
    *out += '\n';
  }
  if (o.quiet) err->clear();
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const options o = pick_options(data[0], data[1], data[2]);
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
  const std::string_view input(reinterpret_cast<const char*>(data) + 3, size - 3);

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

  std::string expected_out, expected_err;
  const int expected_status = expect(input, o, &expected_out, &expected_err);
  CHECK(status == expected_status);
  CHECK(err == expected_err);
  CHECK(out == expected_out);
  return 0;
}
