// What an import will do to the store, worked out before anything is
// written, and the writing itself. A day that has a memo keeps it: what is
// new goes after it below a separator line. A text already in the memo (as
// whole lines) is left out, so importing the same thing twice changes
// nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "intake/entries.h"

namespace intake {

// The line between a memo and what an import added to it.
inline constexpr std::string_view kSeparator = "—— 导入 ——";

struct Piece {
  std::string text;
  std::string label;  // "09:30" before the text when a day has several timed entries
};

struct DayPlan {
  Date date;
  double day = 0;  // as the store keeps it (days since 1899-12-30)
  std::vector<Piece> pieces;
  bool existed = false;  // the day had a memo when the plan was made
};

struct Plan {
  std::vector<DayPlan> days;  // those to be written, oldest first
  int newDays = 0, addedDays = 0, skippedDays = 0;
  std::size_t entries = 0;
  int filesRead = 0;
  std::vector<Problem> problems;
  std::vector<std::string> skippedFiles;
  bool truncated = false;
};

// `existing` with every piece not already in it after it (below the
// separator when it had text); `changed` says whether anything was added.
std::string Merge(std::string_view existing, const std::vector<Piece>& pieces, bool* changed);

// Groups the entries by day and compares them with the store's memos
// (read-only; the store must be one the program made).
[[nodiscard]] bool MakePlan(const std::string& storeFile, Reading reading, Plan* plan,
                            std::string* error);

// Lines for the user: the counts, then up to `maxProblems` problems and
// skipped files.
std::string PlanSummary(const Plan& plan);
std::string PlanDetails(const Plan& plan, std::size_t maxProblems);

// A copy of the store taken before an import writes, checked, in 备份/ as
// "事件数据 导入前 2026-12-09 093012.edb"; the five newest such copies are kept.
[[nodiscard]] bool BackUpBeforeImport(const std::string& storeFile, std::string* backup,
                                      std::string* error);

struct Progress {
  std::atomic<std::size_t> daysDone{0};
  std::atomic<bool> stop{false};  // ends the writing between two transactions
  // Saves of the program waiting for the store: no transaction begins while
  // there is one, so a save never waits behind more than one.
  const std::atomic<int>* savesWaiting = nullptr;
};

struct Written {
  int newDays = 0, addedDays = 0;
  bool stopped = false;
};

// Writes the plan's days in transactions of whole days, each day merged
// again with the memo it has at that moment (a save since the plan is kept).
// A kill or `stop` leaves the store as it was or with whole days added.
[[nodiscard]] bool WritePlan(const std::string& storeFile, const Plan& plan, Progress* progress,
                             Written* written, std::string* error);

}  // namespace intake
