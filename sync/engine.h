// One two-way sync of the memo store with a CalDAV calendar: discovery,
// changes from the server (sync-collection, else an ETag listing), changed
// days merged and written a batch to a transaction, changes sent back (new
// days side by side).
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sync/sync_store.h"

namespace davsync {

inline constexpr const char* kCalendarName = "Tamsivo 备忘录";

struct SyncConfig {
  std::string address;  // a calendar's URL, or the server's
  std::string user;
  std::string password;
  bool insecureConfirmed = false;  // plain http to another computer
  long timeoutMs = 120000;
};

struct SyncOutcome {
  bool ok = false;
  std::string error;  // Chinese, one line
  int up = 0, down = 0, conflicts = 0;
  std::vector<double> conflictDays;
  std::vector<double> refusedDays;
  // The calendar we had synced with is empty or gone: nothing was changed
  // here; the user chooses to upload everything or to stop syncing.
  bool calendarLost = false;
  long retryAfter = -1;  // seconds the server asked us to wait
  int requests = 0;
};

// Days settled so far of those pending in this round; called on the
// thread that runs the sync, after each batch and each day merged alone.
using SyncProgress = std::function<void(int done, int total)>;

// One run. `now` is the time written into journals; `stop` ends the run
// within about a second, requests under way included (what was done stays
// done).
SyncOutcome RunSync(const SyncConfig& config, const std::string& storeFile, std::time_t now,
                    const std::atomic<bool>* stop = nullptr, const SyncProgress& progress = {});

// "上传 N 天，下载 M 天，冲突 K 天", the conflict days named after
// `beforeNames` (a line break in the window, whose lines break at spaces).
std::string OutcomeCounts(const SyncOutcome& out, const char* beforeNames = "");
// The first five days as Chinese dates, "等" after them.
std::string DayNames(const std::vector<double>& days);

// After a lost calendar, the user's "上传全部": forget what the server had,
// so the next run sends every memo again.
[[nodiscard]] bool ForgetServerState(const std::string& storeFile, std::string* error);

// What a day becomes, from its text here, the text last agreed and the
// server's text; `otherTime` names when the server's was written.
struct DayPlan {
  std::string result;
  bool writeLocal = false;
  bool upload = false;
  bool conflict = false;
};
DayPlan PlanDay(const std::string& local, const std::optional<std::string>& agreed,
                const std::string& remote, std::time_t otherTime);

// The server's text of a day: our resource's memo, then every other
// journal of that day whose text is not already in it.
std::string CombineRemote(const std::vector<RemoteRow>& rows);
// The line that joins two versions of a day, and how each such line starts.
std::string ConflictLine(std::time_t otherTime);
inline constexpr const char* kConflictLineStart = "—— 另一处的版本（";
// Whether `part` (a journal's text) is inside `whole`, as the server keeps texts.
bool TextInside(const std::string& part, const std::string& whole);

}  // namespace davsync
