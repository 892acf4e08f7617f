// A memo of ten megabytes: opening it in the editor and closing it, with
// and without a change (the change is saved), on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "tests/support/test_program.h"

namespace {

const double kDay = MakeDateTime(2026, 12, 20);

std::string BigText() {
  const std::string line =
      "今天的备忘录很长很长，一行接一行地写下去。今天的备忘录很长很长，一行接一行地写下去。\n";
  std::string text;
  while (text.size() < (size_t{10} << 20)) text += line;
  return text;
}

TestProgram& Program() {
  static std::unique_ptr<TestProgram> program = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto p = std::make_unique<TestProgram>();
    p->Start();
    if (!SaveDayMemo(kDay, BigText())) std::abort();
    return p;
  }();
  return *program;
}

void OpenOnTheDay(const std::function<void(rt::Runtime&)>& whileOpen) {
  TestProgram& p = Program();
  p.onModal = [&p, &whileOpen](const std::string&) { whileOpen(p.runtime()); };
  p.runtime().SetCalendarValue(kMainWindow, ctl::kCalendar, kDay);
  OpenMemoEditor();
  p.onModal = nullptr;
}

void BM_OpenAndCloseUnchanged(benchmark::State& state) {
  for (auto _ : state) {
    OpenOnTheDay([](rt::Runtime& r) { r.CloseWindow(kMemoEditWindow); });
  }
}
BENCHMARK(BM_OpenAndCloseUnchanged)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_OpenChangeAndSave(benchmark::State& state) {
  int n = 0;
  const std::string text = BigText();
  for (auto _ : state) {
    const std::string changed = text + std::to_string(++n);
    OpenOnTheDay([&changed](rt::Runtime& r) {
      r.SetEditText(kMemoEditWindow, ctl::kMemoBox, changed);
      r.CloseWindow(kMemoEditWindow);
    });
  }
  if (!FindDayMemo(kDay) || ReadMemoText().size() != text.size() + std::to_string(n).size()) {
    state.SkipWithError("the memo was not saved");
  }
}
BENCHMARK(BM_OpenChangeAndSave)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
