// The made-up package lists the benchmarks run on: one generator, so the
// microbenchmarks see the same kinds of versions as the command does. The
// other corpus shapes of bench/shapes.h draw on the same pieces.
//
// Everything is drawn from a seeded std::mt19937_64 and reduced with plain
// arithmetic (no std::uniform_int_distribution, whose results differ between
// standard libraries), so a seed gives the same bytes everywhere.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quorbel::bench {

inline constexpr std::uint64_t DEFAULT_SEED = 20240229;

// The seeded source every shape draws from.
class corpus_random {
 public:
  explicit corpus_random(std::uint64_t seed) : engine_(seed) {}

  // 64 random bits.
  std::uint64_t next() { return engine_(); }

  // A value in [0, n); the modulo bias is irrelevant here.
  std::uint64_t below(std::uint64_t n) { return engine_() % n; }

  template <typename Table>
  std::string_view pick(const Table& table) {
    return table[below(table.size())];
  }

 private:
  std::mt19937_64 engine_;
};

inline void append_number(std::string* out, std::uint64_t value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out->push_back(digits[--n]);
}

// Appends `count` lowercase hexadecimal digits, as in a commit hash.
inline void append_hex(corpus_random* random, std::string* out, int count) {
  static constexpr char HEX[] = "0123456789abcdef";
  for (int i = 0; i < count; ++i) out->push_back(HEX[random->below(16)]);
}

namespace package_lists {

inline constexpr std::array<std::string_view, 48> NAME_STEMS = {
    "zlib",  "openssl", "curl",   "json",  "yaml", "xml",    "http", "grpc",   "proto", "boost",
    "fmt",   "spdlog",  "abseil", "re2",   "icu",  "sqlite", "pg",   "redis",  "kafka", "nats",
    "tokio", "serde",   "rand",   "regex", "log",  "time",   "uuid", "base64", "sha2",  "crc32",
    "lz4",   "zstd",    "brotli", "png",   "jpeg", "webp",   "gif",  "font",   "gtk",   "qt",
    "wx",    "sdl",     "vulkan", "gl",    "cuda", "blas",   "fft",  "mpi"};
inline constexpr std::array<std::string_view, 12> NAME_PREFIXES = {
    "", "", "", "", "lib", "lib", "py-", "node-", "go-", "r-", "", "perl-"};
inline constexpr std::array<std::string_view, 12> NAME_SUFFIXES = {
    "", "", "", "", "", "-dev", "-utils", "-core", "-cli", "-rs", "2", "-tools"};
inline constexpr std::array<std::string_view, 12> EXTRA_WORDS = {
    "amd64",  "arm64", "all",    "main",   "universe", "[installed]",
    "stable", "i386",  "noarch", "x86_64", "testing",  "[installed,automatic]"};
inline constexpr std::array<std::string_view, 8> WORDS = {
    "alpha", "beta", "rc", "pre", "dev", "preview", "snapshot", "nightly"};
inline constexpr std::array<std::string_view, 6> BUILD_WORDS = {"build", "sha",   "exp",
                                                                "git",   "linux", "ci"};

// Mostly small numbers, some three- and eight-digit ones, a few past 2^31.
inline std::uint64_t core_number(corpus_random* random) {
  const std::uint64_t roll = random->below(1000);
  if (roll < 700) return random->below(10);
  if (roll < 900) return random->below(100);
  if (roll < 970) return random->below(1000);
  if (roll < 990) return 20000000 + random->below(991231);  // dates used as versions
  return (std::uint64_t{1} << 31) + random->below(std::uint64_t{1} << 33);
}

inline void append_package(corpus_random* random, std::string* out) {
  out->append(random->pick(NAME_PREFIXES));
  out->append(random->pick(NAME_STEMS));
  out->append(random->pick(NAME_SUFFIXES));
}

// Nothing, one or two words after the version, as package managers print them.
inline void append_extra_words(corpus_random* random, std::string* out) {
  const std::uint64_t words = random->below(10);
  if (words < 2) return;
  out->push_back(' ');
  out->append(random->pick(EXTRA_WORDS));
  if (words < 6) return;
  out->push_back(' ');
  out->append(random->pick(EXTRA_WORDS));
}

// One line without its newline: "<package> <version> [words]", the version
// from append_version(out). A version that ends in a stray CR ends the line.
template <typename AppendVersion>
void append_package_line(corpus_random* random, std::string* out, AppendVersion append_version) {
  append_package(random, out);
  out->push_back(' ');
  append_version(out);
  if (out->back() == '\r') return;
  append_extra_words(random, out);
}

inline void append_core(corpus_random* random, std::string* out) {
  const int components = random->below(100) < 85 ? 3 : 4;
  for (int i = 0; i < components; ++i) {
    if (i > 0) out->push_back('.');
    append_number(out, core_number(random));
  }
}

inline void append_prerelease(corpus_random* random, std::string* out) {
  out->push_back('-');
  switch (random->below(8)) {
    case 0:  // alpha, beta.2, rc.11
      out->append(random->pick(WORDS));
      if (random->below(4) != 0) {
        out->push_back('.');
        append_number(out, random->below(20));
      }
      break;
    case 1:  // rc1, beta3
      out->append(random->pick(WORDS));
      append_number(out, random->below(10));
      break;
    case 2:  // rc-1, alpha-beta: hyphens inside the pre-release
      out->append(random->pick(WORDS));
      out->push_back('-');
      if (random->below(2) == 0) {
        append_number(out, random->below(10));
      } else {
        out->append(random->pick(WORDS));
      }
      break;
    case 3:  // nightly.20231231235959: a timestamp, far past 32 bits
      out->append(random->below(2) == 0 ? "nightly." : "snapshot.");
      append_number(out, 20200101000000 + random->below(40000000000));
      break;
    case 4:  // 0.3.7, x.7.z.92: dotted, mixed identifiers
      append_number(out, random->below(5));
      out->push_back('.');
      append_number(out, random->below(10));
      if (random->below(2) == 0) {
        out->append(".x.");
        append_number(out, random->below(100));
      }
      break;
    case 5:  // beta.11.x
      out->append(random->pick(WORDS));
      out->push_back('.');
      append_number(out, random->below(20));
      out->append(".x");
      break;
    default:  // the common plain ones
      out->append(random->below(2) == 0 ? "rc." : "beta.");
      append_number(out, random->below(5));
      break;
  }
}

inline void append_build(corpus_random* random, std::string* out) {
  out->push_back('+');
  out->append(random->pick(BUILD_WORDS));
  out->push_back('.');
  if (random->below(2) == 0) {
    append_number(out, random->below(1000));
  } else {
    append_hex(random, out, 7);
  }
}

inline void append_fresh_version(corpus_random* random, std::string* out) {
  append_core(random, out);
  if (random->below(100) < 30) append_prerelease(random, out);
  if (random->below(100) < 10) append_build(random, out);
}

// The texts users feed by mistake. A trailing carriage return is one of them,
// so only put one at the end of a line or where a stray CR may stand.
inline void append_invalid_version(corpus_random* random, std::string* out) {
  switch (random->below(6)) {
    case 0:  // v1.2.3
      out->push_back('v');
      append_fresh_version(random, out);
      break;
    case 1:  // 1.2.x
      append_number(out, random->below(10));
      out->push_back('.');
      append_number(out, random->below(10));
      out->append(".x");
      break;
    case 2:  // 1.2b.3
      append_number(out, random->below(10));
      out->push_back('.');
      append_number(out, random->below(10));
      out->append("b.");
      append_number(out, random->below(10));
      break;
    case 3:  // 1.2.3_beta: a byte no version holds
      append_core(random, out);
      out->append("_beta");
      break;
    case 4:  // latest
      out->append("latest");
      break;
    default:  // 1.2.3 followed by the CR of a CR LF file
      append_fresh_version(random, out);
      out->push_back('\r');
      break;
  }
}

}  // namespace package_lists

class corpus_generator {
 public:
  explicit corpus_generator(std::uint64_t seed) : random_(seed) {
    // The versions most lines share: a package list repeats the releases
    // everyone is on.
    for (int i = 0; i < POPULAR_COUNT; ++i) {
      std::string text;
      package_lists::append_fresh_version(&random_, &text);
      popular_.push_back(std::move(text));
    }
  }

  // Appends one version text: repeated popular ones, fresh ones with
  // pre-releases and build metadata, and about 3% invalid ones. A trailing
  // carriage return is one of the invalid kinds, so only put it at the end of
  // a line. Returns true when the text was made to be invalid.
  bool append_version(std::string* out) {
    const std::uint64_t roll = random_.below(1000);
    if (roll < 30) {
      package_lists::append_invalid_version(&random_, out);
      return true;
    }
    if (roll < 400) {
      // Skewed towards the first few: a handful of versions are everywhere.
      const std::uint64_t a = random_.below(POPULAR_COUNT);
      const std::uint64_t b = random_.below(POPULAR_COUNT);
      out->append(popular_[a < b ? a : b]);
      return false;
    }
    package_lists::append_fresh_version(&random_, out);
    return false;
  }

  // Appends one line without its newline: "<package> <version> [words]".
  void append_line(std::string* out) {
    package_lists::append_package_line(&random_, out,
                                       [this](std::string* o) { append_version(o); });
  }

 private:
  static constexpr int POPULAR_COUNT = 96;

  corpus_random random_;
  std::vector<std::string> popular_;
};

}  // namespace quorbel::bench
