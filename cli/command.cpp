// The sort command. Input is read in large blocks into one store; each
// accepted line (or only its field, with -v) is kept there, packed in input
// order and ended by a newline, and gets a compact sort key. Rejected lines
// are reported and their bytes reused. After the sort the texts are written
// out in key order through one buffered writer.
#include "cli/command.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/side_by_side.h"
#include "engine/sort_key.h"
#include "version/internal.h"

namespace quorbel {

namespace {

constexpr std::string_view USAGE[] = {
    "Usage: <versions> | quorbel [options]",
    "Sort all semver-valid versions at input and write them at output.",
    "Available options:",
    "\t-h         show this help",
    "\t-k <num>   extract and use field <num> instead of all line (starts at 1)",
    "\t-r         sort descending",
    "\t-t <char>  use <char> as field separator (defaults to space)",
    "\t-q         do not print any messages",
    "\t-v         print only versions, not entire lines",
};

// Longest line, in bytes before its newline; a longer one is dropped whole.
constexpr std::size_t MAX_LINE_LENGTH = 4095;
// How much of an over-long line its message shows.
constexpr std::size_t LONG_LINE_SHOWN = 4096;
constexpr std::size_t READ_BLOCK = std::size_t{1} << 20;
constexpr std::size_t WRITE_BLOCK = std::size_t{1} << 16;
// The output is gathered in blocks this large; a line always fits.
constexpr std::size_t GATHER_BLOCK = std::size_t{1} << 20;
static_assert(GATHER_BLOCK > MAX_LINE_LENGTH + 1);
static_assert(command_tuning{}.sort_split_from == sort_limits{}.split_from);

// A growable block of raw memory: realloc lets large blocks grow in place.
template <typename T>
struct raw_array {
  T* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;

  raw_array() = default;
  raw_array(const raw_array&) = delete;
  raw_array& operator=(const raw_array&) = delete;
  ~raw_array() { std::free(data); }

  // Makes room for at least `wanted` elements; false when memory runs out.
  bool reserve(std::size_t wanted) noexcept {
    if (wanted <= capacity) return true;
    std::size_t grown = capacity < 1024 ? 1024 : capacity * 2;
    if (grown < wanted) grown = wanted;
    if (grown > SIZE_MAX / sizeof(T)) return false;
    void* moved = std::realloc(data, grown * sizeof(T));
    if (moved == nullptr) return false;
    data = static_cast<T*>(moved);
    capacity = grown;
    return true;
  }
};

// Writes all the bytes, through short writes and interruptions: 0, or the
// error that stopped it.
int write_fully(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;  // no progress: never loop on it
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

// Buffered writes to one descriptor. The first failure is kept and later
// writes are skipped, so the caller checks once at the end.
class writer {
 public:
  writer(int fd, std::size_t capacity) noexcept
      : fd_(fd), capacity_(capacity), buffer_(static_cast<char*>(std::malloc(capacity))) {}
  writer(const writer&) = delete;
  writer& operator=(const writer&) = delete;
  ~writer() { std::free(buffer_); }

  [[nodiscard]] bool ready() const noexcept { return buffer_ != nullptr; }
  [[nodiscard]] int error() const noexcept { return error_; }

  void put(std::string_view bytes) noexcept {
    if (bytes.size() > capacity_ - used_) {
      flush();
      if (bytes.size() >= capacity_) {
        write_all(bytes);
        return;
      }
    }
    std::memcpy(buffer_ + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  void flush() noexcept {
    write_all({buffer_, used_});
    used_ = 0;
  }

 private:
  void write_all(std::string_view bytes) noexcept {
    if (error_ == 0) error_ = write_fully(fd_, bytes);
  }

  int fd_;
  std::size_t capacity_;
  char* buffer_;
  std::size_t used_ = 0;
  int error_ = 0;
};

// Reports a failure of the command itself. Needs no memory, so it works
// when memory has run out; `-q` does not silence it.
void report_error(int fd, const char* what, int error) noexcept {
  char message[256];
  const int length =
      error != 0 ? std::snprintf(message, sizeof message, "%s: %s\n", what, std::strerror(error))
                 : std::snprintf(message, sizeof message, "%s\n", what);
  if (length <= 0) return;
  (void)write_fully(fd, {message, std::min(static_cast<std::size_t>(length), sizeof message - 1)});
}

// The field'th field of the line (1-based), or absent when there are fewer.
std::optional<std::string_view> find_field(std::string_view line, char separator,
                                           std::int32_t field) noexcept {
  const char* start = line.data();
  const char* const end = line.data() + line.size();
  for (std::int32_t n = 1; n < field; ++n) {
    const void* found = std::memchr(start, separator, static_cast<std::size_t>(end - start));
    if (found == nullptr) return std::nullopt;
    start = static_cast<const char*>(found) + 1;
  }
  const void* found = std::memchr(start, separator, static_cast<std::size_t>(end - start));
  const char* stop = found == nullptr ? end : static_cast<const char*>(found);
  return std::string_view(start, static_cast<std::size_t>(stop - start));
}

enum class outcome { ok, read_failed, out_of_memory };

// Reads all input, keeping the accepted texts in `store` and their keys in
// `entries`, and reporting rejected lines on `messages`.
class collector {
 public:
  collector(const sort_settings& settings, writer* messages, raw_array<char>* store,
            raw_array<sort_entry>* entries) noexcept
      : settings_(settings), messages_(messages), store_(store), entries_(entries) {}

  [[nodiscard]] outcome run(int fd, int* read_error) noexcept {
    std::size_t pos = 0;    // first byte not yet examined
    std::size_t end = 0;    // end of the bytes read
    std::size_t zero = 0;   // first zero byte at or after pos, or end
    bool skipping = false;  // inside the tail of an over-long line
    for (;;) {
      if (!store_->reserve(end + READ_BLOCK + 1)) return outcome::out_of_memory;
      const ssize_t got = ::read(fd, store_->data + end, READ_BLOCK);
      if (got < 0) {
        if (errno == EINTR) continue;
        *read_error = errno;
        return outcome::read_failed;
      }
      if (got == 0) break;
      end += static_cast<std::size_t>(got);
      char* const base = store_->data;
      zero = find_zero(base, pos, end);
      while (pos < end) {
        const void* found = std::memchr(base + pos, '\n', end - pos);
        if (found == nullptr) {
          if (!skipping && end - pos > MAX_LINE_LENGTH) {
            too_long(base + pos);
            skipping = true;
          }
          if (skipping) pos = end;
          break;
        }
        const auto newline = static_cast<std::size_t>(static_cast<const char*>(found) - base);
        if (skipping) {
          skipping = false;
        } else if (newline - pos > MAX_LINE_LENGTH) {
          too_long(base + pos);
        } else {
          // A line's text ends at its first zero byte.
          if (zero < pos) zero = find_zero(base, pos, end);
          const std::size_t stop = zero < newline ? zero : newline;
          if (!take_line({base + pos, stop - pos})) return outcome::out_of_memory;
        }
        pos = newline + 1;
      }
      // Keep the unfinished line right after the kept texts, so rejected
      // bytes never pile up.
      const std::size_t kept = store_->size;
      if (pos != kept) std::memmove(base + kept, base + pos, end - pos);
      end = kept + (end - pos);
      pos = kept;
    }
    // A last line without a newline counts whole.
    if (!skipping && pos < end) {
      const std::size_t stop = find_zero(store_->data, pos, end);
      if (!take_line({store_->data + pos, stop - pos})) return outcome::out_of_memory;
    }
    return outcome::ok;
  }

 private:
  void too_long(const char* line) noexcept {
    if (settings_.quiet) return;
    messages_->put("Input line too long: ");
    messages_->put(until_zero({line, LONG_LINE_SHOWN}));
    messages_->put("\n");
  }

  static std::size_t find_zero(const char* base, std::size_t from, std::size_t end) noexcept {
    const void* found = std::memchr(base + from, 0, end - from);
    return found == nullptr ? end
                            : static_cast<std::size_t>(static_cast<const char*>(found) - base);
  }

  // Handles the text of one line, up to its newline or first zero byte;
  // false when memory runs out.
  bool take_line(std::string_view line) noexcept {
    if (line.empty()) return true;
    const auto field = find_field(line, settings_.separator, settings_.field);
    if (!field) {
      if (!settings_.quiet) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(settings_.field));
        messages_->put("Field ");
        messages_->put(number);
        messages_->put(" not found in ");
        messages_->put(line);
        messages_->put("\n");
      }
      return true;
    }
    // One view serves every line: the parse sets its texts, and a core
    // leaves the numbers it does not give as they are, so those start at 0.
    version_view& version = version_;
    version.major = version.minor = version.patch = version.fourth = 0;
    if (version_parse_view(*field, &version) != 0) {
      if (!settings_.quiet) {
        messages_->put("Invalid semver: ");
        messages_->put(line);
        messages_->put("\n");
      }
      return true;
    }
    const std::string_view text = settings_.versions_only ? *field : line;
    const std::size_t offset = store_->size;
    if (offset >= MAX_STORE_SIZE || !entries_->reserve(entries_->size + 1)) return false;
    entries_->data[entries_->size++] = make_sort_entry(version, text, offset);
    // The text moves down over bytes already examined; the store always has
    // room for the newline, even after a last line that had none.
    char* const destination = store_->data + offset;
    if (destination != text.data()) std::memmove(destination, text.data(), text.size());
    destination[text.size()] = '\n';
    store_->size = offset + text.size() + 1;
    return true;
  }

  const sort_settings& settings_;
  writer* messages_;
  raw_array<char>* store_;
  raw_array<sort_entry>* entries_;
  version_view version_;
};

// Writes the texts of sorted keys, each up to and with its newline. The
// lines lie scattered over the store, and most of the time goes to waiting
// for memory, so two threads gather chunks of lines side by side, taking
// turns, and each writes its chunk when the chunk before it is out.
class sorted_writer {
 public:
  sorted_writer(const sorted_keys& order, const char* store, std::size_t store_size, int fd,
                std::size_t chunk_lines) noexcept
      : order_(order),
        store_(store),
        store_size_(store_size),
        fd_(fd),
        chunk_lines_(chunk_lines == 0 ? 1 : chunk_lines),
        chunks_(order.size() / chunk_lines_ + (order.size() % chunk_lines_ != 0 ? 1 : 0)) {}

  // Writes everything with the buffers given, each GATHER_BLOCK bytes; the
  // second may be null. Returns the first write error, or 0.
  int run(char* first_buffer, char* second_buffer) noexcept {
    const bool shared = second_buffer != nullptr && chunks_ > 1 &&
                        side_by_side([&] { write_chunks(0, 2, first_buffer); },
                                     [&] { write_chunks(1, 2, second_buffer); });
    if (!shared) write_chunks(0, 1, first_buffer);
    return error_.load();
  }

 private:
  void write_chunks(std::size_t first, std::size_t stride, char* buffer) noexcept {
    // Lines come from two runs: ask for those of both some way ahead, with
    // the next cache line, into which most lines run on.
    constexpr std::size_t LOOKAHEAD = 16;
    constexpr std::size_t NEXT_CACHE_LINE = 63;
    for (std::size_t chunk = first; chunk < chunks_; chunk += stride) {
      const std::size_t begin = chunk * chunk_lines_;
      sorted_keys lines =
          order_.slice(begin, begin + std::min(chunk_lines_, order_.size() - begin));
      std::size_t used = 0;
      bool my_turn = false;
      while (!lines.empty()) {
        for (const std::uint64_t soon : lines.ahead(LOOKAHEAD)) {
          __builtin_prefetch(store_ + soon);
          __builtin_prefetch(store_ + soon + NEXT_CACHE_LINE);
        }
        const std::uint64_t start = lines.next();
        const char* text = store_ + start;
        const auto* newline =
            static_cast<const char*>(std::memchr(text, '\n', store_size_ - start));
        const auto length = static_cast<std::size_t>(newline - text) + 1;
        if (length > GATHER_BLOCK - used) {
          // A chunk of long lines: out with what is gathered, in turn.
          if (!my_turn) wait_for_turn(chunk);
          my_turn = true;
          write_all(buffer, used);
          used = 0;
        }
        std::memcpy(buffer + used, text, length);
        used += length;
      }
      if (!my_turn) wait_for_turn(chunk);
      write_all(buffer, used);
      turn_.store(chunk + 1);
      turn_.notify_all();
    }
  }

  void wait_for_turn(std::size_t chunk) noexcept {
    for (std::size_t now = turn_.load(); now != chunk; now = turn_.load()) turn_.wait(now);
  }

  // After a failed write, nothing more is written. Only the thread whose
  // turn it is writes.
  void write_all(const char* bytes, std::size_t size) noexcept {
    if (error_.load() == 0) error_.store(write_fully(fd_, {bytes, size}));
  }

  const sorted_keys& order_;
  const char* store_;
  std::size_t store_size_;
  int fd_;
  std::size_t chunk_lines_;
  std::size_t chunks_;
  std::atomic<std::size_t> turn_{0};  // the chunk to be written next
  std::atomic<int> error_{0};
};

int print_usage(const command_streams& streams) noexcept {
  writer out(streams.out, 1024);
  if (!out.ready()) {
    report_error(streams.err, "Out of memory", 0);
    return EXIT_TROUBLE;
  }
  for (std::string_view line : USAGE) {
    out.put(line);
    out.put("\n");
  }
  out.flush();
  if (out.error() != 0) {
    report_error(streams.err, "Write error", out.error());
    return EXIT_TROUBLE;
  }
  return EXIT_USAGE;
}

int sort_lines(const sort_settings& settings, const command_streams& streams,
               const command_tuning& tuning) noexcept {
  raw_array<char> store;
  raw_array<sort_entry> entries;
  writer messages(streams.err, WRITE_BLOCK);
  // The output buffers, one for each thread that gathers lines; with only
  // one, it gathers them all.
  raw_array<char> gathering[2];
  gathering[1].reserve(GATHER_BLOCK);
  if (!messages.ready() || !gathering[0].reserve(GATHER_BLOCK)) {
    report_error(streams.err, "Out of memory", 0);
    return EXIT_TROUBLE;
  }
  collector lines(settings, &messages, &store, &entries);
  int read_error = 0;
  const outcome read = lines.run(streams.in, &read_error);
  // Every message comes before the output.
  messages.flush();
  if (read == outcome::read_failed) {
    report_error(streams.err, "Read error", read_error);
    return EXIT_TROUBLE;
  }
  if (read == outcome::out_of_memory) {
    report_error(streams.err, "Out of memory", 0);
    return EXIT_TROUBLE;
  }
  const sorted_keys order =
      sort_by_version(entries.data, entries.data + entries.size, store.data, settings.reverse,
                      {.split_from = tuning.sort_split_from});
  sorted_writer out(order, store.data, store.size, streams.out, tuning.chunk_lines);
  const int write_error = out.run(gathering[0].data, gathering[1].data);
  if (write_error != 0) {
    report_error(streams.err, "Write error", write_error);
    return EXIT_TROUBLE;
  }
  return EXIT_SORTED;
}

}  // namespace

sort_settings parse_arguments(int count, const char* const* arguments) noexcept {
  sort_settings settings;
  for (int i = 0; i < count; ++i) {
    const std::string_view argument = arguments[i];
    if (argument == "-q") {
      settings.quiet = true;
    } else if (argument == "-r") {
      settings.reverse = true;
    } else if (argument == "-h") {
      settings.show_help = true;
    } else if (argument == "-v") {
      settings.versions_only = true;
    } else if (argument == "-t") {
      if (i + 1 == count) break;  // a trailing -t has no effect
      settings.separator = arguments[++i][0];
    } else if (argument == "-k") {
      if (i + 1 == count) {
        settings.show_help = true;
        break;
      }
      std::size_t consumed = 0;
      const std::int32_t field = convert_integer(arguments[++i], &consumed);
      settings.field = field < 1 ? 1 : field;
    } else {
      settings.show_help = true;
    }
  }
  return settings;
}

int run_command(int argc, const char* const* argv, command_streams streams,
                command_tuning tuning) noexcept {
  const sort_settings settings = argc > 1 ? parse_arguments(argc - 1, argv + 1) : sort_settings{};
  if (settings.show_help) return print_usage(streams);
  return sort_lines(settings, streams, tuning);
}

}  // namespace quorbel
