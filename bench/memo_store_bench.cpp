// Day lookup and durable save against a store of 100,000 days.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "memo/memo_store.h"
#include "runtime/table_store.h"
#include "tests/support/test_program.h"

namespace {

constexpr int kDays = 100000;
const double kFirstDay = MakeDateTime(1900, 1, 1);

// One program directory for the whole run, its store filled once.
TestProgram& Program() {
  static std::unique_ptr<TestProgram> program = [] {
    auto p = std::make_unique<TestProgram>();
    const std::string file = p->path(kMemoStoreFileName);
    std::string error;
    if (!TableStore::Create(
            file, {{"日期", rt::kDateTimeField, 20}, {"事情", rt::kLongTextField, 20}}, &error)) {
      std::fprintf(stderr, "create: %s\n", error.c_str());
      std::abort();
    }
    {
      auto store = TableStore::Open(file, &error);
      store->Begin(&error);
      for (int i = 0; i < kDays; ++i)
        store->Append({kFirstDay + i, "第" + std::to_string(i) + "天的备忘：开会、买菜、回电话"},
                      &error);
      if (!store->Commit(&error)) {
        std::fprintf(stderr, "fill: %s\n", error.c_str());
        std::abort();
      }
    }
    OpenMemoStore();
    if (!MemoStoreOpen()) std::abort();
    return p;
  }();
  return *program;
}

// Days spread over the whole store, late ones included.
double PickDay(std::uint64_t& state) {
  state = state * 6364136223846793005ULL + 1442695040888963407ULL;
  return kFirstDay + static_cast<double>((state >> 33) % kDays);
}

void BM_FindDayMemo(benchmark::State& state) {
  Program();
  std::uint64_t seed = 1;
  for (auto _ : state) {
    bool found = FindDayMemo(PickDay(seed));
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_FindDayMemo)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

void BM_FindDayMemoMissing(benchmark::State& state) {
  Program();
  const double missing = kFirstDay + kDays + 10;
  for (auto _ : state) {
    bool found = FindDayMemo(missing);
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_FindDayMemoMissing)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

void BM_FindAndReadMemo(benchmark::State& state) {
  Program();
  std::uint64_t seed = 2;
  for (auto _ : state) {
    FindDayMemo(PickDay(seed));
    std::string text = ReadMemoText();
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_FindAndReadMemo)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// Replaces an existing day's memo: one committed, synced transaction each.
void BM_SaveDayMemo(benchmark::State& state) {
  Program();
  std::uint64_t seed = 3;
  std::string error;
  for (auto _ : state) {
    if (!SaveDayMemo(PickDay(seed), "改过的备忘", &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
  }
}
BENCHMARK(BM_SaveDayMemo)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// The calendar's marks: one month page after another (a week on either
// side, as the page shows), over the whole store.
void BM_MarkMonth(benchmark::State& state) {
  Program();
  int month = 0;
  for (auto _ : state) {
    const double first = MakeDateTime(1900 + month / 12 * 2, month % 12 + 1, 1);
    std::vector<double> days = DaysWithMemo(first - 7, first + 45);
    benchmark::DoNotOptimize(days);
    month = (month + 1) % 100;
  }
}
BENCHMARK(BM_MarkMonth)->Unit(benchmark::kMicrosecond);

}  // namespace
