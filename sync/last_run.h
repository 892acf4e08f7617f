// What the last sync did, kept in the store (sync_state "last_run") so the
// window shows it after a restart and `tamsivo --sync` can wait for the run
// it asked a running copy for.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "sync/engine.h"

namespace davsync {

struct LastRun {
  std::time_t started = 0;  // when the run began (its journals' time)
  std::time_t finished = 0;
  bool ok = false;
  std::string line;  // ResultLine
  // Days that kept both texts, newest first, over the runs so far (at most
  // kConflictDaysKept); SaveLastRun adds these to the stored ones.
  std::vector<double> conflictDays;
};

inline constexpr std::size_t kConflictDaysKept = 100;

// "已同步 10:32：上传 1 天，…", "同步失败：…", "同步已停止（…）", with the days
// the server refused.
std::string ResultLine(const SyncOutcome& out, bool stopped, std::time_t finished);
// "10:32", or "12月8日 10:32" on another day than `now`.
std::string WhenText(std::time_t t, std::time_t now);

// Written with the sync objects made when missing (SyncStore::Open).
[[nodiscard]] bool SaveLastRun(const std::string& storeFile, const LastRun& run,
                               std::string* error);
// Read-only; a store that never synced gives `*found` false.
[[nodiscard]] bool LoadLastRun(const std::string& storeFile, LastRun* run, bool* found,
                               std::string* error);

}  // namespace davsync
