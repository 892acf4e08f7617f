// The words the calendar shows for a day.
#pragma once

#include <string>

#include "lunar/day_info.h"
#include "lunar/holidays.h"

namespace lunar {

struct CellText {
  // The first festival or solar-term name; else the month name on 初一
  // (正月, 闰六月, 冬月 ...); else the day name (初二 ... 三十).
  std::string line;
  std::string mark;  // 休, 班 or empty
};

// `holiday` is the day's 休/班 entry, or nullptr.
CellText CellTextFor(const DayInfo& day, const HolidayMark* holiday);

// "2027年2月6日 星期六 · 农历丁未年正月初一 · 春节 · 休（春节）". Without a 休/班
// entry and without holiday data for the year, ends in " · 未收录2027年放假安排".
std::string TooltipFor(const DayInfo& day, const HolidayMark* holiday, bool yearHasHolidayData);

}  // namespace lunar
