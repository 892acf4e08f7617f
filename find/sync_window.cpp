#include "find/sync_window.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/program.h"
#include "memo/memo_store.h"
#include "memo/memos_changed.h"
#include "settings/settings.h"
#include "sync/dav_http.h"
#include "sync/engine.h"
#include "sync/password.h"
#include "util/file_io.h"
#include "util/text.h"

namespace {

using ctl::kSyncAddressBox;
using ctl::kSyncNowButton;
using ctl::kSyncPasswordBox;
using ctl::kSyncStatus;
using ctl::kSyncStopButton;
using ctl::kSyncTimer;
using ctl::kSyncUserBox;

constexpr int kPollMs = 200;
constexpr auto kEndWait = std::chrono::seconds(3);

// What a run takes and gives back; shared with its thread, which may be
// left behind at the end of the program (see EndSync).
struct Run {
  davsync::SyncConfig config;
  std::string storeFile, passwordFile;
  std::string newPassword;  // typed into the window: stored before the run
  bool forgetServer = false;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  // Written by the thread before `done`.
  davsync::SyncOutcome outcome;
  std::string passwordNote;
};

std::shared_ptr<Run> g_run;
std::thread g_thread;
std::string g_lastResult;

bool Running() { return g_run != nullptr; }

void ShowStatus(const std::string& text) {
  if (!Rt().IsLoaded(kSyncWindow)) return;
  Rt().SetEditReadOnly(kSyncWindow, kSyncStatus, false);
  Rt().SetEditText(kSyncWindow, kSyncStatus, text);
  Rt().SetEditReadOnly(kSyncWindow, kSyncStatus, true);
}

void Enable() {
  if (!Rt().IsLoaded(kSyncWindow)) return;
  Rt().SetEnabled(kSyncWindow, kSyncNowButton, !Running());
  Rt().SetEnabled(kSyncWindow, kSyncStopButton, Running() || ReadFlagSetting(item::kSyncOn));
}

// The typed password is kept where the file already is (the user chose
// it), else by the Secret Service, else in the file only the user can read.
bool StorePassword(Run& run, std::string* error) {
  std::string why;
  if (!fileio::IsRegularFile(run.passwordFile) &&
      davsync::StoreInSecretService(run.config.address, run.config.user, run.newPassword, &why)) {
    run.passwordNote = "密码已存入系统的密钥环。";
    return true;
  }
  if (!davsync::StorePasswordFile(run.passwordFile, run.newPassword, error)) return false;
  run.passwordNote =
      "密码已存入备忘录数据旁只有你能读的文件“" + std::string(davsync::kPasswordFileName) + "”。";
  return true;
}

void Work(Run& run) {
  davsync::SyncOutcome& out = run.outcome;
  std::string error;
  if (!run.newPassword.empty()) {
    if (!StorePassword(run, &error)) {
      out.error = "密码没有保存：" + error;
      return;
    }
    run.config.password = std::exchange(run.newPassword, std::string());
  } else {
    davsync::PasswordSource source;
    if (!davsync::LookUpPassword(run.passwordFile, run.config.address, run.config.user,
                                 &run.config.password, &source, &error)) {
      out.error = error;
      return;
    }
  }
  if (run.forgetServer && !davsync::ForgetServerState(run.storeFile, &error)) {
    out.error = "备忘录数据库：" + error;
    return;
  }
  out = davsync::RunSync(run.config, run.storeFile, std::time(nullptr), &run.stop);
}

std::string ClockText(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%H:%M", &tm);
  return buf;
}

std::string ResultLine(const davsync::SyncOutcome& out, bool stopped) {
  std::string line;
  if (stopped && !out.ok) {
    // What was done before the stop stays done.
    line = "同步已停止（" + davsync::OutcomeCounts(out) + "）";
  } else if (out.ok) {
    line = "已同步 " + ClockText(std::time(nullptr)) + "：" + davsync::OutcomeCounts(out);
  } else {
    line = "同步失败：" + out.error;
    if (out.up + out.down + out.conflicts > 0) line += "（" + davsync::OutcomeCounts(out) + "）";
  }
  if (!out.refusedDays.empty()) line += "；服务器没有收下 " + davsync::DayNames(out.refusedDays);
  return line;
}

void Start(std::shared_ptr<Run> run) {
  g_run = std::move(run);
  ShowStatus("正在同步……");
  Enable();
  Rt().SetTimerInterval(kSyncWindow, kSyncTimer, kPollMs);
  g_thread = std::thread([run = g_run] {
    Work(*run);
    run->done = true;
  });
}

std::shared_ptr<Run> NewRun(bool forgetServer) {
  auto run = std::make_shared<Run>();
  run->config.address = std::string(text::Trim(ReadSetting(item::kSyncAddress)));
  run->config.user = ReadSetting(item::kSyncUser);
  run->storeFile = DataFile(kMemoStoreFileName);
  run->passwordFile = DataFile(davsync::kPasswordFileName);
  run->forgetServer = forgetServer;
  return run;
}

// The emptied-calendar guard's question.
void AskAboutLostCalendar() {
  const int answer = Rt().MessageBox(
      "上次同步的服务器日历现在是空的，或者不见了。这里的备忘录没有改动。\r\n\r\n"
      "选“是”上传全部：把这里的备忘录全部重新上传到服务器；\r\n"
      "选“否”停止同步：不再同步，这里的备忘录保持原样；\r\n"
      "选“取消”以后再决定。",
      rt::MB_YESNOCANCEL | rt::MB_ICONWARNING, std::string("同步"));
  if (answer == rt::IDYES) {
    Start(NewRun(true));
  } else if (answer == rt::IDNO) {
    std::string error;
    ShowStatus(WriteFlagSetting(item::kSyncOn, false, &error)
                   ? "同步已停止：服务器上的日历是空的，这里的备忘录保持原样。"
                   : "无法保存设置：" + error);
    Enable();
  }
}

void Collect() {
  if (!g_run || !g_run->done) return;
  if (g_thread.joinable()) g_thread.join();
  std::shared_ptr<Run> run = std::exchange(g_run, nullptr);
  Rt().SetTimerInterval(kSyncWindow, kSyncTimer, 0);
  const davsync::SyncOutcome& out = run->outcome;
  // Text written here (received, or both versions of a day) shows at once.
  if (out.down + out.conflicts > 0) MemosChanged();
  g_lastResult = ResultLine(out, run->stop);
  if (!run->passwordNote.empty()) g_lastResult += "\n" + run->passwordNote;
  ShowStatus(g_lastResult);
  Enable();
  if (out.calendarLost && !run->stop) AskAboutLostCalendar();
}

}  // namespace

void OnSyncMenu(image::EventArgs&) {
  if (Rt().IsLoaded(kSyncWindow)) {
    Rt().BringToFront(kSyncWindow);
    return;
  }
  Rt().LoadWindow(kSyncWindow, kMainWindow, false);
}

void OnSyncWindowCreated(image::EventArgs&) {
  Rt().SetCaption(kSyncWindow, std::string(text::Trim(ReadSetting(item::kSyncAddress))),
                  kSyncAddressBox);
  Rt().SetCaption(kSyncWindow, ReadSetting(item::kSyncUser), kSyncUserBox);
  std::string status = g_lastResult;
  if (status.empty()) {
    status = ReadFlagSetting(item::kSyncOn)
                 ? "同步已开启。密码留空时用已保存的密码。"
                 : "填写 CalDAV 服务器或日历的地址，按“立即同步”开启同步。";
  }
  ShowStatus(Running() ? "正在同步……" : status);
  Enable();
}

void OnSyncWindowClose(image::EventArgs& args) {
  if (!Running()) return;
  // The run stops within a second (between two requests' bytes); what it
  // finished stays done. Then the window can go.
  g_run->stop = true;
  ShowStatus("正在停止同步……");
  args.cancel = true;
}

void OnSyncCloseKey(image::EventArgs&) {
  if (Running()) {
    g_run->stop = true;
    ShowStatus("正在停止同步……");
    return;
  }
  Rt().CloseWindow(kSyncWindow);
}

void OnSyncNowButton(image::EventArgs&) {
  if (Running()) return;
  const std::string address = std::string(text::Trim(Rt().Caption(kSyncWindow, kSyncAddressBox)));
  const std::string user = Rt().Caption(kSyncWindow, kSyncUserBox);
  if (address.empty()) {
    ShowStatus("请填写 CalDAV 服务器或日历的地址。");
    return;
  }
  if (!MemoStoreChecked()) {
    ShowStatus(MemoStoreOpen() ? "备忘录数据库还在检查中，请稍候再同步。"
                               : "备忘录数据库没有打开，无法同步。");
    return;
  }
  std::string error;
  bool insecure = false;
  if (!davsync::UrlAllowed(address, false, &error)) {
    if (!davsync::UrlAllowed(address, true, &error)) {
      ShowStatus("同步失败：" + error);
      return;
    }
    // Plain http to another computer: only when the user says so, each time.
    if (Rt().MessageBox("这个地址不加密（http）：密码和备忘录会以明文经过网络。仍然同步吗？",
                        rt::MB_YESNO | rt::MB_ICONWARNING, std::string("同步")) != rt::IDYES)
      return;
    insecure = true;
  }
  if (!WriteSetting(item::kSyncAddress, address, &error) ||
      !WriteSetting(item::kSyncUser, user, &error) ||
      !WriteFlagSetting(item::kSyncOn, true, &error)) {
    ShowStatus("无法保存设置：" + error);
    return;
  }
  std::shared_ptr<Run> run = NewRun(false);
  run->config.insecureConfirmed = insecure;
  run->newPassword = Rt().Caption(kSyncWindow, kSyncPasswordBox);
  // Not left in the window once it is handed over.
  Rt().SetCaption(kSyncWindow, "", kSyncPasswordBox);
  Start(std::move(run));
}

void OnSyncStopButton(image::EventArgs&) {
  std::string error;
  if (!WriteFlagSetting(item::kSyncOn, false, &error)) {
    ShowStatus("无法保存设置：" + error);
    return;
  }
  if (Running()) {
    g_run->stop = true;
    ShowStatus("正在停止同步……");
  } else {
    ShowStatus("同步已停止。备忘录都留在这台电脑上；按“立即同步”再开启。");
  }
  Enable();
}

void OnSyncTimer(image::EventArgs&) { Collect(); }

void EndSync() {
  if (!g_run) return;
  g_run->stop = true;
  const auto until = std::chrono::steady_clock::now() + kEndWait;
  while (!g_run->done && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // A request ends within a second of the stop; what can outlast it (a
  // keyring that does not answer) is not waited for: the run holds its
  // data itself, and SQLite leaves an unfinished transaction undone.
  if (g_run->done) {
    g_thread.join();
  } else {
    g_thread.detach();
  }
  g_run.reset();
}
