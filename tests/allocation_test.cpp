// The command when operator new fails part-way: a second thread is a
// shortcut, and without it the output must still be complete and in order.
// The command's and the engine's own memory comes from malloc and stays.
// Also the library: a range parse or an increment fails cleanly, matching
// never allocates.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <quorbel/version.h>
#include "cli/command.h"
#include "tests/command_harness.h"

namespace {

// Allocations left before every operator new fails; -1 for no limit.
std::atomic<long> allocations_left{-1};

}  // namespace

void* operator new(std::size_t size) {
  for (long left = allocations_left.load(); left >= 0;) {
    if (left == 0) throw std::bad_alloc();
    if (allocations_left.compare_exchange_weak(left, left - 1)) break;
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace quorbel {
namespace {

using namespace quorbel::testing;

// Runs the command on `input` with operator new failing after `allowed`
// allocations; nothing else in the test allocates meanwhile.
outcome run_with_allocations(const std::vector<std::string>& args, const std::string& input,
                             long allowed, command_tuning tuning) {
  return run_in_process(args, input, tuning, [allowed](auto&& run) {
    allocations_left = allowed;
    const int status = run();
    allocations_left = -1;
    return status;
  });
}

TEST(allocation, failing_part_way_still_sorts_everything) {
  // A pre-release of 129 empty identifiers ranks lowest of all.
  const std::string dots(128, '.');
  const std::string input = "1.0.0-rc.1\n1.0.0-alpha\n1.0.0\n1.0.0-" + dots +
                            "\n2.0.0-beta.2\n2.0.0-beta.11\n0.9.0\n2.0.0-beta.2+b\n";
  const std::string ascending = "0.9.0\n1.0.0-" + dots +
                                "\n1.0.0-alpha\n1.0.0-rc.1\n1.0.0\n2.0.0-beta.2\n"
                                "2.0.0-beta.2+b\n2.0.0-beta.11\n";
  const std::string descending =
      "2.0.0-beta.11\n2.0.0-beta.2\n2.0.0-beta.2+b\n1.0.0\n"
      "1.0.0-rc.1\n1.0.0-alpha\n1.0.0-" +
      dots + "\n0.9.0\n";
  const command_tuning many_runs{.block_bytes = 1};
  for (long allowed = 0; allowed <= 60; ++allowed) {
    for (const command_tuning& tuning : {command_tuning{}, many_runs}) {
      SCOPED_TRACE("allocations allowed: " + std::to_string(allowed) +
                   (tuning.block_bytes == 1 ? ", many runs" : ""));
      const outcome up = run_with_allocations({}, input, allowed, tuning);
      EXPECT_EQ(up.status, 0);
      EXPECT_EQ(up.err, "");
      EXPECT_EQ(up.out, ascending);
      const outcome down = run_with_allocations({"-r"}, input, allowed, tuning);
      EXPECT_EQ(down.status, 0);
      EXPECT_EQ(down.out, descending);
    }
  }
}

TEST(allocation, a_range_parse_that_runs_out_of_memory_changes_nothing) {
  const std::string_view text = ">=1.2.3-rc.1 <2 || ^3.0.0-beta || 4.x";
  version_record release, prerelease;
  ASSERT_EQ(version_parse("1.0.0", &release), 0);
  ASSERT_EQ(version_parse("3.1.0-beta", &prerelease), 0);
  version_range range;
  for (long allowed = 0;; ++allowed) {
    SCOPED_TRACE("allocations allowed: " + std::to_string(allowed));
    ASSERT_EQ(version_range_parse("1", &range, nullptr), 0);
    std::size_t stopped = 0;
    allocations_left = allowed;
    const int result = version_range_parse(text, &range, &stopped);
    allocations_left = -1;
    if (result == 0) break;
    EXPECT_EQ(stopped, std::string_view::npos);
    EXPECT_EQ(range.alternatives.size(), 1U);
    ASSERT_LT(allowed, 100);
  }
  // Any allocation now throws, and escaping a noexcept function ends the test.
  allocations_left = 0;
  const int matched[] = {version_satisfies(release, range), version_satisfies(prerelease, range),
                         version_satisfies(prerelease, range, 1)};
  allocations_left = -1;
  EXPECT_EQ(matched[0], 0);
  EXPECT_EQ(matched[1], 0);
  EXPECT_EQ(matched[2], 1);
}

TEST(allocation, an_increment_that_runs_out_of_memory_changes_nothing) {
  const std::string letters(40, 'a');  // longer than a string holds without allocating
  for (long allowed = 0;; ++allowed) {
    SCOPED_TRACE("allocations allowed: " + std::to_string(allowed));
    version_record record;
    ASSERT_EQ(version_parse("1.2.3-" + letters + ".7+b", &record), 0);
    allocations_left = allowed;
    const int result = version_increment(&record, version_step::prerelease);
    allocations_left = -1;
    EXPECT_EQ(record.prerelease, letters + (result == 0 ? ".8" : ".7"));
    EXPECT_EQ(record.build.has_value(), result != 0);
    if (result == 0) break;
    EXPECT_EQ(result, -1);
    ASSERT_LT(allowed, 20);
  }
}

}  // namespace
}  // namespace quorbel
