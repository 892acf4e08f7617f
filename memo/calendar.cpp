// Picking a day on the calendar, the memo editor, and the day refresh.
#include "memo/calendar.h"

#include "app/datetime.h"
#include "app/program.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"

namespace {

constexpr const char* kCalendar = "Calendar1";
constexpr const char* kBox = "编辑框1";

bool SameDay(double a, double b) { return ClampDate(a) == ClampDate(b); }

}  // namespace

double ReadCalendarDay() {
  const std::string text = std::to_string(Rt().CalendarYear(kMainWindow, kCalendar)) + "年" +
                           std::to_string(Rt().CalendarMonth(kMainWindow, kCalendar)) + "月" +
                           std::to_string(Rt().CalendarDay(kMainWindow, kCalendar)) + "日";
  return TextToDateTime(text).value_or(0.0);
}

void OnCalendarPicked(image::EventArgs&) {
  if (RecordMode != 1) return;
  if (SameDay(ReadCalendarDay(), TodayDate)) return;
  OpenMemoEditor();
}

void OnCalendarDblClick(image::EventArgs&) {
  if (RecordMode == 2 || SameDay(ReadCalendarDay(), TodayDate)) OpenMemoEditor();
}

void OpenMemoEditor() {
  SelectedDate = ReadCalendarDay();
  Rt().LoadWindow(kMemoEditWindow, kMainWindow, true);
  if (ReturnToToday == 1) Rt().SetCalendarValue(kMainWindow, kCalendar, TodayDate);
}

void OnMemoEditorCreated(image::EventArgs&) {
  if (FindDayMemo(SelectedDate)) Rt().SetEditText(kMemoEditWindow, kBox, ReadMemoText());
  Rt().EditSetupA(kMemoEditWindow, kBox, 0, 25);
  Rt().EditSetupB(kMemoEditWindow, kBox, 32, 12);
  Rt().SetCaption(kMemoEditWindow, DateTimeToText(SelectedDate) + " 备忘录");
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  Rt().Move(kMemoEditWindow, main.left, main.top);
}

void OnMemoEditorClose(image::EventArgs& args) {
  const int length = Rt().EditTextLength(kMemoEditWindow, kBox);
  const std::string text = Rt().GetEditText(kMemoEditWindow, kBox, length);
  std::string error;
  if (!SaveDayMemo(SelectedDate, text, &error)) {
    // Keep the window and the text; closing it again tries again.
    Rt().MessageBox("备忘录没有保存：无法写入“" + ProgramFile(kMemoStoreFileName) + "”。\r\n原因：" +
                        error +
                        "\r\n\r\n编辑窗口保持打开，文字仍在其中。可以稍后再关闭窗口重试，"
                        "或者把文字复制出来另行保存。",
                    rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
    args.cancel = true;
    return;
  }
  if (SameDay(SelectedDate, TodayDate)) RefreshTodayMemo();
  MarkMemoDays();
}

int MidnightInterval(double now) {
  const DateParts p = SplitDateTime(now);
  return ((23 - p.hour) * 3600 + (59 - p.minute) * 60 + 60 - p.second) * 1000;
}

void RefreshToday() {
  const double now = Rt().Now();
  Rt().SetCalendarValue(kMainWindow, kCalendar, DatePart(now));
  TodayDate = ReadCalendarDay();
  Rt().SetCaption(kMainWindow, "Tamsivo " + DateTimeToText(TodayDate));
  RefreshTodayMemo();
  Rt().SetTimerInterval(kMainWindow, "时钟1", MidnightInterval(now));
  MarkMemoDays();
}

void OnMidnightTimer(image::EventArgs&) { RefreshToday(); }

void OnBackToToday(image::EventArgs&) {
  Rt().SetCalendarValue(kMainWindow, kCalendar, TodayDate);
}

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
