// Restore: which backup is taken, where the damaged file and its journal
// files go, and that the store's name is never left empty.
#include "archive/restore.h"

#include "archive/backup.h"
#include "archive/memo_db.h"
#include "archive/search.h"
#include "tests/archive/archive_test_util.h"

using namespace archive_test;

namespace {

const double kNow = MakeDateTime(2026, 12, 8, 15, 30, 0);

// A store with backups of three days, each holding that day's memo.
struct Scene {
  ScratchDir dir;
  std::string store = dir / "事件数据.edb";
  std::vector<std::string> backups;  // oldest first

  Scene() {
    MemoFile memos(store);
    for (int day = 5; day <= 7; ++day) {
      memos.Put(Date(2026, 12, day), "第 " + std::to_string(day) + " 天");
      const archive::DailyBackup b = archive::BackUpDaily(store, Date(2026, 12, day));
      EXPECT_EQ(b.outcome, archive::DailyBackup::Outcome::kMade) << b.error;
      backups.push_back(b.file);
    }
  }
  std::vector<std::string> Texts() const {
    return Query(store, R"(SELECT CAST("事情" AS TEXT) FROM records ORDER BY id)");
  }
};

TEST(Restore, NewestGoodBackupReplacesTheStoreAndTheDamagedOneIsKept) {
  Scene s;
  Damage(s.store);
  PutFile(s.store + "-journal", "hot journal");
  PutFile(s.store + "-wal", "log");
  const std::string damaged = SlurpFile(s.store);
  Damage(s.backups[2]);

  const archive::Restored r = archive::RestoreFromBackup(s.store, kNow);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.backup, s.backups[1]);
  EXPECT_EQ(r.damagedFile, s.store + ".损坏-20261208-153000");
  EXPECT_EQ(SlurpFile(s.store), SlurpFile(s.backups[1]));
  EXPECT_EQ(s.Texts(), (std::vector<std::string>{"第 5 天", "第 6 天"}));
  EXPECT_EQ(SlurpFile(r.damagedFile), damaged);
  EXPECT_EQ(SlurpFile(r.damagedFile + "-journal"), "hot journal");
  EXPECT_EQ(SlurpFile(r.damagedFile + "-wal"), "log");
  EXPECT_FALSE(fs::exists(s.store + "-journal"));
  EXPECT_FALSE(fs::exists(s.store + "-wal"));
  EXPECT_NE(r.message.find("事件数据 2026-12-06.edb"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("事件数据.edb.损坏-20261208-153000"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("1 个备份未通过检查"), std::string::npos) << r.message;

  // The program opens what was restored, and search builds its index anew.
  std::string error;
  EXPECT_NE(TableStore::Open(s.store, &error), nullptr) << error;
  archive::SearchResult found;
  ASSERT_TRUE(archive::MemoSearch::Open(s.store, &error)->Search("6 天", &found, &error)) << error;
  EXPECT_EQ(found.total, 1);
}

TEST(Restore, TheDamagedFilesNewNameNeverOverwritesAnything) {
  Scene s;
  Damage(s.store);
  const std::string aside = s.store + ".损坏-20261208-153000";
  PutFile(aside, "earlier");
  PutFile(aside + "-2-journal", "earlier journal");
  PutFile(s.store + "-shm", "index");
  const archive::Restored r = archive::RestoreFromBackup(s.store, kNow, s.backups[0]);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.damagedFile, aside + "-3");
  EXPECT_EQ(SlurpFile(aside), "earlier");
  EXPECT_EQ(SlurpFile(aside + "-2-journal"), "earlier journal");
  EXPECT_FALSE(fs::exists(aside + "-2"));
  EXPECT_EQ(SlurpFile(aside + "-3-shm"), "index");
  EXPECT_EQ(s.Texts(), std::vector<std::string>{"第 5 天"});
}

TEST(Restore, NothingChangesWithoutAGoodBackup) {
  Scene s;
  Damage(s.store);
  const std::string damaged = SlurpFile(s.store);
  Damage(s.backups[0]);

  archive::Restored r = archive::RestoreFromBackup(s.store, kNow, s.backups[0]);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("未通过检查"), std::string::npos) << r.message;
  for (const std::string& b : s.backups) Damage(b);
  r = archive::RestoreFromBackup(s.store, kNow);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("共 3 个"), std::string::npos) << r.message;
  fs::remove_all(archive::BackupDirectory(s.store));
  r = archive::RestoreFromBackup(s.store, kNow);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("没有找到备份"), std::string::npos) << r.message;

  EXPECT_EQ(SlurpFile(s.store), damaged);
  EXPECT_EQ(Names(s.dir.path()), (std::vector<std::string>{"事件数据.edb"}));
}

TEST(Restore, AFailureMidwayLeavesTheOriginal) {
  Scene s;
  Damage(s.store);
  const std::string damaged = SlurpFile(s.store);
  PutFile(s.store + "-journal", "hot journal");
  {
    // A directory that cannot be written: no second name, no temporary
    // file, and the journal stays with its file.
    ObeyFilePermissions obey;
    fs::permissions(s.dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const archive::Restored r = archive::RestoreFromBackup(s.store, kNow);
    fs::permissions(s.dir.path(), fs::perms::owner_all);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("没有访问权限"), std::string::npos) << r.message;
  }
  EXPECT_EQ(SlurpFile(s.store), damaged);
  EXPECT_EQ(SlurpFile(s.store + "-journal"), "hot journal");
  EXPECT_EQ(Names(s.dir.path()),
            (std::vector<std::string>{"事件数据.edb", "事件数据.edb-journal", "备份"}));
}

TEST(Restore, AMissingStoreIsSimplyPutBack) {
  Scene s;
  fs::remove(s.store);
  const archive::Restored r = archive::RestoreFromBackup(s.store, kNow);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.damagedFile, "");
  EXPECT_EQ(r.backup, s.backups[2]);
  EXPECT_EQ(s.Texts().size(), 3u);
}

}  // namespace
