// The table store on its own: files it creates, files it refuses, the
// cursor, transactions and locks.
#include "runtime/table_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/store_test_util.h"

using namespace store_test;

namespace {

TEST(TableStore, CreateAndOpenChecks) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  std::string error;

  // Open never creates a missing file.
  EXPECT_EQ(TableStore::Open(file, &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(file));

  ASSERT_TRUE(TableStore::Create(file, kFields, &error)) << error;
  EXPECT_EQ(ReadBytes(file).substr(0, 16), std::string("SQLite format 3\0", 16));
  const std::string made = ReadBytes(file);
  error.clear();
  EXPECT_FALSE(TableStore::Create(file, kFields, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadBytes(file), made);
  // No leftovers from building it under a temporary name.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / ""), fs::directory_iterator()), 1);

  EXPECT_FALSE(TableStore::Create(dir / "bad.edb", {{"日期", 3, 20}}, &error));
  EXPECT_FALSE(TableStore::Create(dir / "bad.edb", {{"a", 8, 20}, {"A", 12, 20}}, &error));
  EXPECT_FALSE(fs::exists(dir / "bad.edb"));

  auto store = TableStore::Open(file, &error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_FALSE(store->First());
  EXPECT_FALSE(store->Find(Day(1000)));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(store->Read("事情")));
  EXPECT_FALSE(store->Write("事情", std::string("x"), &error));
  EXPECT_EQ(Query(file, "SELECT name, kind, width FROM fields ORDER BY position"),
            (std::vector<std::string>{"日期|8|20", "事情|12|20"}));
  // A rollback journal: the .edb file alone holds every committed save.
  EXPECT_EQ(Query(file, "PRAGMA journal_mode"), std::vector<std::string>{"delete"});

  // A file that holds nothing can be made into a store.
  WriteBytes(dir / "empty.edb", "");
  EXPECT_EQ(TableStore::Open(dir / "empty.edb", &error), nullptr);
  EXPECT_TRUE(TableStore::Create(dir / "empty.edb", kFields, &error)) << error;
  EXPECT_NE(TableStore::Open(dir / "empty.edb", &error), nullptr) << error;
}

TEST(TableStore, OpenLeavesForeignFilesUntouched) {
  TempDir dir;
  std::mt19937 gen(7);
  std::string random(70000, '\0');
  for (char& c : random) c = static_cast<char>(gen());
  std::string corrupt;
  {
    ASSERT_TRUE(TableStore::Create(dir / "c.edb", kFields, nullptr));
    auto s = TableStore::Open(dir / "c.edb", nullptr);
    for (int i = 0; i < 50; ++i) s->Append({double(i), AllBytes(3000)}, nullptr);
  }
  corrupt = ReadBytes(dir / "c.edb");
  ASSERT_GT(corrupt.size(), 40000u);
  for (size_t i = 8192; i < 40000; ++i) corrupt[i] = static_cast<char>(gen());
  sqlite3* other = nullptr;
  sqlite3_open(std::string(dir / "other.db").c_str(), &other);
  sqlite3_exec(other, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
  sqlite3_close(other);

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"random.edb", random},
      {"text.edb", "日期,事情\r\n2024-01-01,hello\r\n"},
      {"short.edb", "SQLite format"},
      {"corrupt.edb", corrupt},
      {"other.db", ReadBytes(dir / "other.db")},
  };
  for (const auto& [name, bytes] : cases) {
    WriteBytes(dir / name, bytes);
    std::string error;
    EXPECT_EQ(TableStore::Open(dir / name, &error), nullptr) << name;
    EXPECT_FALSE(error.empty()) << name;
    EXPECT_FALSE(TableStore::Create(dir / name, kFields, &error)) << name;
    EXPECT_EQ(ReadBytes(dir / name), bytes) << name;
  }
  std::string error;
  TableStore::Open(dir / "random.edb", &error);
  EXPECT_NE(error.find("文件头不符"), std::string::npos) << error;
  // The damage is counted in Chinese, never cut off in the middle of a text
  // the user cannot read.
  TableStore::Open(dir / "corrupt.edb", &error);
  EXPECT_TRUE(error.starts_with("数据库文件已损坏（完整性检查发现 ")) << error;
  EXPECT_TRUE(error.ends_with("处问题）")) << error;
}

// A store whose first pages are whole but whose records are damaged further
// in: only the check of the whole file finds it.
std::string DamagedDeepInside(const TempDir& dir, const std::string& name) {
  const std::string file = dir / name;
  EXPECT_TRUE(TableStore::Create(file, kFields, nullptr));
  {
    auto s = TableStore::Open(file, nullptr);
    for (int i = 0; i < 60; ++i) EXPECT_TRUE(s->Append({double(i), AllBytes(3000)}, nullptr));
  }
  std::string bytes = ReadBytes(file);
  std::mt19937 gen(11);
  for (size_t i = bytes.size() / 2; i < bytes.size() - 4096; ++i)
    bytes[i] = static_cast<char>(gen());
  WriteBytes(file, bytes);
  return bytes;
}

TEST(TableStore, TheWholeFileIsCheckedBehindTheStartAndWritesWaitForIt) {
  TempDir dir;
  // Damaged: it opens (the start does not wait), the verdict says so, and
  // every write is refused with that reason.
  const std::string bytes = DamagedDeepInside(dir, "damaged.edb");
  std::atomic<int> verdicts{0};
  std::string error;
  auto store = TableStore::Open(dir / "damaged.edb", &error, TableStore::Checking::kInBackground,
                                [&] { ++verdicts; });
  ASSERT_NE(store, nullptr) << error;
  EXPECT_FALSE(store->Append({1000.0, std::string("x")}, &error));
  EXPECT_TRUE(error.starts_with("数据库文件已损坏（完整性检查发现 ")) << error;
  EXPECT_EQ(store->Check(&error), rt::StoreCheck::kFailed);
  EXPECT_FALSE(store->Begin(&error));
  store.reset();
  EXPECT_EQ(verdicts, 1);
  EXPECT_EQ(ReadBytes(dir / "damaged.edb"), bytes);
  // Checked first, it does not open at all.
  EXPECT_EQ(TableStore::Open(dir / "damaged.edb", &error), nullptr);

  // Whole: the verdict passes on its own and writes go through.
  ASSERT_TRUE(TableStore::Create(dir / "whole.edb", kFields, nullptr));
  verdicts = 0;
  store = TableStore::Open(dir / "whole.edb", &error, TableStore::Checking::kInBackground,
                           [&] { ++verdicts; });
  ASSERT_NE(store, nullptr) << error;
  while (store->Check(nullptr) == rt::StoreCheck::kPending) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(store->Check(nullptr), rt::StoreCheck::kPassed);
  EXPECT_EQ(verdicts, 1);
  EXPECT_TRUE(store->Append({1.0, std::string("fine")}, &error)) << error;
  // Closing while a check still runs interrupts it.
  auto closing = TableStore::Open(dir / "whole.edb", &error, TableStore::Checking::kInBackground);
  closing.reset();
}

TEST(TableStore, RefusedStoresKeepNoSideFiles) {
  TempDir dir;
  // A foreign database in WAL mode: opening it, even to read, makes -wal and
  // -shm files appear.
  sqlite3* other = nullptr;
  sqlite3_open(std::string(dir / "wal.edb").c_str(), &other);
  sqlite3_exec(other, "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES(1);",
               nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ASSERT_FALSE(fs::exists(dir / "wal.edb-wal"));
  const std::string bytes = ReadBytes(dir / "wal.edb");
  std::string error;
  EXPECT_EQ(TableStore::Open(dir / "wal.edb", &error), nullptr);
  EXPECT_FALSE(HasLatinLetters(error)) << error;
  EXPECT_EQ(ReadBytes(dir / "wal.edb"), bytes);
  for (const char* side : {"-wal", "-shm", "-journal"}) {
    EXPECT_FALSE(fs::exists(dir / ("wal.edb" + std::string(side)))) << side;
  }
}

TEST(TableStore, TheFileAloneHoldsEverySavedRecord) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  ASSERT_TRUE(TableStore::Create(file, kFields, nullptr));
  auto store = TableStore::Open(file, nullptr);
  ASSERT_NE(store, nullptr);
  std::string error;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(store->Append({double(i), "备忘 " + std::to_string(i)}, &error)) << error;
    // A copy of the .edb alone, taken while the store is open.
    WriteBytes(dir / "copy.edb", ReadBytes(file));
    EXPECT_EQ(Query(dir / "copy.edb", "SELECT count(*) FROM records"),
              std::vector<std::string>{std::to_string(i + 1)});
  }
  for (const char* side : {"-wal", "-shm", "-journal"}) {
    EXPECT_FALSE(fs::exists(file + side)) << side;
  }
}

// The day texts of a set of days: each day's first record, empty texts left
// out, by day, only whole days asked for; no query for no days or too many.
TEST(TableStore, DayTextsOfASetOfDays) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  ASSERT_TRUE(TableStore::Create(file, kFields, nullptr));
  auto store = TableStore::Open(file, nullptr);
  ASSERT_NE(store, nullptr);
  std::string error;
  for (const auto& [day, text] : std::vector<std::pair<double, std::string>>{
           {40, "四十天"}, {10, "十天"}, {10, "后来的"}, {20, ""}, {30, "三十"}, {-5, "早"}}) {
    ASSERT_TRUE(store->Append({day, text}, &error)) << error;
  }
  const auto days = store->DayTextsOn("日期", "事情", {40, 99, 20, 10, -5}, 3);
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0].day, -5);
  EXPECT_EQ(days[0].start, "早");
  EXPECT_EQ(days[1].day, 10);
  EXPECT_EQ(days[1].start, "十");  // the first 3 bytes of the first record
  EXPECT_EQ(days[2].day, 40);
  EXPECT_TRUE(store->DayTextsOn("日期", "事情", {}, 10).empty());
  EXPECT_TRUE(store->DayTextsOn("事情", "事情", {10}, 10).empty());
  std::vector<double> many(TableStore::kMostDaysAtOnce + 1, 10.0);
  EXPECT_TRUE(store->DayTextsOn("日期", "事情", many, 10).empty());
  many.pop_back();
  EXPECT_EQ(store->DayTextsOn("日期", "事情", many, 10).size(), 1u);
  // The range form agrees.
  const auto range = store->DayTexts("日期", "事情", -10, 50, 3);
  ASSERT_EQ(range.size(), 4u);
  EXPECT_EQ(range[1].start, "十");
}

TEST(TableStore, StoresOfEarlierBuildsInWalModeAreTakenOver) {
  TempDir dir;
  const std::string file = dir / "old.edb";
  ASSERT_TRUE(TableStore::Create(file, kFields, nullptr));
  {
    // As an earlier build left it: WAL mode, the last save still in the log.
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(db, "INSERT INTO records(\"日期\", \"事情\") VALUES(1.0, x'6f6c64')", nullptr,
                 nullptr, nullptr);
    // Copy the files while the log still holds the record, as a kill would
    // leave them.
    WriteBytes(dir / "kept.edb", ReadBytes(file));
    WriteBytes(dir / "kept.edb-wal", ReadBytes(file + "-wal"));
    sqlite3_close(db);
  }
  const std::string kept = dir / "kept.edb";
  std::string error;
  auto store = TableStore::Open(kept, &error);
  ASSERT_NE(store, nullptr) << error;
  ASSERT_TRUE(store->First());
  EXPECT_EQ(Text(store->Read("事情")), "old");
  EXPECT_EQ(Query(kept, "PRAGMA journal_mode"), std::vector<std::string>{"delete"});
  EXPECT_FALSE(fs::exists(kept + "-wal"));
}

TEST(TableStore, AKilledSaveIsRolledBackOnTheNextOpen) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  ASSERT_TRUE(TableStore::Create(file, kFields, nullptr));
  {
    auto store = TableStore::Open(file, nullptr);
    ASSERT_TRUE(store->Append({1.0, std::string("kept")}, nullptr));
  }
  // A writer killed in the middle of its commit leaves a hot journal.
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN; UPDATE records SET \"事情\" = zeroblob(200000);",
               nullptr, nullptr, nullptr);
  WriteBytes(dir / "hot.edb", ReadBytes(file));
  WriteBytes(dir / "hot.edb-journal", ReadBytes(file + "-journal"));
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_GT(ReadBytes(dir / "hot.edb-journal").size(), 0u);

  std::string error;
  auto store = TableStore::Open(dir / "hot.edb", &error);
  ASSERT_NE(store, nullptr) << error;
  ASSERT_TRUE(store->First());
  EXPECT_EQ(Text(store->Read("事情")), "kept");
}

TEST(TableStore, CursorFindAndAppendOrder) {
  TempDir dir;
  ASSERT_TRUE(TableStore::Create(dir / "s.edb", kFields, nullptr));
  auto store = TableStore::Open(dir / "s.edb", nullptr);
  std::string error;
  // Deliberately unsorted, with a repeated day and values beyond both bounds.
  const std::vector<double> days = {500, 100, 500.5, 300, 100, 1e9, -1e9, kMaxDate, kMinDate};
  for (size_t i = 0; i < days.size(); ++i)
    ASSERT_TRUE(store->Append({days[i], "r" + std::to_string(i)}, &error)) << error;

  ASSERT_TRUE(store->First());
  EXPECT_EQ(Text(store->Read("事情")), "r0");
  ASSERT_TRUE(store->Find(Day(100)));
  EXPECT_EQ(Text(store->Read("事情")), "r1");
  EXPECT_TRUE(store->Find(Day(100)));  // the current record itself matches
  EXPECT_EQ(Text(store->Read("事情")), "r1");
  EXPECT_TRUE(store->Find(Day(300)));
  EXPECT_TRUE(store->Find(Day(100)));  // forward only: the later one
  EXPECT_EQ(Text(store->Read("事情")), "r4");
  EXPECT_FALSE(store->Find(Day(500)));  // it lies behind the cursor
  EXPECT_TRUE(std::holds_alternative<std::monostate>(store->Read("事情")));
  EXPECT_FALSE(store->Find(Day(300)));  // no current record any more

  store->First();
  EXPECT_TRUE(store->Find(Day(500)));
  EXPECT_EQ(Text(store->Read("事情")), "r0");  // 500.5 is not day 500
  EXPECT_EQ(std::get<double>(store->Read("日期")), 500.0);
  store->First();
  EXPECT_TRUE(store->Find(Day(5e9)));
  EXPECT_EQ(Text(store->Read("事情")), "r5");
  store->First();
  EXPECT_TRUE(store->Find(Day(-5e9)));
  EXPECT_EQ(Text(store->Read("事情")), "r6");

  // Other bounds than the indexed ones give the same kind of answer.
  store->First();
  EXPECT_TRUE(store->Find({"日期", 0, 400, 400}));
  EXPECT_EQ(Text(store->Read("事情")), "r0");
  EXPECT_FALSE(store->Find({"没有", kMinDate, kMaxDate, 100}));

  const auto daysOf = [&store](double from, double to) {
    std::vector<double> out;
    for (const rt::DayText& d : store->DayTexts("日期", "事情", from, to, 0)) out.push_back(d.day);
    return out;
  };
  EXPECT_EQ(daysOf(100, 500), (std::vector<double>{100, 300, 500}));
  ASSERT_TRUE(store->Append({700.0, std::string()}, &error));
  ASSERT_TRUE(store->Append({800.0, rt::Value{}}, &error));
  ASSERT_TRUE(store->Append({900.0, std::string(" ")}, &error));
  EXPECT_EQ(daysOf(600, kMaxDate), (std::vector<double>{900, kMaxDate}));
  // The starts are bytes of the first record of each day.
  const std::vector<rt::DayText> starts = store->DayTexts("日期", "事情", 100, 500, 2);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[0].start, "r1");
  EXPECT_EQ(store->DayTexts("日期", "事情", 900, 900, 8)[0].start, " ");
}

TEST(TableStore, ValuesRoundTripAndPersist) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  ASSERT_TRUE(TableStore::Create(file, kFields, nullptr));
  const std::string big = AllBytes(5 * 1024 * 1024);
  std::string error;
  {
    auto store = TableStore::Open(file, nullptr);
    ASSERT_TRUE(store->Append({1.0, big}, &error)) << error;
    ASSERT_TRUE(store->Append({2.0, std::string()}, &error));
    ASSERT_TRUE(store->Append({3.0, rt::Value{}}, &error));
    ASSERT_TRUE(store->Append({4.0, std::string("中文备忘\n第二行")}, &error));
    EXPECT_FALSE(store->Append({5.0}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(store->Append({std::string("x"), std::string("y")}, &error));
    store->First();
    EXPECT_FALSE(store->Write("事情", 1.0, &error));
    EXPECT_FALSE(store->Write("没有", std::string("x"), &error));
  }
  auto store = TableStore::Open(file, &error);
  ASSERT_NE(store, nullptr) << error;
  store->First();
  EXPECT_TRUE(Text(store->Read("事情")) == big);
  store->Find(Day(2));
  rt::Value empty = store->Read("事情");
  EXPECT_TRUE(std::holds_alternative<std::string>(empty) && Text(empty).empty());
  store->Find(Day(3));
  EXPECT_TRUE(std::holds_alternative<std::monostate>(store->Read("事情")));
  store->Find(Day(4));
  EXPECT_EQ(Text(store->Read("事情")), "中文备忘\n第二行");
  ASSERT_TRUE(store->Write("事情", big + "!", &error)) << error;
  store->First();
  store->Find(Day(4));
  EXPECT_TRUE(Text(store->Read("事情")) == big + "!");
  EXPECT_FALSE(store->Find(Day(5)));
}

TEST(TableStore, TransactionsAndLocking) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  ASSERT_TRUE(TableStore::Create(file, kFields, nullptr));
  TableStore::SetBusyTimeoutMs(100);
  auto store = TableStore::Open(file, nullptr);
  auto second = TableStore::Open(file, nullptr);  // another running copy
  TableStore::SetBusyTimeoutMs(5000);
  std::string error;

  EXPECT_FALSE(store->Commit(&error));
  ASSERT_TRUE(store->Begin(&error)) << error;
  EXPECT_FALSE(store->Begin(&error));
  ASSERT_TRUE(store->Append({1.0, std::string("a")}, &error));
  store->Rollback();
  EXPECT_FALSE(store->First());

  ASSERT_TRUE(store->Begin(&error));
  ASSERT_TRUE(store->Append({1.0, std::string("a")}, &error));
  ASSERT_TRUE(store->Write("事情", std::string("b"), &error));
  // The other copy sees nothing until the commit and cannot write meanwhile.
  EXPECT_FALSE(second->First());
  EXPECT_FALSE(second->Append({2.0, std::string("c")}, &error));
  EXPECT_NE(error.find("锁定"), std::string::npos) << error;
  // The lock is this process's own: never called another program's.
  EXPECT_EQ(error.find("另一个程序"), std::string::npos) << error;
  ASSERT_TRUE(store->Commit(&error)) << error;
  ASSERT_TRUE(second->First());
  EXPECT_EQ(Text(second->Read("事情")), "b");

  {
    WriteLock lock(file);
    ASSERT_TRUE(lock.ok);
    error.clear();
    EXPECT_FALSE(store->Write("事情", std::string("c"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(store->Begin(&error));
    store->First();
    EXPECT_EQ(Text(store->Read("事情")), "b");  // reading goes on
  }
  EXPECT_TRUE(store->Write("事情", std::string("c"), &error)) << error;
  second->First();
  EXPECT_EQ(Text(second->Read("事情")), "c");
}

// --- the memo store through the program's runtime

}  // namespace

// A lock another process holds is said to be another program's.
TEST(TableStore, LockOfAnotherProcessIsNamedSo) {
  TempDir dir;
  const std::string file = dir / "s.edb";
  ASSERT_TRUE(TableStore::Create(file, kFields, nullptr));
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Its own copy of the release end would keep the read below waiting.
    close(release[1]);
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    const bool locked = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    char c = locked ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(release[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  TableStore::SetBusyTimeoutMs(50);
  auto store = TableStore::Open(file, nullptr);
  TableStore::SetBusyTimeoutMs(5000);
  std::string error;
  EXPECT_FALSE(store->Append({1.0, std::string("a")}, &error));
  EXPECT_NE(error.find("另一个程序"), std::string::npos) << error;
  close(release[1]);
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(ready[1]);
  close(release[0]);
  ASSERT_TRUE(store->Append({1.0, std::string("a")}, &error)) << error;
}
