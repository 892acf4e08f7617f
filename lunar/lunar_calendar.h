// The Chinese lunar calendar and the 24 solar terms for 1901-01-01 to
// 2100-12-31, read from precomputed tables (lunar_table.inc): no astronomy
// at run time, a day costs a few table steps.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lunar/civil_date.h"

namespace lunar {

inline constexpr CivilDate kFirstDay{1901, 1, 1};
inline constexpr CivilDate kLastDay{2100, 12, 31};

constexpr bool InRange(CivilDate d) { return IsValid(d) && kFirstDay <= d && d <= kLastDay; }

struct LunarDate {
  int year = 0;   // named by the Gregorian year in which its 正月初一 falls
  int month = 0;  // 1-12
  bool leap = false;
  int day = 0;        // 1-30
  int monthDays = 0;  // 29 (小月) or 30 (大月)
  friend constexpr bool operator==(const LunarDate&, const LunarDate&) = default;
};

// Gregorian to lunar; nullopt outside kFirstDay..kLastDay or for an invalid date.
std::optional<LunarDate> ToLunar(CivilDate date);

// Lunar to Gregorian; nullopt when the month or day does not exist that year
// (闰 months, 三十 of a small month) or the day lies outside the range.
std::optional<CivilDate> FromLunar(int year, int month, bool leap, int day);

// The Gregorian date of 正月初一 of lunar `year` (1900-2100; 1900's is 1900-01-31).
std::optional<CivilDate> NewYearDay(int year);
// 0 when lunar `year` has no leap month.
int LeapMonth(int year);
// 29 or 30; 0 when the month does not exist.
int MonthDays(int year, int month, bool leap);

// 干支 of the year, e.g. "丁未" for 2027.
std::string YearStemBranch(int year);
// 生肖, e.g. "羊" for 2027.
std::string_view Zodiac(int year);
// 正月 二月 ... 十月 冬月 腊月; 闰六月 for a leap month.
std::string MonthName(int month, bool leap);
// 初一 ... 初十 十一 ... 二十 廿一 ... 廿九 三十.
std::string_view DayName(int day);

// Solar terms, indexed from 小寒 (0) to 冬至 (23) in calendar order.
inline constexpr int kSolarTermCount = 24;
std::string_view SolarTermName(int term);
// The day of term `term` in Gregorian `year`, in China Standard Time.
std::optional<CivilDate> SolarTermDate(int year, int term);
// The term falling on `date`, if any.
std::optional<int> SolarTermOn(CivilDate date);

}  // namespace lunar
