// An import of 100,000 entries (or --entries N), timed step by step the way
// the program runs it: reading, the plan, the backup, the writing. Two
// cases: our own .md export into an empty store, and a Day One JSON export
// onto a store that already holds a memo on every other of its days. While
// the second writes, a save through the runtime's table store every 100 ms
// measures how long the windows would wait. Plain main, prints its figures.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "archive/export.h"
#include "archive/memo_db.h"
#include "base/datetime.h"
#include "bench/bench_memos.h"
#include "intake/collect.h"
#include "intake/merge.h"
#include "runtime/table_store.h"
#include "tests/support/test_program.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

const std::vector<rt::FieldDesc> kFields = {{"日期", rt::kDateTimeField, 20},
                                            {"事情", rt::kLongTextField, 20}};

bool Create(const std::string& file) {
  std::string error;
  if (!TableStore::Create(file, kFields, &error)) {
    std::fprintf(stderr, "create: %s\n", error.c_str());
    return false;
  }
  return true;
}

// Times each step of one import; false on a failure.
bool TimedImport(const char* name, const std::string& store, const std::string& path,
                 bool savesMeanwhile) {
  const auto t0 = Clock::now();
  intake::Reading reading = intake::ReadPath(path);
  const auto t1 = Clock::now();
  const std::size_t entries = reading.entries.size();
  intake::Plan plan;
  std::string error;
  if (!intake::MakePlan(store, std::move(reading), &plan, &error)) {
    std::fprintf(stderr, "plan: %s\n", error.c_str());
    return false;
  }
  const auto t2 = Clock::now();
  std::string backup;
  if (!intake::BackUpBeforeImport(store, &backup, &error)) {
    std::fprintf(stderr, "backup: %s\n", error.c_str());
    return false;
  }
  const auto t3 = Clock::now();
  std::atomic<bool> writing{true};
  // Announced as the program announces its saves (SaveTurn).
  std::atomic<int> savesWaiting{0};
  std::vector<double> waits;
  std::thread saver;
  if (savesMeanwhile) {
    saver = std::thread([&] {
      std::string e;
      auto s = TableStore::Open(store, &e);
      const double day = MakeDateTime(2500, 1, 1);
      int n = 0;
      while (writing) {
        const auto a = Clock::now();
        ++savesWaiting;
        if (s && s->Begin(&e)) {
          const bool found = s->First() && s->Find({"日期", kMinDate, kMaxDate, day});
          (void)(found ? s->Write("事情", "保存 " + std::to_string(++n), &e)
                       : s->Append({day, std::string("保存")}, &e));
          (void)s->Commit(&e);
        }
        --savesWaiting;
        waits.push_back(Ms(Clock::now() - a));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  intake::Progress progress;
  progress.savesWaiting = &savesWaiting;
  intake::Written written;
  const bool ok = intake::WritePlan(store, plan, &progress, &written, &error);
  const auto t4 = Clock::now();
  writing = false;
  if (saver.joinable()) saver.join();
  if (!ok) {
    std::fprintf(stderr, "write: %s\n", error.c_str());
    return false;
  }
  std::printf(
      "%s: %zu entries, %d new days, %d added to, %d skipped\n"
      "  read %.0f ms, plan %.0f ms, backup %.0f ms, write %.0f ms: %.2f s in all\n",
      name, entries, written.newDays, written.addedDays, plan.skippedDays, Ms(t1 - t0), Ms(t2 - t1),
      Ms(t3 - t2), Ms(t4 - t3), Ms(t4 - t0) / 1000);
  if (!waits.empty()) {
    std::sort(waits.begin(), waits.end());
    std::printf("  %zu saves meanwhile: median %.1f ms, slowest %.1f ms\n", waits.size(),
                waits[waits.size() / 2], waits.back());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int entries = 100000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--entries") == 0) entries = std::atoi(argv[i + 1]);
  }
  ScratchDir dir("tamsivo-import-bench");
  const double first = MakeDateTime(1750, 1, 1);
  std::uint64_t state = 7;

  // Our own export of a store of `entries` memos, into an empty store.
  const std::string source = dir / "source.edb";
  if (!Create(source)) return 1;
  {
    std::string error;
    auto s = TableStore::Open(source, &error);
    s->Begin(&error);
    for (int i = 0; i < entries; ++i) (void)s->Append({first + i, bench::MakeMemo(state)}, &error);
    if (!s->Commit(&error)) return 1;
  }
  int count = 0;
  std::string error;
  if (!archive::ExportMemos(source, dir / "备忘录.md", &count, &error)) return 1;
  const std::string empty = dir / "empty.edb";
  if (!Create(empty) || !TimedImport("own .md export", empty, dir / "备忘录.md", false)) return 1;

  // Day One entries, two a day on half the days, onto a store with a memo on
  // every other day.
  const std::string busy = dir / "busy.edb";
  if (!Create(busy)) return 1;
  {
    auto s = TableStore::Open(busy, &error);
    s->Begin(&error);
    for (int i = 0; i < entries; i += 2)
      (void)s->Append({first + i, bench::MakeMemo(state)}, &error);
    if (!s->Commit(&error)) return 1;
  }
  std::string json = "{\"entries\":[\n";
  for (int i = 0; i < entries; ++i) {
    const archive::CivilDay c = archive::ToCivil(first + i / 2 * 2 + (i % 4 < 2 ? 0 : 1));
    char when[64];
    std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:30:00Z", c.year, c.month, c.day,
                  i % 2 ? 2 : 10);
    std::string text = bench::MakeMemo(state);
    std::string escaped;
    for (char ch : text) {
      if (ch == '"' || ch == '\\') escaped += '\\';
      if (ch == '\n') {
        escaped += "\\n";
        continue;
      }
      escaped += ch;
    }
    json += std::string(i ? ",\n" : "") + "{\"creationDate\":\"" + when +
            "\",\"timeZone\":\"Asia/Shanghai\",\"text\":\"" + escaped + "\"}";
  }
  json += "]}\n";
  PutFile(dir / "Journal.json", json);
  if (!TimedImport("Day One JSON", busy, dir / "Journal.json", true)) return 1;
  return 0;
}
