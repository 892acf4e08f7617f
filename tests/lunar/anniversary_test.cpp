// Where a recurring day falls each year, at every edge of the table's range.
#include "lunar/anniversary.h"

#include <gtest/gtest.h>

#include "lunar/lunar_calendar.h"
#include "printers.h"

namespace lunar {
namespace {

Anniversary Lunar(int month, int day, bool leap = false, bool both = false) {
  Anniversary a;
  a.name = "生日";
  a.lunar = true;
  a.month = month;
  a.day = day;
  a.leap = leap;
  a.bothMonths = both;
  return a;
}

std::vector<Occurrence> InLunarYear(const Anniversary& a, int year) {
  std::vector<Occurrence> out;
  for (const Occurrence& o : OccurrencesBetween(a, {year - 1, 1, 1}, {year + 1, 12, 31})) {
    if (ToLunar(o.date)->year == year) out.push_back(o);
  }
  return out;
}

// Every month's 三十 and every leap-month day over the whole table: once a
// year, on the day itself or its stated fallback.
TEST(AnniversaryRules, EveryMonthOfEveryYear) {
  for (int year = 1901; year <= 2099; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const std::vector<Occurrence> thirtieth = InLunarYear(Lunar(month, 30), year);
      ASSERT_EQ(thirtieth.size(), 1u) << year << "-" << month;
      const LunarDate l = *ToLunar(thirtieth[0].date);
      EXPECT_EQ(l.month, month);
      EXPECT_FALSE(l.leap);
      EXPECT_EQ(l.day, MonthDays(year, month, false)) << year << "-" << month;

      const std::vector<Occurrence> leapDay = InLunarYear(Lunar(month, 30, true), year);
      ASSERT_EQ(leapDay.size(), 1u) << year << "-" << month;
      const LunarDate ll = *ToLunar(leapDay[0].date);
      const bool hasLeap = LeapMonth(year) == month;
      EXPECT_EQ(ll.leap, hasLeap) << year << "-" << month;
      EXPECT_EQ(leapDay[0].inLeapMonth, hasLeap);
      EXPECT_EQ(ll.month, month);
      EXPECT_EQ(ll.day, MonthDays(year, month, hasLeap));

      const std::vector<Occurrence> both = InLunarYear(Lunar(month, 15, false, true), year);
      ASSERT_EQ(both.size(), hasLeap ? 2u : 1u) << year << "-" << month;
      if (hasLeap) {
        EXPECT_LT(both[0].date, both[1].date);
        EXPECT_FALSE(both[0].inLeapMonth);
        EXPECT_TRUE(both[1].inLeapMonth);
      }
    }
  }
}

TEST(AnniversaryRules, KnownLeapMonths) {
  // 2023 had 闰二月, 2025 闰六月; 闰六月初一 2025 was 07-25.
  EXPECT_EQ(InLunarYear(Lunar(6, 1, true), 2025)[0].date, (CivilDate{2025, 7, 25}));
  // Without 闰六月 in 2026 it is 六月初一 (07-14).
  EXPECT_EQ(InLunarYear(Lunar(6, 1, true), 2026)[0].date, (CivilDate{2026, 7, 14}));
  // 腊月三十 of lunar 2025 does not exist: 除夕 2026 is 腊月廿九, 02-16.
  EXPECT_EQ(InLunarYear(Lunar(12, 30), 2025)[0].date, (CivilDate{2026, 2, 16}));
}

TEST(AnniversaryRules, SolarLeapDay) {
  Anniversary a;
  a.name = "生日";
  a.month = 2;
  a.day = 29;
  a.startYear = 1896;
  const auto all = OccurrencesBetween(a, {1896, 1, 1}, {2104, 12, 31});
  ASSERT_EQ(all.size(), 2104u - 1896u + 1u);
  for (const Occurrence& o : all) {
    EXPECT_EQ(o.date.day, IsLeapYear(o.date.year) ? 29 : 28) << o.date.year;
    EXPECT_EQ(o.ordinal, o.date.year - 1896);
  }
  // 1900 and 2100 are not leap years.
  EXPECT_EQ(all[1900 - 1896].date, (CivilDate{1900, 2, 28}));
  EXPECT_EQ(all[2100 - 1896].date, (CivilDate{2100, 2, 28}));
  EXPECT_EQ(NextOccurrence(a, {2027, 3, 1})->date, (CivilDate{2028, 2, 29}));
}

TEST(AnniversaryRules, OrdinalsAndText) {
  Anniversary mother = Lunar(8, 15);
  mother.name = "妈妈生日";
  mother.startYear = 1966;
  const auto next = NextOccurrence(mother, {2026, 12, 9});
  ASSERT_TRUE(next);
  EXPECT_EQ(next->date, (CivilDate{2027, 9, 15}));
  EXPECT_EQ(next->ordinal, 61);
  const auto mid = NextOccurrence(mother, {2026, 1, 1});
  EXPECT_EQ(mid->date, (CivilDate{2026, 9, 25}));
  EXPECT_EQ(OccurrenceText(mother, *mid), "妈妈生日（农历八月十五），第 60 个");
  // Nothing before the start year; the start year itself has no ordinal.
  EXPECT_TRUE(OccurrencesBetween(mother, {1960, 1, 1}, {1965, 12, 31}).empty());
  EXPECT_EQ(OccurrenceText(mother, OccurrencesBetween(mother, {1966, 1, 1}, {1966, 12, 31})[0]),
            "妈妈生日（农历八月十五）");

  // 腊月 of a lunar year falls in the next 公历 year and counts from the
  // lunar start year.
  Anniversary late = Lunar(12, 23);
  late.startYear = 2000;
  const auto in2027 = OccurrencesBetween(late, {2027, 1, 1}, {2027, 12, 31});
  ASSERT_EQ(in2027.size(), 1u);
  EXPECT_EQ(in2027[0].date, (CivilDate{2027, 1, 30}));
  EXPECT_EQ(in2027[0].ordinal, 26);

  EXPECT_EQ(DateText(Lunar(4, 8, true)), "农历闰四月初八");
  EXPECT_EQ(DateText(Lunar(1, 1)), "农历正月初一");
  Anniversary solar;
  solar.month = 3;
  solar.day = 8;
  EXPECT_EQ(DateText(solar), "3月8日");
}

// Past the lunar table: nothing, said plainly, never a crash.
TEST(AnniversaryRules, OutsideTheTable) {
  const Anniversary a = Lunar(8, 15);
  EXPECT_TRUE(OccurrencesBetween(a, {2101, 1, 1}, {2101, 12, 31}).empty());
  EXPECT_TRUE(OccurrencesBetween(a, {1800, 1, 1}, {1900, 12, 31}).empty());
  EXPECT_FALSE(NextOccurrence(a, {2100, 10, 1}));
  EXPECT_TRUE(NextOccurrence(a, {2100, 1, 1}));
  // Late 腊月 of lunar 2100 would fall in 2101, past the table.
  for (int day = 1; day <= 30; ++day) {
    for (const Occurrence& o : OccurrencesBetween(Lunar(12, day), {2100, 3, 1}, {2101, 12, 31}))
      EXPECT_LE(o.date, kLastDay) << day;
  }
  EXPECT_TRUE(OccurrencesBetween(Lunar(12, 28), {2100, 3, 1}, {2101, 12, 31}).empty());
  EXPECT_EQ(OutOfRangeNotice(a, 2101), "农历日期只能推算 1901–2100 年，2101 年的生日无法显示");
  EXPECT_EQ(OutOfRangeNotice(a, 2100), "");
  // The first days of the table: 正月初一 1901 is 02-19.
  EXPECT_EQ(NextOccurrence(Lunar(1, 1), {1901, 1, 1})->date, (CivilDate{1901, 2, 19}));
  // Huge spans stay bounded by the table.
  EXPECT_EQ(OccurrencesBetween(a, {1, 1, 1}, {9999, 12, 31}).size(), 200u);
}

TEST(AnniversaryRules, Checks) {
  std::string error;
  Anniversary a = Lunar(8, 15);
  EXPECT_TRUE(CheckAnniversary(a, &error));
  a.name = "  ";
  EXPECT_FALSE(CheckAnniversary(a, &error));
  EXPECT_EQ(error, "请填写纪念日的名称。");
  a.name = "a\nb";
  EXPECT_FALSE(CheckAnniversary(a, &error));
  a.name = std::string(40 * 3, '\0');
  for (int i = 0; i < 40; ++i) a.name.replace(i * 3, 3, "日");
  EXPECT_TRUE(CheckAnniversary(a, &error));
  a.name += "日";
  EXPECT_FALSE(CheckAnniversary(a, &error));
  a = Lunar(13, 1);
  EXPECT_FALSE(CheckAnniversary(a, &error));
  a = Lunar(1, 31);
  EXPECT_FALSE(CheckAnniversary(a, &error));
  Anniversary s;
  s.name = "x";
  s.month = 2;
  s.day = 29;
  EXPECT_TRUE(CheckAnniversary(s, &error));
  s.day = 30;
  EXPECT_FALSE(CheckAnniversary(s, &error));
  EXPECT_EQ(error, "这个月没有这一天，请检查日期。");
  s.day = 1;
  s.leap = true;
  EXPECT_FALSE(CheckAnniversary(s, &error));
  s.leap = false;
  s.remindDays = 31;
  EXPECT_FALSE(CheckAnniversary(s, &error));
  s.remindDays = 30;
  s.startYear = 999;
  EXPECT_FALSE(CheckAnniversary(s, &error));
  s.startYear = 1000;
  EXPECT_TRUE(CheckAnniversary(s, &error));
}

TEST(AnniversaryRules, Clock) {
  EXPECT_EQ(ParseClock("08:30"), 510);
  EXPECT_EQ(ParseClock("8:30"), 510);
  EXPECT_EQ(ParseClock("23:59"), 1439);
  EXPECT_EQ(ParseClock("00:00"), 0);
  for (const char* bad : {"24:00", "12:60", "12:5", ":30", "123:00", "1a:00", "12:30x", "", "12"}) {
    EXPECT_FALSE(ParseClock(bad)) << bad;
  }
  EXPECT_EQ(ClockText(510), "08:30");
}

}  // namespace
}  // namespace lunar
