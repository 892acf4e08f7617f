// Recurring days through the program: the 纪念日 window's fields and
// messages, what the calendar and the today box say, reminders at their
// time with the clock injected (missed ones once, how late; 打开 and
// 稍后提醒; other notifications left alone), the daily memo reminder, and
// the calendar export's yearly rules against libical's own expansion.
#include <gtest/gtest.h>
#include <libical/ical.h>

#include <QListWidget>

#include "archive/export.h"
#include "base/datetime.h"
#include "base/program.h"
#include "memo/anniversaries.h"
#include "memo/anniversary_window.h"
#include "memo/calendar_days.h"
#include "memo/memo_store.h"
#include "memo/reminders.h"
#include "settings/settings.h"
#include "tests/support/store_test_util.h"
#include "tests/support/test_program.h"

namespace {

constexpr const char* kWin = kAnniversaryWindow;
constexpr double kMinute = 1.0 / (24 * 60);

void Started(TestProgram& p) {
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked() && AnniversariesLoaded(); }));
}

void Fill(const char* name, bool lunar, int month, const std::string& day,
          const std::string& start = "", int remindDays = -1, const std::string& at = "") {
  Rt().SetCaption(kWin, name, ctl::kAnnName);
  Rt().SetChecked(kWin, ctl::kAnnLunar, lunar);
  Rt().SetChecked(kWin, ctl::kAnnSolar, !lunar);
  Rt().SetCaption(kWin, std::to_string(month), ctl::kAnnMonth);
  Rt().SetCaption(kWin, day, ctl::kAnnDay);
  Rt().SetCaption(kWin, start, ctl::kAnnStartYear);
  Rt().SetChecked(kWin, ctl::kAnnRemind, remindDays >= 0);
  Rt().SetCaption(kWin, std::to_string(std::max(remindDays, 0)), ctl::kAnnRemindDays);
  Rt().SetCaption(kWin, at, ctl::kAnnRemindTime);
}

void Add() {
  image::EventArgs args;
  OnAnniversaryAdd(args);
}

std::vector<std::string> ListLines() {
  std::vector<std::string> out;
  auto* list = ShownWindow(kWin)->findChild<QListWidget*>(ctl::kAnnList);
  for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
  return out;
}

void OpenWindow() {
  image::EventArgs args;
  OnAnniversaryMenu(args);
  ASSERT_NE(ShownWindow(kWin), nullptr);
}

TEST(AnniversaryWindow, AddsEditsRemovesAndTellsBadInput) {
  TestProgram p;
  p.now = MakeDateTime(2026, 12, 9, 8, 0);
  Started(p);
  OpenWindow();
  const std::pair<std::string, std::string> bad[] = {
      {"13", "月份应在 1 到 12 之间。"},
      {"x", "请用数字填写月和日，例如 8 月 15 日。"},
  };
  for (const auto& [month, message] : bad) {
    Fill("妈妈生日", true, 8, "15");
    Rt().SetCaption(kWin, month, ctl::kAnnMonth);
    p.messages.clear();
    Add();
    ASSERT_EQ(p.messages.size(), 1u) << month;
    EXPECT_EQ(p.messages[0].text, message);
  }
  Fill("", true, 8, "15");
  p.messages.clear();
  Add();
  EXPECT_EQ(p.messages.at(0).text, "请填写纪念日的名称。");
  Fill("情人节", false, 2, "14", "", 3, "25:00");
  p.messages.clear();
  Add();
  EXPECT_EQ(p.messages.at(0).text, "提醒时间请写成 时:分，例如 08:30。");
  Fill("生日", false, 2, "30");
  p.messages.clear();
  Add();
  EXPECT_EQ(p.messages.at(0).text, "这个月没有这一天，请检查日期。");
  EXPECT_TRUE(Anniversaries().empty());

  // Full-width digits are numbers too.
  Fill("妈妈生日", true, 8, "１５", "1966");
  p.messages.clear();
  Add();
  EXPECT_TRUE(p.messages.empty()) << p.messages[0].text;
  Fill("结婚纪念日", false, 12, "9", "2000", 0, "08:30");
  Add();
  EXPECT_EQ(ListLines(), (std::vector<std::string>{
                             "妈妈生日 · 农历八月十五 · 下次 2027年9月15日（280 天后），第 61 个",
                             "结婚纪念日 · 12月9日 · 下次 2026年12月9日（今天），第 26 个 · 当天 "
                             "08:30 提醒"}));
  // The reminder's time had passed when it was entered: not shown as missed.
  EXPECT_TRUE(p.notifications.empty());

  // Selecting fills the fields; 修改 writes them over that one.
  Rt().SetListCurrentIndex(kWin, ctl::kAnnList, 0);
  image::EventArgs args;
  OnAnniversarySelected(args);
  EXPECT_EQ(Rt().Caption(kWin, ctl::kAnnName), "妈妈生日");
  EXPECT_TRUE(Rt().IsChecked(kWin, ctl::kAnnLunar));
  EXPECT_EQ(Rt().Caption(kWin, ctl::kAnnDay), "15");
  Rt().SetCaption(kWin, "母亲生日", ctl::kAnnName);
  OnAnniversaryEdit(args);
  EXPECT_EQ(Anniversaries().at(0).a.name, "母亲生日");
  EXPECT_EQ(Anniversaries().size(), 2u);

  // The store keeps them across a restart; 删除 asks first.
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return AnniversariesLoaded(); }));
  ASSERT_EQ(Anniversaries().size(), 2u);
  OpenWindow();
  Rt().SetListCurrentIndex(kWin, ctl::kAnnList, 1);
  p.answer = [](const ShownMessage& m) {
    return m.text == "删除纪念日“结婚纪念日”吗？" ? rt::IDNO : rt::IDOK;
  };
  OnAnniversaryDelete(args);
  EXPECT_EQ(Anniversaries().size(), 2u);
  p.answer = [](const ShownMessage&) { return rt::IDYES; };
  OnAnniversaryDelete(args);
  ASSERT_EQ(Anniversaries().size(), 1u);
  EXPECT_EQ(store_test::Query(DataFile(kMemoStoreFileName), "SELECT name FROM anniversaries"),
            std::vector<std::string>{"母亲生日"});
  p.Stop();
}

TEST(AnniversaryDays, CalendarCellsAndTheTodayBox) {
  std::vector<StoredAnniversary> all(2);
  all[0].a.name = "妈妈生日";
  all[0].a.lunar = true;
  all[0].a.month = 8;
  all[0].a.day = 15;
  all[0].a.startYear = 1966;
  all[1].a.name = "情人节";
  all[1].a.month = 2;
  all[1].a.day = 14;
  lunar::HolidayCalendar holidays({});
  std::vector<rt::CalendarDayText> page = CalendarPageTexts(2026, 9, holidays, {});
  AddAnniversaries(page, all);
  int marked = 0;
  for (const rt::CalendarDayText& t : page) {
    if (t.badge.empty()) continue;
    ++marked;
    EXPECT_EQ(t.day, MakeDateTime(2026, 9, 25));
    EXPECT_EQ(t.badge, "纪念日");
    EXPECT_NE(t.tooltip.find("\n纪念日：妈妈生日（农历八月十五），第 60 个"), std::string::npos);
  }
  EXPECT_EQ(marked, 1);
  // Past the lunar table the tooltips say why no 农历 day is shown; the 公历
  // one still is.
  page = CalendarPageTexts(2101, 2, holidays, {});
  AddAnniversaries(page, all);
  for (const rt::CalendarDayText& t : page) {
    EXPECT_NE(t.tooltip.find("农历纪念日只能推算 1901–2100 年"), std::string::npos);
    EXPECT_EQ(t.badge.empty(), t.day != MakeDateTime(2101, 2, 14));
  }

  TestProgram p;
  p.now = MakeDateTime(2026, 9, 25, 7, 0);
  Started(p);
  StoredAnniversary s = all[0];
  std::string error;
  ASSERT_TRUE(SaveAnniversary(&s, p.now, &error)) << error;
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 9, 25), "订蛋糕"));
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return AnniversariesLoaded(); }));
  const int length = Rt().EditTextLength(kTodayMemoWindow, ctl::kMemoBox);
  EXPECT_EQ(Rt().GetEditText(kTodayMemoWindow, ctl::kMemoBox, length),
            "今天：妈妈生日（农历八月十五），第 60 个\n\n订蛋糕");
  p.Stop();
}

// Reminders at their time, once, with the clock injected.
TEST(Reminders, OnTimeMissedOnceSnoozedAndOnlyOurs) {
  TestProgram p;
  p.now = MakeDateTime(2026, 9, 20, 8, 0);
  Started(p);
  StoredAnniversary s;
  s.a.name = "妈妈生日";
  s.a.lunar = true;
  s.a.month = 8;
  s.a.day = 15;  // 2026-09-25
  s.a.startYear = 1966;
  s.a.remindDays = 3;
  s.a.remindMinute = 9 * 60;
  std::string error;
  ASSERT_TRUE(SaveAnniversary(&s, p.now, &error)) << error;
  CheckReminders();
  EXPECT_TRUE(p.notifications.empty());
  p.now = MakeDateTime(2026, 9, 22, 8, 59);
  CheckReminders();
  EXPECT_TRUE(p.notifications.empty());
  p.now = MakeDateTime(2026, 9, 22, 9, 0);
  CheckReminders();
  ASSERT_EQ(p.notifications.size(), 1u);
  EXPECT_EQ(p.notifications[0].title, "纪念日提醒：妈妈生日");
  EXPECT_EQ(p.notifications[0].body, "妈妈生日（农历八月十五），第 60 个\n还有 3 天（9月25日）");
  EXPECT_EQ(p.notifications[0].actions, (std::vector<std::string>{"打开", "稍后提醒"}));
  CheckReminders();
  EXPECT_EQ(p.notifications.size(), 1u);

  // Someone else's handle does nothing; 稍后提醒 shows it again ten minutes on.
  image::EventArgs args;
  args.code = 99;
  args.action = 1;
  OnNotificationAnswered(args);
  args.code = 1;
  OnNotificationAnswered(args);
  p.now += 9 * kMinute;
  CheckReminders();
  EXPECT_EQ(p.notifications.size(), 1u);
  p.now += 1 * kMinute;
  CheckReminders();
  ASSERT_EQ(p.notifications.size(), 2u);
  // 打开 shows the day.
  args.code = 2;
  args.action = 0;
  OnNotificationAnswered(args);
  EXPECT_EQ(Rt().CalendarMonth(kMainWindow, ctl::kCalendar), 9);
  EXPECT_EQ(Rt().CalendarDay(kMainWindow, ctl::kCalendar), 25);

  // A restart does not show it again: the store says it was shown.
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return AnniversariesLoaded(); }));
  EXPECT_EQ(p.notifications.size(), 2u);

  // Next year's, missed while the program was not running (and the clock
  // jumped past it): shown once at the start, saying how late.
  p.Stop();
  p.notifications.clear();
  p.now = MakeDateTime(2027, 9, 14, 11, 30);  // due 2027-09-12 09:00 for 09-15
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return AnniversariesLoaded(); }));
  ASSERT_EQ(p.notifications.size(), 1u);
  EXPECT_EQ(p.notifications[0].body,
            "妈妈生日（农历八月十五），第 61 个\n就在明天（9月15日）\n"
            "（这条提醒晚了 2 天 2 小时：当时程序没有运行或电脑在休眠）");
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return AnniversariesLoaded(); }));
  EXPECT_EQ(p.notifications.size(), 1u);
  // Over a week past the day, a missed one is no longer brought up.
  p.Stop();
  p.now = MakeDateTime(2028, 10, 12, 9, 0);  // 2028's is 10-03
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return AnniversariesLoaded(); }));
  EXPECT_EQ(p.notifications.size(), 1u);
  p.Stop();
}

TEST(Reminders, TheDailyMemoReminderIsSilentWhenTodayHasText) {
  TestProgram p;
  p.now = MakeDateTime(2026, 12, 9, 20, 0);
  Started(p);
  ASSERT_TRUE(WriteSetting(item::kMemoReminder, "21:00"));
  CheckReminders();
  EXPECT_TRUE(p.notifications.empty());
  p.now = MakeDateTime(2026, 12, 9, 21, 0);
  CheckReminders();
  ASSERT_EQ(p.notifications.size(), 1u);
  EXPECT_EQ(p.notifications[0].title, "写今天的备忘录");
  CheckReminders();
  EXPECT_EQ(p.notifications.size(), 1u);
  // The next day's memo was written before its time: nothing then.
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 10), "写好了"));
  p.now = MakeDateTime(2026, 12, 10, 22, 0);
  CheckReminders();
  EXPECT_EQ(p.notifications.size(), 1u);
  // Started late on an empty day: shown, saying how late.
  p.Stop();
  p.now = MakeDateTime(2026, 12, 11, 23, 15);
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return AnniversariesLoaded(); }));
  ASSERT_EQ(p.notifications.size(), 2u);
  EXPECT_EQ(p.notifications[1].body, "今天的备忘录还是空的。\n（这条提醒晚了 2 小时 15 分钟）");
  // 打开 opens today's editor (the handle is this run's first).
  bool opened = false;
  p.onModal = [&](const std::string& window) {
    opened = window == kMemoEditWindow;
    Rt().CloseWindow(window);
  };
  image::EventArgs args;
  args.code = 1;
  OnNotificationAnswered(args);
  EXPECT_TRUE(opened);
  p.Stop();
}

TEST(Reminders, TheDailyBoxTakesOnlyATime) {
  TestProgram p;
  p.now = MakeDateTime(2026, 12, 9, 8, 0);
  Started(p);
  OpenWindow();
  Rt().SetCaption(kWin, "9点", ctl::kMemoReminderTime);
  Rt().SetChecked(kWin, ctl::kMemoReminder, true);
  image::EventArgs args;
  OnMemoReminderBox(args);
  EXPECT_FALSE(Rt().IsChecked(kWin, ctl::kMemoReminder));
  EXPECT_EQ(p.messages.at(0).text, "提醒时间请写成 时:分，例如 21:00。");
  EXPECT_EQ(ReadSetting(item::kMemoReminder), "");
  Rt().SetCaption(kWin, "7:05", ctl::kMemoReminderTime);
  Rt().SetChecked(kWin, ctl::kMemoReminder, true);
  OnMemoReminderBox(args);
  EXPECT_EQ(ReadSetting(item::kMemoReminder), "07:05");
  // Already past today and today is empty: said at once.
  EXPECT_EQ(p.notifications.size(), 1u);
  Rt().SetChecked(kWin, ctl::kMemoReminder, false);
  OnMemoReminderBox(args);
  EXPECT_EQ(ReadSetting(item::kMemoReminder), "");
  p.Stop();
}

TEST(CalendarExport, TheFileHoldsTheRulesAndTheDatedDays) {
  TestProgram p;
  p.now = MakeDateTime(2026, 12, 9, 8, 0);
  Started(p);
  StoredAnniversary mother, eve;
  mother.a.name = "妈妈生日";
  mother.a.lunar = true;
  mother.a.month = 8;
  mother.a.day = 15;
  eve.a.name = "除夕";
  eve.a.lunar = true;
  eve.a.month = 12;
  eve.a.day = 30;
  std::string error;
  ASSERT_TRUE(SaveAnniversary(&mother, p.now, &error) && SaveAnniversary(&eve, p.now, &error));
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 9), "开会"));
  const std::string file = p.path("导出.ics");
  int count = 0;
  ASSERT_TRUE(archive::ExportMemos(DataFile(kMemoStoreFileName), file, &count, &error,
                                   CalendarExportEvents(MakeDateTime(2026, 12, 9))))
      << error;
  EXPECT_EQ(count, 1);
  const std::string ics = p.ReadFile("导出.ics");
  // libical writes the parts in an order of its own.
  EXPECT_NE(ics.find("RRULE:RSCALE=CHINESE;FREQ=YEARLY;BYMONTHDAY=15;BYMONTH=8;SKIP=BACKWARD"),
            std::string::npos)
      << ics;
  EXPECT_NE(ics.find("UID:anniversary-1@tamsivo"), std::string::npos);
  // 除夕 of lunar 2026 is 2027-02-05 (腊月廿九), dated one by one.
  EXPECT_NE(ics.find("UID:20270205-anniversary-2@tamsivo"), std::string::npos) << ics;
  EXPECT_NE(ics.find("SUMMARY:除夕（农历腊月三十）"), std::string::npos);
  std::size_t events = 0;
  for (std::size_t at = 0; (at = ics.find("BEGIN:VEVENT", at)) != std::string::npos; ++at) ++events;
  EXPECT_EQ(events, 1u + 1u + 50u);
  p.Stop();
}

// The yearly rules written where libical takes RSCALE give, in libical's
// own expansion, exactly the days the program counts; without it, the next
// 50 years are dated one by one.
TEST(CalendarExport, YearlyRulesMatchTheProgramsDays) {
  ASSERT_TRUE(archive::RscaleSupported("CHINESE"));
  std::vector<archive::AnniversaryRow> rows;
  const auto row = [&](bool lunar, int month, int day, bool leap = false, bool both = false) {
    archive::AnniversaryRow r;
    r.id = static_cast<std::int64_t>(rows.size()) + 1;
    r.name = "日子" + std::to_string(r.id);
    r.lunar = lunar;
    r.month = month;
    r.day = day;
    r.leap = leap;
    r.bothMonths = both;
    rows.push_back(r);
  };
  row(true, 8, 15);
  row(true, 12, 30);      // 三十 of a 29-day 腊月 is its 廿九
  row(true, 6, 1, true);  // 闰六月 2025 only
  row(true, 4, 8, false, true);
  row(false, 2, 29);
  row(false, 12, 9);
  const double today = MakeDateTime(2026, 12, 9);
  const std::vector<archive::YearlyEvent> events = YearlyEventsOf(rows, today, true);
  ASSERT_EQ(events.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const archive::YearlyEvent& e = events[i];
    StoredAnniversary s;
    s.a.lunar = rows[i].lunar;
    s.a.month = rows[i].month;
    s.a.day = rows[i].day;
    s.a.leap = rows[i].leap;
    s.a.bothMonths = rows[i].bothMonths;
    const lunar::CivilDate first = CivilOf(e.days.at(0));
    std::vector<lunar::CivilDate> ours, theirs;
    for (const lunar::Occurrence& o : lunar::OccurrencesBetween(s.a, first, {2076, 12, 1}))
      ours.push_back(o.date);
    if (e.rule.empty()) {
      for (double d : e.days)
        if (d <= MakeDateTime(2076, 12, 1)) theirs.push_back(CivilOf(d));
      EXPECT_EQ(theirs, ours) << i;
      continue;
    }
    ASSERT_EQ(e.days.size(), 1u);
    const icalrecurrencetype recur = icalrecurrencetype_from_string(e.rule.c_str());
    char start[16];
    std::snprintf(start, sizeof start, "%04d%02d%02d", first.year, first.month, first.day);
    icalrecur_iterator* it = icalrecur_iterator_new(recur, icaltime_from_string(start));
    ASSERT_NE(it, nullptr) << e.rule;
    for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t);
         t = icalrecur_iterator_next(it)) {
      if (lunar::CivilDate{t.year, t.month, t.day} > lunar::CivilDate{2076, 12, 1}) break;
      theirs.push_back({t.year, t.month, t.day});
    }
    icalrecur_iterator_free(it);
    EXPECT_EQ(theirs, ours) << e.rule;
  }
  // Debian 12's libical (ICU 72) agrees on 八月十五 and on 2月29日; its 三十
  // of a small 腊月, its missing 闰六月 and its 四月 with 闰四月 differ from
  // the program's, so those are dated one by one.
  EXPECT_EQ(events[0].rule, "RSCALE=CHINESE;FREQ=YEARLY;BYMONTH=8;BYMONTHDAY=15;SKIP=BACKWARD");
  EXPECT_EQ(events[4].rule, "RSCALE=GREGORIAN;FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29;SKIP=BACKWARD");
  EXPECT_EQ(events[5].rule, "FREQ=YEARLY");
  for (int dated : {1, 2, 3}) EXPECT_EQ(events[dated].rule, "") << dated;

  // Without RSCALE: dated items for 50 years, the plain yearly rule kept.
  const std::vector<archive::YearlyEvent> dated = YearlyEventsOf(rows, today, false);
  EXPECT_TRUE(dated[0].rule.empty());
  EXPECT_EQ(dated[0].days.size(), 50u);
  EXPECT_EQ(CivilOf(dated[0].days[0]), (lunar::CivilDate{2027, 9, 15}));
  EXPECT_EQ(dated[4].days.size(), 50u);
  EXPECT_EQ(CivilOf(dated[4].days[0]), (lunar::CivilDate{2027, 2, 28}));
  EXPECT_EQ(dated[5].rule, "FREQ=YEARLY");
}

}  // namespace
