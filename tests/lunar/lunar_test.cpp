// The shipped lunar tables against published almanac facts, against the
// astronomy they were derived from, and for internal consistency.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "lunar/day_info.h"
#include "lunar/derivation.h"
#include "lunar/lunar_calendar.h"
#include "printers.h"

namespace lunar {
namespace {

std::string Text(CivilDate d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

// 正月初一, Hong Kong Observatory 公历与农历日期对照表 and the Purple Mountain
// Observatory tables as transcribed by Y. T. Liu (ytliu0.github.io); 1916 falls
// in the Beijing-mean-time era (UTC+8 would give 02-04).
TEST(LunarFacts, SpringFestival) {
  const CivilDate kDays[] = {
      {1901, 2, 19}, {1912, 2, 18}, {1916, 2, 3},  {1920, 2, 20}, {1933, 1, 26}, {1949, 1, 29},
      {1950, 2, 17}, {1966, 1, 21}, {1978, 2, 7},  {1985, 2, 20}, {1990, 1, 27}, {2000, 2, 5},
      {2008, 2, 7},  {2010, 2, 14}, {2020, 1, 25}, {2021, 2, 12}, {2022, 2, 1},  {2023, 1, 22},
      {2024, 2, 10}, {2025, 1, 29}, {2026, 2, 17}, {2027, 2, 6},  {2028, 1, 26}, {2030, 2, 3},
      {2033, 1, 31}, {2038, 2, 4},  {2050, 1, 23}, {2057, 2, 4},  {2061, 1, 21}, {2075, 2, 15},
      {2088, 1, 24}, {2099, 1, 21}, {2100, 2, 9},
  };
  for (const CivilDate& d : kDays) {
    EXPECT_EQ(NewYearDay(d.year), d) << d.year;
    EXPECT_EQ(ToLunar(d), (LunarDate{d.year, 1, false, 1, MonthDays(d.year, 1, false)}));
  }
}

// Every leap month 1900-2100 (same sources); years not listed have none.
TEST(LunarFacts, EveryLeapMonth) {
  const std::array<int, 2> kLeaps[] = {
      {1900, 8}, {1903, 5},  {1906, 4}, {1909, 2}, {1911, 6}, {1914, 5}, {1917, 2}, {1919, 7},
      {1922, 5}, {1925, 4},  {1928, 2}, {1930, 6}, {1933, 5}, {1936, 3}, {1938, 7}, {1941, 6},
      {1944, 4}, {1947, 2},  {1949, 7}, {1952, 5}, {1955, 3}, {1957, 8}, {1960, 6}, {1963, 4},
      {1966, 3}, {1968, 7},  {1971, 5}, {1974, 4}, {1976, 8}, {1979, 6}, {1982, 4}, {1984, 10},
      {1987, 6}, {1990, 5},  {1993, 3}, {1995, 8}, {1998, 5}, {2001, 4}, {2004, 2}, {2006, 7},
      {2009, 5}, {2012, 4},  {2014, 9}, {2017, 6}, {2020, 4}, {2023, 2}, {2025, 6}, {2028, 5},
      {2031, 3}, {2033, 11}, {2036, 6}, {2039, 5}, {2042, 2}, {2044, 7}, {2047, 5}, {2050, 3},
      {2052, 8}, {2055, 6},  {2058, 4}, {2061, 3}, {2063, 7}, {2066, 5}, {2069, 4}, {2071, 8},
      {2074, 6}, {2077, 4},  {2080, 3}, {2082, 7}, {2085, 5}, {2088, 4}, {2090, 8}, {2093, 6},
      {2096, 4}, {2099, 2},
  };
  size_t next = 0;
  for (int year = 1900; year <= 2100; ++year) {
    const bool listed = next < std::size(kLeaps) && kLeaps[next][0] == year;
    EXPECT_EQ(LeapMonth(year), listed ? kLeaps[next][1] : 0) << year;
    if (listed) ++next;
  }
}

TEST(LunarFacts, LeapMonthNamesAndDays) {
  EXPECT_EQ(ToLunar({2033, 12, 22}), (LunarDate{2033, 11, true, 1, 29}));  // 闰冬月
  EXPECT_EQ(MonthName(11, true), "闰冬月");
  EXPECT_EQ(MonthName(6, true), "闰六月");
  EXPECT_EQ(FromLunar(2025, 6, true, 1), (CivilDate{2025, 7, 25}));
  EXPECT_EQ(FromLunar(2025, 6, false, 1), (CivilDate{2025, 6, 25}));
  EXPECT_EQ(FromLunar(2023, 2, true, 1), (CivilDate{2023, 3, 22}));
  EXPECT_EQ(FromLunar(1987, 6, true, 1), (CivilDate{1987, 7, 26}));
  EXPECT_FALSE(FromLunar(2024, 6, true, 1));   // 2024 has no leap month
  EXPECT_FALSE(FromLunar(2025, 6, true, 30));  // 闰六月 2025 is small
}

// Hong Kong Observatory 24 solar terms pages and the Purple Mountain
// Observatory almanac; the pre-1929 and knife-edge cases per Y. T. Liu.
TEST(LunarFacts, SolarTermDays) {
  struct Case {
    int term;
    CivilDate day;
  };
  const Case kCases[] = {
      {20, {2023, 11, 8}},  {23, {2021, 12, 21}}, {23, {2022, 12, 22}}, {23, {2023, 12, 22}},
      {23, {2024, 12, 21}}, {23, {2025, 12, 21}}, {2, {2021, 2, 3}},    {2, {2022, 2, 4}},
      {2, {2024, 2, 4}},    {2, {2025, 2, 3}},    {5, {2024, 3, 20}},   {5, {2025, 3, 20}},
      {6, {2023, 4, 5}},    {6, {2024, 4, 4}},    {6, {2025, 4, 4}},    {11, {2024, 6, 21}},
      {1, {2021, 1, 20}},   {1, {1979, 1, 21}},   {23, {1951, 12, 23}}, {7, {1950, 4, 20}},
      {9, {2008, 5, 21}},   {21, {1912, 11, 23}}, {17, {1913, 9, 24}},  {22, {1917, 12, 7}},
      {16, {1927, 9, 8}},   {11, {1928, 6, 21}},  {5, {2051, 3, 20}},   {2, {2083, 2, 3}},
      {5, {2084, 3, 19}},   {10, {2084, 6, 5}},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(SolarTermDate(c.day.year, c.term), c.day) << SolarTermName(c.term) << c.day.year;
    EXPECT_EQ(SolarTermOn(c.day), c.term) << Text(c.day);
  }
  EXPECT_EQ(SolarTermName(0), "小寒");
  EXPECT_EQ(SolarTermName(6), "清明");
  EXPECT_EQ(SolarTermName(23), "冬至");
  EXPECT_FALSE(SolarTermOn({2024, 2, 5}));
}

// Festival days cross-checked with the State Council holiday notices
// (国办发明电〔2023〕7号, 〔2024〕12号, 〔2025〕7号), which name the lunar days.
TEST(LunarFacts, FestivalDays) {
  auto names = [](CivilDate d) {
    const DayInfo info = Describe(d);
    return std::vector<std::string_view>(info.Names().begin(), info.Names().end());
  };
  using V = std::vector<std::string_view>;
  EXPECT_EQ(names({2024, 6, 10}), V{"端午节"});
  EXPECT_EQ(names({2025, 5, 31}), V{"端午节"});
  EXPECT_EQ(names({2026, 6, 19}), V{"端午节"});
  EXPECT_EQ(names({2024, 9, 17}), V{"中秋节"});
  EXPECT_EQ(names({2025, 10, 6}), V{"中秋节"});
  EXPECT_EQ(names({2026, 9, 25}), V{"中秋节"});
  EXPECT_EQ(names({2023, 9, 29}), V{"中秋节"});
  EXPECT_EQ(names({2020, 10, 1}), (V{"中秋节", "国庆节"}));
  EXPECT_EQ(names({2025, 1, 28}), V{"除夕"});  // 腊月廿九: 腊月 of 甲辰 is small
  EXPECT_EQ(names({2026, 2, 16}), V{"除夕"});  // 腊月廿九 again
  EXPECT_EQ(names({2024, 2, 9}), V{"除夕"});   // 腊月三十
  EXPECT_EQ(ToLunar({2026, 2, 15})->day, 28);  // the notice: 农历腊月二十八
  EXPECT_EQ(ToLunar({2026, 2, 23}), (LunarDate{2026, 1, false, 7, 30}));  // 正月初七
  EXPECT_EQ(names({2024, 2, 24}), V{"元宵节"});
  EXPECT_EQ(names({2025, 1, 7}), V{"腊八节"});
  EXPECT_EQ(names({2025, 1, 22}), V{"小年"});
  EXPECT_EQ(names({2025, 3, 1}), V{"龙抬头"});
  EXPECT_EQ(names({2025, 8, 29}), V{"七夕节"});
  EXPECT_EQ(names({2025, 9, 6}), V{"中元节"});
  EXPECT_EQ(names({2025, 10, 29}), V{"重阳节"});
  EXPECT_EQ(names({2025, 4, 4}), V{"清明"});
  EXPECT_EQ(names({2015, 2, 19}), (V{"春节", "雨水"}));  // lunar festival before the term
  EXPECT_EQ(names({2025, 9, 10}), V{"教师节"});
  EXPECT_EQ(names({1984, 9, 10}), V{"中秋节"});  // 教师节 dates from 1985
  EXPECT_EQ(names({1985, 9, 10}), V{"教师节"});  // ... and is kept that year
  EXPECT_EQ(names({1979, 3, 12}), V{"植树节"});
  EXPECT_EQ(names({1978, 3, 12}), V{});
  EXPECT_EQ(names({2025, 7, 25}), V{});  // 闰六月初七 is no 七夕
  // The leap month repeats the number, not the festival.
  EXPECT_EQ(ToLunar({2023, 3, 23}), (LunarDate{2023, 2, true, 2, 29}));  // 闰二月初二
  EXPECT_EQ(names({2023, 3, 23}), V{});
  EXPECT_EQ(ToLunar({2009, 6, 27}), (LunarDate{2009, 5, true, 5, 29}));  // 闰五月初五
  EXPECT_EQ(names({2009, 6, 27}), V{});
  EXPECT_EQ(names({2009, 5, 28}), V{"端午节"});
}

// Months whose first day hangs on a new moon minutes from midnight.
TEST(LunarFacts, NearMidnightMonths) {
  // 23:59:57 on the 28th as computed, and the 28th in the published table
  // (00:00:04 on the 29th by DE431).
  EXPECT_EQ(ToLunar({2057, 9, 28}), (LunarDate{2057, 9, false, 1, 30}));
  EXPECT_EQ(ToLunar({2057, 9, 27})->month, 8);
  EXPECT_EQ(ToLunar({2089, 9, 4}), (LunarDate{2089, 8, false, 1, 30}));
  EXPECT_EQ(ToLunar({2097, 8, 7}), (LunarDate{2097, 7, false, 1, 30}));
  EXPECT_EQ(ToLunar({2018, 11, 8})->day, 1);   // new moon 00:02
  EXPECT_EQ(ToLunar({1914, 11, 17})->day, 1);  // Beijing mean time, not UTC+8
  EXPECT_EQ(ToLunar({1920, 11, 10})->day, 1);
  EXPECT_EQ(ToLunar({1906, 4, 24})->day, 1);  // Qing method, matching UTC+8
}

TEST(LunarNames, YearMonthDay) {
  EXPECT_EQ(YearStemBranch(2027), "丁未");
  EXPECT_EQ(Zodiac(2027), "羊");
  EXPECT_EQ(YearStemBranch(1984), "甲子");
  EXPECT_EQ(Zodiac(2024), "龙");
  EXPECT_EQ(YearStemBranch(1900), "庚子");
  EXPECT_EQ(MonthName(1, false), "正月");
  EXPECT_EQ(MonthName(12, false), "腊月");
  EXPECT_EQ(DayName(1), "初一");
  EXPECT_EQ(DayName(10), "初十");
  EXPECT_EQ(DayName(20), "二十");
  EXPECT_EQ(DayName(21), "廿一");
  EXPECT_EQ(DayName(30), "三十");
  EXPECT_EQ(DayName(31), "");
}

TEST(LunarRange, EdgesAndInvalidInput) {
  EXPECT_EQ(ToLunar({1901, 1, 1}), (LunarDate{1900, 11, false, 11, 29}));
  EXPECT_EQ(ToLunar({2100, 12, 31}), (LunarDate{2100, 12, false, 1, 29}));
  EXPECT_FALSE(ToLunar({1900, 12, 31}));
  EXPECT_FALSE(ToLunar({2101, 1, 1}));
  EXPECT_FALSE(ToLunar({2023, 2, 29}));
  EXPECT_FALSE(FromLunar(2100, 12, false, 2));  // 2101-01-01
  EXPECT_FALSE(FromLunar(2024, 13, false, 1));
  EXPECT_FALSE(FromLunar(2024, 1, false, 0));
  EXPECT_FALSE(SolarTermDate(1900, 0));
  EXPECT_FALSE(SolarTermDate(2024, 24));
}

// Every day of the range converts and converts back; lunar days advance by one
// with no gaps; months have 29 or 30 days and years 12 or 13 months.
TEST(LunarWholeRange, RoundTripsAndContinuity) {
  std::optional<LunarDate> previous;
  int months = 0;
  for (int n = DayNumber(kFirstDay); n <= DayNumber(kLastDay); ++n) {
    const CivilDate date = FromDayNumber(n);
    const auto lunar = ToLunar(date);
    ASSERT_TRUE(lunar) << Text(date);
    ASSERT_EQ(FromLunar(lunar->year, lunar->month, lunar->leap, lunar->day), date);
    ASSERT_TRUE(lunar->monthDays == 29 || lunar->monthDays == 30) << Text(date);
    if (previous) {
      if (lunar->day == 1) {
        ASSERT_EQ(previous->day, previous->monthDays) << Text(date);
        const bool newYear = lunar->month == 1 && !lunar->leap;
        ASSERT_EQ(lunar->year, previous->year + (newYear ? 1 : 0)) << Text(date);
        if (newYear && previous->year >= 1901) {
          ASSERT_EQ(months, LeapMonth(previous->year) ? 13 : 12) << previous->year;
        }
        months = newYear ? 0 : months;
        ++months;
      } else {
        ASSERT_EQ(lunar->day, previous->day + 1) << Text(date);
        ASSERT_EQ(lunar->month, previous->month);
      }
    }
    previous = lunar;
  }
}

TEST(LunarWholeRange, PageFillMatchesSingleDays) {
  std::array<DayInfo, 42> page;
  for (int n = DayNumber({1900, 12, 20}); n <= DayNumber({2101, 1, 10}); n += 42) {
    FillDays(FromDayNumber(n), page);
    for (int i = 0; i < 42; ++i) {
      const CivilDate date = FromDayNumber(n + i);
      ASSERT_EQ(page[i].date, date);
      ASSERT_EQ(page[i].weekday, Weekday(n + i));
      ASSERT_EQ(page[i].lunar, ToLunar(date)) << Text(date);
      ASSERT_EQ(page[i].solarTerm, SolarTermOn(date).value_or(-1)) << Text(date);
    }
  }
  EXPECT_EQ(Weekday(DayNumber({2027, 2, 6})), 6);  // a Saturday
}

// Re-derives the tables from the astronomy. The shipped table may differ from
// the raw computation only where a published decision says so, and must equal
// the computation with the decisions applied.
TEST(LunarWholeRange, TableMatchesAstronomy) {
  const auto raw = derive::Months(1900, 2100, {.applyOverrides = false});
  const auto decided = derive::Months(1900, 2100);
  ASSERT_EQ(raw.size(), decided.size());
  auto overrideFor = [](derive::Override::Kind kind, int term, int computed) {
    for (const auto& o : derive::Overrides())
      if (o.kind == kind && o.term == term && DayNumber(o.computed) == computed) return &o;
    return static_cast<const derive::Override*>(nullptr);
  };
  int disagreements = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    ASSERT_EQ(raw[i].number, decided[i].number);
    ASSERT_EQ(raw[i].leap, decided[i].leap);
    if (raw[i].start == decided[i].start) continue;
    const auto* o = overrideFor(derive::Override::Kind::kNewMoon, -1, raw[i].start);
    ASSERT_NE(o, nullptr) << "unexplained month start " << Text(FromDayNumber(raw[i].start));
    ASSERT_EQ(DayNumber(o->published), decided[i].start);
    ++disagreements;
  }
  // The decided months are what the table holds.
  int lunarYear = 1899;
  for (size_t i = 0; i + 1 < decided.size(); ++i) {
    const auto& m = decided[i];
    if (m.number == 1 && !m.leap && ++lunarYear >= 1900) {
      ASSERT_EQ(NewYearDay(lunarYear), FromDayNumber(m.start));
    }
    if (lunarYear < 1900) continue;
    ASSERT_EQ(MonthDays(lunarYear, m.number, m.leap), decided[i + 1].start - m.start)
        << Text(FromDayNumber(m.start));
    if (m.leap) {
      ASSERT_EQ(LeapMonth(lunarYear), m.number);
    }
  }
  for (int year = 1901; year <= 2100; ++year) {
    const auto rawTerms = derive::TermDays(year, {.applyOverrides = false});
    for (int term = 0; term < kSolarTermCount; ++term) {
      const int shipped = DayNumber(*SolarTermDate(year, term));
      if (rawTerms[term] == shipped) continue;
      const auto* o = overrideFor(derive::Override::Kind::kSolarTerm, term, rawTerms[term]);
      ASSERT_NE(o, nullptr) << "unexplained " << SolarTermName(term) << " " << year;
      ASSERT_EQ(DayNumber(o->published), shipped);
      ++disagreements;
    }
  }
  // Report every decision and whether the computation needed it; each must
  // state the computation truly.
  for (const auto& o : derive::Overrides()) {
    if (o.term >= 0) {
      EXPECT_EQ(derive::TermDays(o.published.year, {.applyOverrides = false})[o.term],
                DayNumber(o.computed))
          << o.instant;
    } else {
      EXPECT_TRUE(std::any_of(raw.begin(), raw.end(), [&](const auto& m) {
        return m.start == DayNumber(o.computed);
      })) << o.instant;
    }
    const std::string what = o.term < 0 ? "new moon" : std::string(SolarTermName(o.term));
    std::printf("  %s %s: computed %s UTC+8, %s; %s\n", what.c_str(), Text(o.published).c_str(),
                o.instant, o.computed == o.published ? "confirmed" : "overridden", o.source);
  }
  EXPECT_EQ(disagreements, 2);  // 1912 小雪, 1913 秋分
}

}  // namespace
}  // namespace lunar
