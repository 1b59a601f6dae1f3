// The corpus shapes bench/make_corpus writes and bench/compare.sh times: each
// a kind of input a user feeds quorbel, or one crafted to find its weak spots.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace quorbel::bench {

struct corpus_shape {
  std::string_view name;
  std::uint64_t default_lines;  // what make_corpus writes when no count is given
  std::string_view about;
};

// The first shape is the default: the package lists the benchmarks always ran on.
inline constexpr std::array<corpus_shape, 13> CORPUS_SHAPES = {{
    {"packages", 1000000, "package lists: \"<package> <version> [words]\", 96 popular versions"},
    {"distinct", 1000000, "package lists of mostly distinct versions, 30% pre-releases"},
    {"versions", 1000000, "versions alone, all distinct, half of them pre-releases"},
    {"long", 200000, "log lines of 200 to 2000 bytes, the version in field 3"},
    {"repeated", 1000000, "\"zlib 1.2.13\" on every line"},
    {"sorted", 1000000, "the valid lines of \"distinct\", in version order"},
    {"reversed", 1000000, "the valid lines of \"distinct\", in reverse version order"},
    {"flood", 250000, "1.0.0-<8 letters>, all in one window of quorbel 0.1's pre-release table"},
    {"flood-control", 250000, "1.0.0-<8 letters>, letters drawn freely"},
    {"prefix", 1000000, "1.0.0-<40 fixed letters>.<8 letters>: long common prefix"},
    {"prefix-control", 1000000, "1.0.0-<8 letters>.<40 fixed letters>: the same bytes"},
    {"dots", 200000, "1-<248 bytes, 7 in 8 of them dots>: an identifier ends at every dot"},
    {"dots-control", 200000, "1-<248 bytes, 1 in 8 of them a dot>: the same length"},
}};

// The shape of that name, or nullptr.
[[nodiscard]] const corpus_shape* find_shape(std::string_view name) noexcept;

// Writes `lines` lines of the shape to `out` ("sorted" and "reversed" write
// only the valid ones among them): 0, or -1 when a write failed.
[[nodiscard]] int write_corpus(const corpus_shape& shape, std::uint64_t lines, std::uint64_t seed,
                               std::FILE* out);

}  // namespace quorbel::bench
