// The lunar calendar and the solar-term days derived from astronomy.
//
// Rules (the current ones, GB/T 33661-2017 "农历的编算和颁行"): a month starts on
// the calendar day of a new moon; the month holding 冬至 is the eleventh; when
// 13 months lie between one eleventh month and the next, the first month with
// no major term (中气) is a leap month and repeats the previous number.
//
// Calendar days are counted in China Standard Time (UTC+8) from 1929 on.
// From 1914 to 1928 the official almanac was reckoned in Beijing local mean
// time (116°25'E, UTC+7:45:40), and the published tables (Purple Mountain
// Observatory, Hong Kong Observatory) keep those dates, e.g. 正月初一 1916 on
// 02-03 where UTC+8 would give 02-04. Up to 1913 the almanac still used the
// Qing method of 1742 for the Beijing meridian; its lag roughly cancels the
// 14 minutes to 120°E, and its dates agree with a UTC+8 computation except for
// two solar terms listed in Overrides().
//
// A computed instant within a few minutes of midnight may fall on the other
// side of it in the published almanac (different ephemerides and Delta T);
// the almanac decides, through the list returned by Overrides().
#pragma once

#include <array>
#include <span>
#include <vector>

#include "lunar/civil_date.h"

namespace lunar::derive {

// The calendar day (lunar::DayNumber) of an instant given as JD (UT).
int CalendarDay(double jdUt);

// Minutes from the instant to the nearer midnight of its calendar day.
double MinutesFromMidnight(double jdUt);

struct Month {
  int start = 0;   // DayNumber of the first day
  int number = 0;  // 1-12
  bool leap = false;
};

struct Override {
  enum class Kind { kNewMoon, kSolarTerm };
  Kind kind;
  int term;             // solar term index (0 = 小寒), or -1 for a new moon
  CivilDate computed;   // the calendar day the computation gives
  CivilDate published;  // the day the published almanac gives
  const char* instant;  // the computed instant, UTC+8
  const char* source;
};

// The published decisions for knife-edge instants, with their sources.
std::span<const Override> Overrides();

struct Options {
  bool applyOverrides = true;
};

// All lunar months from the eleventh month before lunar year `first` to the
// first month of lunar year `last + 1`, in order.
std::vector<Month> Months(int first, int last, Options options = {});

// The calendar days of the 24 solar terms of Gregorian `year`, 小寒 first.
std::array<int, 24> TermDays(int year, Options options = {});

}  // namespace lunar::derive
