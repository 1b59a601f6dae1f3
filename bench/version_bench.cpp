// Time per call of the library operations the sort command leans on, over
// the version mix of bench/corpus.h: popular repeats, pre-releases, build
// metadata and a few invalid texts; and of matching ranges of many
// alternatives.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include <quorbel/version.h>
#include "bench/corpus.h"

namespace {

using quorbel::version_record;
using quorbel::version_view;

constexpr std::size_t MIX_SIZE = 4096;  // a power of two, for cheap wrapping

const std::vector<std::string>& version_mix() {
  static const std::vector<std::string> mix = [] {
    quorbel::bench::corpus_generator generator(quorbel::bench::DEFAULT_SEED);
    std::vector<std::string> texts(MIX_SIZE);
    for (std::string& text : texts) generator.append_version(&text);
    return texts;
  }();
  return mix;
}

// The valid versions of the mix, parsed, in their original order.
const std::vector<version_view>& parsed_views() {
  static const std::vector<version_view> views = [] {
    std::vector<version_view> result;
    for (const std::string& text : version_mix()) {
      version_view view;
      if (quorbel::version_parse_view(text, &view) == 0) result.push_back(view);
    }
    return result;
  }();
  return views;
}

struct owned_records {
  std::vector<version_record> records;
  owned_records() {
    for (const std::string& text : version_mix()) {
      version_record record;
      if (quorbel::version_parse(text, &record) == 0) {
        records.push_back(std::move(record));
      } else {
        quorbel::version_release(&record);
      }
    }
  }
  owned_records(const owned_records&) = delete;
  owned_records& operator=(const owned_records&) = delete;
  ~owned_records() {
    for (version_record& record : records) quorbel::version_release(&record);
  }
};

const std::vector<version_record>& parsed_records() {
  static const owned_records owned;
  return owned.records;
}

// Parse into a fresh record and release it again: what a caller that keeps
// no records pays per version.
void BM_version_parse(benchmark::State& state) {
  const auto& mix = version_mix();
  std::size_t i = 0;
  for (auto _ : state) {
    version_record record;
    const int result = quorbel::version_parse(mix[i++ & (MIX_SIZE - 1)], &record);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(record);
    quorbel::version_release(&record);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_version_parse);

void BM_version_parse_view(benchmark::State& state) {
  const auto& mix = version_mix();
  std::size_t i = 0;
  for (auto _ : state) {
    version_view view;
    const int result = quorbel::version_parse_view(mix[i++ & (MIX_SIZE - 1)], &view);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(view);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_version_parse_view);

// Pairs a fixed stride apart: mostly settled by the numbers.
template <typename Record>
void compare_spread(benchmark::State& state, const std::vector<Record>& parsed) {
  const std::size_t n = parsed.size();
  std::size_t i = 0;
  for (auto _ : state) {
    const int c = quorbel::version_compare(parsed[i % n], parsed[(i + 1237) % n]);
    benchmark::DoNotOptimize(c);
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_version_compare_view(benchmark::State& state) { compare_spread(state, parsed_views()); }
BENCHMARK(BM_version_compare_view);

// Neighbours in sorted order: what the last rounds of a sort compare, where
// the numbers often tie and the pre-releases decide.
void BM_version_compare_view_neighbours(benchmark::State& state) {
  std::vector<version_view> sorted = parsed_views();
  std::sort(sorted.begin(), sorted.end(), [](const version_view& a, const version_view& b) {
    return quorbel::version_compare(a, b) < 0;
  });
  const std::size_t n = sorted.size() - 1;
  std::size_t i = 0;
  for (auto _ : state) {
    const int c = quorbel::version_compare(sorted[i], sorted[i + 1]);
    benchmark::DoNotOptimize(c);
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_version_compare_view_neighbours);

void BM_version_compare_record(benchmark::State& state) { compare_spread(state, parsed_records()); }
BENCHMARK(BM_version_compare_record);

// Records own their texts, so sort pointers to them.
void BM_version_compare_record_neighbours(benchmark::State& state) {
  std::vector<const version_record*> sorted;
  for (const version_record& record : parsed_records()) sorted.push_back(&record);
  std::sort(sorted.begin(), sorted.end(), [](const version_record* a, const version_record* b) {
    return quorbel::version_compare(*a, *b) < 0;
  });
  const std::size_t n = sorted.size() - 1;
  std::size_t i = 0;
  for (auto _ : state) {
    const int c = quorbel::version_compare(*sorted[i], *sorted[i + 1]);
    benchmark::DoNotOptimize(c);
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_version_compare_record_neighbours);

// Matching the mix against a range of N alternatives: N exact versions, or
// N empty ones (every release). The time should hardly grow with N.
void satisfies_alternatives(benchmark::State& state, bool exact) {
  std::string text;
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    text += (i == 0 ? "" : "||") + (exact ? "1.2." + std::to_string(i) : std::string());
  }
  quorbel::version_range range;
  if (quorbel::version_range_parse(text, &range, nullptr) != 0) state.SkipWithError("no range");
  const auto& parsed = parsed_views();
  std::size_t i = 0;
  for (auto _ : state) {
    const int matched = quorbel::version_satisfies(parsed[i++ % parsed.size()], range);
    benchmark::DoNotOptimize(matched);
  }
  state.SetItemsProcessed(state.iterations());
}
void BM_version_satisfies_exact(benchmark::State& state) { satisfies_alternatives(state, true); }
BENCHMARK(BM_version_satisfies_exact)->Arg(1)->Arg(100)->Arg(10000);
void BM_version_satisfies_empty(benchmark::State& state) { satisfies_alternatives(state, false); }
BENCHMARK(BM_version_satisfies_empty)->Arg(1)->Arg(60000);

// A whole std::sort of the parsed mix, reported per element.
void BM_sort_views(benchmark::State& state) {
  const auto& parsed = parsed_views();
  std::vector<version_view> work;
  for (auto _ : state) {
    state.PauseTiming();
    work = parsed;
    state.ResumeTiming();
    std::sort(work.begin(), work.end(), [](const version_view& a, const version_view& b) {
      return quorbel::version_compare(a, b) < 0;
    });
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(parsed.size()));
}
BENCHMARK(BM_sort_views);

}  // namespace

BENCHMARK_MAIN();
