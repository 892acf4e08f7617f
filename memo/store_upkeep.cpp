#include "memo/store_upkeep.h"

#include <cstdio>
#include <mutex>
#include <thread>

#include "archive/backup.h"
#include "archive/search.h"
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
  const archive::DailyBackup backup = archive::BackUpDaily(storeFile, today);
  // The index is built here so that the first search finds it ready; a
  // failure is met again, and reported, by the search itself.
  std::string error;
  if (auto search = archive::MemoSearch::Open(storeFile, &error)) {
    if (!search->Update(&error)) std::fprintf(stderr, "tamsivo: 查找索引：%s\n", error.c_str());
  }
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
  if (error.empty() || g_backupFailureReported) return;
  g_backupFailureReported = true;
  Rt().MessageBox("今天的自动备份没有成功：\r\n" + error +
                      "\r\n\r\n备忘录照常保存，不受影响；下次启动时会再试。",
                  rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"));
}
