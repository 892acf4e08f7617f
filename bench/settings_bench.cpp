// Reading one settings item: the program reads Start.ini afresh at every use,
// so this is the cost of every flag and position the program looks at.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "settings/settings.h"
#include "tests/support/test_program.h"
#include "util/codepage.h"
#include "util/ini_file.h"

namespace {

// Through the program's routine and the runtime, as the program does it.
void BM_ReadSettingViaRuntime(benchmark::State& state) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TestProgram program;
  if (!EnsureSettingsFile()) state.SkipWithError("Start.ini could not be written");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadSetting(kTodaySection, "记录方式"));
  }
}
BENCHMARK(BM_ReadSettingViaRuntime);

// The item reader alone on the default file.
void BM_IniReadItemFromFile(benchmark::State& state) {
  char tmpl[] = "/tmp/tamsivo-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const std::string dir = tmpl;
  const std::string path = dir + "/Start.ini";
  {
    std::ofstream out(path, std::ios::binary);
    out << gbk::FromUtf8(DefaultSettingsText);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(ini::ReadItem(path, kTodaySection, "记录方式"));
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_IniReadItemFromFile);

// Parsing and conversion only, without the file system.
void BM_IniReadItemFromBytes(benchmark::State& state) {
  const std::string bytes = gbk::FromUtf8(DefaultSettingsText);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ini::ReadItemFromBytes(bytes, kTodaySection, "记录方式"));
  }
}
BENCHMARK(BM_IniReadItemFromBytes);

}  // namespace
