// make_corpus [--shape NAME] LINES [SEED]: writes LINES made-up lines of the
// shape (default "packages": "<package> <version> [words]") to standard
// output, the same bytes for the same seed. With --shape, LINES may be left
// out for the shape's own default count. make_corpus --list names the shapes.
// The input of bench/compare.sh.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "bench/corpus.h"
#include "bench/shapes.h"

namespace {

bool read_count(const char* text, std::uint64_t* value) {
  if (text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = parsed;
  return true;
}

int usage() {
  std::fprintf(stderr,
               "Usage: make_corpus [--shape NAME] LINES [SEED]\n"
               "       make_corpus --shape NAME      (the shape's default line count)\n"
               "       make_corpus --list            (the shapes)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using quorbel::bench::corpus_shape;
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const corpus_shape& shape : quorbel::bench::CORPUS_SHAPES) {
      std::printf("%-15.*s %8llu  %.*s\n", static_cast<int>(shape.name.size()), shape.name.data(),
                  static_cast<unsigned long long>(shape.default_lines),
                  static_cast<int>(shape.about.size()), shape.about.data());
    }
    return 0;
  }
  const corpus_shape* shape = &quorbel::bench::CORPUS_SHAPES[0];
  int next = 1;
  if (argc >= 3 && std::strcmp(argv[1], "--shape") == 0) {
    shape = quorbel::bench::find_shape(argv[2]);
    if (shape == nullptr) {
      std::fprintf(stderr, "make_corpus: no shape '%s' (see make_corpus --list)\n", argv[2]);
      return 2;
    }
    next = 3;
  }
  // A bare make_corpus still prints its usage instead of a million lines.
  std::uint64_t lines = shape->default_lines;
  std::uint64_t seed = quorbel::bench::DEFAULT_SEED;
  const int counts = argc - next;
  if ((next == 1 && counts == 0) || counts > 2 ||
      (counts >= 1 && !read_count(argv[next], &lines)) ||
      (counts == 2 && !read_count(argv[next + 1], &seed))) {
    return usage();
  }
  if (quorbel::bench::write_corpus(*shape, lines, seed, stdout) != 0 || std::fflush(stdout) != 0 ||
      std::ferror(stdout) != 0) {
    std::perror("make_corpus: write error");
    return 1;
  }
  return 0;
}
