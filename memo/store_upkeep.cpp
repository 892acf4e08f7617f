#include "memo/store_upkeep.h"

#include <malloc.h>

#include <mutex>
#include <thread>

#include "archive/backup.h"
#include "base/program.h"

namespace {

constexpr int kUpkeepPollMs = 500;

struct Upkeep {
  std::thread thread;
  std::mutex mutex;
  bool done = false;
  std::string backupError;  // empty: made, or already made today
};

Upkeep g_upkeep;
bool g_backupFailureReported = false;

void Work(std::string storeFile, double today) {
  // The search index is left to the first search: building it here would
  // load the character tables into every run, searched or not.
  const archive::DailyBackup backup = archive::BackUpDaily(storeFile, today);
  std::lock_guard<std::mutex> lock(g_upkeep.mutex);
  if (backup.outcome == archive::DailyBackup::Outcome::kFailed) g_upkeep.backupError = backup.error;
  g_upkeep.done = true;
}

void Join() {
  if (g_upkeep.thread.joinable()) g_upkeep.thread.join();
}

}  // namespace

void StartStoreUpkeep(const std::string& storeFile, double today) {
  WaitForStoreUpkeep();
  g_upkeep.done = false;
  g_upkeep.backupError.clear();
  g_upkeep.thread = std::thread(Work, storeFile, today);
  Rt().SetTimerInterval(kMainWindow, ctl::kUpkeepTimer, kUpkeepPollMs);
}

void WaitForStoreUpkeep() { Join(); }

void OnUpkeepTimer(image::EventArgs&) {
  std::string error;
  {
    std::lock_guard<std::mutex> lock(g_upkeep.mutex);
    if (!g_upkeep.done) return;
    error = g_upkeep.backupError;
  }
  Rt().SetTimerInterval(kMainWindow, ctl::kUpkeepTimer, 0);
  Join();
  // The copy's page cache was allocated on the worker's arena; give it back.
  malloc_trim(0);
  if (error.empty() || g_backupFailureReported) return;
  g_backupFailureReported = true;
  Rt().MessageBox("今天的自动备份没有成功：\r\n" + error +
                      "\r\n\r\n备忘录照常保存，不受影响；下次启动时会再试。",
                  rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"));
}
