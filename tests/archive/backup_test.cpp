// Daily backups: retention over two simulated years, one a day, what a
// backup holds, and failures that must leave nothing behind.
#include "archive/backup.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "archive/memo_db.h"
#include "archive/search.h"
#include "tests/archive/archive_test_util.h"

using namespace archive_test;
using Outcome = archive::DailyBackup::Outcome;

namespace {

std::string Name(double day) { return "事件数据 " + archive::IsoDate(day) + ".edb"; }

// Names of backups of the days from `first` to `last`.
std::vector<std::string> Days(double first, double last) {
  std::vector<std::string> names;
  for (double day = first; day <= last; ++day) names.push_back(Name(day));
  return names;
}

std::vector<std::string> Backups(const std::string& store) {
  std::vector<std::string> names;
  for (const auto& b : archive::ListBackups(store)) names.push_back(fs::path(b.path).filename());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The last day of each month from (y1, m1) to (y2, m2).
std::vector<std::string> MonthEnds(int y1, int m1, int y2, int m2) {
  std::vector<std::string> names;
  for (int y = y1, m = m1; y * 12 + m <= y2 * 12 + m2; m == 12 ? (++y, m = 1) : ++m) {
    const double next = m == 12 ? Date(y + 1, 1, 1) : Date(y, m + 1, 1);
    names.push_back(Name(next - 1));
  }
  return names;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Backup, RetentionDayByDayOverTwoYears) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2025, 1, 1), "新年");
  const std::string folder = archive::BackupDirectory(store.path());
  fs::create_directories(folder);
  const std::vector<std::string> foreign = {"说明.txt", "事件数据 2025-01-01.edb.bak",
                                            "事件数据 2025-13-01.edb", "其他 2025-01-01.edb"};
  for (const std::string& name : foreign) PutFile(folder + "/" + name, "not a backup");

  std::set<std::string> made;
  for (double day = Date(2025, 1, 1); day <= Date(2027, 3, 10); ++day) {
    const archive::DailyBackup backup = archive::BackUpDaily(store.path(), day);
    ASSERT_EQ(backup.outcome, Outcome::kMade) << backup.error;
    EXPECT_EQ(fs::path(backup.file).filename(), Name(day));
    for (const std::string& removed : backup.removed) {
      EXPECT_EQ(made.erase(fs::path(removed).filename()), 1u) << removed;
    }
    made.insert(Name(day));
    if (day == Date(2025, 1, 20)) {
      EXPECT_EQ(Backups(store.path()), Days(Date(2025, 1, 7), day));
    } else if (day == Date(2025, 3, 15)) {
      EXPECT_EQ(Backups(store.path()),
                Sorted(MonthEnds(2025, 1, 2025, 2) + Days(Date(2025, 3, 2), day)));
    } else if (day == Date(2026, 12, 31)) {
      EXPECT_EQ(Backups(store.path()),
                Sorted(MonthEnds(2025, 1, 2026, 11) + Days(Date(2026, 12, 18), day)));
    }
  }
  // Months more than 24 back lose their backup too.
  const std::vector<std::string> last =
      Sorted(MonthEnds(2025, 4, 2027, 1) + Days(Date(2027, 2, 25), Date(2027, 3, 10)));
  EXPECT_EQ(Backups(store.path()), last);
  EXPECT_EQ(std::vector<std::string>(made.begin(), made.end()), last);
  EXPECT_EQ(Names(folder), Sorted(last + foreign));
}

TEST(Backup, AtMostOneADayAndTheSecondCallOpensNothing) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 12, 8), "早上");
  const archive::DailyBackup first = archive::BackUpDaily(store.path(), Date(2026, 12, 8));
  ASSERT_EQ(first.outcome, Outcome::kMade) << first.error;
  const std::string bytes = SlurpFile(first.file);

  store.Put(Date(2026, 12, 8), "晚上改过");
  {
    // The store cannot even be opened now; today's backup is found by name.
    ObeyFilePermissions obey;
    fs::permissions(store.path(), fs::perms::none);
    const archive::DailyBackup again = archive::BackUpDaily(store.path(), Date(2026, 12, 8));
    EXPECT_EQ(again.outcome, Outcome::kAlreadyMade);
    EXPECT_EQ(again.file, first.file);
    fs::permissions(store.path(), fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(SlurpFile(first.file), bytes);
  EXPECT_EQ(archive::BackUpDaily(store.path(), Date(2026, 12, 9)).outcome, Outcome::kMade);
  EXPECT_EQ(Query(archive::BackupPath(store.path(), Date(2026, 12, 9)),
                  R"(SELECT CAST("事情" AS TEXT) FROM records)"),
            std::vector<std::string>{"晚上改过"});
}

TEST(Backup, ACopyOfTheRecordsWithoutTheIndexLeavingTheStoreAsItWas) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  for (int i = 0; i < 300; ++i) store.Put(Date(2026, 1, 1) + i, "第 " + std::to_string(i) + " 天");
  std::string error;
  ASSERT_TRUE(archive::MemoSearch::Open(store.path(), &error)->Update(&error)) << error;
  const std::string before = SlurpFile(store.path());

  const archive::DailyBackup backup = archive::BackUpDaily(store.path(), Date(2026, 12, 1));
  ASSERT_EQ(backup.outcome, Outcome::kMade) << backup.error;
  EXPECT_EQ(SlurpFile(store.path()), before);
  EXPECT_EQ(Query(backup.file, R"(SELECT id, "日期", hex("事情") FROM records ORDER BY id)"),
            store.Records());
  EXPECT_EQ(Query(backup.file, "SELECT name FROM sqlite_master WHERE name LIKE 'search%'"),
            std::vector<std::string>{});
  EXPECT_EQ((fs::status(backup.file).permissions() & fs::perms::all),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Names(archive::BackupDirectory(store.path())),
            std::vector<std::string>{Name(Date(2026, 12, 1))});

  // A store of an earlier build with saves still in its write-ahead log:
  // they are in the copy, and the copy is one file.
  store.Close();
  Sql(store.path(), "PRAGMA journal_mode = WAL");
  sqlite3* writer = nullptr;
  sqlite3_open(store.path().c_str(), &writer);
  sqlite3_exec(writer, "PRAGMA wal_autocheckpoint = 0", nullptr, nullptr, nullptr);
  sqlite3_exec(writer, R"(INSERT INTO records("日期", "事情") VALUES(1, CAST('日志里' AS BLOB)))",
               nullptr, nullptr, nullptr);
  const archive::DailyBackup wal = archive::BackUpDaily(store.path(), Date(2026, 12, 2));
  sqlite3_close_v2(writer);
  ASSERT_EQ(wal.outcome, Outcome::kMade) << wal.error;
  EXPECT_EQ(SlurpFile(wal.file)[18], 1) << "a rollback-journal file";
  EXPECT_EQ(
      Query(wal.file, R"(SELECT count(*) FROM records WHERE "事情" = CAST('日志里' AS BLOB))"),
      std::vector<std::string>{"1"});
}

TEST(Backup, PruningNeverLeavesNoBackupThatPassesTheCheck) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2024, 1, 5), "好的备份");
  const std::string good = archive::BackUpDaily(store.path(), Date(2024, 1, 5)).file;
  ASSERT_TRUE(fs::exists(good));
  const std::string folder = archive::BackupDirectory(store.path());
  for (double day = Date(2026, 5, 10); day <= Date(2026, 5, 31); ++day) {
    fs::copy_file(good, folder + "/" + Name(day));
    Damage(folder + "/" + Name(day));
  }
  // Every backup retention keeps is damaged: the old good one stays.
  const std::vector<std::string> removed = archive::PruneBackups(store.path(), Date(2026, 6, 1));
  EXPECT_EQ(removed.size(), 8u);
  EXPECT_EQ(Backups(store.path()), Sorted(Days(Date(2026, 5, 18), Date(2026, 5, 31)) +
                                          std::vector{Name(Date(2024, 1, 5))}));

  // A new backup that passes: now the old one may go.
  const archive::DailyBackup today = archive::BackUpDaily(store.path(), Date(2026, 6, 1));
  ASSERT_EQ(today.outcome, Outcome::kMade) << today.error;
  EXPECT_EQ(Backups(store.path()), Days(Date(2026, 5, 19), Date(2026, 6, 1)));

  // A damaged store is not copied, and then nothing is pruned either.
  store.Close();
  Damage(store.path());
  const archive::DailyBackup bad = archive::BackUpDaily(store.path(), Date(2026, 7, 1));
  EXPECT_EQ(bad.outcome, Outcome::kFailed);
  EXPECT_NE(bad.error.find("损坏"), std::string::npos) << bad.error;
  EXPECT_EQ(Backups(store.path()), Days(Date(2026, 5, 19), Date(2026, 6, 1)));
}

TEST(Backup, FailuresLeaveNoPartialFile) {
  ScratchDir dir;
  const std::string folder = dir / "备份";
  const double day = Date(2026, 12, 8);

  PutFile(dir / "事件数据.edb", std::string(8192, 'x'));
  archive::DailyBackup garbage = archive::BackUpDaily(dir / "事件数据.edb", day);
  EXPECT_EQ(garbage.outcome, Outcome::kFailed);
  EXPECT_NE(garbage.error.find("不是本程序的数据文件"), std::string::npos) << garbage.error;
  EXPECT_EQ(Names(folder), std::vector<std::string>{});
  fs::remove(dir / "事件数据.edb");

  MemoFile store(dir / "事件数据.edb");
  for (int i = 0; i < 200; ++i) store.Put(day - i, std::string(600, 'a' + i % 26));
  {
    ObeyFilePermissions obey;
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const archive::DailyBackup readOnly = archive::BackUpDaily(store.path(), day);
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(readOnly.outcome, Outcome::kFailed);
    EXPECT_NE(readOnly.error.find("没有访问权限"), std::string::npos) << readOnly.error;
  }
  EXPECT_EQ(Names(folder), std::vector<std::string>{});

  // A disk that fills mid-copy, as a file size limit in a child process.
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{32768, 32768};
    setrlimit(RLIMIT_FSIZE, &limit);
    const archive::DailyBackup full = archive::BackUpDaily(store.path(), day);
    std::fprintf(stderr, "reason: %s\n", full.error.c_str());
    _exit(full.outcome == Outcome::kFailed && full.error.find("文件太大") != std::string::npos ? 0
                                                                                               : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Names(folder), std::vector<std::string>{});
  EXPECT_EQ(archive::BackUpDaily(store.path(), day).outcome, Outcome::kMade);
}

}  // namespace
