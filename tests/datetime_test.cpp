#include "base/datetime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/textnum.h"

TEST(DateTime, DayCountsAtTheEdges) {
  EXPECT_EQ(MakeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(MakeDateTime(1970, 1, 1), 25569.0);
  EXPECT_EQ(MakeDateTime(100, 1, 1), kMinDate);
  EXPECT_EQ(MakeDateTime(9999, 12, 31), kMaxDate);
  EXPECT_EQ(MakeDateTime(2026, 12, 7), 46363.0);
  // Before the base day the time still counts forward from the day.
  EXPECT_DOUBLE_EQ(MakeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  const DateParts p = SplitDateTime(-1.25);
  EXPECT_EQ(p.year, 1899);
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.hour, 6);
  const DateParts lo = SplitDateTime(kMinDate);
  EXPECT_EQ(lo.year, 100);
  EXPECT_EQ(lo.month, 1);
  EXPECT_EQ(lo.day, 1);
}

TEST(DateTime, TextFormRoundTrips) {
  EXPECT_EQ(DateTimeToText(MakeDateTime(2026, 12, 7)), "2026年12月7日");
  EXPECT_EQ(DateTimeToText(MakeDateTime(2012, 12, 1, 15, 6, 40)), "2012年12月1日15时6分40秒");
  EXPECT_EQ(TextToDateTime("1970年1月1日8时"), MakeDateTime(1970, 1, 1, 8));
  EXPECT_EQ(TextToDateTime("2012年12月1日15时6分40秒"), MakeDateTime(2012, 12, 1, 15, 6, 40));
  EXPECT_EQ(TextToDateTime("9999年12月31日"), kMaxDate);
  EXPECT_EQ(TextToDateTime("2024-02-29 23:59:59"), MakeDateTime(2024, 2, 29, 23, 59, 59));
  for (const char* bad : {"", "2023年2月29日", "2026年13月1日", "99年1月1日", "2026年1月1", "abc",
                          "2026年1月1日x", "2026年1月1日25时", "2026-1-1 1"}) {
    EXPECT_FALSE(TextToDateTime(bad).has_value()) << bad;
  }
}

TEST(DateTime, SecondsArithmeticAndRounding) {
  EXPECT_EQ(AddSeconds(MakeDateTime(1970, 1, 1, 8), 1354345600),
            MakeDateTime(2012, 12, 1, 15, 6, 40));
  EXPECT_EQ(AddSeconds(MakeDateTime(2026, 12, 31, 23, 59, 59), 1), MakeDateTime(2027, 1, 1));
  EXPECT_EQ(AddSeconds(MakeDateTime(1899, 12, 30), -1), MakeDateTime(1899, 12, 29, 23, 59, 59));
  // A value a hair below midnight stays on the old day.
  const DateParts late = SplitDateTime(MakeDateTime(2026, 12, 7, 23, 59, 59) + 0.6 / 86400);
  EXPECT_EQ(late.day, 7);
  EXPECT_EQ(late.second, 59);
  EXPECT_EQ(DatePart(MakeDateTime(2026, 12, 7, 12, 34, 56)), MakeDateTime(2026, 12, 7));
  EXPECT_EQ(UnixSecondsToDays(0), 25569.0);
}

TEST(TextNumbers, ConversionsAsSettingsUseThem) {
  EXPECT_EQ(TextToNumber("117"), 117);
  EXPECT_EQ(TextToNumber(" -5.5"), -5.5);
  EXPECT_EQ(TextToNumber("12abc"), 12);
  EXPECT_EQ(TextToNumber("abc"), 0);
  EXPECT_EQ(TextToNumber(""), 0);
  EXPECT_EQ(TextToNumber("1e3"), 1000);
  EXPECT_EQ(TextToNumber("0x10"), 0);
  EXPECT_EQ(TextToNumber("inf"), 0);
  EXPECT_EQ(TextToInt("1.9"), 1);
  EXPECT_EQ(TextToInt("-5.5"), -5);
  EXPECT_EQ(TextToInt("1e300"), 2147483647);
  EXPECT_EQ(TextToInt("-1e300"), -2147483647 - 1);
  EXPECT_TRUE(NearWhole(TextToNumber("2.00000001"), 2));
  EXPECT_FALSE(NearWhole(TextToNumber("1.001"), 1));
}

TEST(TextNumbers, OutOfRangeNumbersKeepTheirSide) {
  // Too small to hold is zero (keeping the sign), not an infinity.
  EXPECT_EQ(TextToNumber("1e-400"), 0);
  EXPECT_EQ(TextToNumber("-2.5e-330"), 0);
  EXPECT_TRUE(std::signbit(TextToNumber("-2.5e-330")));
  EXPECT_EQ(TextToNumber("0.0001e-321"), 0);
  EXPECT_EQ(TextToNumber("123456789e-335"), 0);
  EXPECT_EQ(TextToInt("1e-400"), 0);
  // Still representable as a denormal, so kept.
  EXPECT_EQ(TextToNumber("1e-310"), 1e-310);
  // Too large is an infinity of the number's sign.
  EXPECT_EQ(TextToNumber("1e400"), HUGE_VAL);
  EXPECT_EQ(TextToNumber("-0.001e312"), -HUGE_VAL);
  EXPECT_EQ(TextToNumber("99999999999999999999e300px"), HUGE_VAL);
  EXPECT_EQ(TextToInt("1e400"), 2147483647);
}
