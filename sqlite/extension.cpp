// The entry point that `.load` and sqlite3_load_extension call: it adds the
// collation semver (text_order.cpp gives its order) and the functions
// (functions.cpp). SQLite derives the name from the file's,
// libquorbel_sqlite.so: the letters of "quorbel_sqlite" between "sqlite3_"
// and "_init".
#include <cstddef>

#include "sqlite/functions.h"
#include "sqlite/text_order.h"

SQLITE_EXTENSION_INIT1

namespace {

int collate(void*, int x_length, const void* x, int y_length, const void* y) noexcept {
  return quorbel::sqlite::compare_texts(
      {static_cast<const char*>(x), static_cast<std::size_t>(x_length)},
      {static_cast<const char*>(y), static_cast<std::size_t>(y_length)});
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int sqlite3_quorbelsqlite_init(
    sqlite3* db, char** error, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  int result = sqlite3_create_collation_v2(db, "semver", SQLITE_UTF8, nullptr, collate, nullptr);
  if (result == SQLITE_OK) result = quorbel::sqlite::add_functions(db);
  if (result != SQLITE_OK && error != nullptr) {
    *error = sqlite3_mprintf("quorbel_sqlite: %s", sqlite3_errstr(result));
  }
  return result;
}
