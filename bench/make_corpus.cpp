// make_corpus LINES [SEED]: writes LINES made-up package lines
// ("<package> <version> [words]") to standard output, the same bytes for the
// same seed. The input of bench/compare.sh.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/corpus.h"

namespace {

constexpr std::size_t FLUSH_AT = std::size_t{1} << 20;

bool read_count(const char* text, std::uint64_t* value) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = parsed;
  return true;
}

bool write_out(const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t lines = 0;
  std::uint64_t seed = quorbel::bench::DEFAULT_SEED;
  if (argc < 2 || argc > 3 || !read_count(argv[1], &lines) ||
      (argc == 3 && !read_count(argv[2], &seed))) {
    std::fprintf(stderr, "Usage: make_corpus LINES [SEED]\n");
    return 2;
  }
  quorbel::bench::corpus_generator generator(seed);
  std::string buffer;
  buffer.reserve(FLUSH_AT + 4096);
  for (std::uint64_t i = 0; i < lines; ++i) {
    generator.append_line(&buffer);
    buffer.push_back('\n');
    if (buffer.size() >= FLUSH_AT) {
      if (!write_out(buffer)) break;
      buffer.clear();
    }
  }
  if (!write_out(buffer) || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::perror("make_corpus: write error");
    return 1;
  }
  return 0;
}
