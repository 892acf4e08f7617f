// The cost of one calendar page (6 weeks of cells): lunar date, solar term,
// festivals and the cell and tooltip text. Run by hand:
//
//   ./lunar/lunar_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <array>

#include "lunar/day_info.h"
#include "lunar/day_text.h"

namespace {

// Cycles through the month pages of 1901-2100 so no single month is favoured.
lunar::CivilDate PageStart(int64_t i) {
  const int month = static_cast<int>(i % (200 * 12));
  return {1901 + month / 12, month % 12 + 1, 1};
}

void BM_FillMonthPage(benchmark::State& state) {
  std::array<lunar::DayInfo, 42> page;
  int64_t i = 0;
  for (auto _ : state) {
    lunar::FillDays(PageStart(i++), page);
    benchmark::DoNotOptimize(page.data());
  }
}
BENCHMARK(BM_FillMonthPage);

void BM_MonthPageWithText(benchmark::State& state) {
  std::array<lunar::DayInfo, 42> page;
  int64_t i = 0;
  for (auto _ : state) {
    lunar::FillDays(PageStart(i++), page);
    for (const auto& day : page) {
      auto cell = lunar::CellTextFor(day, nullptr);
      auto tip = lunar::TooltipFor(day, nullptr, false);
      benchmark::DoNotOptimize(cell.line.data());
      benchmark::DoNotOptimize(tip.data());
    }
  }
}
BENCHMARK(BM_MonthPageWithText);

void BM_ToLunarOneDay(benchmark::State& state) {
  int day = lunar::DayNumber(lunar::kFirstDay);
  const int last = lunar::DayNumber(lunar::kLastDay);
  for (auto _ : state) {
    benchmark::DoNotOptimize(lunar::ToLunar(lunar::FromDayNumber(day)));
    if (++day > last) day = lunar::DayNumber(lunar::kFirstDay);
  }
}
BENCHMARK(BM_ToLunarOneDay);

}  // namespace
