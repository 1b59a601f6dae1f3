#include "bench/shapes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <quorbel/version.h>
#include "bench/corpus.h"

namespace quorbel::bench {
namespace {

constexpr std::size_t FLUSH_AT = std::size_t{1} << 20;

bool write_out(const std::string& bytes, std::FILE* out) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

// The one write loop of every shape: lines gather in a buffer that is written
// in blocks of about a megabyte.
template <typename Source>
int write_lines(Source* source, std::uint64_t lines, std::FILE* out) {
  std::string buffer;
  buffer.reserve(FLUSH_AT + 4096);
  for (std::uint64_t i = 0; i < lines; ++i) {
    source->append_line(&buffer);
    buffer.push_back('\n');
    if (buffer.size() >= FLUSH_AT) {
      if (!write_out(buffer, out)) return -1;
      buffer.clear();
    }
  }
  return write_out(buffer, out) ? 0 : -1;
}

void append_two_digits(std::string* out, std::uint64_t value) {
  out->push_back(static_cast<char>('0' + value / 10));
  out->push_back(static_cast<char>('0' + value % 10));
}

// 20240102: the dates of dev builds and nightlies.
void append_date(corpus_random* random, std::string* out) {
  append_number(out, 2016 + random->below(9));
  append_two_digits(out, 1 + random->below(12));
  append_two_digits(out, 1 + random->below(28));
}

// 20240102031505: a fourteen-digit timestamp, far past 32 bits.
void append_timestamp(corpus_random* random, std::string* out) {
  append_date(random, out);
  append_two_digits(out, random->below(24));
  append_two_digits(out, random->below(60));
  append_two_digits(out, random->below(60));
}

// `count` lowercase letters from one draw: 26^8 < 2^64.
void append_letters(corpus_random* random, std::string* out, int count) {
  std::uint64_t bits = random->next();
  for (int i = 0; i < count; ++i) {
    out->push_back(static_cast<char>('a' + bits % 26));
    bits /= 26;
  }
}

// A commit hash of 7 to 12 hex digits; now and then all digits, which makes
// it a numeric identifier, as happens to projects that publish them.
void append_commit_hash(corpus_random* random, std::string* out) {
  append_hex(random, out, 7 + static_cast<int>(random->below(6)));
}

// A number with the spread of real version components: mostly small.
std::uint64_t spread_number(corpus_random* random, std::uint64_t small, std::uint64_t large) {
  return random->below(100) < 70 ? random->below(small) : random->below(large);
}

// A release core as projects publish them; one in twenty has four numbers
// (the fourth never 0, so it never equals its three-number twin).
void append_release_core(corpus_random* random, std::string* out) {
  append_number(out, spread_number(random, 5, 40));
  out->push_back('.');
  append_number(out, spread_number(random, 12, 200));
  out->push_back('.');
  append_number(out, spread_number(random, 20, 2000));
  if (random->below(20) == 0) {
    out->push_back('.');
    append_number(out, 1 + random->below(999));
  }
}

constexpr std::array<std::string_view, 10> ALPHANUMERIC_IDS = {
    "alpha", "beta", "preview", "beta2", "rc1", "RC2", "SNAPSHOT", "pre", "M3", "next"};

// The pre-releases of package lists, after the '-': numeric, alphanumeric,
// dotted, timestamps, commit hashes, dated dev builds, rc.N and canaries.
void append_varied_prerelease(corpus_random* random, std::string* out) {
  const std::uint64_t roll = random->below(100);
  if (roll < 6) {  // 3
    append_number(out, random->below(30));
  } else if (roll < 18) {  // beta, rc1, SNAPSHOT
    out->append(random->pick(ALPHANUMERIC_IDS));
  } else if (roll < 32) {  // beta.2.x.7, alpha.1: dotted
    out->append(random->pick(package_lists::WORDS));
    out->push_back('.');
    append_number(out, random->below(20));
    if (random->below(2) == 0) {
      out->append(".x.");
      append_number(out, random->below(100));
    }
  } else if (roll < 44) {  // nightly.20240102031505, 20240102031505
    if (random->below(2) == 0) out->append("nightly.");
    append_timestamp(random, out);
  } else if (roll < 56) {  // g1a2b3c4, sha.1a2b3c4d5e, 1a2b3c4
    const std::uint64_t style = random->below(3);
    if (style == 0) out->push_back('g');
    if (style == 1) out->append("sha.");
    append_commit_hash(random, out);
  } else if (roll < 68) {  // dev.20240102.3
    out->append("dev.");
    append_date(random, out);
    out->push_back('.');
    append_number(out, random->below(10));
  } else if (roll < 88) {  // rc.4
    out->append("rc.");
    append_number(out, random->below(16));
  } else {  // canary.1a2b3c4d
    out->append("canary.");
    append_commit_hash(random, out);
  }
}

// The versions of the distinct shape: releases come from a pool that grows
// with the corpus (one entry per five lines), so they repeat as they do
// across package lists while the share of distinct version texts changes
// little with the size (44% of a million lines, 40% of five million);
// pre-releases are mostly new.
class distinct_versions {
 public:
  distinct_versions(corpus_random* random, std::uint64_t lines) : random_(random) {
    pool_.resize(std::max<std::uint64_t>(lines / 5, 64));
    for (std::string& release : pool_) append_release_core(random_, &release);
  }

  void append_version(std::string* out) {
    if (random_->below(1000) < 30) {
      package_lists::append_invalid_version(random_, out);
      return;
    }
    // Skewed towards the first entries: some releases are everywhere.
    const std::uint64_t a = random_->below(pool_.size());
    const std::uint64_t b = random_->below(pool_.size());
    out->append(pool_[std::min(a, b)]);
    if (random_->below(100) < 30) {
      out->push_back('-');
      append_varied_prerelease(random_, out);
    }
    if (random_->below(100) < 10) package_lists::append_build(random_, out);
  }

 private:
  corpus_random* random_;
  std::vector<std::string> pool_;
};

class distinct_source {
 public:
  distinct_source(std::uint64_t seed, std::uint64_t lines)
      : random_(seed), versions_(&random_, lines) {}

  void append_line(std::string* out) {
    package_lists::append_package_line(&random_, out,
                                       [this](std::string* o) { versions_.append_version(o); });
  }

 private:
  corpus_random random_;
  distinct_versions versions_;
};

// A set of 64-bit fingerprints: open addressing, no erase, sized up front.
class fingerprint_set {
 public:
  explicit fingerprint_set(std::uint64_t expected) {
    std::size_t size = 1024;
    while (size < 2 * expected) size *= 2;
    slots_.assign(size, 0);
  }

  // Adds the fingerprint: true when it was new.
  bool insert(std::uint64_t fingerprint) {
    if (fingerprint == 0) fingerprint = 1;  // 0 marks a free slot
    std::size_t slot = fingerprint & (slots_.size() - 1);
    while (slots_[slot] != 0) {
      if (slots_[slot] == fingerprint) return false;
      slot = (slot + 1) & (slots_.size() - 1);
    }
    slots_[slot] = fingerprint;
    return true;
  }

 private:
  std::vector<std::uint64_t> slots_;
};

std::uint64_t fingerprint_of(std::string_view text) {
  std::uint64_t hash = 0xCBF29CE484222325u;  // FNV-1a, then a final mix
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
  hash ^= hash >> 29;
  return hash * 0xBF58476D1CE4E5B9u;
}

// Versions alone, every one distinct in precedence: no build metadata, no
// leading zeros, fourth numbers never 0, so different texts are different
// versions. Half are pre-releases as projects publish them.
class versions_source {
 public:
  versions_source(std::uint64_t seed, std::uint64_t lines) : random_(seed), seen_(lines) {}

  // Draws again until the version is new; whether it is a pre-release is
  // chosen first, so the retries cannot shift the share of pre-releases.
  void append_line(std::string* out) {
    const bool prerelease = random_.below(2) == 0;
    const std::size_t start = out->size();
    do {
      out->resize(start);
      append_version(out, prerelease);
    } while (!seen_.insert(fingerprint_of(std::string_view(*out).substr(start))));
  }

 private:
  void append_core(std::string* out) {
    const std::uint64_t roll = random_.below(100);
    if (roll < 70) {  // 3.12.104
      append_number(out, spread_number(&random_, 10, 100));
      out->push_back('.');
      append_number(out, spread_number(&random_, 20, 300));
      out->push_back('.');
      append_number(out, spread_number(&random_, 50, 3000));
    } else if (roll < 75) {  // 2024.1.15: calendar versions
      append_number(out, 2016 + random_.below(9));
      out->push_back('.');
      append_number(out, 1 + random_.below(12));
      out->push_back('.');
      append_number(out, random_.below(32));
    } else {  // 120.0.6099.109: four numbers
      append_number(out, 50 + random_.below(80));
      out->append(".0.");
      append_number(out, 1000 + random_.below(6000));
      out->push_back('.');
      append_number(out, 1 + random_.below(300));
    }
  }

  void append_version(std::string* out, bool prerelease) {
    append_core(out);
    if (!prerelease) return;
    const std::uint64_t roll = random_.below(100);
    if (roll < 25) {  // -rc.3, -beta.2, -alpha.11
      static constexpr std::array<std::string_view, 4> STAGES = {"-rc.", "-rc.", "-beta.",
                                                                 "-alpha."};
      out->append(random_.pick(STAGES));
      append_number(out, 1 + random_.below(20));
    } else if (roll < 55) {  // -nightly.20240102031505
      out->append("-nightly.");
      append_timestamp(&random_, out);
    } else if (roll < 80) {  // -dev.20240102.3
      out->append("-dev.");
      append_date(&random_, out);
      out->push_back('.');
      append_number(out, random_.below(100));
    } else {  // -canary.1a2b3c4d: a leading zero would make 0123456 equal 123456
      out->append("-canary.");
      const std::size_t hash = out->size();
      append_commit_hash(&random_, out);
      if ((*out)[hash] == '0') (*out)[hash] = 'a';
    }
  }

  corpus_random random_;
  fingerprint_set seen_;
};

// Log lines of 200 to 2000 bytes: "<time> <package> <version> <message>".
// Messages are slices of one long text of log words drawn up front, so a
// gigabyte of lines costs little more than copying it.
class long_source {
 public:
  long_source(std::uint64_t seed, std::uint64_t lines) : random_(seed), versions_(&random_, lines) {
    while (words_.size() < WORDS_LENGTH) {
      words_.push_back(' ');
      words_.append(random_.pick(MESSAGE_WORDS));
    }
  }

  void append_line(std::string* out) {
    const std::size_t start = out->size();
    const std::size_t length = 200 + random_.below(1801);
    append_date_time(out);
    out->push_back(' ');
    package_lists::append_package(&random_, out);
    out->push_back(' ');
    versions_.append_version(out);  // a stray CR stays inside the line
    // From the space before a word, so the version stays whole.
    const std::size_t from = words_.find(' ', random_.below(WORDS_LENGTH - 2 * MAX_LENGTH));
    out->append(words_, from, start + length - out->size());
  }

 private:
  static constexpr std::size_t MAX_LENGTH = 2000;
  static constexpr std::size_t WORDS_LENGTH = 256 * 1024;
  static constexpr std::array<std::string_view, 32> MESSAGE_WORDS = {
      "installed", "upgraded", "from",     "to",       "the",      "package",    "dependency",
      "resolved",  "while",    "reading",  "lockfile", "warning",  "deprecated", "in",
      "favour",    "of",       "cache",    "hit",      "miss",     "fetched",    "bytes",
      "took",      "ms",       "retry",    "mirror",   "checksum", "verified",   "signature",
      "unpacked",  "into",     "/usr/lib", "ok"};

  // 2024-01-02T03:04:05Z: no space inside, so the version stays field 3.
  void append_date_time(std::string* out) {
    append_number(out, 2016 + random_.below(9));
    out->push_back('-');
    append_two_digits(out, 1 + random_.below(12));
    out->push_back('-');
    append_two_digits(out, 1 + random_.below(28));
    out->push_back('T');
    append_two_digits(out, random_.below(24));
    out->push_back(':');
    append_two_digits(out, random_.below(60));
    out->push_back(':');
    append_two_digits(out, random_.below(60));
    out->push_back('Z');
  }

  corpus_random random_;
  distinct_versions versions_;
  std::string words_;
};

struct repeated_source {
  static void append_line(std::string* out) { out->append("zlib 1.2.13"); }
};

// The slot hash of quorbel 0.1's pre-release table, reproduced to craft input
// against it. It read the text eight bytes at a time in the byte order of
// the machine (little-endian x86 there and here).
std::uint64_t old_table_hash(std::string_view text) noexcept {
  std::uint64_t hash = text.size() * 0x9E3779B97F4A7C15u;
  while (!text.empty()) {
    std::uint64_t word = 0;
    const std::size_t n = text.size() < 8 ? text.size() : 8;
    std::memcpy(&word, text.data(), n);
    text.remove_prefix(n);
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 32;
  }
  return hash;
}

// Pre-releases whose hash has its low 20 bits below 4096 (about one text in
// 256): their slot, hash & (table_size - 1), lies in the first 4096 slots of
// any table of up to 2^20 slots (250,000 texts fill one of 2^19 or 2^20),
// and in a few windows of 4096 slots of a larger one. Linear probing then
// walks the whole cluster for every new text.
class flood_source {
 public:
  flood_source(std::uint64_t seed, bool crafted) : random_(seed), crafted_(crafted) {}

  void append_line(std::string* out) {
    out->append("1.0.0-");
    const std::size_t start = out->size();
    for (;;) {
      append_letters(&random_, out, 8);
      if (!crafted_ || (old_table_hash(std::string_view(*out).substr(start)) & LOW_BITS) < WINDOW) {
        return;
      }
      out->resize(start);
    }
  }

 private:
  static constexpr std::uint64_t LOW_BITS = (std::uint64_t{1} << 20) - 1;
  static constexpr std::uint64_t WINDOW = 4096;

  corpus_random random_;
  bool crafted_;
};

// Forty letters every line shares: any key of a fixed width that abbreviates
// the pre-release ties on them.
constexpr std::string_view SHARED_PREFIX = "releasecandidatebuiltfromthemainbranchxx";
static_assert(SHARED_PREFIX.size() == 40);

class prefix_source {
 public:
  prefix_source(std::uint64_t seed, bool shared_first)
      : random_(seed), shared_first_(shared_first) {}

  void append_line(std::string* out) {
    out->append("1.0.0-");
    if (shared_first_) {
      out->append(SHARED_PREFIX);
      out->push_back('.');
      append_letters(&random_, out, 8);
    } else {
      append_letters(&random_, out, 8);
      out->push_back('.');
      out->append(SHARED_PREFIX);
    }
  }

 private:
  corpus_random random_;
  bool shared_first_;
};

// "1-" and 248 bytes: with mostly dots, an identifier (mostly an empty one)
// ends at every dot, the most identifiers a version can hold; the control has
// the same length with one dot in eight bytes.
class dots_source {
 public:
  dots_source(std::uint64_t seed, bool mostly_dots) : random_(seed), mostly_dots_(mostly_dots) {}

  void append_line(std::string* out) {
    static constexpr char ALNUM[] = "0123456789abcdefghijklmnopqrstuv";
    out->append("1-");
    for (int i = 0; i < 248 / 8; ++i) {
      std::uint64_t bits = random_.next();
      for (int j = 0; j < 8; ++j, bits >>= 8) {
        const bool one_in_eight = (bits & 7) == 0;
        out->push_back(one_in_eight != mostly_dots_ ? '.' : ALNUM[(bits >> 3) & 31]);
      }
    }
  }

 private:
  corpus_random random_;
  bool mostly_dots_;
};

// The distinct shape's valid lines, ordered by the library's precedence with
// a stable sort (equal versions keep their order); invalid lines are left out.
class ordered_source {
 public:
  ordered_source(std::uint64_t seed, std::uint64_t lines, bool reversed) {
    distinct_source source(seed, lines);
    std::vector<std::size_t> ends;
    ends.reserve(lines);
    for (std::uint64_t i = 0; i < lines; ++i) {
      source.append_line(&text_);
      ends.push_back(text_.size());
    }
    // Views into text_, which no longer grows.
    std::size_t start = 0;
    for (const std::size_t end : ends) {
      const std::string_view line(text_.data() + start, end - start);
      const std::size_t space = line.find(' ');
      const std::string_view field = line.substr(space + 1, line.find(' ', space + 1) - space - 1);
      version_view version;
      if (version_parse_view(field, &version) == 0) {
        order_.push_back({{version.major, version.minor, version.patch, version.fourth},
                          version.prerelease,
                          static_cast<std::uint32_t>(lines_.size())});
        lines_.push_back(line);
      }
      start = end;
    }
    std::stable_sort(order_.begin(), order_.end(),
                     [](const key& x, const key& y) { return compare(x, y) < 0; });
    if (reversed) std::reverse(order_.begin(), order_.end());
  }

  std::uint64_t size() const { return order_.size(); }

  // 1 when every line ranks at or after the one before it (at or before, for
  // the reverse order) by version_compare alone, else 0.
  [[nodiscard]] int in_order(bool reversed) const {
    for (std::size_t i = 1; i < order_.size(); ++i) {
      const int c = version_compare(view_of(order_[i - 1]), view_of(order_[i]));
      if (reversed ? c < 0 : c > 0) return 0;
    }
    return 1;
  }

  void append_line(std::string* out) { out->append(lines_[order_[next_++].line]); }

 private:
  // What precedence reads of a version, kept small so that the sort moves
  // little: the build and the raw text never count.
  struct key {
    std::array<std::int32_t, 4> numbers;
    std::optional<std::string_view> prerelease;
    std::uint32_t line;
  };

  static version_view view_of(const key& x) {
    version_view view;
    view.major = x.numbers[0];
    view.minor = x.numbers[1];
    view.patch = x.numbers[2];
    view.fourth = x.numbers[3];
    view.prerelease = x.prerelease;
    return view;
  }

  // version_compare reads the numbers first, in this order and as these
  // signed values, and ranks a release above its pre-releases; it is called
  // only when both are pre-releases of the same numbers, because it scans
  // both for a zero byte whatever the numbers say. in_order checks the result
  // with version_compare alone.
  static int compare(const key& x, const key& y) {
    if (x.numbers != y.numbers) return x.numbers < y.numbers ? -1 : 1;
    if (!x.prerelease || !y.prerelease) {
      return static_cast<int>(!x.prerelease) - static_cast<int>(!y.prerelease);
    }
    return version_compare(view_of(x), view_of(y));
  }

  std::string text_;
  std::vector<std::string_view> lines_;
  std::vector<key> order_;
  std::size_t next_ = 0;
};

}  // namespace

const corpus_shape* find_shape(std::string_view name) noexcept {
  for (const corpus_shape& shape : CORPUS_SHAPES) {
    if (shape.name == name) return &shape;
  }
  return nullptr;
}

int write_corpus(const corpus_shape& shape, std::uint64_t lines, std::uint64_t seed,
                 std::FILE* out) {
  const std::string_view name = shape.name;
  if (name == "packages") {
    corpus_generator source(seed);
    return write_lines(&source, lines, out);
  }
  if (name == "distinct") {
    distinct_source source(seed, lines);
    return write_lines(&source, lines, out);
  }
  if (name == "versions") {
    versions_source source(seed, lines);
    return write_lines(&source, lines, out);
  }
  if (name == "long") {
    long_source source(seed, lines);
    return write_lines(&source, lines, out);
  }
  if (name == "repeated") {
    repeated_source source;
    return write_lines(&source, lines, out);
  }
  if (name == "sorted" || name == "reversed") {
    const bool reversed = name == "reversed";
    ordered_source source(seed, lines, reversed);
    if (source.in_order(reversed) == 0) {
      std::fprintf(stderr, "make_corpus: the %s lines are out of order\n", name.data());
      return -1;
    }
    return write_lines(&source, source.size(), out);
  }
  if (name == "flood" || name == "flood-control") {
    flood_source source(seed, name == "flood");
    return write_lines(&source, lines, out);
  }
  if (name == "prefix" || name == "prefix-control") {
    prefix_source source(seed, name == "prefix");
    return write_lines(&source, lines, out);
  }
  if (name == "dots" || name == "dots-control") {
    dots_source source(seed, name == "dots");
    return write_lines(&source, lines, out);
  }
  return -1;
}

}  // namespace quorbel::bench
