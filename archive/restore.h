// Puts a backup in the place of a damaged memo store. The damaged file and
// its journal files are kept under a new name beside it, never overwriting
// anything; at every moment the store's name holds either the old file or
// the backup.
#pragma once

#include <string>

namespace archive {

struct Restored {
  bool ok = false;
  std::string backup;            // the backup put in place
  std::string damagedFile;       // where the old store went (empty when there was none)
  bool replacedHealthy = false;  // the old store passed the check ("….恢复前-…")
  std::string message;           // what was done, or why nothing was, in Chinese
};

// Restores the newest backup that passes the integrity check, or
// `backupFile` when given (checked too). `now` (days since 1899-12-30, with
// the time of day) names the damaged file: "事件数据.edb.损坏-20261208-153000".
// The store must not be open: the program calls this before it opens the
// store, or after closing it.
Restored RestoreFromBackup(const std::string& storeFile, double now,
                           const std::string& backupFile = {});

}  // namespace archive
