// The SQL functions of the SQLite extension. SQLite's routines come through
// the table the loader hands over (so the extension links no SQLite of its
// own); extension.cpp keeps it.
#pragma once

#include <sqlite3ext.h>

SQLITE_EXTENSION_INIT3

namespace quorbel::sqlite {

// Adds semver_valid, semver_compare, semver_key and semver_satisfies to the
// connection: an SQLite result code.
[[nodiscard]] int add_functions(sqlite3* db) noexcept;

}  // namespace quorbel::sqlite
