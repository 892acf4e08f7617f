#include "memo/store_upkeep.h"

#include <malloc.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "archive/backup.h"
#include "archive/export.h"
#include "archive/search.h"
#include "base/datetime.h"
#include "base/program.h"
#include "intake/collect.h"
#include "memo/anniversaries.h"

namespace {

constexpr int kUpkeepPollMs = 200;

struct Outcome {
  std::string error;  // empty: succeeded (or nothing to do)
  int count = 0;
};

// One piece of work on a thread of its own, its outcome handed to
// `collected` on the window thread by the upkeep timer.
struct Job {
  std::thread thread;
  bool done = false;  // under g_mutex
  Outcome outcome;    // under g_mutex
  std::function<void(const Outcome&)> collected;

  bool Running() const { return thread.joinable(); }
  void Join() {
    if (thread.joinable()) thread.join();
  }
};

std::mutex g_mutex;
Job g_backup;
Job g_indexing;
Job g_export;
Job g_import;
// The writing an import has under way, so that the end of the program can stop it.
std::shared_ptr<intake::Progress> g_importProgress;
std::atomic<bool> g_stopIndexing{false};
std::atomic<int> g_savesWaiting{0};
bool g_backupFailureReported = false;

void Poll() { Rt().SetTimerInterval(kMainWindow, ctl::kUpkeepTimer, kUpkeepPollMs); }

// Does nothing while the job runs or waits to be collected.
void Start(Job& job, std::function<Outcome()> work, std::function<void(const Outcome&)> collected) {
  if (job.Running()) return;
  job.done = false;
  job.collected = std::move(collected);
  job.thread = std::thread([&job, work = std::move(work)] {
    Outcome outcome = work();
    std::lock_guard<std::mutex> lock(g_mutex);
    job.outcome = std::move(outcome);
    job.done = true;
  });
  Poll();
}

void Collect(Job& job) {
  Outcome outcome;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!job.done) return;
    job.done = false;
    outcome = std::move(job.outcome);
  }
  job.Join();
  // What the work allocated sits in its thread's arena; give it back.
  malloc_trim(0);
  // Moved out first: the handler may start the job again.
  if (auto collected = std::exchange(job.collected, nullptr)) collected(outcome);
}

void ReportBackup(const Outcome& outcome) {
  if (outcome.error.empty() || g_backupFailureReported) return;
  g_backupFailureReported = true;
  Rt().MessageBox("今天的自动备份没有成功：\r\n" + outcome.error +
                      "\r\n\r\n备忘录照常保存，不受影响；下次启动时会再试。",
                  rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"));
}

}  // namespace

void StartStoreUpkeep(const std::string& storeFile, double today) {
  // A run for an earlier opening ends first.
  g_backup.Join();
  Collect(g_backup);
  Start(
      g_backup,
      [storeFile, today] {
        const archive::DailyBackup backup = archive::BackUpDaily(storeFile, today);
        const bool failed = backup.outcome == archive::DailyBackup::Outcome::kFailed;
        return Outcome{failed ? backup.error : std::string()};
      },
      ReportBackup);
}

void StartSearchIndexing(const std::string& storeFile,
                         std::function<void(const std::string& error)> ready) {
  Start(
      g_indexing,
      [storeFile] {
        Outcome outcome;
        if (auto search = archive::MemoSearch::Open(storeFile, &outcome.error)) {
          if (search->Update(&outcome.error, &g_stopIndexing, &g_savesWaiting))
            outcome.error.clear();
        }
        return outcome;
      },
      [ready = std::move(ready)](const Outcome& outcome) { ready(outcome.error); });
}

bool SearchIndexingRunning() { return g_indexing.Running(); }

SaveTurn::SaveTurn() { ++g_savesWaiting; }
SaveTurn::~SaveTurn() { --g_savesWaiting; }

void StartExport(const std::string& storeFile, const std::string& path,
                 std::function<void(int count, const std::string& error)> done) {
  Start(
      g_export,
      [storeFile, path, yearly = CalendarExportEvents(DatePart(Rt().Now()))] {
        Outcome outcome;
        if (archive::ExportMemos(storeFile, path, &outcome.count, &outcome.error, yearly)) {
          outcome.error.clear();
        }
        return outcome;
      },
      [done = std::move(done)](const Outcome& outcome) { done(outcome.count, outcome.error); });
}

void StartFolderExport(
    const std::string& storeFile, const std::string& folder, archive::ExistingFiles existing,
    std::function<void(const archive::FolderExport&, const std::string& error)> done) {
  auto result = std::make_shared<archive::FolderExport>();
  Start(
      g_export,
      [storeFile, folder, existing, result] {
        Outcome outcome;
        if (archive::ExportMemosToFolder(storeFile, folder, existing, result.get(),
                                         &outcome.error)) {
          outcome.error.clear();
        }
        return outcome;
      },
      [result, done = std::move(done)](const Outcome& outcome) { done(*result, outcome.error); });
}

bool ExportRunning() { return g_export.Running(); }

void StartImportPlan(
    const std::string& storeFile, const std::string& path,
    std::function<void(std::shared_ptr<intake::Plan>, const std::string& error)> done) {
  auto plan = std::make_shared<intake::Plan>();
  Start(
      g_import,
      [storeFile, path, plan] {
        Outcome outcome;
        if (intake::MakePlan(storeFile, intake::ReadPath(path), plan.get(), &outcome.error)) {
          outcome.error.clear();
        }
        return outcome;
      },
      [plan, done = std::move(done)](const Outcome& outcome) { done(plan, outcome.error); });
}

void StartImportWrite(const std::string& storeFile, std::shared_ptr<const intake::Plan> plan,
                      std::shared_ptr<intake::Progress> progress,
                      std::function<void(const intake::Written&, const std::string& error)> done) {
  if (g_import.Running()) return;
  auto written = std::make_shared<intake::Written>();
  progress->savesWaiting = &g_savesWaiting;
  g_importProgress = progress;
  Start(
      g_import,
      [storeFile, plan, progress, written] {
        Outcome outcome;
        std::string backup;
        if (intake::BackUpBeforeImport(storeFile, &backup, &outcome.error) &&
            intake::WritePlan(storeFile, *plan, progress.get(), written.get(), &outcome.error)) {
          outcome.error.clear();
        }
        return outcome;
      },
      [written, done = std::move(done)](const Outcome& outcome) {
        g_importProgress.reset();
        done(*written, outcome.error);
      });
}

bool ImportRunning() { return g_import.Running(); }

void EndStoreUpkeep() {
  g_stopIndexing = true;
  if (g_importProgress) g_importProgress->stop = true;
  for (Job* job : {&g_indexing, &g_export, &g_import, &g_backup}) job->Join();
}

void OnUpkeepTimer(image::EventArgs&) {
  for (Job* job : {&g_indexing, &g_export, &g_import, &g_backup}) Collect(*job);
  if (!g_backup.Running() && !g_indexing.Running() && !g_export.Running() && !g_import.Running()) {
    Rt().SetTimerInterval(kMainWindow, ctl::kUpkeepTimer, 0);
  }
}
