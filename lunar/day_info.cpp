#include "lunar/day_info.h"

namespace lunar {
namespace {

struct LunarFestival {
  int month, day;
  std::string_view name;
};
// Festivals fall in the regular month, never in a leap month of that number.
constexpr LunarFestival kLunarFestivals[] = {
    {1, 1, "春节"},    {1, 15, "元宵节"}, {2, 2, "龙抬头"}, {5, 5, "端午节"},  {7, 7, "七夕节"},
    {7, 15, "中元节"}, {8, 15, "中秋节"}, {9, 9, "重阳节"}, {12, 8, "腊八节"}, {12, 23, "小年"},
};

struct SolarFestival {
  int month, day;
  std::string_view name;
  int since;  // first year the day was kept under this name
};
// Most were fixed by the 1949 《全国年节及纪念日放假办法》, first kept in 1950;
// 植树节 dates from 1979 and 教师节 from 1985.
constexpr SolarFestival kSolarFestivals[] = {
    {1, 1, "元旦", 1912},    {3, 8, "妇女节", 1950}, {3, 12, "植树节", 1979},
    {5, 1, "劳动节", 1950},  {5, 4, "青年节", 1950}, {6, 1, "儿童节", 1950},
    {7, 1, "建党节", 1941},  {8, 1, "建军节", 1933}, {9, 10, "教师节", 1985},
    {10, 1, "国庆节", 1950},
};

void Name(DayInfo& info, bool lastDayOfYear) {
  auto add = [&info](std::string_view name) {
    if (info.nameCount < static_cast<int>(info.names.size())) info.names[info.nameCount++] = name;
  };
  if (lastDayOfYear) add("除夕");  // also when it falls in a leap twelfth month
  if (info.lunar && !info.lunar->leap) {
    for (const auto& f : kLunarFestivals)
      if (f.month == info.lunar->month && f.day == info.lunar->day) add(f.name);
  }
  if (info.solarTerm >= 0) add(SolarTermName(info.solarTerm));
  for (const auto& f : kSolarFestivals)
    if (f.month == info.date.month && f.day == info.date.day && info.date.year >= f.since)
      add(f.name);
}

}  // namespace

void FillDays(CivilDate first, std::span<DayInfo> out) {
  int number = DayNumber(first);
  std::optional<LunarDate> lunar;
  for (DayInfo& info : out) {
    info = DayInfo{};
    info.date = FromDayNumber(number);
    info.weekday = Weekday(number);
    // Step the lunar date along; look it up only at month ends and range edges.
    if (lunar && lunar->day < lunar->monthDays) {
      ++lunar->day;
    } else {
      lunar = ToLunar(info.date);
    }
    if (!InRange(info.date)) lunar.reset();
    info.lunar = lunar;
    if (const auto term = SolarTermOn(info.date)) info.solarTerm = *term;
    // The last day of a lunar year is the one before the next 正月初一.
    bool lastDayOfYear = false;
    if (lunar && lunar->month == 12 && lunar->day == lunar->monthDays) {
      const auto next = NewYearDay(lunar->year + 1);
      lastDayOfYear = next && DayNumber(*next) == number + 1;
    }
    Name(info, lastDayOfYear);
    ++number;
  }
}

DayInfo Describe(CivilDate date) {
  DayInfo info;
  FillDays(date, {&info, 1});
  return info;
}

}  // namespace lunar
