// Sync in the background, on a worker: once the store passed its check and
// the windows show, a few seconds after a save, every few minutes, when the
// user or `tamsivo --sync` asks, and one short run at the end of the
// program. Failures are retried later, ever less often; they never open a
// message box, only a notice when they went on for an hour.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/program_image.h"

struct SyncRequest {
  bool forgetServer = false;       // 上传全部 after a lost calendar
  bool insecureConfirmed = false;  // plain http to another computer
  std::string newPassword;         // typed into the window: stored first
};

struct SyncView {
  bool running = false;
  int daysDone = 0, daysToDo = 0;  // of the run under way, when it says
  std::string line;                // the last result, "" before any this run
  std::string passwordNote;
  // Days that kept both texts, newest run first, over this run of the program.
  std::vector<double> conflictDays;
  // The calendar we synced with is empty or gone: background runs wait for
  // the user's choice (上传全部 / 停止同步).
  bool calendarLost = false;
  // A typed password no keyring took: kept in memory until the user says
  // where (a file only they can read, or asked after each start).
  bool passwordUnstored = false;
  // 每次询问密码 and none typed since the start: runs wait for it.
  bool needPassword = false;
};

// Where the last result goes besides the window: the tray icon's tooltip.
void SetSyncStatusHandler(std::function<void(const std::string& line)> handler);

void SyncWindowsShown();
void OnSyncStoreChecked(image::EventArgs&);
void OnAutoSyncTimer(image::EventArgs&);
// StartedAgain: `tamsivo --sync` asked this copy for a sync.
void OnSyncAsked(image::EventArgs&);
// A memo was stored: a run follows a few seconds later.
void NoteMemoSaved();

// The window's 立即同步. False (nothing started) while a run is under way.
bool StartSync(SyncRequest request);
// Stops the run under way between two requests' bytes.
void StopSync();
const SyncView& CurrentSync();
// Days earlier runs kept both texts of (kept in the store), after the
// ones of this run.
void NoteKnownConflicts(const std::vector<double>& days);
// 停止同步: no more runs, and the tooltip says nothing of sync.
void SyncTurnedOff();
// The user chose 停止同步 or 上传全部: background runs may go on again.
void ClearCalendarLost();
// Whether the user is to be asked where the password goes (once).
bool TakePasswordQuestion();
// The password in memory goes into the file only the user can read.
[[nodiscard]] bool KeepPasswordInFile(std::string* error);
// The user keeps no password: asked for after each start.
void KeepPasswordInMemoryOnly();
// Takes a finished run's result now (the window's timer; tests).
void CollectSync();

// At the end of the program: a short last run when something was saved
// since the last one, and never more than 3 s in all.
void EndSync();

// Tests: the delays the schedule uses, in seconds.
inline constexpr int kSyncAfterSaveSeconds = 3;
inline constexpr int kSyncEverySeconds = 5 * 60;
int SyncRetrySeconds(int failures, long retryAfter);
