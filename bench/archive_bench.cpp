// Search, the first index build and export against a store of 100,000
// memos of 20 to 400 characters, mixed Chinese (some traditional) and Latin.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/export.h"
#include "archive/search.h"
#include "base/datetime.h"
#include "bench/bench_memos.h"
#include "runtime/table_store.h"
#include "tests/support/test_program.h"

namespace {

constexpr int kMemos = 100000;

struct Fixture {
  ScratchDir dir{"tamsivo-archive-bench"};
  std::string pristine = dir / "pristine.edb";  // no index yet
  std::string indexed = dir / "事件数据.edb";
  std::unique_ptr<archive::MemoSearch> search;
};

Fixture& TheFixture() {
  static std::unique_ptr<Fixture> fixture = [] {
    auto f = std::make_unique<Fixture>();
    std::string error;
    if (!TableStore::Create(f->pristine,
                            {{"日期", rt::kDateTimeField, 20}, {"事情", rt::kLongTextField, 20}},
                            &error)) {
      std::fprintf(stderr, "create: %s\n", error.c_str());
      std::abort();
    }
    {
      auto store = TableStore::Open(f->pristine, &error);
      std::uint64_t state = 7;
      const double first = MakeDateTime(1750, 1, 1);
      store->Begin(&error);
      for (int i = 0; i < kMemos; ++i) store->Append({first + i, bench::MakeMemo(state)}, &error);
      if (!store->Commit(&error)) {
        std::fprintf(stderr, "fill: %s\n", error.c_str());
        std::abort();
      }
    }
    std::filesystem::copy_file(f->pristine, f->indexed);
    f->search = archive::MemoSearch::Open(f->indexed, &error);
    if (!f->search || !f->search->Update(&error)) {
      std::fprintf(stderr, "index: %s\n", error.c_str());
      std::abort();
    }
    return f;
  }();
  return *fixture;
}

double FileMegabytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) / 1e6 : 0;
}

void BM_FirstIndexBuild(benchmark::State& state) {
  Fixture& f = TheFixture();
  const std::string copy = f.dir / "build.edb";
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(copy);
    std::filesystem::copy_file(f.pristine, copy);
    state.ResumeTiming();
    std::string error;
    auto search = archive::MemoSearch::Open(copy, &error);
    if (!search || !search->Update(&error)) state.SkipWithError(error.c_str());
  }
  state.counters["store_MB"] = FileMegabytes(f.pristine);
  state.counters["indexed_MB"] = FileMegabytes(copy);
}
BENCHMARK(BM_FirstIndexBuild)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

// Queries of one length, taken in turn; words that occur often and rarely.
const std::vector<std::vector<std::string>> kQueries = {
    {"会", "a", "鸡", "Q", "電", "书"},
    {"开会", "pd", "报告", "周末", "學習", "ok"},
    {"音乐会", "rev", "火车票", "有点累", "iph", "写报告"},
    {"讨论预算方案", "deadli", "下午开会的", "火车票和机票", "bob的生日", "review"},
};

void BM_Search(benchmark::State& state) {
  Fixture& f = TheFixture();
  const auto& queries = kQueries[state.range(0)];
  std::size_t next = 0;
  int total = 0;
  for (auto _ : state) {
    archive::SearchResult result;
    std::string error;
    if (!f.search->Search(queries[next++ % queries.size()], &result, &error)) {
      state.SkipWithError(error.c_str());
    }
    total += result.total;
  }
  state.counters["matches"] = benchmark::Counter(total, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Search)
    ->ArgName("length_class")
    ->DenseRange(0, 3)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

void BM_Export(benchmark::State& state, const char* name) {
  Fixture& f = TheFixture();
  const std::string target = f.dir / name;
  for (auto _ : state) {
    int count = 0;
    std::string error;
    if (!archive::ExportMemos(f.indexed, target, &count, &error)) {
      state.SkipWithError(error.c_str());
    }
    if (count != kMemos) state.SkipWithError("not every memo was written");
  }
  state.counters["file_MB"] = FileMegabytes(target);
}
BENCHMARK_CAPTURE(BM_Export, md, "memos.md")->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, txt, "memos.txt")->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, csv, "memos.csv")->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, ics, "memos.ics")->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace
