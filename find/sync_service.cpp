#include "find/sync_service.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <utility>

#include "base/program.h"
#include "find/sync_window.h"
#include "memo/memo_store.h"
#include "memo/memos_changed.h"
#include "settings/settings.h"
#include "sync/dav_http.h"
#include "sync/engine.h"
#include "sync/last_run.h"
#include "sync/password.h"
#include "util/file_io.h"
#include "util/text.h"

namespace {

constexpr int kPollMs = 200;
// Also how soon a clock that jumped is noticed.
constexpr int kIdleCheckMs = 60000;
constexpr int kFirstRetrySeconds = 30;
constexpr int kLongestRetrySeconds = 30 * 60;
constexpr int kNoticeAfterSeconds = 60 * 60;
// The last run at the end of the program: each request and the whole of it
// stay inside the 3 s the end may take.
constexpr long kEndRequestMs = 2000;
constexpr auto kEndStopAfter = std::chrono::milliseconds(2000);
constexpr auto kEndWait = std::chrono::seconds(3);

// What a run takes and gives back; shared with its thread, which may be
// left behind at the very end (see EndSync).
struct Run {
  davsync::SyncConfig config;
  std::string storeFile, passwordFile;
  std::string newPassword;
  bool forgetServer = false;
  bool background = false;
  bool lookUpPassword = true;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::atomic<int> daysDone{0}, daysToDo{0};
  // Written by the thread before `done`.
  davsync::SyncOutcome outcome;
  std::string line, passwordNote;
  bool passwordKnown = false;  // config.password is what the user keeps
  bool storePassword = true;   // a typed one, unless 每次询问密码
  bool passwordUnstored = false;
  bool loginRefused = false;
  bool insecureSkipped = false;  // a background run to plain http, not made
};

std::shared_ptr<Run> g_run;
std::thread g_thread;
SyncView g_view;
std::function<void(const std::string&)> g_statusHandler;

bool g_windowsShown = false, g_storeChecked = false;
double g_due = -1;      // local seconds of the next background run; < 0 none
double g_dueSetAt = 0;  // when it was set: a clock set back moves it along
bool g_again = false;
bool g_savedSinceRun = false;
int g_failures = 0;
double g_failingSince = -1;
bool g_noticeShown = false;

// The password found for this address and user, so later runs (and the
// last one at the end) need not ask the keyring again.
struct KnownPassword {
  std::string address, user, password;
  bool valid = false;
} g_password;

double NowSeconds() { return Rt().Now() * 86400.0; }

std::string Address() { return std::string(text::Trim(ReadSetting(item::kSyncAddress))); }

bool SyncOn() { return ReadFlagSetting(item::kSyncOn) && !Address().empty(); }

void UpdateTimer() {
  if (!Rt().IsLoaded(kMainWindow)) return;
  int ms = 0;
  if (g_run) {
    ms = kPollMs;
  } else if (g_due >= 0 && g_windowsShown && g_storeChecked) {
    ms = static_cast<int>(
        std::clamp((g_due - NowSeconds()) * 1000.0, double(kPollMs), double(kIdleCheckMs)));
  }
  Rt().SetTimerInterval(kMainWindow, ctl::kAutoSyncTimer, ms);
}

void Schedule(double delaySeconds) {
  const double at = NowSeconds() + delaySeconds;
  if (g_due < 0 || at < g_due) {
    g_due = at;
    g_dueSetAt = at - delaySeconds;
  }
  UpdateTimer();
}

// A typed password goes where the file already is (the user chose it),
// else to the keyring; with neither, the user is asked afterwards.
void StorePassword(Run& run) {
  std::string why;
  if (fileio::IsRegularFile(run.passwordFile)) {
    if (davsync::StorePasswordFile(run.passwordFile, run.newPassword, run.config.address,
                                   run.config.user, &why)) {
      run.passwordNote = "密码已存入备忘录数据旁只有你能读的文件“" +
                         std::string(davsync::kPasswordFileName) + "”。";
      return;
    }
  } else if (davsync::StoreInSecretService(run.config.address, run.config.user, run.newPassword,
                                           &why)) {
    run.passwordNote = "密码已存入系统的密钥环。";
    return;
  }
  run.passwordUnstored = true;
  run.passwordNote = "密码没有保存（" + why + "）。";
}

void Work(Run& run) {
  davsync::SyncOutcome& out = run.outcome;
  const std::time_t started = std::time(nullptr);
  std::string error;
  // Plain http to another computer goes only with the user's yes, each
  // time. Told here, on the worker: the check loads libcurl.
  if (run.background && !davsync::UrlAllowed(run.config.address, false, &error)) {
    run.insecureSkipped = true;
    run.line = "没有自动同步：这个地址不加密（http），请在“同步…”窗口按“立即同步”。";
    return;
  }
  if (!run.newPassword.empty()) {
    run.config.password = run.newPassword;
    run.passwordKnown = true;
  } else if (run.lookUpPassword) {
    davsync::PasswordSource source;
    run.passwordKnown =
        davsync::LookUpPassword(run.passwordFile, run.config.address, run.config.user,
                                &run.config.password, &source, &error);
    if (!run.passwordKnown) out.error = error;
  } else {
    run.passwordKnown = true;
  }
  if (out.error.empty() && run.forgetServer && !davsync::ForgetServerState(run.storeFile, &error)) {
    out.error = "备忘录数据库：" + error;
  }
  if (out.error.empty()) {
    out = davsync::RunSync(run.config, run.storeFile, started, &run.stop,
                           [&run](int done, int total) {
                             run.daysToDo = total;
                             run.daysDone = done;
                           });
  }
  // A typed password is kept only once the server did not refuse it, so a
  // mistyped one never replaces the one that works.
  run.loginRefused = out.error.find(davsync::StatusReason(401, -1)) != std::string::npos;
  if (!run.newPassword.empty()) {
    if (run.loginRefused) {
      run.passwordKnown = false;
    } else if (run.storePassword) {
      StorePassword(run);
    }
    run.newPassword.clear();
  }
  const std::time_t finished = std::time(nullptr);
  run.line = davsync::ResultLine(out, run.stop, finished);
  // For the window after a restart, and for tamsivo --sync waiting on us.
  if (!davsync::SaveLastRun(run.storeFile, {started, finished, out.ok, run.line, out.conflictDays},
                            &error))
    std::fprintf(stderr, "tamsivo: sync: last result not kept: %s\n", error.c_str());
}

std::shared_ptr<Run> NewRun() {
  auto run = std::make_shared<Run>();
  run->config.address = Address();
  run->config.user = ReadSetting(item::kSyncUser);
  run->storeFile = DataFile(kMemoStoreFileName);
  run->passwordFile = DataFile(davsync::kPasswordFileName);
  if (g_password.valid && g_password.address == run->config.address &&
      g_password.user == run->config.user) {
    run->config.password = g_password.password;
    run->lookUpPassword = false;
  }
  return run;
}

void Begin(std::shared_ptr<Run> run) {
  g_run = std::move(run);
  g_savedSinceRun = false;
  g_view.running = true;
  g_thread = std::thread([run = g_run] {
    Work(*run);
    run->done = true;
  });
  RefreshSyncWindow(false);
  UpdateTimer();
}

void Tell(const std::string& line) {
  if (g_statusHandler) g_statusHandler(line);
}

void StartBackground(bool asked) {
  if (g_run || !SyncOn() || !MemoStoreChecked()) return;
  if (ReadFlagSetting(item::kSyncAskPassword) && !g_password.valid) {
    // Asked for in the window, never by a box that steals the focus.
    if (!g_view.needPassword) {
      g_view.needPassword = true;
      g_view.line = "同步需要密码：请在“同步…”里输入密码，再按“立即同步”（密码不会保存）。";
      Tell(g_view.line);
      AskForSyncPassword();
    }
    return;
  }
  // A calendar gone waits for the user's choice; asking by command is a choice too.
  if (g_view.calendarLost && !asked) return;
  std::shared_ptr<Run> run = NewRun();
  run->background = !asked;
  Begin(std::move(run));
}

void Notice(const std::string& body) { (void)Rt().Notify(kMainWindow, "Tamsivo 同步", body, {}); }

}  // namespace

int SyncRetrySeconds(int failures, long retryAfter) {
  long delay = kFirstRetrySeconds;
  for (int i = 1; i < failures && delay < kLongestRetrySeconds; ++i) delay *= 2;
  delay = std::min<long>(delay, kLongestRetrySeconds);
  // The server's own wish counts, within reason.
  if (retryAfter > delay) delay = std::min<long>(retryAfter, 24 * 60 * 60);
  return static_cast<int>(delay);
}

void SetSyncStatusHandler(std::function<void(const std::string&)> handler) {
  g_statusHandler = std::move(handler);
}

const SyncView& CurrentSync() { return g_view; }

void NoteKnownConflicts(const std::vector<double>& days) {
  for (double day : days)
    if (std::find(g_view.conflictDays.begin(), g_view.conflictDays.end(), day) ==
        g_view.conflictDays.end())
      g_view.conflictDays.push_back(day);
}

void SyncTurnedOff() {
  g_due = -1;
  g_view.line.clear();
  Tell("");
  UpdateTimer();
}

void ClearCalendarLost() {
  g_view.calendarLost = false;
  if (SyncOn() && !g_run) Schedule(kSyncEverySeconds);
}

void CollectSync() {
  if (!g_run || !g_run->done) return;
  if (g_thread.joinable()) g_thread.join();
  std::shared_ptr<Run> run = std::exchange(g_run, nullptr);
  const davsync::SyncOutcome& out = run->outcome;
  g_view.running = false;
  g_view.daysDone = g_view.daysToDo = 0;
  g_view.line = run->line;
  g_view.passwordNote = run->passwordNote;
  if (run->passwordUnstored) g_view.passwordUnstored = true;
  if (run->passwordKnown) g_view.needPassword = false;
  if (run->passwordKnown && !run->loginRefused) {
    g_password = {run->config.address, run->config.user, run->config.password, true};
  } else if (!out.ok) {
    // Looked up again next time: the user may have typed or stored another.
    g_password.valid = false;
  }
  for (double day : out.conflictDays) {
    std::erase(g_view.conflictDays, day);
    g_view.conflictDays.insert(g_view.conflictDays.begin(), day);
  }
  // Text written here (received, or both versions of a day) shows at once.
  if (out.down + out.conflicts > 0) MemosChanged();

  const double now = NowSeconds();
  g_due = -1;
  if (run->insecureSkipped) {
    // Nothing to retry until the user syncs from the window.
  } else if (out.ok) {
    g_failures = 0;
    g_failingSince = -1;
    g_view.calendarLost = false;
    Schedule(kSyncEverySeconds);
  } else if (out.calendarLost && !run->stop) {
    g_view.calendarLost = true;
    if (run->background) {
      g_view.line =
          "同步已暂停：服务器上的日历是空的，或者不见了；这里的备忘录没有改动。"
          "请打开“同步…”选择上传全部或停止同步。";
      Notice(g_view.line);
    }
  } else if (run->stop) {
    // Stopped by the user: 停止同步 turned it off, closing the window did not.
    if (SyncOn()) Schedule(kSyncEverySeconds);
  } else {
    ++g_failures;
    if (g_failingSince < 0) g_failingSince = now;
    Schedule(SyncRetrySeconds(g_failures, out.retryAfter));
    if (run->background && !g_noticeShown && now - g_failingSince >= kNoticeAfterSeconds) {
      g_noticeShown = true;
      Notice("一个小时以来同步一直没有成功：" + out.error +
             "。备忘录都留在这台电脑上，稍后会再试。");
    }
  }
  if (g_again) {
    g_again = false;
    Schedule(kSyncAfterSaveSeconds);
  }
  Tell(g_view.line);
  RefreshSyncWindow(!run->background && g_view.calendarLost);
  UpdateTimer();
}

bool TakePasswordQuestion() { return std::exchange(g_view.passwordUnstored, false); }

bool KeepPasswordInFile(std::string* error) {
  if (!g_password.valid) {
    *error = "没有可以保存的密码";
    return false;
  }
  if (!davsync::StorePasswordFile(DataFile(davsync::kPasswordFileName), g_password.password,
                                  g_password.address, g_password.user, error))
    return false;
  g_view.passwordUnstored = false;
  g_view.passwordNote =
      "密码已存入备忘录数据旁只有你能读的文件“" + std::string(davsync::kPasswordFileName) + "”。";
  (void)WriteFlagSetting(item::kSyncAskPassword, false);
  return true;
}

void KeepPasswordInMemoryOnly() {
  g_view.passwordUnstored = false;
  g_view.passwordNote = "密码没有保存：以后每次启动 Tamsivo，在“同步…”里输入一次。";
  std::string error;
  if (!WriteFlagSetting(item::kSyncAskPassword, true, &error))
    g_view.passwordNote = "无法保存设置：" + error;
}

void SyncWindowsShown() {
  g_windowsShown = true;
  if (g_storeChecked && SyncOn()) Schedule(0);
}

void OnSyncStoreChecked(image::EventArgs&) {
  if (!MemoStoreChecked()) return;
  g_storeChecked = true;
  if (g_windowsShown && SyncOn()) Schedule(0);
}

void OnAutoSyncTimer(image::EventArgs&) {
  if (g_run && !g_run->done) {
    // How far a long run has come, for the window.
    const int done = g_run->daysDone, total = g_run->daysToDo;
    if (done != g_view.daysDone || total != g_view.daysToDo) {
      g_view.daysDone = done;
      g_view.daysToDo = total;
      RefreshSyncWindow(false);
    }
  } else if (g_run) {
    CollectSync();
  } else if (g_due >= 0) {
    const double now = NowSeconds();
    // A clock set back would otherwise hold the next run for as long.
    if (now < g_dueSetAt) {
      g_due -= g_dueSetAt - now;
      g_dueSetAt = now;
    }
    if (now >= g_due && g_windowsShown && g_storeChecked) {
      g_due = -1;
      StartBackground(false);
    }
  }
  UpdateTimer();
}

void OnSyncAsked(image::EventArgs& args) {
  if (args.code != image::kStartedToSync) return;
  if (g_run) {
    g_again = true;
    return;
  }
  if (!g_windowsShown || !g_storeChecked) {
    Schedule(0);  // as soon as it may
    return;
  }
  StartBackground(true);
  UpdateTimer();
}

void NoteMemoSaved() {
  g_savedSinceRun = true;
  if (g_run) {
    g_again = true;
  } else if (SyncOn() && !g_view.calendarLost) {
    Schedule(kSyncAfterSaveSeconds);
  }
}

bool StartSync(SyncRequest request) {
  if (g_run) return false;
  std::shared_ptr<Run> run = NewRun();
  run->forgetServer = request.forgetServer;
  run->config.insecureConfirmed = request.insecureConfirmed;
  run->newPassword = std::move(request.newPassword);
  if (!run->newPassword.empty()) run->lookUpPassword = false;
  run->storePassword = !ReadFlagSetting(item::kSyncAskPassword);
  if (request.forgetServer) g_view.calendarLost = false;
  g_again = false;
  Begin(std::move(run));
  return true;
}

void StopSync() {
  if (g_run) g_run->stop = true;
}

void EndSync() {
  const auto start = std::chrono::steady_clock::now();
  if (g_run) {
    // One under way is stopped at once: what it did not send stays queued.
    g_run->stop = true;
  } else if (g_savedSinceRun && g_password.valid && g_storeChecked && SyncOn() &&
             !g_view.calendarLost) {
    // What was saved since the last run goes out now, with the password
    // found before (a keyring may not answer at the end) and short requests.
    std::shared_ptr<Run> run = NewRun();
    run->background = true;
    run->config.timeoutMs = kEndRequestMs;
    g_run = run;
    g_thread = std::thread([run] {
      Work(*run);
      run->done = true;
    });
  }
  if (g_run) {
    while (!g_run->done && std::chrono::steady_clock::now() < start + kEndWait) {
      if (std::chrono::steady_clock::now() >= start + kEndStopAfter) g_run->stop = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // A request ends within a second of the stop; what can outlast it (a
    // keyring that does not answer) is not waited for: the run holds its
    // data itself, and SQLite leaves an unfinished transaction undone.
    if (g_run->done) {
      g_thread.join();
    } else {
      g_run->stop = true;
      g_thread.detach();
    }
    g_run.reset();
  }
  // The next start (tests start the program again in one process) begins afresh.
  g_view = {};
  g_password = {};
  g_windowsShown = g_storeChecked = g_again = g_savedSinceRun = g_noticeShown = false;
  g_due = g_failingSince = -1;
  g_failures = 0;
}
