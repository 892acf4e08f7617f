// The store's schema check against any schema. Input: a mode byte, then SQL
// run on an in-memory database (on top of the program's own objects when
// the mode's low bit is set, with the schema writable as a table when the
// next bit is). The check must end within its time limit whatever the
// schema, and what it accepts holds no view and no trigger but the search
// index's own; stale search objects, once dropped, are gone.
#include <sqlite3.h>

#include <chrono>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "util/store_schema.h"

namespace {

bool OnlyOurRunnableObjects(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT count(*) FROM sqlite_master WHERE type = 'view' OR (type = "
                     "'trigger' AND name NOT IN ('search_records_insert', "
                     "'search_records_update', 'search_records_delete'))",
                     -1, &s, nullptr);
  const bool none = s && sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) == 0;
  sqlite3_finalize(s);
  return none;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned mode = data[0];
  const std::string sql(reinterpret_cast<const char*>(data + 1), size - 1);
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK) return 0;
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
  if (mode & 1) {
    const std::string ours = "BEGIN;" +
                             storeschema::RecordsSchemaSql({{"日期", true}, {"事情", false}}) +
                             "INSERT INTO fields VALUES(1, '日期', 8, 20), (2, '事情', 12, 20);" +
                             storeschema::kSearchSchemaSql + "COMMIT;";
    FUZZ_CHECK(sqlite3_exec(db, ours.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK,
               "the program's own schema builds");
  }
  if (mode & 2) sqlite3_exec(db, "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
  {
    // The input's own statements may never end either.
    const storeschema::TimeLimit limit(db, 200);
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3_exec(db, "PRAGMA writable_schema = OFF", nullptr, nullptr, nullptr);
  if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  // A fresh look at the schema, as a new connection to a file would take.
  sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr);
  storeschema::Harden(db);

  const auto start = std::chrono::steady_clock::now();
  bool stale = false;
  std::string error;
  const bool accepted = storeschema::AcceptSchema(db, &stale, &error);
  FUZZ_CHECK(std::chrono::steady_clock::now() - start <
                 std::chrono::milliseconds(storeschema::kSchemaCheckMs + 1000),
             "the schema check ends within its limit");
  FUZZ_CHECK(accepted || !error.empty(), "a refusal has a reason");
  if (accepted && stale) {
    if (storeschema::DropSearchObjects(db, &error)) {
      FUZZ_CHECK(storeschema::AcceptSchema(db, &stale, &error), "accepted once cleaned");
      FUZZ_CHECK(!stale, "no search objects left after dropping them");
    }
  } else if (accepted) {
    FUZZ_CHECK(OnlyOurRunnableObjects(db), "no view and no stranger's trigger accepted");
  }
  sqlite3_close_v2(db);
  return 0;
}
