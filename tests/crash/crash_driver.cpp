// Test-only driver for the crash test: starts the program in the directory
// given, then saves settings and memos in a loop until it is killed. Each
// save that returned success is recorded in a journal with write()+fsync(),
// so the test knows which saves had completed when the kill came.
//
// Usage: crash_driver <program dir> <journal file> <first setting> <first memo>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/program.h"
#include "memo/memo_store.h"
#include "settings/settings.h"
#include "tests/crash/crash_journal.h"
#include "tests/support/test_program.h"

namespace {

int g_journal = -1;

void Journal(const std::string& line) {
  const std::string bytes = line + "\n";
  // One write per line: a kill can only cut the line the test then ignores.
  if (::write(g_journal, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
      ::fsync(g_journal) != 0) {
    std::perror("journal");
    std::_Exit(4);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s DIR JOURNAL FIRST_SETTING FIRST_MEMO\n", argv[0]);
    return 2;
  }
  g_journal = ::open(argv[2], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (g_journal < 0) {
    std::perror(argv[2]);
    return 2;
  }
  long setting = std::atol(argv[3]);
  long memo = std::atol(argv[4]);

  TestProgram program{std::string(argv[1])};
  program.Start();
  if (!MemoStoreOpen()) {
    std::fprintf(stderr, "memo store did not open\n");
    std::_Exit(3);
  }
  Journal(std::string(1, crash::kReadyTag));

  // Bounded, in case nobody kills us; leaving by _Exit skips the close-down
  // steps, which would write the window position.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    // WriteSetting's own call, with the reason kept.
    std::string error;
    if (!Rt().WriteItem(SettingsPath(), kMainSection, "左边", std::to_string(setting), &error)) {
      std::fprintf(stderr, "settings write %ld failed: %s\n", setting, error.c_str());
      std::_Exit(3);
    }
    Journal(crash::kSettingTag + (" " + std::to_string(setting)));
    ++setting;

    if (!SaveDayMemo(crash::MemoDay(memo), crash::MemoText(memo), &error)) {
      std::fprintf(stderr, "memo %ld not saved: %s\n", memo, error.c_str());
      std::_Exit(3);
    }
    Journal(crash::kMemoTag + (" " + std::to_string(memo)));
    ++memo;
  }
  std::_Exit(0);
}
