// Picking days, the memo editor, the today box and the midnight refresh.
#include "memo/calendar.h"

#include <gtest/gtest.h>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"
#include "tests/support/test_program.h"

namespace {

const double kToday = MakeDateTime(2026, 12, 7);
const double kOther = MakeDateTime(2026, 12, 15);
constexpr const char* kBox = "编辑框1";

std::string BoxText(rt::Runtime& r, const char* window) {
  return r.GetEditText(window, kBox, r.EditTextLength(window, kBox));
}

// Starts the program with a record mode; every editor that opens is recorded
// and given `typed` (when set) before it is closed.
struct CalendarFixture {
  TestProgram p;
  std::vector<std::string> opened;  // captions of the editors that opened
  std::optional<std::string> typed;

  explicit CalendarFixture(int mode, int returnToToday = 0) {
    p.WriteFile("Start.ini",
                Gbk("[主窗口]\r\n记录后回到今天=" + std::to_string(returnToToday) +
                    "\r\n[今天备忘录窗口]\r\n记录方式=" + std::to_string(mode) + "\r\n"));
    p.onModal = [this](const std::string& window) {
      rt::Runtime& r = p.runtime();
      opened.push_back(r.Caption(window));
      if (typed) r.SetEditText(window, kBox, *typed);
      r.CloseWindow(window);
    };
    p.Start();
  }
  void Pick(double day) {
    p.runtime().SetCalendarValue(kMainWindow, "Calendar1", day);
    image::EventArgs a;
    OnCalendarPicked(a);
  }
  void DoubleClick(double day) {
    p.runtime().SetCalendarValue(kMainWindow, "Calendar1", day);
    image::EventArgs a;
    OnCalendarDblClick(a);
  }
};

}  // namespace

TEST(RecordModes, SingleClickMode) {
  CalendarFixture f(1);
  f.Pick(kToday);
  EXPECT_TRUE(f.opened.empty());
  f.Pick(kOther);
  ASSERT_EQ(f.opened.size(), 1u);
  EXPECT_EQ(f.opened[0], "2026年12月15日 备忘录");
  f.DoubleClick(kToday);
  ASSERT_EQ(f.opened.size(), 2u);
  EXPECT_EQ(f.opened[1], "2026年12月7日 备忘录");
}

TEST(RecordModes, DoubleClickMode) {
  CalendarFixture f(2);
  f.Pick(kOther);
  f.Pick(kToday);
  EXPECT_TRUE(f.opened.empty());
  f.DoubleClick(kOther);
  f.DoubleClick(kToday);
  EXPECT_EQ(f.opened, (std::vector<std::string>{"2026年12月15日 备忘录", "2026年12月7日 备忘录"}));
}

TEST(RecordModes, AnyOtherModeOpensOnlyTodayOnDoubleClick) {
  CalendarFixture f(7);
  f.Pick(kOther);
  f.DoubleClick(kOther);
  EXPECT_TRUE(f.opened.empty());
  f.DoubleClick(kToday);
  EXPECT_EQ(f.opened.size(), 1u);
}

TEST(MemoEditor, ReturnToTodayDecidesWhereTheCalendarEnds) {
  {
    CalendarFixture f(2, 1);
    // While the editor is open the calendar still shows the day being edited.
    int dayWhileOpen = 0;
    f.p.onModal = [&](const std::string& w) {
      dayWhileOpen = f.p.runtime().CalendarDay(kMainWindow, "Calendar1");
      f.p.runtime().CloseWindow(w);
    };
    f.DoubleClick(kOther);
    rt::Runtime& r = f.p.runtime();
    EXPECT_EQ(dayWhileOpen, 15);
    EXPECT_EQ(r.CalendarDay(kMainWindow, "Calendar1"), 7);
  }
  {
    CalendarFixture f(2, 1);
    f.DoubleClick(kOther);
    EXPECT_EQ(f.opened.size(), 1u);  // setting the value opened no second editor
  }
  {
    CalendarFixture f(2, 0);
    f.DoubleClick(kOther);
    EXPECT_EQ(f.p.runtime().CalendarDay(kMainWindow, "Calendar1"), 15);
  }
}

TEST(MemoEditor, OpensOnTheDaysMemoAtTheMainWindowCorner) {
  CalendarFixture f(2);
  ASSERT_TRUE(SaveDayMemo(kOther, "买菜\n"));
  rt::Runtime& r = f.p.runtime();
  r.Move(kMainWindow, 321, 123);
  std::string seen;
  rt::Geometry at{};
  f.p.onModal = [&](const std::string& w) {
    seen = BoxText(r, w.c_str());
    at = r.GetGeometry(w);
    r.CloseWindow(w);
  };
  f.DoubleClick(kOther);
  EXPECT_EQ(seen, "买菜\n");
  EXPECT_EQ(at.left, r.GetGeometry(kMainWindow).left);
  EXPECT_EQ(at.top, r.GetGeometry(kMainWindow).top);
}

TEST(MemoEditor, SavingKeepsOneRecordPerDay) {
  CalendarFixture f(2);
  // Empty editor closed for a day without a memo: nothing stored.
  f.DoubleClick(kOther);
  EXPECT_FALSE(FindDayMemo(kOther));
  f.typed = "第一版";
  f.DoubleClick(kOther);
  f.typed = std::nullopt;  // unchanged text is written again
  f.DoubleClick(kOther);
  ASSERT_TRUE(FindDayMemo(kOther));
  EXPECT_EQ(ReadMemoText(), "第一版");
  f.typed = "";
  f.DoubleClick(kOther);
  ASSERT_TRUE(FindDayMemo(kOther));  // the record stays, emptied
  EXPECT_EQ(ReadMemoText(), "");
  const std::vector<double> days = DaysWithMemo(kToday - 30, kToday + 30);
  EXPECT_TRUE(days.empty());
}

TEST(TodayBox, ShowsTodaysMemoOrTheNoMemoText) {
  CalendarFixture f(2);
  rt::Runtime& r = f.p.runtime();
  EXPECT_EQ(BoxText(r, kTodayMemoWindow), NoMemoText);
  EXPECT_EQ(BoxText(r, kTodayMemoWindow), "今天没有备忘的事情");
  EXPECT_TRUE(r.EditReadOnly(kTodayMemoWindow, kBox));

  f.typed = "  \n";
  f.DoubleClick(kToday);
  EXPECT_EQ(BoxText(r, kTodayMemoWindow), "  \n");
  f.typed = "开会：下午三点 🙂";
  f.DoubleClick(kToday);
  EXPECT_EQ(BoxText(r, kTodayMemoWindow), "开会：下午三点 🙂");
  f.typed = "";
  f.DoubleClick(kToday);
  EXPECT_EQ(BoxText(r, kTodayMemoWindow), NoMemoText);
  // Another day's memo leaves the box alone.
  f.typed = "别的日子";
  f.DoubleClick(kOther);
  EXPECT_EQ(BoxText(r, kTodayMemoWindow), NoMemoText);
  EXPECT_TRUE(r.EditReadOnly(kTodayMemoWindow, kBox));
}

TEST(Midnight, TimerIntervalRoundsUpToTheNextMidnight) {
  EXPECT_EQ(MidnightInterval(MakeDateTime(2026, 12, 7, 0, 0, 0)), 86400000);
  EXPECT_EQ(MidnightInterval(MakeDateTime(2026, 12, 7, 12, 34, 56)), 41104000);
  EXPECT_EQ(MidnightInterval(MakeDateTime(2026, 12, 7, 23, 59, 59)), 1000);
}

TEST(Midnight, TheDayChangesWithoutTheUser) {
  TestProgram p;
  p.now = MakeDateTime(2026, 12, 7, 23, 59, 59);
  p.Start();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 8), "新的一天"));
  rt::Runtime& r = p.runtime();
  EXPECT_EQ(r.TimerInterval(kMainWindow, "时钟1"), 1000);
  EXPECT_EQ(r.Caption(kMainWindow), "Tamsivo 2026年12月7日");

  // A timer firing a moment early finds the old day and re-arms.
  p.now = MakeDateTime(2026, 12, 7, 23, 59, 59) + 0.5 / 86400;
  image::EventArgs a;
  OnMidnightTimer(a);
  EXPECT_EQ(TodayDate, MakeDateTime(2026, 12, 7));
  EXPECT_EQ(r.TimerInterval(kMainWindow, "时钟1"), 1000);

  p.now = MakeDateTime(2026, 12, 8, 0, 0, 1);
  OnMidnightTimer(a);
  EXPECT_EQ(TodayDate, MakeDateTime(2026, 12, 8));
  EXPECT_EQ(r.Caption(kMainWindow), "Tamsivo 2026年12月8日");
  EXPECT_EQ(r.CalendarDay(kMainWindow, "Calendar1"), 8);
  EXPECT_EQ(BoxText(r, kTodayMemoWindow), "新的一天");
  EXPECT_EQ(r.TimerInterval(kMainWindow, "时钟1"), 86399000);
}

TEST(Midnight, BackToTodayOnlyMovesTheCalendar) {
  CalendarFixture f(2);
  rt::Runtime& r = f.p.runtime();
  r.SetCalendarValue(kMainWindow, "Calendar1", MakeDateTime(2025, 3, 9));
  f.p.now = MakeDateTime(2026, 12, 9, 9, 0, 0);  // the clock moved on; TodayDate did not
  image::EventArgs a;
  OnBackToToday(a);
  EXPECT_EQ(r.CalendarYear(kMainWindow, "Calendar1"), 2026);
  EXPECT_EQ(r.CalendarDay(kMainWindow, "Calendar1"), 7);
  EXPECT_TRUE(f.opened.empty());
}

TEST(Midnight, ASleepAcrossMidnightIsNoticedWithinAMinute) {
  TestProgram p;
  p.Start();
  rt::Runtime& r = p.runtime();
  EXPECT_EQ(r.TimerInterval(kMainWindow, "时钟2"), 60000);
  // The computer slept from 23:00 to 08:00: the midnight timer, on a clock
  // that stood still, has not fired.
  p.now = MakeDateTime(2026, 12, 8, 8, 0, 0);
  image::EventArgs a;
  OnDateWatchTimer(a);
  EXPECT_EQ(TodayDate, MakeDateTime(2026, 12, 8));
  EXPECT_EQ(r.Caption(kMainWindow), "Tamsivo 2026年12月8日");
  // Set back by hand: followed too.
  p.now = MakeDateTime(2026, 12, 1, 9, 0, 0);
  OnDateWatchTimer(a);
  EXPECT_EQ(TodayDate, MakeDateTime(2026, 12, 1));
}

TEST(MemoEditor, TheCalendarHoldsOnlyDaysAMemoCanBelongTo) {
  CalendarFixture f(2);
  rt::Runtime& r = f.p.runtime();
  // A year typed below 100 stays at the first day a date-time holds.
  r.SetCalendarValue(kMainWindow, "Calendar1", MakeDateTime(100, 1, 1) - 400);
  EXPECT_EQ(r.CalendarYear(kMainWindow, "Calendar1"), 100);
  f.typed = "first century";
  image::EventArgs a;
  OnCalendarDblClick(a);
  ASSERT_EQ(f.opened.size(), 1u);
  EXPECT_EQ(f.opened[0], "100年1月1日 备忘录");
  ASSERT_TRUE(FindDayMemo(MakeDateTime(100, 1, 1)));
  EXPECT_FALSE(FindDayMemo(0.0));  // nothing under 1899-12-30
}
