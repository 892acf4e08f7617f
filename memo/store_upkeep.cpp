#include "memo/store_upkeep.h"

#include <malloc.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "archive/backup.h"
#include "archive/export.h"
#include "archive/search.h"
#include "base/program.h"

namespace {

constexpr int kUpkeepPollMs = 200;

// One piece of work on a thread of its own.
struct Job {
  std::thread thread;
  bool done = false;  // under g_mutex
  std::string error;  // under g_mutex; empty: succeeded (or nothing to do)
  int count = 0;      // under g_mutex

  bool Running() const { return thread.joinable(); }
  void Join() {
    if (thread.joinable()) thread.join();
  }
};

std::mutex g_mutex;
Job g_backup;
Job g_indexing;
Job g_export;
std::atomic<bool> g_stopIndexing{false};
std::function<void(const std::string&)> g_indexReady;
std::function<void(int, const std::string&)> g_exported;
bool g_backupFailureReported = false;

void Finish(Job& job, std::string error, int count = 0) {
  std::lock_guard<std::mutex> lock(g_mutex);
  job.error = std::move(error);
  job.count = count;
  job.done = true;
}

void BackUp(std::string storeFile, double today) {
  const archive::DailyBackup backup = archive::BackUpDaily(storeFile, today);
  Finish(g_backup,
         backup.outcome == archive::DailyBackup::Outcome::kFailed ? backup.error : std::string());
}

void Index(std::string storeFile) {
  std::string error;
  if (auto search = archive::MemoSearch::Open(storeFile, &error)) {
    if (search->Update(&error, &g_stopIndexing)) error.clear();
  }
  if (error.empty() && g_stopIndexing) error = "stopped";
  Finish(g_indexing, std::move(error));
}

void Export(std::string storeFile, std::string path) {
  int count = 0;
  std::string error;
  if (archive::ExportMemos(storeFile, path, &count, &error)) error.clear();
  Finish(g_export, std::move(error), count);
}

void Poll() { Rt().SetTimerInterval(kMainWindow, ctl::kUpkeepTimer, kUpkeepPollMs); }

// The finished job's outcome, or false while it runs (or never ran).
bool Collect(Job& job, std::string* error, int* count = nullptr) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!job.Running() || !job.done) return false;
    *error = job.error;
    if (count) *count = job.count;
  }
  job.Join();
  // What the work allocated sits in its thread's arena; give it back.
  malloc_trim(0);
  return true;
}

}  // namespace

void StartStoreUpkeep(const std::string& storeFile, double today) {
  g_backup.Join();
  g_backup.done = false;
  g_backup.thread = std::thread(BackUp, storeFile, today);
  Poll();
}

void StartSearchIndexing(const std::string& storeFile,
                         std::function<void(const std::string& error)> ready) {
  if (g_indexing.Running()) return;
  g_indexing.done = false;
  g_indexReady = std::move(ready);
  g_indexing.thread = std::thread(Index, storeFile);
  Poll();
}

bool SearchIndexingRunning() { return g_indexing.Running(); }

void StartExport(const std::string& storeFile, const std::string& path,
                 std::function<void(int count, const std::string& error)> done) {
  if (g_export.Running()) return;
  g_export.done = false;
  g_exported = std::move(done);
  g_export.thread = std::thread(Export, storeFile, path);
  Poll();
}

bool ExportRunning() { return g_export.Running(); }

void EndStoreUpkeep() {
  g_stopIndexing = true;
  g_indexing.Join();
  g_export.Join();
  g_backup.Join();
}

void OnUpkeepTimer(image::EventArgs&) {
  std::string error;
  if (Collect(g_indexing, &error)) {
    // Moved out first: the callback may start a new run.
    auto ready = std::exchange(g_indexReady, nullptr);
    if (ready) ready(error);
  }
  int count = 0;
  if (Collect(g_export, &error, &count)) {
    auto done = std::exchange(g_exported, nullptr);
    if (done) done(count, error);
  }
  const bool backedUp = Collect(g_backup, &error);
  if (!g_backup.Running() && !g_indexing.Running() && !g_export.Running()) {
    Rt().SetTimerInterval(kMainWindow, ctl::kUpkeepTimer, 0);
  }
  if (!backedUp || error.empty() || g_backupFailureReported) return;
  g_backupFailureReported = true;
  Rt().MessageBox("今天的自动备份没有成功：\r\n" + error +
                      "\r\n\r\n备忘录照常保存，不受影响；下次启动时会再试。",
                  rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"));
}
