// Helpers shared by the tests of the library and of the engine.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <quorbel/version.h>

namespace quorbel::testing {

// Writes all the bytes at fd's offset; false when that fails.
inline bool append(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A memory file holding `contents`, positioned at its start.
inline int memory_file(std::string_view contents = {}) {
  const int fd = memfd_create("quorbel-test", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_TRUE(append(fd, contents));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// The bytes of a file, also one another process is writing: its offset is
// left as it is.
inline std::string contents_of(int fd) {
  std::string text;
  char block[65536];
  for (ssize_t n; (n = pread(fd, block, sizeof block, static_cast<off_t>(text.size()))) > 0;) {
    text.append(block, static_cast<std::size_t>(n));
  }
  return text;
}

// The record parsed from a text the test knows to be valid.
inline version_record parsed(std::string_view text) {
  version_record record;
  EXPECT_EQ(version_parse(text, &record), 0) << text;
  return record;
}

// Pieces chosen so that random versions often tie or differ in one place only.
// clang-format off
inline const std::vector<std::string> NUMBERS = {
    "0", "1", "2", "10", "00", "01", "002", "",
    "2147483647", "2147483648", "4294967295", "4294967296", "4294967297",
    "18446744073709551616", "99999999999999999999999999999999999999999999999999"};

inline const std::vector<std::string> IDENTIFIERS = {
    "", "0", "00", "1", "01", "2", "10", "-1", "-0", "--1", "-",
    "alpha", "beta", "rc", "rc-1", "a-b", "A", "Z", "x1", "1x", "0a",
    "9223372036854775807", "9223372036854775808", "18446744073709551615",
    "18446744073709551616", "-18446744073709551616", "99999999999999999999999999999",
    "099999999999999999999999999999", "000000000000000000000000000000001"};
// clang-format on

class version_generator {
 public:
  explicit version_generator(unsigned seed) : random_(seed) {}

  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  const std::string& pick(const std::vector<std::string>& from) { return from[below(from.size())]; }

  // A valid version text: one to five core components (the fifth is
  // ignored), maybe a pre-release of one to four identifiers, maybe a build.
  std::string version() {
    std::string text = pick(NUMBERS);
    const std::size_t components = 1 + below(5);
    for (std::size_t i = 1; i < components; ++i) text += "." + pick(NUMBERS);
    if (below(3) != 0) {
      text += "-" + pick(IDENTIFIERS);
      const std::size_t more = below(4);
      for (std::size_t i = 0; i < more; ++i) text += "." + pick(IDENTIFIERS);
    }
    if (below(4) == 0) text += "+" + pick(IDENTIFIERS);
    return text;
  }

  // Any short text, mostly of version bytes, sometimes not.
  std::string text() {
    static constexpr std::string_view EXTRA = std::string_view(" \t=v^~\0\xff\x80", 9);
    std::string result;
    const std::size_t length = below(40);
    for (std::size_t i = 0; i < length; ++i) {
      result += below(20) == 0 ? EXTRA[below(EXTRA.size())] : ".-+0123456789az"[below(15)];
    }
    return result;
  }

 private:
  std::mt19937 random_;
};

// Versions of every kind, with many of equal precedence (other builds, a
// fourth number 0), pre-releases that share long beginnings, whose codes go
// on beyond the part a key holds, and pre-releases of many empty identifiers.
inline std::vector<std::string> sample_versions(unsigned seed, std::size_t count) {
  version_generator g(seed);
  const std::string shared = "1.0.0-" + std::string(30, 'a') + ".";
  std::vector<std::string> texts;
  while (texts.size() < count) {
    std::string text;
    switch (g.below(10)) {
      case 0: text = shared + g.pick(IDENTIFIERS) + "." + g.pick(IDENTIFIERS); break;
      case 1: text = "2.0.0-" + std::string(g.below(250), '.'); break;
      case 2:
        if (texts.empty()) continue;
        text = texts[g.below(texts.size())];
        text = text.substr(0, text.find('+')) + (g.below(2) == 0 ? "+again" : "");
        break;
      default: text = g.version(); break;
    }
    if (text.size() > static_cast<std::size_t>(MAX_VERSION_LENGTH)) continue;
    texts.push_back(text);
  }
  return texts;
}

}  // namespace quorbel::testing
