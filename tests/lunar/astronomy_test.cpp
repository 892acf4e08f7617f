// The astronomy behind the tables, against worked examples and published
// instants.
#include "lunar/astronomy.h"

#include <gtest/gtest.h>

#include <cmath>

#include "lunar/civil_date.h"
#include "lunar/derivation.h"

namespace lunar {
namespace {

constexpr double kSecond = 1.0 / 86400;

// JD (UT) of a civil date and time in UTC+8.
double Beijing(CivilDate d, int h, int m, int s = 0) {
  return astro::kJdUnixEpoch + DayNumber(d) + (h - 8) / 24.0 + m / 1440.0 + s * kSecond;
}

// Meeus, "Astronomical Algorithms", 2nd ed.
TEST(Astronomy, MeeusWorkedExamples) {
  // Example 25.b: 1992 Oct 13.0 TD, apparent longitude 199°54'21.56".
  EXPECT_NEAR(astro::ApparentSolarLongitude(2448908.5), 199 + 54 / 60.0 + 21.56 / 3600, 1.0 / 3600);
  // Example 49.a: the new moon of 1977 February (k = -283), JDE 2443192.65118.
  EXPECT_NEAR(astro::NewMoonJde(-283), 2443192.65118, 2 * kSecond);
  // Example 27.a: June solstice 1962, JDE 2437837.39245 (from the mean formula
  // corrected; the VSOP87 answer lies within a minute of it).
  EXPECT_NEAR(astro::SolarLongitudeInstant(90, 2437837.0), 2437837.39245, 60 * kSecond);
}

// Espenak & Meeus, NASA Five Millennium Canon (2006), at the polynomial nodes.
TEST(Astronomy, DeltaT) {
  EXPECT_NEAR(astro::DeltaTSeconds(1900.0), -2.79, 0.01);
  EXPECT_NEAR(astro::DeltaTSeconds(1950.0), 29.07, 0.01);
  EXPECT_NEAR(astro::DeltaTSeconds(2000.0), 63.86, 0.01);
  EXPECT_NEAR(astro::DeltaTSeconds(2010.0), 66.7, 0.5);
  const double jd = 2460000.5;
  EXPECT_NEAR(astro::TtToUt(astro::UtToTt(jd)), jd, 1e-3 * kSecond);
}

// Instants published by the Hong Kong Observatory and the Purple Mountain
// Observatory; the abridged series keeps within half a minute.
TEST(Astronomy, PublishedInstants) {
  EXPECT_NEAR(astro::SolarTermUt(2021, 23), Beijing({2021, 12, 21}, 23, 59, 9), 30 * kSecond);
  EXPECT_NEAR(astro::SolarTermUt(2024, 5), Beijing({2024, 3, 20}, 11, 6, 21), 30 * kSecond);
  EXPECT_NEAR(astro::SolarTermUt(2024, 23), Beijing({2024, 12, 21}, 17, 20, 34), 30 * kSecond);
  EXPECT_NEAR(astro::SolarTermUt(2024, 2), Beijing({2024, 2, 4}, 16, 26, 53), 30 * kSecond);
  // New moons starting 2023 and 2024's first months.
  EXPECT_NEAR(astro::NewMoonUt(astro::NewMoonIndexAtOrAfter(Beijing({2023, 1, 21}, 0, 0))),
              Beijing({2023, 1, 22}, 4, 53), 60 * kSecond);
  EXPECT_NEAR(astro::NewMoonUt(astro::NewMoonIndexAtOrAfter(Beijing({2024, 2, 9}, 0, 0))),
              Beijing({2024, 2, 10}, 6, 59), 60 * kSecond);
}

TEST(Astronomy, SolarTermsAreFifteenDegreesApart) {
  for (int year : {1901, 1950, 2000, 2050, 2100}) {
    for (int term = 0; term < 24; ++term) {
      const double jd = astro::SolarTermUt(year, term);
      const double want = std::fmod(285.0 + 15 * term, 360.0);
      EXPECT_NEAR(std::remainder(astro::ApparentSolarLongitude(astro::UtToTt(jd)) - want, 360), 0,
                  1e-6);
      if (term > 0) {
        const double gap = jd - astro::SolarTermUt(year, term - 1);
        EXPECT_GT(gap, 14.5);
        EXPECT_LT(gap, 16.0);
      }
    }
  }
}

TEST(Astronomy, NewMoonsFollowOneAnother) {
  const int first = astro::NewMoonIndexAtOrAfter(Beijing({1901, 1, 1}, 0, 0));
  for (int k = first; k < first + 2480; ++k) {
    const double gap = astro::NewMoonUt(k + 1) - astro::NewMoonUt(k);
    ASSERT_GT(gap, 29.2) << k;
    ASSERT_LT(gap, 29.9) << k;
  }
}

// The official reckoning of calendar days: Beijing mean time 1914-1928,
// UTC+8 otherwise.
TEST(Astronomy, CalendarDayEras) {
  const double jd1916 = Beijing({1916, 2, 4}, 0, 5);  // 23:50 Beijing mean time
  EXPECT_EQ(derive::CalendarDay(jd1916), DayNumber({1916, 2, 3}));
  EXPECT_EQ(derive::CalendarDay(Beijing({1906, 4, 24}, 0, 6)), DayNumber({1906, 4, 24}));
  EXPECT_EQ(derive::CalendarDay(Beijing({1929, 1, 1}, 0, 5)), DayNumber({1929, 1, 1}));
  EXPECT_NEAR(derive::MinutesFromMidnight(Beijing({2024, 5, 1}, 23, 58)), 2, 1e-6);
}

}  // namespace
}  // namespace lunar
