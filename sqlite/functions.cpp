// The SQL functions, each a thin layer over one operation of the library:
// semver_valid, semver_compare, semver_key and semver_satisfies. A NULL
// argument gives NULL, and so does a text that is not a version where a
// version is needed. All are deterministic and innocuous: the same arguments
// give the same result, and nothing else is read or written.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include <quorbel/version.h>

#include "sqlite/functions.h"
#include "version/internal.h"

namespace quorbel::sqlite {

namespace {

// What an SQL value holds: no text (NULL), a text that is a version, a text
// that is not, or nothing because memory ran out.
enum class value_kind { null, version, other, no_memory };

// Reads the value as a version into *view, whose texts point into the
// value: valid until the value changes.
value_kind read_version(sqlite3_value* value, version_view* view) noexcept {
  const unsigned char* text = sqlite3_value_text(value);
  if (text == nullptr) {
    return sqlite3_value_type(value) == SQLITE_NULL ? value_kind::null : value_kind::no_memory;
  }
  const auto length = static_cast<std::size_t>(sqlite3_value_bytes(value));
  *view = {};
  return version_parse_view({reinterpret_cast<const char*>(text), length}, view) == 0
             ? value_kind::version
             : value_kind::other;
}

// Reads the argument into *view: true when it is a version. Otherwise the
// result stays NULL, or becomes an error when memory ran out.
bool version_argument(sqlite3_context* context, sqlite3_value* value, version_view* view) noexcept {
  const value_kind kind = read_version(value, view);
  if (kind == value_kind::no_memory) sqlite3_result_error_nomem(context);
  return kind == value_kind::version;
}

void valid(sqlite3_context* context, int, sqlite3_value** arguments) noexcept {
  version_view version;
  switch (read_version(arguments[0], &version)) {
    case value_kind::null: break;
    case value_kind::version: sqlite3_result_int(context, 1); break;
    case value_kind::other: sqlite3_result_int(context, 0); break;
    case value_kind::no_memory: sqlite3_result_error_nomem(context); break;
  }
}

void compare(sqlite3_context* context, int, sqlite3_value** arguments) noexcept {
  version_view x, y;
  if (!version_argument(context, arguments[0], &x)) return;
  if (!version_argument(context, arguments[1], &y)) return;
  sqlite3_result_int(context, version_compare(x, y));
}

// version_order_key, without its checks: the version comes from a parse.
void key(sqlite3_context* context, int, sqlite3_value** arguments) noexcept {
  version_view version;
  if (!version_argument(context, arguments[0], &version)) return;
  std::uint8_t room[ORDER_KEY_ROOM];
  const std::size_t length = encode_order_key(version, room);
  sqlite3_result_blob(context, room, static_cast<int>(length), SQLITE_TRANSIENT);
}

void release_range(void* range) noexcept { delete static_cast<version_range*>(range); }

// The range of the value, parsed, or null with the result an error:
// "Invalid range: <range>", or out of memory.
version_range* parse_range(sqlite3_context* context, sqlite3_value* value) noexcept {
  const unsigned char* text = sqlite3_value_text(value);
  auto* range = new (std::nothrow) version_range;
  if (text == nullptr || range == nullptr) {
    delete range;
    sqlite3_result_error_nomem(context);
    return nullptr;
  }
  const std::string_view written(reinterpret_cast<const char*>(text),
                                 static_cast<std::size_t>(sqlite3_value_bytes(value)));
  std::size_t stopped = 0;
  if (version_range_parse(written, range, &stopped) == 0) return range;
  delete range;
  char* message = nullptr;
  if (stopped != std::string_view::npos) message = sqlite3_mprintf("Invalid range: %s", text);
  if (message == nullptr) {
    sqlite3_result_error_nomem(context);
    return nullptr;
  }
  sqlite3_result_error(context, message, -1);
  sqlite3_free(message);
  return nullptr;
}

// semver_satisfies(text, range) and semver_satisfies(text, range, prereleases).
// A range that stays the same from row to row is parsed once: SQLite keeps
// it with the argument.
void satisfies(sqlite3_context* context, int count, sqlite3_value** arguments) noexcept {
  for (int i = 0; i < count; ++i) {
    if (sqlite3_value_type(arguments[i]) == SQLITE_NULL) return;
  }
  auto* range = static_cast<version_range*>(sqlite3_get_auxdata(context, 1));
  version_range* parsed = nullptr;
  if (range == nullptr) {
    parsed = parse_range(context, arguments[1]);
    if (parsed == nullptr) return;
    range = parsed;
  }
  version_view version;
  if (version_argument(context, arguments[0], &version)) {
    const int let_in = count == 3 && sqlite3_value_int(arguments[2]) != 0 ? 1 : 0;
    sqlite3_result_int(context, version_satisfies(version, *range, let_in));
  }
  // Last: SQLite may release the range before this call returns.
  if (parsed != nullptr) sqlite3_set_auxdata(context, 1, parsed, release_range);
}

}  // namespace

int add_functions(sqlite3* db) noexcept {
  constexpr int FLAGS = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  struct function {
    const char* name;
    int arguments;
    void (*call)(sqlite3_context*, int, sqlite3_value**) noexcept;
  };
  const function functions[] = {{"semver_valid", 1, valid},
                                {"semver_compare", 2, compare},
                                {"semver_key", 1, key},
                                {"semver_satisfies", 2, satisfies},
                                {"semver_satisfies", 3, satisfies}};
  for (const function& f : functions) {
    const int result =
        sqlite3_create_function(db, f.name, f.arguments, FLAGS, nullptr, f.call, nullptr, nullptr);
    if (result != SQLITE_OK) return result;
  }
  return SQLITE_OK;
}

}  // namespace quorbel::sqlite
