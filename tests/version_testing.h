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

// Versions at the edges of the layout: core numbers at the borders of their
// byte counts, wrapped to negative and saturated; numeric identifiers at 19
// and 20 digits, beyond 64 bits, with leading zeros and signs; words that a
// sign starts, or a digit; empty identifiers; identifiers of 40 and more
// bytes that share their first 20 or differ only in their last.
inline std::vector<std::string> edge_texts() {
  const std::string a20(20, 'a');
  const std::string n45 = "123456789012345678901234567890123456789012345";
  // clang-format off
  const std::vector<std::string> cores = {
      "", "0.0.0", "1.2.3", "01.002.3", "1.2.3.4", "1..3", "1.2.3.4.5", "255.256.65535.65536",
      "16777215.16777216.1", "2147483647.0.0", "2147483648.0.0", "3000000000.1",
      "4294967295.4294967296", "99999999999999999999.0.0"};
  const std::vector<std::string> ids = {
      "", "0", "00", "1", "01", "9", "10", "255", "256", "65536", "4294967296",
      "9999999999999999999", "10000000000000000000", "18446744073709551615",
      "18446744073709551616", "000000000000000000000000000001",
      n45, n45 + "6", n45.substr(0, 44) + "6",
      "-1", "-0", "-01", "-18446744073709551616", "-", "--1", "-a", "0-1", "1-",
      "0a", "a0", "A", "Z", "a", "alpha", "alpha-1",
      a20, a20 + "a", a20 + "b", a20 + "b.1", a20 + "-", a20.substr(0, 19) + "b"};
  // clang-format on
  std::vector<std::string> prereleases;
  for (const std::string& id : ids) prereleases.push_back("-" + id);
  for (const char* more :
       {"-.", "-..", "-a..b", "-.1", "-1.", "-1.a", "-a.1", "-a.b.c", "-1.1.1"}) {
    prereleases.push_back(more);
  }
  std::vector<std::string> texts;
  for (const std::string& core : cores) {
    texts.push_back(core);
    texts.push_back(core + "+build");
    for (const std::string& pre : prereleases) texts.push_back(core + pre);
  }
  // Two identifiers, on one core: any first, two in three seconds.
  for (const std::string& first : ids) {
    for (std::size_t j = 0; j < ids.size(); ++j) {
      if (j % 3 != 2) texts.push_back("1.2.3-" + first + "." + ids[j]);
    }
  }
  return texts;
}

}  // namespace quorbel::testing
