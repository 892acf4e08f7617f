// Daily copies of the memo store in the folder 备份 beside it, named by day
// ("事件数据 2026-12-08.edb"), so they sort by date. The last 14 are kept,
// and the newest of each of the last 24 months; files of any other name in
// the folder are never touched.
#pragma once

#include <string>
#include <vector>

namespace archive {

std::string BackupDirectory(const std::string& storeFile);
// The file a backup of `day` gets (days since 1899-12-30).
std::string BackupPath(const std::string& storeFile, double day);

struct BackupFile {
  std::string path;
  double day = 0;
};
// The store's backups in the folder, newest first.
std::vector<BackupFile> ListBackups(const std::string& storeFile);

struct DailyBackup {
  enum class Outcome {
    kMade,
    kAlreadyMade,  // today's backup was there: nothing was opened
    kFailed,
  };
  Outcome outcome = Outcome::kFailed;
  std::string file;                  // today's backup
  std::vector<std::string> removed;  // older backups the retention let go
  std::string error;                 // why it failed, in Chinese
};

// Copies `storeFile` into the empty or new file `copyFile` through SQLite,
// page by page in one read transaction (what a write-ahead log holds
// included): a state the store was in even while the program saves. The
// copy has no search objects and uses a rollback journal.
[[nodiscard]] bool CopyStore(const std::string& storeFile, const std::string& copyFile,
                             std::string* error);

// Copies the store (a consistent snapshot, without the search index) when
// no backup of `today` exists yet, then prunes. A failure leaves no partial
// file. Safe while the program has the store open; takes about as long as
// reading the store once.
DailyBackup BackUpDaily(const std::string& storeFile, double today);

// Applies the retention to the backups there are (BackUpDaily does after
// each new backup); never removes one when that would leave no backup that
// passes the integrity check. Returns the files removed.
std::vector<std::string> PruneBackups(const std::string& storeFile, double today);

}  // namespace archive
