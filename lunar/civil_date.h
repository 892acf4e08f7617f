// Gregorian dates as plain values and as consecutive day numbers.
#pragma once

#include <compare>

namespace lunar {

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  friend constexpr auto operator<=>(const CivilDate&, const CivilDate&) = default;
};

// Days since 1970-01-01 (proleptic Gregorian; H. Hinnant's days_from_civil).
constexpr int DayNumber(CivilDate d) {
  const int y = d.year - (d.month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

constexpr CivilDate FromDayNumber(int z) {
  z += 719468;
  const int era = (z >= 0 ? z : z - 146096) / 146097;
  const int doe = z - era * 146097;
  const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int mp = (5 * doy + 2) / 153;
  const int day = doy - (153 * mp + 2) / 5 + 1;
  const int month = mp < 10 ? mp + 3 : mp - 9;
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// 0 = Sunday ... 6 = Saturday. 1970-01-01 was a Thursday.
constexpr int Weekday(int dayNumber) { return ((dayNumber % 7) + 11) % 7; }

constexpr bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

constexpr bool IsValid(CivilDate d) {
  return d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= DaysInMonth(d.year, d.month);
}

}  // namespace lunar
