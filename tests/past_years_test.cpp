// 往年今日: the year counts in words, the days looked up, and the list under
// today's memo: shown only with the option, latest year first, each line
// opening its day's editor, the window growing and shrinking with it.
#include "memo/past_years.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QListWidget>
#include <chrono>
#include <cstdio>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"
#include "settings/settings.h"
#include "tests/support/test_program.h"

TEST(PastYears, YearCountsInChineseNumerals) {
  const std::pair<int, const char*> cases[] = {
      {1, "一年前"},         {5, "五年前"},         {10, "十年前"},          {11, "十一年前"},
      {20, "二十年前"},      {21, "二十一年前"},    {99, "九十九年前"},      {100, "一百年前"},
      {101, "一百零一年前"}, {110, "一百一十年前"}, {112, "一百一十二年前"}, {200, "二百年前"},
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(YearsAgoText(n), text) << n;
}

TEST(PastYears, SameDayInEarlierYearsLatestFirstLeapDayOnlyInLeapYears) {
  const std::vector<double> december = SameDayInEarlierYears(MakeDateTime(2026, 12, 9, 15, 30));
  ASSERT_EQ(december.size(), 200u);
  EXPECT_EQ(december[0], MakeDateTime(2025, 12, 9));
  EXPECT_EQ(december[4], MakeDateTime(2021, 12, 9));
  EXPECT_EQ(december.back(), MakeDateTime(1826, 12, 9));
  const std::vector<double> leap = SameDayInEarlierYears(MakeDateTime(2028, 2, 29));
  ASSERT_GE(leap.size(), 3u);
  EXPECT_EQ(leap[0], MakeDateTime(2024, 2, 29));
  EXPECT_EQ(leap[1], MakeDateTime(2020, 2, 29));
  // 1900 was no leap year.
  for (double d : leap) EXPECT_NE(SplitDateTime(d).year, 1900);
  // The first years of the calendar: nothing before year 100.
  EXPECT_EQ(SameDayInEarlierYears(MakeDateTime(102, 3, 1)).size(), 2u);
}

namespace {

QListWidget* PastList() {
  QWidget* w = ShownWindow(kTodayMemoWindow);
  return w ? w->findChild<QListWidget*>(ctl::kPastYearsList) : nullptr;
}

std::vector<std::string> Lines(QListWidget* list) {
  std::vector<std::string> out;
  for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
  return out;
}

}  // namespace

TEST(PastYears, ListUnderTodaysMemoOpensItsDay) {
  TestProgram p;
  p.now = MakeDateTime(2026, 12, 9, 9, 0, 0);
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  for (const auto& [day, text] : std::vector<std::pair<double, std::string>>{
           {MakeDateTime(2025, 12, 9), "去年的今天\n第二行"},
           {MakeDateTime(2021, 12, 9), "五年前的事"},
           {MakeDateTime(2014, 12, 9), "\n空行开头"},
           {MakeDateTime(2025, 12, 10), "另一天"},
           {MakeDateTime(2026, 12, 9), "今天的"},
           {MakeDateTime(2027, 12, 9), "明年的"}}) {
    ASSERT_TRUE(SaveDayMemo(day, text));
  }
  const int height = p.runtime().GetGeometry(kTodayMemoWindow).height;
  // Off unless asked for.
  RefreshTodayMemo();
  QListWidget* list = PastList();
  ASSERT_NE(list, nullptr);
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(p.runtime().GetGeometry(kTodayMemoWindow).height, height);

  ASSERT_TRUE(WriteFlagSetting(item::kPastYears, true));
  RefreshTodayMemo();
  EXPECT_TRUE(list->isVisible());
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"一年前：去年的今天", "五年前：五年前的事",
                                                   "十二年前：（空白开头）"}));
  EXPECT_GT(p.runtime().GetGeometry(kTodayMemoWindow).height, height);
  // Below the memo, inside the window.
  EXPECT_GE(list->y(), 182);
  EXPECT_LE(list->geometry().bottom(), list->parentWidget()->height());

  // Enter or a double click on a line opens that day's editor.
  std::string caption;
  p.onModal = [&](const std::string& w) {
    caption = p.runtime().Caption(w);
    p.runtime().CloseWindow(w);
  };
  emit list->itemActivated(list->item(1));
  p.onModal = nullptr;
  EXPECT_EQ(caption, "2021年12月9日 备忘录");

  // A day with none, and the option turned off: the window as it was.
  p.now = MakeDateTime(2026, 12, 11, 9, 0, 0);
  CheckDateChange();
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(p.runtime().GetGeometry(kTodayMemoWindow).height, height);
  p.now = MakeDateTime(2026, 12, 9, 9, 0, 0);
  CheckDateChange();
  EXPECT_TRUE(list->isVisible());
  ASSERT_TRUE(WriteFlagSetting(item::kPastYears, false));
  RefreshTodayMemo();
  EXPECT_FALSE(list->isVisible());
  EXPECT_EQ(p.runtime().GetGeometry(kTodayMemoWindow).height, height);
}

// One look-up whatever the store's size: a memo every day for 60 years,
// written the way another tool would while the program is not running.
TEST(PastYears, OneLookUpOnALargeStore) {
  TestProgram p;
  p.now = MakeDateTime(2026, 12, 9, 9, 0, 0);
  p.Start();
  p.Stop();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(p.path(kMemoStoreFileName).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO records(\"日期\", \"事情\") VALUES(?1, ?2)", -1,
                               &insert, nullptr),
            SQLITE_OK);
  const double first = MakeDateTime(1966, 12, 9), today = MakeDateTime(2026, 12, 9);
  for (double d = first; d < today; d += 1) {
    const std::string text = "第" + std::to_string(static_cast<int>(d - first)) + "天";
    sqlite3_bind_double(insert, 1, d);
    sqlite3_bind_blob(insert, 2, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  p.Start();
  const auto start = std::chrono::steady_clock::now();
  const std::vector<PastYearLine> lines = PastYearLines(TodayDate);
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  ASSERT_EQ(lines.size(), 60u);
  EXPECT_EQ(lines[0].day, MakeDateTime(2025, 12, 9));
  EXPECT_EQ(lines[0].text, "一年前：第21550天");
  EXPECT_EQ(lines[59].text, "六十年前：第0天");
  std::printf("往年今日 over %d memos: %lld us\n", static_cast<int>(today - first),
              static_cast<long long>(us));
}
