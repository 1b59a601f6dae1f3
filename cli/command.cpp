// The command's flow: arguments, then input, then output, each failure with
// its message and status.
#include "cli/command.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "cli/arguments.h"
#include "cli/budget.h"
#include "cli/check.h"
#include "cli/fields.h"
#include "cli/input_watch.h"
#include "cli/output.h"
#include "cli/output_file.h"
#include "cli/reading.h"
#include "cli/standard_streams.h"
#include "engine/io.h"
#include "engine/sorter.h"

#ifndef QUORBEL_VERSION
#define QUORBEL_VERSION "unknown"
#endif

namespace quorbel {

namespace {

// Prints the lines of a text; the status is `status`, or EXIT_TROUBLE when
// they cannot be written.
int print(const command_streams& streams, const std::string_view* lines, std::size_t count,
          int status) noexcept {
  const int error = write_lines(streams.out, lines, count);
  if (error != 0) {
    report_error(streams.err, "Write error", error);
    return EXIT_TROUBLE;
  }
  return status;
}

constexpr const char* CHANGED_INPUT = "Read error: input file changed while it was sorted";

// Says what stopped the sort and gives the status: temporary files are in
// `directory`, and the output goes to the file `output`, or to standard
// output when it is null.
int report(const command_streams& streams, const sort_status& status,
           const char* directory = nullptr, const char* output = nullptr) noexcept {
  switch (status.what) {
    case sort_status::problem::none: return EXIT_SORTED;
    case sort_status::problem::out_of_memory: report_error(streams.err, "Out of memory", 0); break;
    case sort_status::problem::temporary_file:
      report_error(streams.err, "Temporary file error", directory, status.error);
      break;
    case sort_status::problem::output:
      report_error(streams.err, "Write error", output, status.error);
      break;
    case sort_status::problem::text_changed: report_error(streams.err, CHANGED_INPUT, 0); break;
  }
  return EXIT_TROUBLE;
}

// True when the input is still what it was when reading began; else says
// what became of it. Lines read from a file that changed, or written from
// its mapped pages, are not what it held.
bool input_is_whole(const command_streams& streams, const mapped_input& input,
                    const input_watch& watch) noexcept {
  const input_watch::state file = watch.check();
  const mapped_input::state pages = input.check();
  if (file == input_watch::state::shrank || pages == mapped_input::state::shrank) {
    report_error(streams.err, "Read error: input file shrank while it was sorted", 0);
  } else if (file == input_watch::state::changed) {
    report_error(streams.err, CHANGED_INPUT, 0);
  } else if (pages == mapped_input::state::failed) {
    report_error(streams.err, "Read error", EIO);
  } else {
    return true;
  }
  return false;
}

// True when both descriptors are the same file, as in `quorbel < f 1<> f`.
bool same_file(int a, int b) noexcept {
  struct stat first {};
  struct stat second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Prints "<what><value>" on standard error, for a value that makes no sense,
// and gives the status of a bad argument.
int refuse(const command_streams& streams, std::string_view what, std::string_view value) noexcept {
  for (const std::string_view part : {what, value, std::string_view("\n")}) {
    if (write_fully(streams.err, part) != 0) break;
  }
  return EXIT_USAGE;
}

// -c: checks the order of the input instead of sorting it.
int check_order(const sort_settings& settings, const command_streams& streams,
                const version_range* range, const command_tuning& tuning) noexcept {
  const check_outcome checked = check_lines(streams.in, settings, range, streams.err, tuning);
  switch (checked.why) {
    case check_outcome::stop::in_order: return EXIT_SORTED;
    case check_outcome::stop::disorder: return EXIT_DISORDER;
    case check_outcome::stop::read_error:
      report_error(streams.err, "Read error", checked.error);
      return EXIT_TROUBLE;
    case check_outcome::stop::out_of_memory: break;
  }
  return report(streams, {sort_status::problem::out_of_memory, 0});
}

int sort_lines(const sort_settings& settings, const command_streams& streams,
               const command_tuning& tuning) noexcept {
  version_range range;
  if (settings.range != nullptr) {
    std::size_t stopped = 0;
    if (version_range_parse(settings.range, &range, &stopped) != 0) {
      if (stopped == std::string_view::npos) {
        return report(streams, {sort_status::problem::out_of_memory, 0});
      }
      return refuse(streams, "Invalid range: ", settings.range);
    }
  }
  std::optional<std::size_t> size;
  if (settings.size != nullptr) {
    size = parse_size(settings.size);
    if (!size) return refuse(streams, "Invalid size: ", settings.size);
  }
  memory_budget budget(size);
  std::size_t limit = SIZE_MAX;
  if (settings.count != nullptr) {
    const auto count = parse_count(settings.count);
    if (!count) return refuse(streams, "Invalid count: ", settings.count);
    limit = *count;
  }
  // As with sort, a check writes no output, so a file for it is a mistake.
  if (settings.check && settings.output != nullptr) {
    return refuse(streams, "Incompatible options: ", "-c -o");
  }
  // A closed standard stream is an error at once, before any input is read;
  // output that goes elsewhere needs no standard output.
  if (streams.in < 0) {
    report_error(streams.err, "Read error", EBADF);
    return EXIT_TROUBLE;
  }
  if (streams.out < 0 && !settings.check && settings.output == nullptr) {
    report_error(streams.err, "Write error", EBADF);
    return EXIT_TROUBLE;
  }
  const version_range* const wanted = settings.range != nullptr ? &range : nullptr;
  if (settings.check) return check_order(settings, streams, wanted, tuning);
  const char* directory = settings.temporary_directory;
  if (directory == nullptr) {
    const char* from_environment = std::getenv("TMPDIR");
    directory =
        from_environment != nullptr && *from_environment != '\0' ? from_environment : "/tmp";
  }
  // The file of -o is made before any input is read: an output that cannot
  // be made is no reason to read it all.
  output_file file;
  if (settings.output != nullptr) {
    if (const int error = file.open(settings.output)) {
      report_error(streams.err, "Write error", settings.output, error);
      return EXIT_TROUBLE;
    }
  }
  const int out = settings.output != nullptr ? file.fd() : streams.out;

  // A file large enough to map needs the budget now. A mapped file takes
  // address space beside the budget's. Its texts stay in its pages only
  // when the whole file leaves room in the budget for everything else, and
  // never when the output goes into the same file, which would change them
  // before they are written.
  const input_watch watch(streams.in);
  const bool into_input = watch.regular() && same_file(streams.in, out);
  mapped_input input;
  bool mapped = false;
  if (watch.size() >= tuning.map_from) {
    const std::size_t room = address_space_left();
    mapped = input.map(streams.in, tuning.map_from, room > budget.get() ? room - budget.get() : 0,
                       settings.terminator);
  }
  const std::size_t texts_stay_from =
      !mapped || input.lines().size() > budget.get() / 2 || into_input ? SIZE_MAX
                                                                       : tuning.texts_stay_from;
  const held_text_finder finder(settings);
  sort_options options;
  options.descending = settings.reverse;
  options.unique = settings.unique;
  options.memory_budget = budget.known() ? budget.get() : SIZE_MAX;
  options.temporary_directory = directory;
  options.finder = &finder;
  options.fan_in = tuning.fan_in;
  options.second_thread = tuning.second_thread;
  options.piece_bytes = tuning.piece_bytes;
  options.terminator = settings.terminator;
  options.prefixed = settings.group != 0;
  options.limit = limit;
  line_sorter sorter(options);
  // Every message is written before the output.
  const read_outcome read = read_lines(streams.in, input, settings, wanted, streams.err, tuning,
                                       texts_stay_from, &budget, &sorter);
  switch (read.why) {
    case read_outcome::stop::end_of_input: break;
    case read_outcome::stop::read_error:
      report_error(streams.err, "Read error", read.error);
      return EXIT_TROUBLE;
    case read_outcome::stop::sorter: return report(streams, read.sorter_status, directory);
  }
  if (tuning.after_reading) tuning.after_reading();
  if (!input_is_whole(streams, input, watch)) return EXIT_TROUBLE;
  const int status = report(streams, sorter.write_sorted(out), directory, settings.output);
  // Texts written from the file's pages may have changed since, unless
  // the output went into the file itself, which changes it.
  if (status == EXIT_SORTED && !into_input && !input_is_whole(streams, input, watch)) {
    return EXIT_TROUBLE;
  }
  // Only a whole output takes the place of the file; else the file stays.
  if (status == EXIT_SORTED && settings.output != nullptr) {
    if (const int error = file.commit()) {
      report_error(streams.err, "Write error", settings.output, error);
      return EXIT_TROUBLE;
    }
  }
  return status;
}

}  // namespace

int run_command(int argc, const char* const* argv, command_streams streams,
                command_tuning tuning) noexcept {
  streams = take_closed_standard_streams(streams);
  set_up_memory();
  const sort_settings settings = argc > 1 ? parse_arguments(argc - 1, argv + 1) : sort_settings{};
  if (settings.show_help) {
    // Which argument was wrong, when one was.
    if (settings.wrong_argument != nullptr) {
      (void)refuse(streams, settings.missing_value ? "Missing value: " : "Unknown argument: ",
                   settings.wrong_argument);
    }
    return print(streams, USAGE.data(), USAGE.size(), EXIT_USAGE);
  }
  if (settings.show_version) {
    const std::string_view version[] = {"quorbel " QUORBEL_VERSION};
    return print(streams, version, 1, EXIT_SORTED);
  }
  return sort_lines(settings, streams, tuning);
}

}  // namespace quorbel
