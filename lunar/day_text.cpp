#include "lunar/day_text.h"

namespace lunar {
namespace {

constexpr const char* kWeekdays[] = {"日", "一", "二", "三", "四", "五", "六"};
constexpr const char* kSeparator = " · ";

std::string MarkText(const HolidayMark& h) { return h.kind == HolidayKind::kOff ? "休" : "班"; }

}  // namespace

CellText CellTextFor(const DayInfo& day, const HolidayMark* holiday) {
  CellText cell;
  if (day.nameCount > 0) {
    cell.line = day.names[0];
  } else if (day.lunar) {
    cell.line = day.lunar->day == 1 ? MonthName(day.lunar->month, day.lunar->leap)
                                    : std::string(DayName(day.lunar->day));
  }
  if (holiday) cell.mark = MarkText(*holiday);
  return cell;
}

std::string TooltipFor(const DayInfo& day, const HolidayMark* holiday, bool yearHasHolidayData) {
  std::string text = std::to_string(day.date.year) + "年" + std::to_string(day.date.month) + "月" +
                     std::to_string(day.date.day) + "日 星期" + kWeekdays[day.weekday];
  if (day.lunar) {
    text += kSeparator;
    text += "农历" + YearStemBranch(day.lunar->year) + "年" +
            MonthName(day.lunar->month, day.lunar->leap) + std::string(DayName(day.lunar->day));
  }
  for (std::string_view name : day.Names()) {
    text += kSeparator;
    text += name;
  }
  if (holiday) {
    text += kSeparator + MarkText(*holiday) + "（" + holiday->name + "）";
  } else if (!yearHasHolidayData) {
    text += kSeparator + std::string("未收录") + std::to_string(day.date.year) + "年放假安排";
  }
  return text;
}

}  // namespace lunar
