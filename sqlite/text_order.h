// The order of the collation semver on texts, apart from SQLite so that the
// tests can hold its quick path to the plain one over every pair.
#pragma once

#include <string_view>

namespace quorbel::sqlite {

// Three-way order: versions by precedence, before every text that is not a
// version; those among themselves by bytes, a prefix first.
[[nodiscard]] int compare_texts(std::string_view x, std::string_view y) noexcept;

// The same order by parsing both texts whole, which compare_texts does only
// when its quick path cannot decide.
[[nodiscard]] int compare_texts_parsed(std::string_view x, std::string_view y) noexcept;

}  // namespace quorbel::sqlite
