// A save while the first search builds the index: a store of 400,000 memos
// (or --memos N), the index built on a thread the way the program's upkeep
// does, and a save through the runtime's table store every 250 ms meanwhile,
// announced to the build as the program announces its saves. Prints each
// save's time and the build's. --no-yield leaves the saves unannounced.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "archive/search.h"
#include "base/datetime.h"
#include "bench/bench_memos.h"
#include "runtime/table_store.h"
#include "tests/support/test_program.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

bool Fill(const std::string& file, int memos, double first) {
  std::string error;
  if (!TableStore::Create(
          file, {{"日期", rt::kDateTimeField, 20}, {"事情", rt::kLongTextField, 20}}, &error)) {
    std::fprintf(stderr, "create: %s\n", error.c_str());
    return false;
  }
  auto store = TableStore::Open(file, &error);
  std::uint64_t state = 7;
  if (!store || !store->Begin(&error)) return false;
  for (int i = 0; i < memos; ++i) (void)store->Append({first + i, bench::MakeMemo(state)}, &error);
  if (!store->Commit(&error)) {
    std::fprintf(stderr, "fill: %s\n", error.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int memos = 400000;
  bool yield = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--memos") == 0 && i + 1 < argc) memos = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--no-yield") == 0) yield = false;
  }
  ScratchDir dir{"tamsivo-save-bench"};
  const std::string file = dir / "事件数据.edb";
  const double first = MakeDateTime(1000, 1, 1);
  const auto fillStart = Clock::now();
  if (!Fill(file, memos, first)) return 1;
  std::printf("%d memos written in %.0f ms\n", memos, Ms(Clock::now() - fillStart));

  std::string error;
  auto store = TableStore::Open(file, &error);
  if (!store) {
    std::fprintf(stderr, "open: %s\n", error.c_str());
    return 1;
  }
  std::atomic<bool> stop{false}, done{false};
  std::atomic<int> waiting{0};
  std::string buildError;
  const auto buildStart = Clock::now();
  std::thread build([&] {
    auto search = archive::MemoSearch::Open(file, &buildError);
    if (search && search->Update(&buildError, &stop, &waiting)) buildError.clear();
    done = true;
  });

  std::vector<double> times;
  int failed = 0;
  for (int n = 0; !done; ++n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (done) break;
    // As SaveDayMemo does: look-up and write in one transaction.
    const auto start = Clock::now();
    if (yield) ++waiting;
    bool ok = store->Begin(&error);
    if (ok) {
      (void)store->First();
      ok = store->Find({"日期", kMinDate, kMaxDate, first + n}) &&
           store->Write("事情", std::string("改过的备忘录 ") + std::to_string(n), &error) &&
           store->Commit(&error);
      if (!ok) store->Rollback();
    }
    if (yield) --waiting;
    const double ms = Ms(Clock::now() - start);
    times.push_back(ms);
    if (!ok) {
      ++failed;
      std::printf("save %d failed after %.0f ms: %s\n", n, ms, error.c_str());
    }
  }
  build.join();
  std::printf("index built in %.0f ms%s%s\n", Ms(Clock::now() - buildStart),
              buildError.empty() ? "" : ": ", buildError.c_str());
  if (times.empty()) return 0;
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  std::printf(
      "%zu saves during the build (%s), %d failed: median %.1f ms, 90th %.1f ms, max %.1f ms\n",
      times.size(), yield ? "announced" : "not announced", failed, sorted[sorted.size() / 2],
      sorted[sorted.size() * 9 / 10], sorted.back());
  return failed == 0 ? 0 : 1;
}
