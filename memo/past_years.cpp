#include "memo/past_years.h"

#include <algorithm>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar_days.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "settings/settings.h"

namespace {

// Far enough for a family's old diaries typed in; one query either way.
constexpr int kYearsBack = 200;
// Enough of a memo for its first line.
constexpr int kStartBytes = 160;
// The list's rows below the memo (its place is in the window's description).
constexpr int kListWidth = 300, kRowHeight = 20, kMostRowsShown = 5;

std::vector<double> g_shownDays;
// What the window has grown by for the list.
int g_listHeight = 0;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

std::string YearsAgoText(int n) {
  static constexpr const char* kDigits[] = {"零", "一", "二", "三", "四",
                                            "五", "六", "七", "八", "九"};
  if (n < 1 || n > 999) return std::to_string(n) + "年前";
  const int hundreds = n / 100, tens = n / 10 % 10, ones = n % 10;
  std::string text;
  if (hundreds > 0) text += std::string(kDigits[hundreds]) + "百";
  if (tens > 0) {
    // 十二 alone, but 一百一十二.
    if (!(hundreds == 0 && tens == 1)) text += kDigits[tens];
    text += "十";
  } else if (hundreds > 0 && ones > 0) {
    text += "零";
  }
  if (ones > 0) text += kDigits[ones];
  return text + "年前";
}

std::vector<double> SameDayInEarlierYears(double day) {
  const DateParts p = SplitDateTime(day);
  std::vector<double> days;
  for (int y = p.year - 1; y >= p.year - kYearsBack && y >= 100; --y) {
    if (p.month == 2 && p.day == 29 && !IsLeap(y)) continue;
    days.push_back(MakeDateTime(y, p.month, p.day));
  }
  return days;
}

std::vector<PastYearLine> PastYearLines(double today) {
  const int year = SplitDateTime(today).year;
  std::vector<rt::DayText> found = MemoStartsOn(SameDayInEarlierYears(today), kStartBytes);
  std::vector<PastYearLine> lines;
  lines.reserve(found.size());
  // The store gives them oldest first.
  for (auto it = found.rbegin(); it != found.rend(); ++it) {
    const std::string first = MemoFirstLine(it->start);
    lines.push_back({it->day, YearsAgoText(year - SplitDateTime(it->day).year) + "：" +
                                  (first.empty() ? std::string("（空白开头）") : first)});
  }
  return lines;
}

void RefreshPastYears() {
  std::vector<PastYearLine> lines;
  if (ReadFlagSetting(item::kPastYears)) lines = PastYearLines(TodayDate);
  g_shownDays.clear();
  std::vector<rt::ListItem> items;
  for (const PastYearLine& line : lines) {
    g_shownDays.push_back(line.day);
    items.push_back({line.text});
  }
  Rt().SetListItems(kTodayMemoWindow, ctl::kPastYearsList, items);
  const int rows = std::min(static_cast<int>(items.size()), kMostRowsShown);
  const int listHeight = rows == 0 ? 0 : rows * kRowHeight + 4;
  Rt().SetControlVisible(kTodayMemoWindow, ctl::kPastYearsList, rows > 0);
  if (rows > 0) Rt().ResizeControl(kTodayMemoWindow, ctl::kPastYearsList, kListWidth, listHeight);
  if (listHeight == g_listHeight) return;
  const rt::Geometry w = Rt().GetGeometry(kTodayMemoWindow);
  Rt().ResizeControl(kTodayMemoWindow, {}, w.width, w.height - g_listHeight + listHeight);
  g_listHeight = listHeight;
}

void ForgetPastYearsSize() { g_listHeight = 0; }

void OnPastYearChosen(image::EventArgs& args) {
  const int index =
      args.code >= 0 ? args.code : Rt().ListCurrentIndex(kTodayMemoWindow, ctl::kPastYearsList);
  if (index < 0 || index >= static_cast<int>(g_shownDays.size())) return;
  Rt().SetCalendarValue(kMainWindow, ctl::kCalendar, g_shownDays[static_cast<size_t>(index)]);
  OpenMemoEditor();
}
