// The SQLite extension, loaded into the real sqlite3 library as `.load`
// loads it, and driven with SQL: its functions, its collation, an index on
// each, and the errors it reports.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A database in memory with the extension loaded.
class database {
 public:
  database() {
    EXPECT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    EXPECT_EQ(sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 1, nullptr), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_load_extension(db_, QUORBEL_SQLITE_EXTENSION, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
  }
  database(const database&) = delete;
  database& operator=(const database&) = delete;
  ~database() { sqlite3_close(db_); }

  // The rows of one statement, a line each, columns joined by '|' and NULL
  // shown as NULL; or the line "error: <message>".
  std::string query(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      return std::string("error: ") + sqlite3_errmsg(db_) + "\n";
    }
    std::string out;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        out += (i > 0 ? "|" : "") + std::string(text != nullptr ? text : "NULL");
      }
      out += "\n";
    }
    if (step != SQLITE_DONE) out = std::string("error: ") + sqlite3_errmsg(db_) + "\n";
    sqlite3_finalize(statement);
    return out;
  }

  // A table t(v TEXT) of the texts, in the order given.
  void make_table(const std::vector<const char*>& texts) {
    EXPECT_EQ(query("CREATE TABLE t(v TEXT)"), "");
    for (const char* text : texts) {
      EXPECT_EQ(query(text == nullptr ? std::string("INSERT INTO t VALUES (NULL)")
                                      : std::string("INSERT INTO t VALUES ('") + text + "')"),
                "");
    }
  }

 private:
  sqlite3* db_ = nullptr;
};

TEST(sqlite_extension, functions_give_these_results) {
  const std::pair<const char*, const char*> rows[] = {
      {"semver_valid('1.2.3'), semver_valid(''), semver_valid('1.2.x')", "1|1|0"},
      {"semver_valid('v1.2.3'), semver_valid(NULL), typeof(semver_valid('1'))", "0|NULL|integer"},
      {"semver_compare('1.10.0', '1.9.0'), semver_compare('1.0.0-rc.1', '1.0.0')", "1|-1"},
      {"semver_compare('1.2.3+a', '1.2.3.0'), semver_compare('2147483648.0.0', '0.0.0')", "0|-1"},
      {"semver_compare('v1.0.0', '1.0.0'), semver_compare(NULL, '1.0.0')", "NULL|NULL"},
      {"hex(semver_key('1.2.3')), typeof(semver_key('1')), semver_key('x y')",
       "014028090198|blob|NULL"},
      {"semver_key('1.0.0-rc.1') < semver_key('1.0.0'), semver_key(NULL)", "1|NULL"},
      {"semver_key('1.2.3+build') = semver_key('1.2.3.0')", "1"},
      {"semver_satisfies('1.2.3', '^1.2'), semver_satisfies('2.0.0', '^1.2')", "1|0"},
      {"semver_satisfies('2.0.0-rc.1', '>=1.2 <3'), semver_satisfies('2.0.0-rc.1', '>=1.2 <3', 1)",
       "0|1"},
      {"semver_satisfies('1.2.3', 'v1.2.3'), semver_satisfies('v1.2.3', '1.x')", "1|NULL"},
      {"semver_satisfies(NULL, '1'), semver_satisfies('1', NULL), semver_satisfies('1', '1', NULL)",
       "NULL|NULL|NULL"},
      {"semver_satisfies(NULL, '>=1 <<2'), semver_satisfies('1.0.0', '>=1 <<2')",
       "error: Invalid range: >=1 <<2"},
      {"semver_satisfies('1.0.0', '1 |2', 1)", "error: Invalid range: 1 |2"},
  };
  database db;
  for (const auto& [expressions, expected] : rows) {
    SCOPED_TRACE(expressions);
    EXPECT_EQ(db.query(std::string("SELECT ") + expressions), expected + std::string("\n"));
  }
}

// Texts in collation order: the wrapped major first, versions by precedence
// (ties by bytes, the queries' second key), then the texts that are not
// versions in byte order, a prefix first.
const std::vector<const char*> COLLATED = {
    "2147483648.0.0", "",           "1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-beta.2",
    "1.0.0-beta.11",  "1.0.0-rc.1", "1.0.0",       "1.2.3",         "1.2.3+b",
    "1.2.3.0",        "1.9.0",      "1.10.0",      "1.0.0 ",        "1.2.x",
    "V1.0.0",         "ab",         "abc",         "v1.0.0"};

std::string lines(const std::vector<const char*>& texts) {
  std::string out;
  for (const char* text : texts) out += std::string(text) + "\n";
  return out;
}

TEST(sqlite_extension, collates_versions_first_then_other_texts_by_bytes) {
  database db;
  std::vector<const char*> shuffled(COLLATED.rbegin(), COLLATED.rend());
  std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
  shuffled.push_back(nullptr);
  db.make_table(shuffled);
  // SQLite puts NULL first, whatever the collation.
  EXPECT_EQ(db.query("SELECT v FROM t ORDER BY v COLLATE semver, v"), "NULL\n" + lines(COLLATED));
  // The same order from the key, with the texts that have none last.
  EXPECT_EQ(db.query("SELECT v FROM t WHERE v IS NOT NULL ORDER BY semver_key(v) NULLS LAST, v"),
            lines(COLLATED));
  EXPECT_EQ(db.query("SELECT count(*) FROM t WHERE v = '1.2.3.0' COLLATE semver"), "3\n");
}

TEST(sqlite_extension, indexes_on_the_key_and_the_collation_serve_the_planner) {
  database db;
  db.make_table(COLLATED);
  EXPECT_EQ(db.query("CREATE INDEX by_key ON t(semver_key(v))"), "");
  EXPECT_EQ(db.query("CREATE INDEX by_version ON t(v COLLATE semver)"), "");
  const std::pair<const char*, const char*> plans[] = {
      {"SELECT v FROM t ORDER BY semver_key(v)", "SCAN t USING INDEX by_key"},
      {"SELECT v FROM t WHERE semver_key(v) >= semver_key('1.2.0')", "SEARCH t USING INDEX by_key"},
      {"SELECT v FROM t ORDER BY v COLLATE semver", "SCAN t USING COVERING INDEX by_version"},
  };
  for (const auto& [sql, index] : plans) {
    SCOPED_TRACE(sql);
    EXPECT_NE(db.query(std::string("EXPLAIN QUERY PLAN ") + sql).find(index), std::string::npos);
  }
  EXPECT_EQ(db.query("SELECT v FROM t WHERE semver_key(v) >= semver_key('1.2.3') "
                     "ORDER BY semver_key(v), v"),
            "1.2.3\n1.2.3+b\n1.2.3.0\n1.9.0\n1.10.0\n");
}

TEST(sqlite_extension, satisfies_a_range_that_changes_from_row_to_row) {
  // A constant range is parsed once and kept; one from a column is not.
  database db;
  EXPECT_EQ(db.query("CREATE TABLE r(v TEXT, range TEXT)"), "");
  EXPECT_EQ(db.query("INSERT INTO r VALUES ('1.2.3', '^1'), ('1.2.3', '^2'), ('2.0.0', '^2'), "
                     "('2.0.0', '<2'), ('0.1.0', '^0.1')"),
            "");
  EXPECT_EQ(db.query("SELECT group_concat(semver_satisfies(v, range), '') FROM r"), "10101\n");
  EXPECT_EQ(db.query("SELECT group_concat(semver_satisfies(v, '^1 || ^0.1'), '') FROM r"),
            "11001\n");
}

}  // namespace
