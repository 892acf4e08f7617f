// The anniversaries tables: added to a store of an earlier build, accepted
// by every check afterwards, carried by backups, and reminders claimed once.
#include "archive/anniversaries.h"

#include "archive/backup.h"
#include "archive/memo_db.h"
#include "tests/archive/archive_test_util.h"

using namespace archive_test;

namespace {

archive::AnniversaryRow Mother() {
  archive::AnniversaryRow r;
  r.name = "妈妈生日";
  r.lunar = true;
  r.month = 8;
  r.day = 15;
  r.startYear = 1966;
  r.remindDays = 3;
  r.remindMinute = 9 * 60;
  return r;
}

TEST(AnniversaryStore, AnEarlierStoreGetsTheTablesAndStaysOurs) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 12, 9), "备忘");
  std::string error;
  ASSERT_TRUE(archive::CheckMemoStore(store.path(), &error)) << error;
  {
    auto a = archive::AnniversaryStore::Open(store.path(), &error);
    ASSERT_TRUE(a) << error;
    archive::AnniversaryRow r = Mother();
    ASSERT_TRUE(a->Save(&r, &error)) << error;
    EXPECT_GT(r.id, 0);
  }
  EXPECT_EQ(Query(store.path(),
                  "SELECT count(*) FROM sqlite_master WHERE name IN "
                  "('anniversaries', 'reminders_shown')"),
            std::vector<std::string>{"2"});
  // The whole-file check, the runtime's table store and a second opening
  // all take the store with the new tables.
  EXPECT_TRUE(archive::CheckMemoStore(store.path(), &error)) << error;
  store.Close();
  store.Reopen();
  auto again = archive::AnniversaryStore::Open(store.path(), &error);
  ASSERT_TRUE(again) << error;
  std::vector<archive::AnniversaryRow> rows;
  ASSERT_TRUE(again->Load(&rows, &error)) << error;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].name, "妈妈生日");
  EXPECT_TRUE(rows[0].lunar);
  EXPECT_EQ(rows[0].month * 100 + rows[0].day, 815);
  EXPECT_EQ(rows[0].startYear, 1966);
  EXPECT_EQ(rows[0].remindDays, 3);
  EXPECT_EQ(rows[0].remindMinute, 540);

  // Only one of the two there (a store cut short by hand): the other is made.
  Sql(store.path(), "DROP TABLE reminders_shown");
  again.reset();
  again = archive::AnniversaryStore::Open(store.path(), &error);
  ASSERT_TRUE(again) << error;
  ASSERT_TRUE(again->Load(&rows, &error));
  EXPECT_EQ(rows.size(), 1u);
}

TEST(AnniversaryStore, ATableOfTheSameNameButAnotherMakeIsRefused) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Close();
  Sql(store.path(), "CREATE TABLE anniversaries(id INTEGER PRIMARY KEY, name TEXT)");
  std::string error;
  EXPECT_FALSE(archive::AnniversaryStore::Open(store.path(), &error));
  EXPECT_NE(error.find("anniversaries"), std::string::npos) << error;
  EXPECT_FALSE(archive::CheckMemoStore(store.path(), &error));
}

TEST(AnniversaryStore, EditRemoveAndBackupCarriesThem) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  std::string error;
  auto a = archive::AnniversaryStore::Open(store.path(), &error);
  ASSERT_TRUE(a) << error;
  archive::AnniversaryRow first = Mother(), second = Mother();
  second.name = "结婚纪念日";
  second.lunar = false;
  ASSERT_TRUE(a->Save(&first, &error) && a->Save(&second, &error)) << error;
  first.name = "母亲生日";
  ASSERT_TRUE(a->Save(&first, &error)) << error;
  bool claimed = false;
  ASSERT_TRUE(a->ClaimReminder(second.id, 20000, &claimed, &error));
  ASSERT_TRUE(a->Remove(second.id, &error)) << error;
  // A row removed meanwhile (another copy, a restore) is not written back.
  EXPECT_FALSE(a->Save(&second, &error));
  EXPECT_EQ(error, "这个纪念日已被删除");
  EXPECT_EQ(Query(store.path(), "SELECT count(*) FROM reminders_shown"),
            std::vector<std::string>{"0"});

  const std::string copy = dir / "副本.edb";
  PutFile(copy, "");
  ASSERT_TRUE(archive::CopyStore(store.path(), copy, &error)) << error;
  EXPECT_TRUE(archive::CheckMemoStore(copy, &error)) << error;
  EXPECT_EQ(Query(copy, "SELECT name FROM anniversaries"), std::vector<std::string>{"母亲生日"});
}

TEST(AnniversaryStore, AReminderIsClaimedOnceAcrossConnections) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  std::string error;
  auto one = archive::AnniversaryStore::Open(store.path(), &error);
  auto two = archive::AnniversaryStore::Open(store.path(), &error);
  ASSERT_TRUE(one && two) << error;
  bool first = false;
  ASSERT_TRUE(one->ClaimReminder(7, 20800, &first, &error)) << error;
  EXPECT_TRUE(first);
  ASSERT_TRUE(two->ClaimReminder(7, 20800, &first, &error)) << error;
  EXPECT_FALSE(first);
  ASSERT_TRUE(two->ClaimReminder(7, 20801, &first, &error));
  EXPECT_TRUE(first);
  bool claimed = false;
  ASSERT_TRUE(one->ReminderClaimed(7, 20800, &claimed, &error));
  EXPECT_TRUE(claimed);
  // Long past states go; a year back stays.
  ASSERT_TRUE(one->ClaimReminder(8, 21300, &first, &error));
  ASSERT_TRUE(one->ReminderClaimed(7, 20801, &claimed, &error));
  EXPECT_FALSE(claimed);
  ASSERT_TRUE(one->ClaimReminder(9, 21300 - 400, &first, &error));
  ASSERT_TRUE(one->ReminderClaimed(9, 21300 - 400, &claimed, &error));
  EXPECT_TRUE(claimed);
}

}  // namespace
