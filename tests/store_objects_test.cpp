// A store file carries only the objects the program makes: anything someone
// else put there is refused before it can run, search objects of another
// make are dropped, and stores of earlier builds still open.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

#include "runtime/table_store.h"
#include "tests/archive/archive_test_util.h"
#include "tests/support/store_test_util.h"
#include "util/store_schema.h"

using namespace store_test;

namespace {

using archive_test::Sql;

// A store with three memos, closed.
std::string ThreeMemos(const TempDir& dir) {
  const std::string file = dir / "s.edb";
  std::string error;
  EXPECT_TRUE(TableStore::Create(file, kFields, &error)) << error;
  auto store = TableStore::Open(file, &error);
  EXPECT_NE(store, nullptr) << error;
  for (int d = 1; d <= 3; ++d) {
    EXPECT_TRUE(
        store->Append({MakeDateTime(2026, 12, d), "第 " + std::to_string(d) + " 天"}, &error))
        << error;
  }
  return file;
}

std::vector<std::string> Memos(const std::string& file) {
  return Query(file, R"(SELECT id, CAST("事情" AS TEXT) FROM records ORDER BY id)");
}

TEST(StoreObjects, AStrangersTriggerOrViewIsRefusedBeforeItRuns) {
  TempDir dir;
  const std::string file = ThreeMemos(dir);
  const std::vector<std::string> before = Memos(file);
  struct Case {
    const char* sql;
    const char* named;
    const char* drop;
  } cases[] = {
      {"CREATE TRIGGER wipe AFTER INSERT ON records BEGIN DELETE FROM records WHERE id <> NEW.id; "
       "END",
       "触发器“wipe”", "DROP TRIGGER wipe"},
      {R"(CREATE TRIGGER rewrite AFTER UPDATE ON records BEGIN UPDATE records SET "事情" = 'x'; END)",
       "触发器“rewrite”", "DROP TRIGGER rewrite"},
      {"CREATE VIEW everything AS SELECT * FROM records", "视图“everything”",
       "DROP VIEW everything"},
      {"CREATE TABLE notes(x)", "表“notes”", "DROP TABLE notes"},
      {R"(CREATE INDEX by_text ON records("事情"))", "索引“by_text”", "DROP INDEX by_text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Sql(file, c.sql);
    for (auto checking : {TableStore::Checking::kFirst, TableStore::Checking::kInBackground}) {
      std::string error;
      EXPECT_EQ(TableStore::Open(file, &error, checking), nullptr);
      EXPECT_EQ(error.find(storeschema::kForeignObjects), 0u) << error;
      EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
    EXPECT_EQ(Memos(file), before);
    Sql(file, c.drop);
  }
  std::string error;
  EXPECT_NE(TableStore::Open(file, &error), nullptr) << error;
}

TEST(StoreObjects, RecordsThatAreAnEndlessViewAreRefusedAtOnce) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  std::string error;
  ASSERT_TRUE(TableStore::Create(file, kFields, &error)) << error;
  Sql(file,
      "DROP INDEX records_clamped_1; DROP TABLE records; "
      R"(CREATE VIEW records(id, "日期", "事情") AS WITH RECURSIVE n(i) AS )"
      "(SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i, 0.0, x'' FROM n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(TableStore::Open(file, &error, TableStore::Checking::kInBackground), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(error, std::string(storeschema::kNotOurs) + "（记录表不符）");
}

TEST(StoreObjects, SearchObjectsOfAnotherMakeAreDroppedBeforeAnyWrite) {
  TempDir dir;
  const std::string file = ThreeMemos(dir);
  // Under the name of one of ours, doing what none of ours does.
  Sql(file,
      "CREATE TABLE search_pending(id INTEGER PRIMARY KEY);"
      "CREATE TRIGGER search_records_insert AFTER INSERT ON records BEGIN "
      "DELETE FROM records WHERE id <> NEW.id; END");
  for (auto checking : {TableStore::Checking::kInBackground, TableStore::Checking::kFirst}) {
    std::string error;
    auto store = TableStore::Open(file, &error, checking);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_TRUE(Query(file, "SELECT name FROM sqlite_master WHERE name LIKE 'search%'").empty());
    ASSERT_TRUE(store->Append({MakeDateTime(2026, 12, 4), "第 4 天"}, &error)) << error;
  }
  EXPECT_EQ(Memos(file).size(), 5u);
}

TEST(StoreObjects, ATriggerAddedWhileTheStoreIsOpenIsNeverRun) {
  TempDir dir;
  const std::string file = ThreeMemos(dir);
  std::string error;
  auto store = TableStore::Open(file, &error);
  ASSERT_NE(store, nullptr) << error;
  Sql(file, "CREATE TRIGGER wipe AFTER INSERT ON records BEGIN DELETE FROM records; END");
  EXPECT_FALSE(store->Append({MakeDateTime(2026, 12, 4), "第 4 天"}, &error));
  EXPECT_EQ(error.find(storeschema::kForeignObjects), 0u) << error;
  EXPECT_FALSE(store->Begin(&error));
  EXPECT_EQ(Memos(file).size(), 3u);
}

TEST(StoreObjects, ConnectionsAreDefensive) {
  TempDir dir;
  const std::string file = ThreeMemos(dir);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  storeschema::Harden(db);
  int on = -1, trusted = -1;
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, -1, &on);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, -1, &trusted);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(trusted, 0);
  // The schema cannot be edited as a table behind SQLite's back.
  EXPECT_NE(sqlite3_exec(db,
                         "PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = "
                         "'CREATE TABLE records(x)' WHERE name = 'records'",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close_v2(db);
  EXPECT_NE(TableStore::Open(file, nullptr), nullptr);
}

TEST(StoreObjects, TheTimeLimitStopsARunawayStatement) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const auto start = std::chrono::steady_clock::now();
  int rc = 0;
  {
    storeschema::TimeLimit limit(db, 100);
    rc = sqlite3_exec(db,
                      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                      "SELECT count(*) FROM n",
                      nullptr, nullptr, nullptr);
    EXPECT_TRUE(limit.expired());
  }
  EXPECT_EQ(rc, SQLITE_INTERRUPT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // Gone with the scope.
  EXPECT_EQ(sqlite3_exec(db, "SELECT 1", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close_v2(db);
}

}  // namespace
