// Picking a day on the calendar and the day refresh.
#include "memo/calendar.h"

#include <cstdio>
#include <memory>

#include "base/datetime.h"
#include "base/program.h"
#include "lunar/shipped_holidays.h"
#include "memo/anniversaries.h"
#include "memo/calendar_days.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"
#include "settings/settings.h"

namespace {

using ctl::kCalendar;
using ctl::kDateWatchTimer;
using ctl::kMidnightTimer;

// The date is looked at this often besides the midnight timer, whose
// monotonic clock stands still while the computer sleeps.
constexpr int kDateWatchMs = 60 * 1000;

bool SameDay(double a, double b) { return ClampDate(a) == ClampDate(b); }

bool IsToday(const std::optional<double>& day) { return day && SameDay(*day, TodayDate); }

// The calendar as designed, and what it grows by to give each cell a second
// line; MainWindow grows by as much.
constexpr int kCalendarWidth = 302, kCalendarHeight = 182;
constexpr int kLinesExtraWidth = 90, kLinesExtraHeight = 96;
// Enough of a memo for its first line in a tooltip.
constexpr int kMemoStartBytes = 160;

void ReportHolidayProblems(const lunar::HolidayCalendar& holidays) {
  static size_t reported = 0;
  const auto& problems = holidays.Problems();
  for (; reported < problems.size(); ++reported) {
    const lunar::HolidayProblem& p = problems[reported];
    std::fprintf(stderr, "tamsivo: %s:%d: %s（这个文件没有采用）\n", p.file.c_str(), p.line,
                 p.reason.c_str());
  }
}

}  // namespace

lunar::HolidayCalendar& ProgramHolidays() {
  static std::unique_ptr<lunar::HolidayCalendar> holidays;
  static std::vector<std::filesystem::path> dirs;
  std::vector<std::filesystem::path> now =
      HolidayDirectories(DataDirectory(), Rt().ProgramDirectory());
  if (!holidays || now != dirs) {
    dirs = std::move(now);
    holidays = std::make_unique<lunar::HolidayCalendar>(dirs, lunar::ShippedHolidayFiles());
  }
  return *holidays;
}

std::optional<double> ReadCalendarDay() {
  const std::string text = std::to_string(Rt().CalendarYear(kMainWindow, kCalendar)) + "年" +
                           std::to_string(Rt().CalendarMonth(kMainWindow, kCalendar)) + "月" +
                           std::to_string(Rt().CalendarDay(kMainWindow, kCalendar)) + "日";
  return TextToDateTime(text);
}

void OnCalendarPicked(image::EventArgs&) {
  if (RecordMode != 1) return;
  if (IsToday(ReadCalendarDay())) return;
  OpenMemoEditor();
}

void OnCalendarDblClick(image::EventArgs&) {
  if (RecordMode == 2 || IsToday(ReadCalendarDay())) OpenMemoEditor();
}

int MidnightInterval(double now) {
  const DateParts p = SplitDateTime(now);
  return ((23 - p.hour) * 3600 + (59 - p.minute) * 60 + 60 - p.second) * 1000;
}

void RefreshToday() {
  const double now = Rt().Now();
  Rt().SetCalendarValue(kMainWindow, kCalendar, DatePart(now));
  TodayDate = ReadCalendarDay().value_or(DatePart(now));
  Rt().SetCaption(kMainWindow, "Tamsivo " + DateTimeToText(TodayDate));
  RefreshTodayMemo();
  Rt().SetTimerInterval(kMainWindow, kMidnightTimer, MidnightInterval(now));
  Rt().SetTimerInterval(kMainWindow, kDateWatchTimer, kDateWatchMs);
  MarkMemoDays();
}

void CheckDateChange() {
  if (!SameDay(DatePart(Rt().Now()), TodayDate)) RefreshToday();
}

void OnMidnightTimer(image::EventArgs&) { RefreshToday(); }

void OnDateWatchTimer(image::EventArgs&) { CheckDateChange(); }

void OnBackToToday(image::EventArgs&) { Rt().SetCalendarValue(kMainWindow, kCalendar, TodayDate); }

void MarkMemoDays() {
  int year = 0, month = 0;
  Rt().CalendarShownMonth(kMainWindow, kCalendar, year, month);
  if (year < 100 || month < 1 || month > 12) return;
  // The month grid shows up to a week of the months on either side.
  const double first = MakeDateTime(year, month, 1);
  const double from = first - 7;
  const double to = first + 31 + 14;
  const std::vector<rt::DayText> memos = MemoStarts(from, to, kMemoStartBytes);
  std::vector<double> days;
  days.reserve(memos.size());
  for (const rt::DayText& m : memos) days.push_back(m.day);
  Rt().SetCalendarMarkedDays(kMainWindow, kCalendar, days);
  lunar::HolidayCalendar& holidays = ProgramHolidays();
  std::vector<rt::CalendarDayText> page = CalendarPageTexts(year, month, holidays, memos);
  AddAnniversaries(page, Anniversaries());
  Rt().SetCalendarDayTexts(kMainWindow, kCalendar, page, ReadFlagSetting(item::kShowLunar));
  ReportHolidayProblems(holidays);
}

void ApplyCalendarLayout() {
  const bool lines = ReadFlagSetting(item::kShowLunar);
  const int width = kCalendarWidth + (lines ? kLinesExtraWidth : 0);
  const int height = kCalendarHeight + (lines ? kLinesExtraHeight : 0);
  const rt::Geometry cal = Rt().GetGeometry(kMainWindow, kCalendar);
  if (cal.width == width && cal.height == height) return;
  const rt::Geometry w = Rt().GetGeometry(kMainWindow);
  Rt().ResizeControl(kMainWindow, kCalendar, width, height);
  Rt().ResizeControl(kMainWindow, {}, w.width + width - cal.width, w.height + height - cal.height);
}

void OnCalendarPageChanged(image::EventArgs&) { MarkMemoDays(); }
