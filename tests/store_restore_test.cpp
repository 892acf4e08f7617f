// The memo store's upkeep and restore: backups once it passed its check,
// and what a store that cannot be used is answered with.
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
#include "memo/memo_store.h"
#include "memo/store_upkeep.h"
#include "runtime/table_store.h"
#include "tests/support/store_test_util.h"
#include "tests/support/test_program.h"

using namespace store_test;

// Once the store has passed its check: today's backup on a thread; a
// damaged store offers the newest backup in its place.
namespace {

const std::string kTodaysBackup = "备份/事件数据 2026-12-07.edb";

bool UpkeepDone(TestProgram& p) {
  return p.runtime().TimerInterval(kMainWindow, "时钟3") == 0 && MemoStoreChecked();
}

// A backup of the store as it is now, dated the day before TestProgram's
// today (the program then makes none of its own before the test looks).
void KeepBackupOfTheStore(TestProgram& p) {
  fs::remove_all(p.path("备份"));
  fs::create_directory(p.path("备份"));
  fs::copy_file(p.path(kMemoStoreFileName), p.path("备份/事件数据 2026-12-06.edb"));
}

std::string TodayBox(TestProgram& p) {
  rt::Runtime& r = p.runtime();
  return r.GetEditText(kTodayMemoWindow, "编辑框1", r.EditTextLength(kTodayMemoWindow, "编辑框1"));
}

// A store that did not open is said in the today box, not shown as an
// empty day, and the box stays read-only.
void ExpectClosedNotice(TestProgram& p, const std::string& reason) {
  const std::string box = TodayBox(p);
  EXPECT_TRUE(box.starts_with("备忘录数据库文件无法打开：")) << box;
  EXPECT_NE(box.find(reason), std::string::npos) << box;
  EXPECT_TRUE(box.ends_with("。本次运行中备忘录无法保存。")) << box;
  EXPECT_EQ(box.find("。。"), std::string::npos) << box;
  EXPECT_TRUE(p.runtime().EditReadOnly(kTodayMemoWindow, "编辑框1"));
}

std::vector<std::string> DamagedKept(TestProgram& p) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(p.dir())) {
    const std::string name = e.path().filename();
    if (name.starts_with("事件数据.edb.损坏-")) names.push_back(name);
  }
  return names;
}

}  // namespace

TEST(StoreUpkeep, TodaysBackupFollowsTheCheck) {
  TestProgram p;
  p.Start();
  ASSERT_TRUE(PumpUntil([&] { return UpkeepDone(p) && fs::exists(p.path(kTodaysBackup)); }));
  EXPECT_TRUE(p.messages.empty());
}

TEST(StoreUpkeep, AFailedBackupIsToldOnceAndSavingGoesOn) {
  TestProgram p;
  p.WriteFile("备份", "a file where the folder should be");
  p.Start();
  ASSERT_TRUE(PumpUntil([&] { return UpkeepDone(p) && !p.messages.empty(); }));
  p.Pump(700);  // the timer would have run again by now
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].flags, rt::MB_OK | rt::MB_ICONWARNING);
  EXPECT_NE(p.messages[0].text.find("今天的自动备份没有成功"), std::string::npos);
  std::string error;
  EXPECT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 7), "照常保存", &error)) << error;
  // A store opened again in the same run (after a restore) tries the backup
  // again, and fails again, without telling it twice.
  StartStoreUpkeep(p.path(kMemoStoreFileName), MakeDateTime(2026, 12, 7));
  ASSERT_TRUE(PumpUntil([&] { return UpkeepDone(p); }));
  p.Pump(100);
  EXPECT_EQ(p.messages.size(), 1u);
}

TEST(StoreRestore, AStoreThatWillNotOpenIsReplacedByItsBackupOnYes) {
  for (const int answer : {rt::IDYES, rt::IDNO}) {
    SCOPED_TRACE(answer == rt::IDYES ? "yes" : "no");
    TestProgram p;
    p.Start();
    ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "备份里的备忘录"));
    p.Stop();
    KeepBackupOfTheStore(p);
    p.WriteFile(kMemoStoreFileName, "这不是数据库");
    p.answer = [answer](const ShownMessage&) { return answer; };
    p.Restart();
    ASSERT_GE(p.messages.size(), 1u);
    EXPECT_EQ(p.messages[0].flags, rt::MB_YESNO | rt::MB_ICONWARNING);
    EXPECT_NE(p.messages[0].text.find("无法打开备忘录数据库文件"), std::string::npos);
    EXPECT_NE(p.messages[0].text.find("2026年12月6日"), std::string::npos) << p.messages[0].text;
    if (answer == rt::IDNO) {
      EXPECT_EQ(p.messages.size(), 1u);
      EXPECT_FALSE(MemoStoreOpen());
      ExpectClosedNotice(p, "");
      EXPECT_EQ(p.ReadFile(kMemoStoreFileName), "这不是数据库");
      EXPECT_TRUE(DamagedKept(p).empty());
      // Put right meanwhile and opened on a retry: the box shows the memos.
      fs::copy_file(p.path("备份/事件数据 2026-12-06.edb"), p.path(kMemoStoreFileName),
                    fs::copy_options::overwrite_existing);
      ASSERT_TRUE(ReopenMemoStore());
      EXPECT_EQ(TodayBox(p), "今天没有备忘的事情");
      continue;
    }
    ASSERT_EQ(p.messages.size(), 2u);
    EXPECT_EQ(p.messages[1].flags, rt::MB_OK | rt::MB_ICONINFORMATION);
    EXPECT_TRUE(MemoStoreOpen());
    ASSERT_TRUE(FindDayMemo(MakeDateTime(2026, 12, 1)));
    EXPECT_EQ(ReadMemoText(), "备份里的备忘录");
    const std::vector<std::string> kept = DamagedKept(p);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], "事件数据.edb.损坏-20261207-100000");
    EXPECT_EQ(p.ReadFile(kept[0]), "这不是数据库");
  }
}

// 查找备忘录… chosen before the check's verdict: the search index, which
// writes, waits for a store that passed it. (No search in this process has
// built an index, so choosing the window would start one at once.)
TEST(StoreRestore, SearchOpenedBeforeTheCheckLeavesADamagedStoreUnwritten) {
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "预算" + std::string(20000, 'x')));
  p.Stop();
  // One overflow page's link to the next is broken: the check fails, while
  // the records still read by id.
  const std::string file = p.path(kMemoStoreFileName);
  const auto pageSize = Query(file, "PRAGMA page_size");
  const auto overflow =
      Query(file, "SELECT pageno FROM dbstat WHERE pagetype = 'overflow' ORDER BY pageno LIMIT 1");
  ASSERT_EQ(overflow.size(), 1u);
  std::string bytes = p.ReadFile(kMemoStoreFileName);
  bytes.replace((std::stoul(overflow[0]) - 1) * std::stoul(pageSize.at(0)), 4, "\x7F\xFF\xFF\xFF");
  p.WriteFile(kMemoStoreFileName, bytes);

  p.Restart();
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "查找备忘录…"));
  ASSERT_TRUE(PumpUntil([&] { return !p.messages.empty(); }));
  EXPECT_NE(p.messages[0].text.find("备忘录数据库文件已损坏"), std::string::npos);
  p.Pump(300);
  EXPECT_FALSE(MemoStoreOpen());
  EXPECT_EQ(p.ReadFile(kMemoStoreFileName), bytes);
}

TEST(StoreRestore, AStoreAnotherProgramHoldsIsWaitedForNeverRestored) {
  TableStore::SetBusyTimeoutMs(100);
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "备份里的备忘录"));
  p.Stop();
  KeepBackupOfTheStore(p);
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 2), "备份之后的备忘录"));
  p.Stop();
  const std::string bytes = p.ReadFile(kMemoStoreFileName);
  OtherProcess other(p.path(kMemoStoreFileName), "BEGIN EXCLUSIVE");
  int asked = 0;
  p.answer = [&](const ShownMessage&) {
    // Retried once while still held, then once more after it let go.
    if (++asked == 2) other.End();
    return rt::IDRETRY;
  };
  p.Restart();
  TableStore::SetBusyTimeoutMs(5000);
  ASSERT_EQ(p.messages.size(), 2u);
  for (const ShownMessage& m : p.messages) {
    EXPECT_EQ(m.flags, rt::MB_RETRYCANCEL | rt::MB_ICONWARNING);
    EXPECT_NE(m.text.find("正被另一个程序使用"), std::string::npos) << m.text;
    EXPECT_EQ(m.text.find("备份"), std::string::npos) << m.text;
  }
  EXPECT_TRUE(MemoStoreOpen());
  ASSERT_TRUE(FindDayMemo(MakeDateTime(2026, 12, 2)));
  EXPECT_EQ(ReadMemoText(), "备份之后的备忘录");
  EXPECT_TRUE(DamagedKept(p).empty());

  // Cancel leaves it as it is.
  p.Stop();
  OtherProcess again(p.path(kMemoStoreFileName), "BEGIN EXCLUSIVE");
  p.answer = [](const ShownMessage&) { return rt::IDCANCEL; };
  p.messages.clear();
  TableStore::SetBusyTimeoutMs(100);
  p.Restart();
  TableStore::SetBusyTimeoutMs(5000);
  EXPECT_EQ(p.messages.size(), 1u);
  EXPECT_FALSE(MemoStoreOpen());
  ExpectClosedNotice(p, "");
  again.End();
  EXPECT_EQ(p.ReadFile(kMemoStoreFileName), bytes);
  EXPECT_TRUE(DamagedKept(p).empty());
}

TEST(StoreRestore, AStoreWithAStrangersTriggerIsRefusedAndNotReplaced) {
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "第一天"));
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 2), "第二天"));
  p.Stop();
  KeepBackupOfTheStore(p);
  {
    sqlite3* db = nullptr;
    sqlite3_open_v2(p.path(kMemoStoreFileName).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER wipe AFTER INSERT ON records BEGIN DELETE FROM records "
                           "WHERE id <> NEW.id; END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close_v2(db);
  }
  const std::string bytes = p.ReadFile(kMemoStoreFileName);
  p.answer = [](const ShownMessage&) { return rt::IDYES; };
  p.Restart();
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].flags, rt::MB_OK | rt::MB_ICONERROR);
  EXPECT_NE(p.messages[0].text.find("本程序没有建立"), std::string::npos) << p.messages[0].text;
  EXPECT_NE(p.messages[0].text.find("触发器“wipe”"), std::string::npos) << p.messages[0].text;
  EXPECT_FALSE(MemoStoreOpen());
  ExpectClosedNotice(p, "触发器“wipe”");
  EXPECT_FALSE(SaveDayMemo(MakeDateTime(2026, 12, 3), "第三天"));
  EXPECT_EQ(p.ReadFile(kMemoStoreFileName), bytes);
  EXPECT_TRUE(DamagedKept(p).empty());
}

TEST(StoreRestore, AnEmptyStoreBesideBackupsIsDamageNotAFirstStart) {
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "备份里的备忘录"));
  p.Stop();
  KeepBackupOfTheStore(p);
  p.WriteFile(kMemoStoreFileName, "");
  p.answer = [](const ShownMessage&) { return rt::IDYES; };
  p.Restart();
  ASSERT_EQ(p.messages.size(), 2u);
  EXPECT_EQ(p.messages[0].flags, rt::MB_YESNO | rt::MB_ICONWARNING);
  EXPECT_NE(p.messages[0].text.find("0 字节"), std::string::npos) << p.messages[0].text;
  ASSERT_TRUE(FindDayMemo(MakeDateTime(2026, 12, 1)));
  EXPECT_EQ(ReadMemoText(), "备份里的备忘录");
  ASSERT_EQ(DamagedKept(p).size(), 1u);
  EXPECT_EQ(p.ReadFile(DamagedKept(p)[0]), "");
}

TEST(StoreRestore, DamageFoundByTheCheckClosesTheStoreAndOffersTheBackup) {
  TestProgram p;
  p.Start();
  const double today = MakeDateTime(2026, 12, 7);
  ASSERT_TRUE(SaveDayMemo(today, "备份里的今天"));
  for (int i = 0; i < 60; ++i)
    ASSERT_TRUE(SaveDayMemo(MakeDateTime(2020, 1, 1) + i, AllBytes(3000)));
  p.Stop();
  KeepBackupOfTheStore(p);
  {
    // Written after the backup: lost with the damaged store.
    auto store = TableStore::Open(p.path(kMemoStoreFileName), nullptr);
    ASSERT_TRUE(store && store->First() && store->Find(Day(today)));
    ASSERT_TRUE(store->Write("事情", std::string("备份之后改的"), nullptr));
  }
  std::string bytes = p.ReadFile(kMemoStoreFileName);
  std::mt19937 gen(5);
  for (size_t i = bytes.size() / 2; i < bytes.size() - 4096; ++i)
    bytes[i] = static_cast<char>(gen());
  p.WriteFile(kMemoStoreFileName, bytes);
  p.answer = [](const ShownMessage&) { return rt::IDYES; };
  p.Restart();
  // It opened; the question follows the check's verdict.
  ASSERT_TRUE(PumpUntil([&] { return p.messages.size() >= 2; }));
  EXPECT_EQ(p.messages[0].flags, rt::MB_YESNO | rt::MB_ICONWARNING);
  EXPECT_NE(p.messages[0].text.find("备忘录数据库文件已损坏"), std::string::npos);
  EXPECT_EQ(p.messages[1].flags, rt::MB_OK | rt::MB_ICONINFORMATION);
  ASSERT_EQ(DamagedKept(p).size(), 1u);
  EXPECT_EQ(p.ReadFile(DamagedKept(p)[0]), bytes);
  ASSERT_TRUE(FindDayMemo(today));
  EXPECT_EQ(ReadMemoText(), "备份里的今天");
  // The windows show the restored store, not what was read from the
  // damaged one before the verdict.
  rt::Runtime& r = p.runtime();
  EXPECT_EQ(
      r.GetEditText(kTodayMemoWindow, "编辑框1", r.EditTextLength(kTodayMemoWindow, "编辑框1")),
      "备份里的今天");
  // The restored store is the one written from now on.
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 8), "恢复之后"));
  EXPECT_EQ(Query(p.path(kMemoStoreFileName), "SELECT count(*) FROM records"),
            std::vector<std::string>{"62"});
}
