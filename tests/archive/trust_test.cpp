// What the archive takes from a store file it did not write: objects of a
// stranger, a backup left with its write-ahead log, a store another program
// holds locked, the store itself given as its backup.
#include <chrono>

#include "archive/backup.h"
#include "archive/export.h"
#include "archive/memo_db.h"
#include "archive/restore.h"
#include "archive/search.h"
#include "tests/archive/archive_test_util.h"
#include "util/store_schema.h"

using namespace archive_test;

namespace {

const double kNow = MakeDateTime(2026, 12, 8, 15, 30, 0);

std::vector<std::string> Texts(const std::string& file) {
  return Query(file, R"(SELECT CAST("事情" AS TEXT) FROM records ORDER BY id)");
}

struct Scene {
  ScratchDir dir;
  std::string store = dir / "事件数据.edb";
  std::string backup;
  Scene() {
    MemoFile memos(store);
    memos.Put(Date(2026, 12, 5), "第 5 天");
    const archive::DailyBackup b = archive::BackUpDaily(store, Date(2026, 12, 5));
    EXPECT_EQ(b.outcome, archive::DailyBackup::Outcome::kMade) << b.error;
    backup = b.file;
    memos.Put(Date(2026, 12, 6), "第 6 天");
  }
};

TEST(Trust, ABackupLeftWithItsLogIsRestoredWhole) {
  Scene s;
  const std::string copy = s.dir / "日志里.edb";
  {
    MemoFile memos(copy);
    memos.Close();
    Sql(copy, "PRAGMA journal_mode = WAL");
    sqlite3* db = nullptr;
    sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "PRAGMA wal_autocheckpoint = 0", nullptr, nullptr, nullptr);
    for (int d = 1; d <= 6; ++d) {
      const std::string sql = R"(INSERT INTO records("日期", "事情") VALUES()" +
                              std::to_string(Date(2026, 11, d)) + ", CAST('十一月 " +
                              std::to_string(d) + "' AS BLOB))";
      ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    // Left open while the files are read, as a copy taken from a live
    // program would be: the log holds the memos.
    ASSERT_GT(fs::file_size(copy + "-wal"), 0u);
    const archive::Restored r = archive::RestoreFromBackup(s.store, kNow, copy);
    sqlite3_close_v2(db);
    ASSERT_TRUE(r.ok) << r.message;
  }
  EXPECT_EQ(Texts(s.store).size(), 6u);
  EXPECT_FALSE(fs::exists(s.store + "-wal"));
  std::string error;
  EXPECT_NE(TableStore::Open(s.store, &error), nullptr) << error;
}

TEST(Trust, NothingIsMovedUnderAProgramThatHoldsTheStore) {
  Scene s;
  const std::string before = SlurpFile(s.store);
  for (const char* sql : {"BEGIN EXCLUSIVE", "BEGIN IMMEDIATE; DELETE FROM records",
                          "PRAGMA journal_mode = WAL; BEGIN; SELECT * FROM records"}) {
    SCOPED_TRACE(sql);
    {
      store_test::OtherProcess other(s.store, sql);
      EXPECT_TRUE(storeschema::LockedByAnotherProcess(s.store));
      const archive::Restored r = archive::RestoreFromBackup(s.store, kNow);
      EXPECT_FALSE(r.ok);
      EXPECT_NE(r.message.find("正被另一个程序使用"), std::string::npos) << r.message;
      EXPECT_EQ(Names(s.dir.path()).size(),
                fs::exists(s.store + "-wal") ? 4u : (fs::exists(s.store + "-journal") ? 3u : 2u));
    }
    EXPECT_FALSE(storeschema::LockedByAnotherProcess(s.store));
    Sql(s.store, "PRAGMA journal_mode = DELETE");
  }
  EXPECT_EQ(Texts(s.store), (std::vector<std::string>{"第 5 天", "第 6 天"}));
  EXPECT_EQ(SlurpFile(s.store).size(), before.size());
}

TEST(Trust, TheStoreItselfIsNoBackupAndAHealthyStoreIsNotCalledDamaged) {
  Scene s;
  archive::Restored r = archive::RestoreFromBackup(s.store, kNow, s.store);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("就是备忘录数据库文件本身"), std::string::npos) << r.message;
  EXPECT_EQ(Names(s.dir.path()), (std::vector<std::string>{"事件数据.edb", "备份"}));

  r = archive::RestoreFromBackup(s.store, kNow, s.backup);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(r.replacedHealthy);
  EXPECT_EQ(r.damagedFile, s.store + ".恢复前-20261208-153000");
  EXPECT_EQ(r.message.find("损坏"), std::string::npos) << r.message;
  EXPECT_EQ(Texts(r.damagedFile).size(), 2u);
  EXPECT_EQ(Texts(s.store), std::vector<std::string>{"第 5 天"});
}

TEST(Trust, ABackupCarryingAStrangersTriggerIsNotRestored) {
  Scene s;
  Sql(s.backup,
      "CREATE TRIGGER wipe AFTER INSERT ON records BEGIN DELETE FROM records WHERE id <> NEW.id; "
      "END");
  const archive::Restored r = archive::RestoreFromBackup(s.store, kNow, s.backup);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("触发器“wipe”"), std::string::npos) << r.message;
  EXPECT_EQ(Texts(s.store).size(), 2u);
  std::string why;
  EXPECT_FALSE(archive::CheckMemoStore(s.backup, &why));
}

TEST(Trust, AnEndlessViewInThePlaceOfTheRecordsIsNotExported) {
  ScratchDir dir;
  const std::string store = dir / "事件数据.edb";
  MemoFile(store).Close();
  Sql(store,
      "DROP INDEX records_clamped_1; DROP TABLE records; "
      R"(CREATE VIEW records(id, "日期", "事情") AS WITH RECURSIVE n(i) AS )"
      "(SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i, 0.0, x'' FROM n");
  const auto start = std::chrono::steady_clock::now();
  int count = 0;
  std::string error;
  EXPECT_FALSE(archive::ExportMemos(store, dir / "out.md", &count, &error));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(error, std::string(storeschema::kNotOurs) + "（记录表不符）");
  EXPECT_FALSE(fs::exists(dir / "out.md"));
  EXPECT_EQ(archive::MemoSearch::Open(store, &error), nullptr);
}

TEST(Trust, SearchObjectsOfAnotherMakeAreRebuiltAndOursAreKept) {
  Scene s;
  std::string error;
  archive::SearchResult found;
  ASSERT_TRUE(archive::MemoSearch::Open(s.store, &error)->Search("6 天", &found, &error)) << error;
  const auto searchObjects = [&] {
    return Query(s.store,
                 "SELECT type, name, sql FROM sqlite_master WHERE name LIKE 'search%' "
                 "ORDER BY name");
  };
  const std::vector<std::string> ours = searchObjects();
  ASSERT_GE(ours.size(), 8u);
  // The program's own index, as an earlier run built it, is taken as it is.
  {
    auto store = TableStore::Open(s.store, &error);
    ASSERT_NE(store, nullptr) << error;
  }
  EXPECT_EQ(searchObjects(), ours);

  Sql(s.store,
      "DROP TRIGGER search_records_update; CREATE TRIGGER search_records_update AFTER UPDATE ON "
      R"(records BEGIN UPDATE records SET "事情" = 'gone'; END; )"
      "CREATE VIEW search_extra AS SELECT 1");
  auto search = archive::MemoSearch::Open(s.store, &error);
  ASSERT_NE(search, nullptr) << error;
  ASSERT_TRUE(search->Search("5 天", &found, &error)) << error;
  EXPECT_EQ(found.total, 1);
  EXPECT_EQ(searchObjects(), ours);
}

}  // namespace
