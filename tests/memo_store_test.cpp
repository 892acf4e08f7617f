// The memo store on top of the table store, through the program's runtime.
#include "memo/memo_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/store_upkeep.h"
#include "runtime/table_store.h"
#include "tests/support/store_test_util.h"
#include "tests/support/test_program.h"

using namespace store_test;

namespace {

TEST(MemoStore, FirstStartAndSaveRules) {
  TestProgram p;
  const std::string file = p.path(kMemoStoreFileName);
  const std::string cwd = fs::current_path();
  TempDir elsewhere;
  fs::current_path(elsewhere / "");
  OpenMemoStore();
  fs::current_path(cwd);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_FALSE(fs::exists(elsewhere / kMemoStoreFileName));
  EXPECT_TRUE(MemoStoreOpen());
  EXPECT_TRUE(p.messages.empty());
  EXPECT_EQ(Query(file, "SELECT name, kind, width FROM fields ORDER BY position"),
            (std::vector<std::string>{"日期|8|20", "事情|12|20"}));
  EXPECT_EQ(Query(file, "SELECT count(*) FROM records"), std::vector<std::string>{"0"});

  const double d1 = MakeDateTime(2024, 3, 10), d0 = MakeDateTime(2024, 3, 1);
  std::string error;
  EXPECT_FALSE(FindDayMemo(d1));
  EXPECT_TRUE(SaveDayMemo(d1, "", &error)) << error;  // nothing to store
  EXPECT_EQ(Query(file, "SELECT count(*) FROM records"), std::vector<std::string>{"0"});
  EXPECT_TRUE(SaveDayMemo(d1, "买菜", &error)) << error;
  EXPECT_TRUE(SaveDayMemo(d1, "买菜和水果", &error)) << error;
  EXPECT_TRUE(SaveDayMemo(d0, " \r\n", &error)) << error;  // whitespace is text
  EXPECT_EQ(Query(file, "SELECT 日期, 事情 FROM records ORDER BY id"),
            (std::vector<std::string>{std::to_string(int(d1)) + ".0|买菜和水果",
                                      std::to_string(int(d0)) + ".0| \r\n"}));
  ASSERT_TRUE(FindDayMemo(d1));
  EXPECT_EQ(ReadMemoText(), "买菜和水果");
  ASSERT_TRUE(FindDayMemo(d0));  // earlier day stored after a later one
  EXPECT_EQ(ReadMemoText(), " \r\n");
  EXPECT_FALSE(FindDayMemo(d1 + 0.5));
  EXPECT_EQ(DaysWithMemo(d0, d1), (std::vector<double>{d0, d1}));

  // Emptying keeps the record.
  EXPECT_TRUE(SaveDayMemo(d1, "", &error)) << error;
  ASSERT_TRUE(FindDayMemo(d1));
  EXPECT_EQ(ReadMemoText(), "");
  EXPECT_EQ(Query(file, "SELECT count(*) FROM records"), std::vector<std::string>{"2"});
  EXPECT_EQ(DaysWithMemo(d0, d1), (std::vector<double>{d0}));

  // The bounds match themselves; dates past a bound match each other.
  EXPECT_TRUE(SaveDayMemo(kMaxDate, "末日", &error));
  EXPECT_TRUE(SaveDayMemo(kMinDate, "元初", &error));
  EXPECT_TRUE(SaveDayMemo(kMaxDate + 10, "更远", &error));
  EXPECT_TRUE(FindDayMemo(kMaxDate + 1));
  EXPECT_EQ(ReadMemoText(), "更远");
  EXPECT_TRUE(FindDayMemo(kMinDate - 5e6));
  EXPECT_EQ(ReadMemoText(), "元初");
  EXPECT_EQ(ClampDate(kMaxDate), kMaxDate);
  EXPECT_EQ(ClampDate(kMinDate - 1), kMinDate);
  EXPECT_EQ(ClampDate(12.25), 12.25);
  EXPECT_EQ(Query(file, "SELECT count(*) FROM records"), std::vector<std::string>{"4"});

  // Opening again (the next run) finds what was saved.
  OpenMemoStore();
  EXPECT_TRUE(FindDayMemo(d0));
  EXPECT_EQ(ReadMemoText(), " \r\n");
}

TEST(MemoStore, TextRoundTripsByteForByte) {
  TestProgram p;
  OpenMemoStore();
  const double day = MakeDateTime(2025, 1, 31);
  const std::string chinese = "今天：开会 10:00，带上《报告》\n— 完 —";
  const std::string big = AllBytes(5 * 1024 * 1024);
  std::string error;
  ASSERT_TRUE(SaveDayMemo(day, chinese, &error)) << error;
  ASSERT_TRUE(FindDayMemo(day));
  EXPECT_EQ(ReadMemoText(), chinese);
  ASSERT_TRUE(SaveDayMemo(day + 1, big, &error)) << error;
  ASSERT_TRUE(FindDayMemo(day + 1));
  EXPECT_TRUE(ReadMemoText() == big);
  // Also as another connection reads it from the file.
  auto other = TableStore::Open(p.path(kMemoStoreFileName), &error);
  ASSERT_NE(other, nullptr) << error;
  other->First();
  ASSERT_TRUE(other->Find(Day(day + 1)));
  EXPECT_TRUE(Text(other->Read("事情")) == big);
}

TEST(MemoStore, UnusableFileIsLeftAloneAndReported) {
  std::mt19937 gen(3);
  std::string random(4096, '\0');
  for (char& c : random) c = static_cast<char>(gen());
  for (const std::string& bytes : {random, std::string("这是一个文本文件\n不是数据库\n")}) {
    TestProgram p;
    const std::string file = p.path(kMemoStoreFileName);
    p.WriteFile(kMemoStoreFileName, bytes);
    OpenMemoStore();
    EXPECT_FALSE(MemoStoreOpen());
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_NE(p.messages[0].text.find(file), std::string::npos) << p.messages[0].text;
    EXPECT_EQ(p.messages[0].title, "Tamsivo");
    EXPECT_EQ(p.messages[0].flags, rt::MB_OK | rt::MB_ICONERROR);
    EXPECT_FALSE(FindDayMemo(MakeDateTime(2024, 1, 1)));
    EXPECT_EQ(ReadMemoText(), "");
    std::string error;
    EXPECT_FALSE(SaveDayMemo(MakeDateTime(2024, 1, 1), "text", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(DaysWithMemo(kMinDate, kMaxDate).empty());
    EXPECT_EQ(p.ReadFile(kMemoStoreFileName), bytes);
    EXPECT_EQ(p.messages.size(), 1u);
  }
}

TEST(MemoStore, MarkedDaysAreTheDaysThatOpenWithAMemo) {
  TestProgram p;
  OpenMemoStore();
  // Two copies that once ran side by side left a day with two records: the
  // first, which a lookup finds, is empty.
  auto store = TableStore::Open(p.path(kMemoStoreFileName), nullptr);
  ASSERT_NE(store, nullptr);
  const double both = MakeDateTime(2024, 3, 1), second = MakeDateTime(2024, 3, 2);
  ASSERT_TRUE(store->Append({both, std::string()}, nullptr));
  ASSERT_TRUE(store->Append({both, std::string("later copy")}, nullptr));
  ASSERT_TRUE(store->Append({second, std::string("x")}, nullptr));
  ASSERT_TRUE(store->Append({second, std::string()}, nullptr));
  store.reset();
  ASSERT_TRUE(FindDayMemo(both));
  EXPECT_EQ(ReadMemoText(), "");
  EXPECT_EQ(DaysWithMemo(both - 1, both + 5), std::vector<double>{second});
}

TEST(MemoStore, ReasonsNameTheRealCause) {
  {
    // A directory nobody may write in: creation fails, and says so.
    TestProgram p;
    ObeyFilePermissions obey;
    ASSERT_EQ(::chmod(p.dir().c_str(), 0555), 0);
    OpenMemoStore();
    ::chmod(p.dir().c_str(), 0755);
    EXPECT_FALSE(MemoStoreOpen());
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_NE(p.messages[0].text.find("无法创建备忘录数据库文件"), std::string::npos)
        << p.messages[0].text;
    EXPECT_NE(p.messages[0].text.find("没有访问权限"), std::string::npos) << p.messages[0].text;
    EXPECT_EQ(p.messages[0].text.find("文件不存在"), std::string::npos) << p.messages[0].text;
  }
  {
    TestProgram p;
    p.WriteFile(kMemoStoreFileName, "SQLite format 3");
    OpenMemoStore();
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_FALSE(HasLatinLetters(p.messages[0].text.substr(p.messages[0].text.find("原因"))))
        << p.messages[0].text;
  }
}

TEST(MemoStore, TwoSavesOfTheSameNewDayLeaveOneRecord) {
  TestProgram p;
  OpenMemoStore();
  const double day = MakeDateTime(2025, 5, 5);
  // Another copy (or program) is in the middle of saving the same new day.
  std::atomic<bool> begun{false};
  std::thread other([&] {
    auto store = TableStore::Open(p.path(kMemoStoreFileName), nullptr);
    std::string error;
    ASSERT_TRUE(store->Begin(&error)) << error;
    ASSERT_TRUE(store->Append({day, std::string("other")}, &error)) << error;
    begun = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(store->Commit(&error)) << error;
  });
  while (!begun) std::this_thread::yield();
  std::string error;
  EXPECT_TRUE(SaveDayMemo(day, "mine", &error)) << error;
  other.join();
  EXPECT_EQ(Query(p.path(kMemoStoreFileName),
                  "SELECT count(*) FROM records WHERE \"日期\" = " + std::to_string(day)),
            std::vector<std::string>{"1"});
  ASSERT_TRUE(FindDayMemo(day));
  EXPECT_EQ(ReadMemoText(), "mine");
}

TEST(MemoStore, DamageFoundAfterTheStartIsReportedAndNothingIsWritten) {
  TestProgram p;
  {
    OpenMemoStore();
    for (int i = 0; i < 60; ++i)
      ASSERT_TRUE(SaveDayMemo(MakeDateTime(2020, 1, 1) + i, AllBytes(3000)));
  }
  p.Restart();  // a clean store: no message
  ASSERT_TRUE(p.messages.empty());
  p.Stop();
  std::string bytes = p.ReadFile(kMemoStoreFileName);
  std::mt19937 gen(5);
  for (size_t i = bytes.size() / 2; i < bytes.size() - 4096; ++i)
    bytes[i] = static_cast<char>(gen());
  p.WriteFile(kMemoStoreFileName, bytes);
  p.Restart();
  // The windows came up without waiting for the check; its verdict follows.
  for (int i = 0; i < 200 && p.messages.empty(); ++i) p.Pump(20);
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_NE(p.messages[0].text.find("备忘录数据库文件已损坏"), std::string::npos)
      << p.messages[0].text;
  EXPECT_FALSE(MemoStoreOpen());
  std::string error;
  EXPECT_FALSE(SaveDayMemo(MakeDateTime(2026, 1, 1), "new", &error));
  EXPECT_NE(error.find("损坏"), std::string::npos) << error;
  p.Stop();
  EXPECT_EQ(p.ReadFile(kMemoStoreFileName), bytes);
}

TEST(MemoStore, LockedStoreMakesSaveFail) {
  TestProgram p;
  TableStore::SetBusyTimeoutMs(200);
  OpenMemoStore();
  TableStore::SetBusyTimeoutMs(5000);
  const double day = MakeDateTime(2024, 6, 1);
  std::string error;
  ASSERT_TRUE(SaveDayMemo(day, "first", &error)) << error;
  {
    WriteLock lock(p.path(kMemoStoreFileName));
    ASSERT_TRUE(lock.ok);
    EXPECT_FALSE(SaveDayMemo(day, "second", &error));
    EXPECT_NE(error.find("锁定"), std::string::npos) << error;
    ASSERT_TRUE(FindDayMemo(day));
    EXPECT_EQ(ReadMemoText(), "first");
  }
  EXPECT_TRUE(SaveDayMemo(day, "second", &error)) << error;
  ASSERT_TRUE(FindDayMemo(day));
  EXPECT_EQ(ReadMemoText(), "second");
}

}  // namespace
