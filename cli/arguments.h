// The command line: the options and the usage text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quorbel {

// The usage text, a line each; -h prints it.
extern const std::span<const std::string_view> USAGE;

// The options, set while the arguments are read and read-only afterwards.
struct sort_settings {
  bool quiet = false;
  bool reverse = false;
  bool show_help = false;
  bool versions_only = false;
  char separator = ' ';
  std::int32_t field = 1;                     // 1-based
  bool v_prefix = false;                      // -l: v1.2.3 and V1.2.3 are versions too
  bool unique = false;                        // -u: the first line of each group of equal versions
  bool prereleases_match = false;             // -p: pre-releases satisfy -m by precedence alone
  bool show_version = false;                  // --version
  const char* range = nullptr;                // -m, as written
  const char* size = nullptr;                 // -S, as written
  const char* temporary_directory = nullptr;  // -T
  // Why the usage is printed besides -h: the first argument not understood,
  // or the option given last without its value (`missing_value`).
  const char* wrong_argument = nullptr;
  bool missing_value = false;
  char terminator = '\n';        // -z: a zero byte ends each line
  std::int32_t group = 0;        // -g, 1-based; 0: no groups
  const char* count = nullptr;   // -n, as written
  bool check = false;            // -c: check the order, write nothing
  const char* output = nullptr;  // -o
};

// Reads the arguments that follow the program name.
[[nodiscard]] sort_settings parse_arguments(int count, const char* const* arguments) noexcept;

// The count of -n: decimal digits alone, a count beyond SIZE_MAX being
// SIZE_MAX; absent for anything else.
[[nodiscard]] std::optional<std::size_t> parse_count(std::string_view text) noexcept;

}  // namespace quorbel
