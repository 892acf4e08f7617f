#include "lunar/derivation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "lunar/astronomy.h"

namespace lunar::derive {
namespace {

constexpr double kBeijingMeanTime = (7 + 45 / 60.0 + 40 / 3600.0) / 24;
constexpr double kChinaStandardTime = 8 / 24.0;
// As JD (UT): 1914-01-01 and 1929-01-01, 00:00 UTC+8.
constexpr double kBeijingTimeFrom = astro::kJdUnixEpoch + DayNumber({1914, 1, 1}) - 1 / 3.0;
constexpr double kStandardTimeFrom = astro::kJdUnixEpoch + DayNumber({1929, 1, 1}) - 1 / 3.0;

double LocalDays(double jdUt) {
  const bool beijing = jdUt >= kBeijingTimeFrom && jdUt < kStandardTimeFrom;
  return jdUt - astro::kJdUnixEpoch + (beijing ? kBeijingMeanTime : kChinaStandardTime);
}

using Kind = Override::Kind;
// Published decisions for instants the computation cannot settle. "Liu" is
// Y. T. Liu's comparison of DE431 with the almanacs issued at the time and the
// Purple Mountain Observatory tables, 1912-2050 ("Calendar Calculation on This
// Website", ytliu0.github.io/ChineseCalendar/computation.html). An entry whose
// day the computation already gives stays listed: it pins a knife-edge case
// against small changes in the ephemeris.
// clang-format off
constexpr Override kOverrides[] = {
    // 小雪 and 秋分 in the last two almanacs made by the Qing method.
    {Kind::kSolarTerm, 21, {1912, 11, 22}, {1912, 11, 23}, "1912-11-22 23:48:13",
     "the 1912 almanac: 00:39 on the 23rd (Liu)"},
    {Kind::kSolarTerm, 17, {1913, 9, 23}, {1913, 9, 24}, "1913-09-23 23:52:50",
     "the 1913 almanac: 00:48 on the 24th (Liu)"},
    // 冬至 1951 and 大寒 1979: seconds from midnight.
    {Kind::kSolarTerm, 23, {1951, 12, 23}, {1951, 12, 23}, "1951-12-23 00:00:07",
     "Purple Mountain Observatory tables, which agree with DE431: 00:00 on the 23rd (Liu)"},
    {Kind::kSolarTerm, 1, {1979, 1, 21}, {1979, 1, 21}, "1979-01-21 00:00:00",
     "Purple Mountain Observatory almanac: 00:00 on the 21st, where DE431 has 23:59:54 on "
     "the 20th (Liu)"},
    // 冬至 2021.
    {Kind::kSolarTerm, 23, {2021, 12, 21}, {2021, 12, 21}, "2021-12-21 23:59:22",
     "Purple Mountain and Hong Kong Observatory 2021 solar terms: 23:59 on the 21st"},
    // 春分 2051, 立春 2083, 春分 2084: the Hong Kong Observatory conversion
    // table marks these days as uncertain; the computed instants sit one to
    // two minutes before midnight, and that table gives the same days.
    {Kind::kSolarTerm, 5, {2051, 3, 20}, {2051, 3, 20}, "2051-03-20 23:58:48",
     "Hong Kong Observatory conversion table, marked uncertain: 71 s before midnight"},
    {Kind::kSolarTerm, 2, {2083, 2, 3}, {2083, 2, 3}, "2083-02-03 23:57:56",
     "Hong Kong Observatory conversion table, marked uncertain: 124 s before midnight"},
    {Kind::kSolarTerm, 5, {2084, 3, 19}, {2084, 3, 19}, "2084-03-19 23:59:00",
     "Hong Kong Observatory conversion table, marked uncertain: 60 s before midnight"},
    // 九月初一 2057, 八月初一 2089, 七月初一 2097.
    {Kind::kNewMoon, -1, {2057, 9, 28}, {2057, 9, 28}, "2057-09-28 23:59:57",
     "Hong Kong Observatory conversion table: the 28th, as computed here, 2.5 s before "
     "midnight; DE431 gives 00:00:04 on the 29th (Liu), within the error of either"},
    {Kind::kNewMoon, -1, {2089, 9, 4}, {2089, 9, 4}, "2089-09-04 23:57:35",
     "Hong Kong Observatory conversion table; DE431 gives 23:57:36 (Liu)"},
    {Kind::kNewMoon, -1, {2097, 8, 7}, {2097, 8, 7}, "2097-08-07 23:59:39",
     "Hong Kong Observatory conversion table; DE431 gives 23:59:41 (Liu)"},
};
// clang-format on

int Apply(Kind kind, int year, int term, int day, const Options& options) {
  if (!options.applyOverrides) return day;
  for (const Override& o : kOverrides) {
    if (o.kind != kind) continue;
    const int published = DayNumber(o.published);
    // New moons are 29 days apart, so a day's distance identifies one.
    if (kind == Kind::kNewMoon ? std::abs(published - day) <= 1
                               : o.term == term && o.published.year == year)
      return published;
  }
  return day;
}

int NewMoonDay(int k, const Options& options) {
  return Apply(Kind::kNewMoon, 0, -1, CalendarDay(astro::NewMoonUt(k)), options);
}

int TermDay(int year, int term, const Options& options) {
  return Apply(Kind::kSolarTerm, year, term, CalendarDay(astro::SolarTermUt(year, term)), options);
}

}  // namespace

int CalendarDay(double jdUt) { return static_cast<int>(std::floor(LocalDays(jdUt))); }

double MinutesFromMidnight(double jdUt) {
  const double fraction = LocalDays(jdUt) - std::floor(LocalDays(jdUt));
  return std::min(fraction, 1 - fraction) * 1440;
}

std::span<const Override> Overrides() { return kOverrides; }

std::array<int, 24> TermDays(int year, Options options) {
  std::array<int, 24> days{};
  for (int term = 0; term < 24; ++term) days[term] = TermDay(year, term, options);
  return days;
}

std::vector<Month> Months(int first, int last, Options options) {
  // Major terms (odd indices: 大寒, 雨水, ... 冬至) and winter solstices from
  // the year before `first` to the one after `last`, so that a leap eleventh
  // or twelfth month at either end is seen.
  std::vector<int> majors, solstices;
  for (int year = first - 1; year <= last + 1; ++year) {
    const auto days = TermDays(year, options);
    for (int term = 1; term < 24; term += 2) majors.push_back(days[term]);
    solstices.push_back(days[23]);
  }
  const double from = astro::kJdUnixEpoch + solstices.front() - 40;
  const double to = astro::kJdUnixEpoch + solstices.back() + 40;
  std::vector<int> starts;
  for (int k = astro::NewMoonIndexAtOrAfter(from); astro::NewMoonUt(k) < to; ++k)
    starts.push_back(NewMoonDay(k, options));

  auto monthHolding = [&](int day) {
    return static_cast<int>(std::upper_bound(starts.begin(), starts.end(), day) - starts.begin()) -
           1;
  };
  auto hasMajorTerm = [&](int i) {
    auto it = std::lower_bound(majors.begin(), majors.end(), starts[i]);
    return it != majors.end() && *it < starts[i + 1];
  };

  std::vector<Month> months;
  int newYears = 0;
  for (size_t s = 0; s + 1 < solstices.size(); ++s) {
    const int eleventh = monthHolding(solstices[s]);
    const int nextEleventh = monthHolding(solstices[s + 1]);
    bool leapPending = nextEleventh - eleventh == 13;
    int number = 11;
    for (int i = eleventh; i < nextEleventh; ++i) {
      const bool leap = i != eleventh && leapPending && !hasMajorTerm(i);
      if (leap) {
        leapPending = false;
      } else if (i != eleventh) {
        number = number % 12 + 1;
      }
      months.push_back({starts[i], number, leap});
      if (number == 1 && !leap && ++newYears == last - first + 2) return months;
    }
  }
  return months;
}

}  // namespace lunar::derive
