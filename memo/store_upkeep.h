// What is done for the store away from the windows, each on a thread of its
// own: today's backup (with the retention) once the store has passed its
// check, the search index brought up to date when search is wanted (the
// first build on a large store takes seconds), and exports (a second for
// 100,000 memos).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "archive/export.h"
#include "base/program_image.h"
#include "intake/merge.h"

// Starts the backup (once per store opening); the upkeep timer collects the
// outcome.
void StartStoreUpkeep(const std::string& storeFile, double today);
// Starts bringing the search index up to date; `ready` is called on the
// window thread with the reason it failed, empty when it succeeded. Does
// nothing while a run is under way.
void StartSearchIndexing(const std::string& storeFile,
                         std::function<void(const std::string& error)> ready);
bool SearchIndexingRunning();
// Held around each save of the program's: the index work ends its
// transaction at once and begins none while one is held, so the save has
// the store without waiting.
class SaveTurn {
 public:
  SaveTurn();
  ~SaveTurn();
  SaveTurn(const SaveTurn&) = delete;
  SaveTurn& operator=(const SaveTurn&) = delete;
};
// Writes every memo to `path` (format by its extension) on a worker; `done`
// is called on the window thread with the number written and the reason it
// failed, empty when it succeeded. Does nothing while an export runs.
void StartExport(const std::string& storeFile, const std::string& path,
                 std::function<void(int count, const std::string& error)> done);
// The same into a folder, one file a day (archive::ExportMemosToFolder).
void StartFolderExport(
    const std::string& storeFile, const std::string& folder, archive::ExistingFiles existing,
    std::function<void(const archive::FolderExport&, const std::string& error)> done);
bool ExportRunning();
// An import on a worker, in two steps: reading `path` (a file or a folder)
// and planning against the store, then (after the user agreed) the backup
// and the writing. `done` is called on the window thread. Each does nothing
// while an import step runs.
void StartImportPlan(
    const std::string& storeFile, const std::string& path,
    std::function<void(std::shared_ptr<intake::Plan>, const std::string& error)> done);
void StartImportWrite(const std::string& storeFile, std::shared_ptr<const intake::Plan> plan,
                      std::shared_ptr<intake::Progress> progress,
                      std::function<void(const intake::Written&, const std::string& error)> done);
bool ImportRunning();
// At the end of the program: stops the index work and an import's writing
// between two of their short transactions and waits for all.
void EndStoreUpkeep();
// Collects finished runs: a failed backup is reported once.
void OnUpkeepTimer(image::EventArgs&);
