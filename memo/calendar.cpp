// Picking a day on the calendar and the day refresh.
#include "memo/calendar.h"

#include "base/datetime.h"
#include "base/program.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"

namespace {

using ctl::kCalendar;
using ctl::kDateWatchTimer;
using ctl::kMidnightTimer;

// The date is looked at this often besides the midnight timer, whose
// monotonic clock stands still while the computer sleeps.
constexpr int kDateWatchMs = 60 * 1000;

bool SameDay(double a, double b) { return ClampDate(a) == ClampDate(b); }

bool IsToday(const std::optional<double>& day) { return day && SameDay(*day, TodayDate); }

}  // namespace

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
  Rt().SetCalendarMarkedDays(kMainWindow, kCalendar, DaysWithMemo(from, to));
}

void OnCalendarPageChanged(image::EventArgs&) { MarkMemoDays(); }
