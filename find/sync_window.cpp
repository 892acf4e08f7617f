#include "find/sync_window.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "archive/memo_db.h"
#include "base/program.h"
#include "find/sync_service.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "settings/settings.h"
#include "sync/dav_http.h"
#include "sync/discovery.h"
#include "sync/last_run.h"
#include "sync/password.h"
#include "util/text.h"

namespace {

using ctl::kSyncAddressBox;
using ctl::kSyncCalendarList;
using ctl::kSyncConflictList;
using ctl::kSyncNowButton;
using ctl::kSyncPasswordBox;
using ctl::kSyncStatus;
using ctl::kSyncStopButton;
using ctl::kSyncTestButton;
using ctl::kSyncTimer;
using ctl::kSyncUserBox;

constexpr int kPollMs = 200;
constexpr auto kEndWait = std::chrono::milliseconds(500);

// 测试连接 on a worker: looks, writes nothing on the server.
struct Probe {
  davsync::SyncConfig config;
  std::string passwordFile;
  bool lookUpPassword = true;
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  bool ok = false;
  std::string summary;
  std::vector<davsync::CalendarInfo> calendars;
  std::string error;
};

std::shared_ptr<Probe> g_probe;
std::thread g_probeThread;
// What the list shows, by index.
std::vector<davsync::CalendarInfo> g_calendars;
std::vector<double> g_shownConflicts;
// The last run kept in the store, read when the window opens.
std::string g_storedLast;

void ShowStatus(const std::string& text) {
  if (!Rt().IsLoaded(kSyncWindow)) return;
  Rt().SetEditReadOnly(kSyncWindow, kSyncStatus, false);
  Rt().SetEditText(kSyncWindow, kSyncStatus, text);
  Rt().SetEditReadOnly(kSyncWindow, kSyncStatus, true);
}

void Enable() {
  if (!Rt().IsLoaded(kSyncWindow)) return;
  const bool running = CurrentSync().running;
  Rt().SetEnabled(kSyncWindow, kSyncNowButton, !running && !g_probe);
  Rt().SetEnabled(kSyncWindow, kSyncTestButton, !running && !g_probe);
  Rt().SetEnabled(kSyncWindow, kSyncStopButton, running || ReadFlagSetting(item::kSyncOn));
}

std::string StatusText() {
  const SyncView& view = CurrentSync();
  if (view.running) {
    // Only a run with many days says how far it is.
    if (view.daysToDo < 20) return "正在同步……";
    return "正在同步……已处理 " + std::to_string(view.daysDone) + " / " +
           std::to_string(view.daysToDo) + " 天";
  }
  std::string status = view.line;
  if (status.empty()) {
    // Nothing this run yet: what the last one said, kept in the store.
    status = g_storedLast;
  }
  if (status.empty()) {
    status = ReadFlagSetting(item::kSyncOn)
                 ? "同步已开启。密码留空时用已保存的密码。"
                 : "填写 CalDAV 服务器或日历的地址，按“立即同步”开启同步；"
                   "只填服务器的地址时，可以先按“测试连接”选一个日历。";
  }
  if (!view.passwordNote.empty()) status += "\n" + view.passwordNote;
  return status;
}

// The days whose memo still holds both versions: one tidied up leaves.
void ShowConflicts() {
  std::vector<double> days;
  for (double day : CurrentSync().conflictDays)
    if (FindDayMemo(day) && ReadMemoText().find(davsync::kConflictLineStart) != std::string::npos)
      days.push_back(day);
  if (days == g_shownConflicts) return;
  g_shownConflicts = days;
  std::vector<rt::ListItem> items;
  for (double day : g_shownConflicts) items.push_back({archive::ChineseDate(day)});
  Rt().SetListItems(kSyncWindow, kSyncConflictList, items);
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
    SyncRequest request;
    request.forgetServer = true;
    (void)StartSync(std::move(request));
  } else if (answer == rt::IDNO) {
    std::string error;
    const bool off = WriteFlagSetting(item::kSyncOn, false, &error);
    if (off) ClearCalendarLost();
    ShowStatus(off ? "同步已停止：服务器上的日历是空的，这里的备忘录保持原样。"
                   : "无法保存设置：" + error);
    Enable();
  }
}

// A typed password no keyring took: where it is kept is the user's choice.
void AskWhereToKeepPassword() {
  // Runs go on while the box is open; their news must not ask again.
  static bool asking = false;
  if (asking) return;
  asking = true;
  const int answer = Rt().MessageBox(
      "系统的密钥环（Secret Service）没有应答，密码没有存进去。\r\n\r\n"
      "选“是”：把密码存入备忘录数据旁只有你能读的文件“" +
          std::string(davsync::kPasswordFileName) +
          "”；\r\n选“否”：不保存密码，以后每次启动 Tamsivo 后在“同步…”里输入一次。",
      rt::MB_YESNO | rt::MB_ICONQUESTION, std::string("同步"));
  std::string error;
  if (answer == rt::IDYES) {
    if (!KeepPasswordInFile(&error)) ShowStatus("密码没有保存：" + error);
  } else if (answer == rt::IDNO) {
    KeepPasswordInMemoryOnly();
  }
  asking = false;
}

std::string ProbeSummary(const Probe& probe) {
  if (!probe.ok) return "连接失败：" + probe.error;
  int usable = 0;
  for (const davsync::CalendarInfo& c : probe.calendars) usable += c.takesJournals ? 1 : 0;
  // Several to choose from: how to choose.
  if (probe.calendars.size() > 1 && usable > 0)
    return probe.summary + "要用另一个日历，在下面双击它。";
  return probe.summary;
}

void CollectProbe() {
  if (!g_probe || !g_probe->done) return;
  if (g_probeThread.joinable()) g_probeThread.join();
  std::shared_ptr<Probe> probe = std::exchange(g_probe, nullptr);
  Rt().SetTimerInterval(kSyncWindow, kSyncTimer, 0);
  if (probe->stop) {
    RefreshSyncWindow(false);
    return;
  }
  g_calendars = probe->calendars;
  std::vector<rt::ListItem> items;
  for (const davsync::CalendarInfo& c : g_calendars) {
    std::string line = c.displayName;
    if (!c.takesJournals) line += "（不能存备忘录）";
    line += "  " + c.url;
    items.push_back({line});
  }
  Rt().SetListItems(kSyncWindow, kSyncCalendarList, items);
  ShowStatus(ProbeSummary(*probe));
  Enable();
}

}  // namespace

void RefreshSyncWindow(bool askIfLost) {
  if (!Rt().IsLoaded(kSyncWindow)) return;
  ShowStatus(StatusText());
  ShowConflicts();
  Enable();
  if (!CurrentSync().running && TakePasswordQuestion()) {
    AskWhereToKeepPassword();
    ShowStatus(StatusText());
  }
  if (askIfLost) AskAboutLostCalendar();
}

void AskForSyncPassword() {
  if (!Rt().IsLoaded(kSyncWindow)) Rt().LoadWindow(kSyncWindow, kMainWindow, false);
  RefreshSyncWindow(false);
  Rt().FocusControl(kSyncWindow, kSyncPasswordBox);
}

void OnSyncMenu(image::EventArgs&) {
  if (Rt().IsLoaded(kSyncWindow)) {
    Rt().BringToFront(kSyncWindow);
  } else {
    Rt().LoadWindow(kSyncWindow, kMainWindow, false);
  }
  // A background run found the calendar gone: the choice is the user's.
  if (CurrentSync().calendarLost && !CurrentSync().running) AskAboutLostCalendar();
}

void OnSyncWindowCreated(image::EventArgs&) {
  // Beside the calendar it belongs to, as the other windows of the menu.
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  Rt().Move(kSyncWindow, main.left + 24, main.top + 24);
  g_shownConflicts.clear();
  g_calendars.clear();
  davsync::LastRun last;
  bool found = false;
  std::string error;
  g_storedLast.clear();
  if (MemoStoreOpen() &&
      davsync::LoadLastRun(DataFile(kMemoStoreFileName), &last, &found, &error) && found) {
    NoteKnownConflicts(last.conflictDays);
    g_storedLast =
        "上次同步（" + davsync::WhenText(last.finished, std::time(nullptr)) + "）：" + last.line;
  }
  Rt().SetCaption(kSyncWindow, std::string(text::Trim(ReadSetting(item::kSyncAddress))),
                  kSyncAddressBox);
  Rt().SetCaption(kSyncWindow, ReadSetting(item::kSyncUser), kSyncUserBox);
  RefreshSyncWindow(false);
  // A test stopped when the window closed: taken in once it ended.
  if (g_probe) Rt().SetTimerInterval(kSyncWindow, kSyncTimer, kPollMs);
}

void OnSyncWindowClose(image::EventArgs&) {
  // A run goes on in the background; a connection test is only the
  // window's: stopped, and taken in when the window opens again.
  if (g_probe) g_probe->stop = true;
}

void OnSyncCloseKey(image::EventArgs&) { Rt().CloseWindow(kSyncWindow); }

void OnSyncNowButton(image::EventArgs&) {
  if (CurrentSync().running || g_probe) return;
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
  SyncRequest request;
  if (!davsync::UrlAllowed(address, false, &error)) {
    if (!davsync::UrlAllowed(address, true, &error)) {
      ShowStatus("同步失败：" + error);
      return;
    }
    // Plain http to another computer: only when the user says so, each time.
    if (Rt().MessageBox("这个地址不加密（http）：密码和备忘录会以明文经过网络。仍然同步吗？",
                        rt::MB_YESNO | rt::MB_ICONWARNING, std::string("同步")) != rt::IDYES)
      return;
    request.insecureConfirmed = true;
  }
  if (!WriteSetting(item::kSyncAddress, address, &error) ||
      !WriteSetting(item::kSyncUser, user, &error) ||
      !WriteFlagSetting(item::kSyncOn, true, &error)) {
    ShowStatus("无法保存设置：" + error);
    return;
  }
  request.newPassword = Rt().Caption(kSyncWindow, kSyncPasswordBox);
  // Not left in the window once it is handed over.
  Rt().SetCaption(kSyncWindow, "", kSyncPasswordBox);
  // The button is disabled for the run: the focus waits where its result comes.
  Rt().FocusControl(kSyncWindow, kSyncStatus);
  (void)StartSync(std::move(request));
}

void OnSyncStopButton(image::EventArgs&) {
  std::string error;
  if (!WriteFlagSetting(item::kSyncOn, false, &error)) {
    ShowStatus("无法保存设置：" + error);
    return;
  }
  ClearCalendarLost();
  if (CurrentSync().running) {
    StopSync();
    ShowStatus("正在停止同步……");
  } else {
    SyncTurnedOff();
    ShowStatus("同步已停止。备忘录都留在这台电脑上；按“立即同步”再开启。");
  }
  Enable();
}

void OnSyncTestButton(image::EventArgs&) {
  if (CurrentSync().running || g_probe) return;
  auto probe = std::make_shared<Probe>();
  probe->config.address = std::string(text::Trim(Rt().Caption(kSyncWindow, kSyncAddressBox)));
  probe->config.user = Rt().Caption(kSyncWindow, kSyncUserBox);
  probe->config.password = Rt().Caption(kSyncWindow, kSyncPasswordBox);
  probe->passwordFile = DataFile(davsync::kPasswordFileName);
  probe->lookUpPassword = probe->config.password.empty();
  if (probe->config.address.empty()) {
    ShowStatus("请填写 CalDAV 服务器或日历的地址。");
    return;
  }
  std::string error;
  if (!davsync::UrlAllowed(probe->config.address, false, &error)) {
    if (!davsync::UrlAllowed(probe->config.address, true, &error)) {
      ShowStatus("连接失败：" + error);
      return;
    }
    if (Rt().MessageBox("这个地址不加密（http）：密码会以明文经过网络。仍然测试吗？",
                        rt::MB_YESNO | rt::MB_ICONWARNING, std::string("同步")) != rt::IDYES)
      return;
    probe->config.insecureConfirmed = true;
  }
  probe->config.timeoutMs = 30000;
  g_probe = probe;
  Rt().FocusControl(kSyncWindow, kSyncStatus);
  ShowStatus("正在连接服务器……");
  Enable();
  Rt().SetTimerInterval(kSyncWindow, kSyncTimer, kPollMs);
  g_probeThread = std::thread([probe] {
    std::string why;
    davsync::PasswordSource source;
    if (probe->lookUpPassword &&
        !davsync::LookUpPassword(probe->passwordFile, probe->config.address, probe->config.user,
                                 &probe->config.password, &source, &why)) {
      probe->error = why;
    } else {
      probe->ok = davsync::TestConnection(probe->config, &probe->summary, &probe->error,
                                          &probe->stop, &probe->calendars);
    }
    probe->done = true;
  });
}

void OnSyncCalendarChosen(image::EventArgs& args) {
  const int index =
      args.code >= 0 ? args.code : Rt().ListCurrentIndex(kSyncWindow, kSyncCalendarList);
  if (index < 0 || index >= static_cast<int>(g_calendars.size())) return;
  const davsync::CalendarInfo& c = g_calendars[static_cast<std::size_t>(index)];
  if (!c.takesJournals) {
    ShowStatus("日历“" + c.displayName +
               "”不能存备忘录（它不接受日志条目 VJOURNAL），请选另一个。");
    return;
  }
  Rt().SetCaption(kSyncWindow, c.url, kSyncAddressBox);
  ShowStatus("已选用日历“" + c.displayName + "”：按“立即同步”开始同步。");
}

void OnSyncConflictChosen(image::EventArgs& args) {
  const int index =
      args.code >= 0 ? args.code : Rt().ListCurrentIndex(kSyncWindow, kSyncConflictList);
  if (index < 0 || index >= static_cast<int>(g_shownConflicts.size())) return;
  Rt().SetCalendarValue(kMainWindow, ctl::kCalendar,
                        g_shownConflicts[static_cast<std::size_t>(index)]);
  OpenMemoEditor();
}

void OnSyncTimer(image::EventArgs&) { CollectProbe(); }

void StopSyncTest() {
  if (g_probe) g_probe->stop = true;
}

void EndSyncWindow() {
  if (!g_probe) return;
  // Stopped before the sync's end: its request ends within about a second.
  g_probe->stop = true;
  const auto until = std::chrono::steady_clock::now() + kEndWait;
  while (!g_probe->done && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (g_probe->done) {
    g_probeThread.join();
  } else {
    g_probeThread.detach();
  }
  g_probe.reset();
}
