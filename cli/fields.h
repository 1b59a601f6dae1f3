// Fields: where a line's version is (the field'th field, split at every
// separator byte) and the version found there, with a leading v under -l.
#pragma once

#include <quorbel/version.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "cli/arguments.h"
#include "engine/file_source.h"

namespace quorbel {

// The field'th field of the line (1-based), or absent when there are fewer.
// Adjacent separators make empty fields; nothing is trimmed. The
// `readable_after` bytes after the line may be read (and are ignored).
[[nodiscard]] std::optional<std::string_view> find_field(std::string_view line, char separator,
                                                         std::int32_t field,
                                                         std::size_t readable_after = 0) noexcept;

// Parses a field as a version under the settings (-l): 0, or -1 when it is
// none.
[[nodiscard]] int parse_field(const sort_settings& settings, std::string_view field,
                              version_view* version) noexcept;

// Finds the version of a text the sorter holds again, when it is read back
// from a temporary file: the whole text with -v, else its field.
class held_text_finder final : public version_finder {
 public:
  explicit held_text_finder(const sort_settings& settings) noexcept : settings_(settings) {}
  [[nodiscard]] bool find(std::string_view text, version_view* version) const noexcept override;

 private:
  const sort_settings& settings_;
};

}  // namespace quorbel
