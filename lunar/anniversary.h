// The user's recurring days (纪念日): a 公历 or 农历 date that comes back every
// year, where it falls in a given year, and how it is written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "lunar/civil_date.h"

namespace lunar {

inline constexpr int kMaxRemindDays = 30;
inline constexpr int kNoStartYear = 0;
inline constexpr int kNoReminder = -1;

struct Anniversary {
  std::string name;
  bool lunar = false;
  int month = 1;      // 1-12
  int day = 1;        // 1-31 (公历), 1-30 (农历)
  bool leap = false;  // 农历 only: a day of the leap month
  // 农历 only: in a year with a leap month of this number, on the day of
  // both months.
  bool bothMonths = false;
  // 公历 year, or for a 农历 date the lunar year (the one whose 正月 begins in
  // that 公历 year); kNoStartYear when none.
  int startYear = kNoStartYear;
  int remindDays = kNoReminder;  // 0-30 days before, or kNoReminder
  int remindMinute = 0;          // of the day, 0-1439
};

struct Occurrence {
  CivilDate date;
  int ordinal = 0;  // 第 N 个 counted from the start year; 0 without one (or in it)
  bool inLeapMonth = false;
};

// Whether the fields make a date that can come back every year; the reason
// is Chinese, fit for a message box.
[[nodiscard]] bool CheckAnniversary(const Anniversary& a, std::string* error);

// Occurrences within [from, to], in date order. A date missing in a year
// falls back: 农历三十 of a 29-day month to its 廿九, a leap-month day to the
// ordinary month of that number in a year without that leap month, 2月29日
// to 2月28日. 农历 dates fall only within the lunar table's range
// (1901-2100); nothing before the start year.
std::vector<Occurrence> OccurrencesBetween(const Anniversary& a, CivilDate from, CivilDate to);

// The first occurrence on or after `from`; nullopt when there is none
// within the next two years (a 农历 date past 2100).
std::optional<Occurrence> NextOccurrence(const Anniversary& a, CivilDate from);

// "农历八月十五", "农历闰四月初八", "3月8日".
std::string DateText(const Anniversary& a);

// "今天：妈妈生日（农历八月十五），第 60 个" without the "今天：".
std::string OccurrenceText(const Anniversary& a, const Occurrence& o);

// Whether a 农历 date can be placed in `year` at all (the table's range).
bool LunarYearCovered(int year);

// "农历日期只能推算到 1901–2100 年" when `a` is 农历 and `year` is outside.
std::string OutOfRangeNotice(const Anniversary& a, int year);

// "08:30" to 510; nullopt for anything but H:MM or HH:MM in 00:00-23:59.
std::optional<int> ParseClock(const std::string& text);
std::string ClockText(int minuteOfDay);

}  // namespace lunar
