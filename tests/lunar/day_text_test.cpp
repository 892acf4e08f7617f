// The cell line and tooltip wording.
#include "lunar/day_text.h"

#include <gtest/gtest.h>

#include "printers.h"

namespace lunar {
namespace {

const HolidayMark kSpringOff{HolidayKind::kOff, "春节"};
const HolidayMark kSpringWork{HolidayKind::kWork, "春节"};

TEST(DayText, Tooltip) {
  EXPECT_EQ(TooltipFor(Describe({2027, 2, 6}), nullptr, false),
            "2027年2月6日 星期六 · 农历丁未年正月初一 · 春节 · 未收录2027年放假安排");
  EXPECT_EQ(TooltipFor(Describe({2026, 2, 17}), &kSpringOff, true),
            "2026年2月17日 星期二 · 农历丙午年正月初一 · 春节 · 休（春节）");
  EXPECT_EQ(TooltipFor(Describe({2026, 2, 14}), &kSpringWork, true),
            "2026年2月14日 星期六 · 农历乙巳年腊月廿七 · 班（春节）");
  EXPECT_EQ(TooltipFor(Describe({2025, 7, 25}), nullptr, true),
            "2025年7月25日 星期五 · 农历乙巳年闰六月初一");
  EXPECT_EQ(TooltipFor(Describe({2015, 2, 19}), nullptr, true),
            "2015年2月19日 星期四 · 农历乙未年正月初一 · 春节 · 雨水");
  // The lunar year changes at 正月初一, not on 1 January.
  EXPECT_EQ(TooltipFor(Describe({2027, 1, 1}), nullptr, true),
            "2027年1月1日 星期五 · 农历丙午年冬月廿四 · 元旦");
  EXPECT_EQ(TooltipFor(Describe({1900, 12, 31}), nullptr, false),
            "1900年12月31日 星期一 · 未收录1900年放假安排");
}

TEST(DayText, CellLine) {
  EXPECT_EQ(CellTextFor(Describe({2027, 2, 6}), &kSpringOff).line, "春节");
  EXPECT_EQ(CellTextFor(Describe({2027, 2, 6}), &kSpringOff).mark, "休");
  EXPECT_EQ(CellTextFor(Describe({2026, 2, 14}), &kSpringWork).mark, "班");
  EXPECT_EQ(CellTextFor(Describe({2026, 2, 14}), nullptr).mark, "");
  EXPECT_EQ(CellTextFor(Describe({2026, 2, 14}), nullptr).line, "廿七");
  EXPECT_EQ(CellTextFor(Describe({2025, 7, 25}), nullptr).line, "闰六月");
  EXPECT_EQ(CellTextFor(Describe({2025, 11, 20}), nullptr).line, "十月");
  EXPECT_EQ(CellTextFor(Describe({2025, 12, 20}), nullptr).line, "冬月");
  EXPECT_EQ(CellTextFor(Describe({2026, 1, 19}), nullptr).line, "腊月");
  EXPECT_EQ(CellTextFor(Describe({2023, 11, 8}), nullptr).line, "立冬");
  EXPECT_EQ(CellTextFor(Describe({2025, 10, 1}), nullptr).line, "国庆节");
  EXPECT_EQ(CellTextFor(Describe({2025, 10, 2}), nullptr).line, "十一");
  EXPECT_EQ(CellTextFor(Describe({1900, 12, 31}), nullptr).line, "");
}

}  // namespace
}  // namespace lunar
