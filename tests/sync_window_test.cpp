// 同步… from MainWindow's menu against a radicale server on 127.0.0.1,
// driven as the user does; and a server that never answers, for the stop.
#include "find/sync_window.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <thread>

#include "base/datetime.h"
#include "base/program.h"
#include "find/sync_service.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"
#include "settings/settings.h"
#include "sync/password.h"
#include "tests/support/local_servers.h"
#include "tests/support/test_program.h"
#include "util/file_io.h"
#include "windowstate/window_state.h"

extern char** environ;

namespace {

QPushButton* ButtonOf(const char* name) {
  QWidget* w = ShownWindow(kSyncWindow);
  return w ? w->findChild<QPushButton*>(QString::fromUtf8(name)) : nullptr;
}

std::string Status() { return Rt().GetEditText(kSyncWindow, ctl::kSyncStatus, 4096); }

std::string DayMemo(double day) { return FindDayMemo(day) ? ReadMemoText() : std::string(); }

void Type(const char* box, const std::string& text) { Rt().SetCaption(kSyncWindow, text, box); }

void Click(const char* button) { QTest::mouseClick(ButtonOf(button), Qt::LeftButton); }

// Opens 同步… and fills it in as the user does; `button` then pressed.
void FillIn(const std::string& address, const std::string& password, const char* button) {
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "同步…"));
  Type(ctl::kSyncAddressBox, address);
  Type(ctl::kSyncUserBox, "anna");
  Type(ctl::kSyncPasswordBox, password);
  Click(button);
}

// radicale with one user, its storage and home in `root`; ended by its PID.
class Radicale {
 public:
  // `port` 0: a free one.
  Radicale(const ScratchDir& root, const std::string& password, int port = 0) : port_(port) {
    if (port_ == 0) close(local::ListenOnLoopback(&port_));
    PutFile(root / "users", "anna:" + password + "\n");
    const std::string hosts = "127.0.0.1:" + std::to_string(port_);
    std::vector<std::string> args = {"radicale",
                                     "--storage-filesystem-folder",
                                     root / "storage",
                                     "--server-hosts",
                                     hosts,
                                     "--auth-type",
                                     "htpasswd",
                                     "--auth-htpasswd-filename",
                                     root / "users",
                                     "--auth-htpasswd-encryption",
                                     "plain"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string home = "HOME=" + root.path(), path = std::string("PATH=") + std::getenv("PATH");
    char* envp[] = {home.data(), path.data(), nullptr};
    if (posix_spawnp(&pid_, "radicale", nullptr, nullptr, argv.data(), envp) != 0) pid_ = -1;
    for (int i = 0; pid_ > 0 && i < 300 && !Up(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Radicale() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Up() const {
    httplib::Client c("127.0.0.1", port_);
    return static_cast<bool>(c.Options("/"));
  }
  std::string Address() const { return "http://127.0.0.1:" + std::to_string(port_) + "/anna/"; }
  int port() const { return port_; }
  httplib::Client Client(const std::string& password) const {
    httplib::Client c("127.0.0.1", port_);
    c.set_basic_auth("anna", password);
    return c;
  }

 private:
  int port_ = 0;
  pid_t pid_ = -1;
};

std::string Collection(const std::string& store) {
  sqlite3* db = nullptr;
  std::string url;
  if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT value FROM sync_state WHERE key = 'collection'", -1, &st,
                       nullptr);
    if (st && sqlite3_step(st) == SQLITE_ROW)
      url = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return url;
}

std::string PathOf(const std::string& url) {
  const std::size_t host = url.find("//");
  return url.substr(url.find('/', host + 2));
}

TEST(SyncWindow, SyncsBothWaysKeepsThePasswordOutOfStartIniAndAsksWhenTheCalendarIsEmptied) {
  ScratchDir server;
  Radicale radicale(server, "geheim-7");
  ASSERT_TRUE(radicale.Up());
  // No session bus: the password goes to the file, never the user's keyring.
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
  TestProgram p;
  // No keyring answers: the password goes to the file when the user says so.
  p.answer = [](const ShownMessage& m) {
    return m.text.find("密钥环") != std::string::npos ? rt::IDYES : rt::IDOK;
  };
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  const double today = MakeDateTime(2026, 12, 7), first = MakeDateTime(2026, 12, 1);
  ASSERT_TRUE(SaveDayMemo(first, "月初的事"));

  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "同步…"));
  ASSERT_NE(ShownWindow(kSyncWindow), nullptr);
  EXPECT_FALSE(ButtonOf(ctl::kSyncStopButton)->isEnabled());
  Click(ctl::kSyncNowButton);
  EXPECT_EQ(Status(), "请填写 CalDAV 服务器或日历的地址。");

  // A wrong password: the failure is said, nothing here changes.
  Type(ctl::kSyncAddressBox, "  " + radicale.Address() + " ");
  Type(ctl::kSyncUserBox, "anna");
  Type(ctl::kSyncPasswordBox, "falsch");
  Click(ctl::kSyncNowButton);
  EXPECT_FALSE(ButtonOf(ctl::kSyncNowButton)->isEnabled());
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("同步失败"); })) << Status();
  EXPECT_TRUE(ButtonOf(ctl::kSyncNowButton)->isEnabled());
  EXPECT_EQ(Rt().Caption(kSyncWindow, ctl::kSyncPasswordBox), "");

  Type(ctl::kSyncPasswordBox, "geheim-7");
  Click(ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已同步"); })) << Status();
  EXPECT_NE(Status().find("：上传 1 天，下载 0 天"), std::string::npos) << Status();
  EXPECT_NE(Status().find("只有你能读的文件“同步密码”"), std::string::npos) << Status();
  EXPECT_EQ(ReadSetting(item::kSyncAddress), radicale.Address());
  EXPECT_EQ(ReadSetting(item::kSyncUser), "anna");
  EXPECT_TRUE(ReadFlagSetting(item::kSyncOn));
  EXPECT_EQ(SlurpFile(p.path("Start.ini")).find("geheim"), std::string::npos);
  const std::string passwordFile = DataFile(davsync::kPasswordFileName);
  struct stat st {};
  ASSERT_EQ(stat(passwordFile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(SlurpFile(passwordFile).find("geheim-7"), std::string::npos);

  // Text from another client for today: the next run (the stored password)
  // brings it, and the today box shows it.
  const std::string collection = PathOf(Collection(DataFile(kMemoStoreFileName)));
  ASSERT_FALSE(collection.empty());
  httplib::Client dav = radicale.Client("geheim-7");
  const char* journal =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VJOURNAL\r\n"
      "UID:other-1\r\nDTSTAMP:20261207T080000Z\r\nDTSTART;VALUE=DATE:20261207\r\n"
      "DESCRIPTION:手机上写的\r\nEND:VJOURNAL\r\nEND:VCALENDAR\r\n";
  ASSERT_EQ(dav.Put(collection + "other-1.ics", journal, "text/calendar")->status, 201);
  Click(ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已同步"); })) << Status();
  EXPECT_NE(Status().find("上传 0 天，下载 1 天"), std::string::npos) << Status();
  EXPECT_EQ(DayMemo(today), "手机上写的");
  EXPECT_NE(Rt().GetEditText(kTodayMemoWindow, ctl::kMemoBox, 4096).find("手机上写的"),
            std::string::npos);

  // The calendar emptied on the server: nothing here is touched, the user
  // is asked. 否 stops syncing.
  ASSERT_EQ(dav.Delete(collection + "other-1.ics")->status, 200);
  ASSERT_EQ(dav.Delete(collection + "tamsivo-memo-20261201.ics")->status, 200);
  std::vector<int> answers = {rt::IDNO, rt::IDYES};
  int asked = 0;
  p.answer = [&](const ShownMessage& m) {
    // Other offers (the holiday schedule) are declined.
    if (m.text.find("上传全部") == std::string::npos || asked >= 2) return rt::IDNO;
    return answers[asked++];
  };
  Click(ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([&] { return asked == 1; }));
  EXPECT_TRUE(Status().starts_with("同步已停止")) << Status();
  EXPECT_FALSE(ReadFlagSetting(item::kSyncOn));
  EXPECT_EQ(DayMemo(today), "手机上写的");
  EXPECT_EQ(DayMemo(first), "月初的事");
  // Asked again, 是 uploads everything.
  Click(ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([&] { return asked == 2 && Status().starts_with("已同步"); })) << Status();
  EXPECT_NE(Status().find("上传 2 天"), std::string::npos) << Status();
  EXPECT_TRUE(ReadFlagSetting(item::kSyncOn));
  EXPECT_EQ(dav.Get(collection + "tamsivo-memo-20261201.ics")->status, 200);

  // 停止同步 turns it off and keeps everything here.
  Click(ctl::kSyncStopButton);
  EXPECT_FALSE(ReadFlagSetting(item::kSyncOn));
  EXPECT_TRUE(Status().starts_with("同步已停止")) << Status();
  EXPECT_EQ(DayMemo(first), "月初的事");
  EXPECT_FALSE(ButtonOf(ctl::kSyncStopButton)->isEnabled());
}

TEST(SyncWindow, AServerThatNeverAnswersHoldsNeitherTheWindowNorTheQuit) {
  local::RawServer silent("", true);
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
  TestProgram p;
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "同步…"));
  Type(ctl::kSyncAddressBox, "http://" + silent.Url("/dav/"));
  Click(ctl::kSyncNowButton);
  EXPECT_EQ(Status(), "正在同步……");
  PumpEvents();
  // The window goes; the run goes on in the background, and shows again.
  Rt().CloseWindow(kSyncWindow);
  PumpEvents();
  EXPECT_EQ(ShownWindow(kSyncWindow), nullptr);
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "同步…"));
  EXPECT_EQ(Status(), "正在同步……");
  // 停止同步 ends it within about a second.
  Click(ctl::kSyncStopButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("同步已停止（上传 0 天"); }, 3000))
      << Status();
  EXPECT_FALSE(ReadFlagSetting(item::kSyncOn));

  Click(ctl::kSyncNowButton);
  EXPECT_EQ(Status(), "正在同步……");
  const auto start = std::chrono::steady_clock::now();
  p.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

std::vector<std::string> ListLines(const char* name) {
  std::vector<std::string> lines;
  QWidget* w = ShownWindow(kSyncWindow);
  auto* list = w ? w->findChild<QListWidget*>(QString::fromUtf8(name)) : nullptr;
  for (int i = 0; list && i < list->count(); ++i)
    lines.push_back(list->item(i)->text().toStdString());
  return lines;
}

int MakeCalendar(Radicale& r, const std::string& path, const char* name, const char* component) {
  httplib::Client dav = r.Client("geheim-7");
  httplib::Request req;
  req.method = "MKCALENDAR";
  req.path = path;
  req.body = std::string(
                 "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                 "<C:mkcalendar xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
                 "<D:set><D:prop><D:displayname>") +
             name + "</D:displayname><C:supported-calendar-component-set><C:comp name=\"" +
             component +
             "\"/></C:supported-calendar-component-set></D:prop></D:set></C:mkcalendar>";
  req.set_header("Content-Type", "application/xml");
  auto res = dav.send(req);
  return res ? res->status : -1;
}

TEST(SyncWindow, TestConnectionListsTheCalendarsAndTheOneChosenIsSyncedAsItIs) {
  ScratchDir server;
  Radicale radicale(server, "geheim-7");
  ASSERT_TRUE(radicale.Up());
  ASSERT_EQ(MakeCalendar(radicale, "/anna/diary/", "工作日志", "VJOURNAL"), 201);
  ASSERT_EQ(MakeCalendar(radicale, "/anna/events/", "活动", "VEVENT"), 201);
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
  TestProgram p;
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "写进日志"));
  FillIn(radicale.Address(), "falsch", ctl::kSyncTestButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("连接失败"); })) << Status();
  EXPECT_NE(Status().find("用户名或密码不对"), std::string::npos) << Status();
  Type(ctl::kSyncPasswordBox, "geheim-7");
  Click(ctl::kSyncTestButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("连接成功"); })) << Status();
  EXPECT_NE(Status().find("找到 2 个日历，其中 1 个可以存备忘录"), std::string::npos) << Status();
  // Testing stores nothing: neither the settings nor the password.
  EXPECT_EQ(ReadSetting(item::kSyncAddress), "");
  EXPECT_FALSE(fileio::IsRegularFile(DataFile(davsync::kPasswordFileName)));
  const std::vector<std::string> lines = ListLines(ctl::kSyncCalendarList);
  ASSERT_EQ(lines.size(), 2u);
  const int events = lines[0].starts_with("活动") ? 0 : 1;
  EXPECT_NE(lines[events].find("（不能存备忘录）"), std::string::npos) << lines[events];
  image::EventArgs chosen;
  chosen.code = events;
  OnSyncCalendarChosen(chosen);
  EXPECT_NE(Status().find("不能存备忘录"), std::string::npos) << Status();
  EXPECT_EQ(Rt().Caption(kSyncWindow, ctl::kSyncAddressBox), radicale.Address());
  chosen.code = 1 - events;
  OnSyncCalendarChosen(chosen);
  EXPECT_EQ(Rt().Caption(kSyncWindow, ctl::kSyncAddressBox), radicale.Address() + "diary/");
  // Enter in the password box is 立即同步; the boxes' clear buttons have a name.
  auto* address = ShownWindow(kSyncWindow)->findChild<QLineEdit*>(ctl::kSyncAddressBox);
  ASSERT_NE(address, nullptr);
  const QList<QToolButton*> clear = address->findChildren<QToolButton*>();
  ASSERT_FALSE(clear.isEmpty());
  for (QToolButton* b : clear) EXPECT_EQ(b->accessibleName().toStdString(), "清除");
  QTest::keyClick(ShownWindow(kSyncWindow)->findChild<QLineEdit*>(ctl::kSyncPasswordBox),
                  Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已同步"); })) << Status();
  // Into the chosen calendar, nothing made beside it.
  httplib::Client dav = radicale.Client("geheim-7");
  EXPECT_EQ(dav.Get("/anna/diary/tamsivo-memo-20261201.ics")->status, 200);
  EXPECT_EQ(Collection(DataFile(kMemoStoreFileName)), radicale.Address() + "diary/");
}

TEST(SyncWindow, ALongRunSaysHowFarItIs) {
  ScratchDir server;
  Radicale radicale(server, "geheim-7");
  ASSERT_TRUE(radicale.Up());
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
  TestProgram p;
  p.answer = [](const ShownMessage&) { return rt::IDYES; };
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(SaveDayMemo(MakeDateTime(2020, 1, 1) + i, "第几天"));
  FillIn(radicale.Address(), "geheim-7", ctl::kSyncNowButton);
  std::vector<std::string> seen;
  ASSERT_TRUE(PumpUntil(
      [&] {
        if (seen.empty() || seen.back() != Status()) seen.push_back(Status());
        return Status().starts_with("已同步");
      },
      60000));
  bool counted = false;
  for (const std::string& line : seen)
    counted = counted || (line.starts_with("正在同步……已处理 ") && line.ends_with(" / 300 天"));
  EXPECT_TRUE(counted) << seen.size();
  EXPECT_NE(Status().find("上传 300 天"), std::string::npos) << Status();
}

// The schedule's clock is the program's: the tests move it and tick.
void Advance(TestProgram& p, double seconds) {
  p.now += seconds / 86400.0;
  image::EventArgs tick;
  OnAutoSyncTimer(tick);
}

bool SyncIdle() {
  CollectSync();
  return !CurrentSync().running;
}

int ServerStatus(Radicale& r, const std::string& store, const char* resource) {
  httplib::Client dav = r.Client("geheim-7");
  auto res = dav.Get(PathOf(Collection(store)) + resource);
  return res ? res->status : -1;
}

TEST(SyncService, SavesGoOutByThemselvesFailuresWaitLongerAndNeverAsk) {
  EXPECT_EQ(SyncRetrySeconds(1, -1), 30);
  EXPECT_EQ(SyncRetrySeconds(2, -1), 60);
  EXPECT_EQ(SyncRetrySeconds(7, -1), 1800);
  EXPECT_EQ(SyncRetrySeconds(40, -1), 1800);
  EXPECT_EQ(SyncRetrySeconds(1, 600), 600);  // the server's Retry-After

  ScratchDir server;
  auto radicale = std::make_unique<Radicale>(server, "geheim-7");
  ASSERT_TRUE(radicale->Up());
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
  TestProgram p;
  p.answer = [](const ShownMessage&) { return rt::IDNO; };
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  const std::string store = DataFile(kMemoStoreFileName);
  FillIn(radicale->Address(), "geheim-7", ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已同步"); })) << Status();
  EXPECT_NE(TrayTip().find("\n已同步 "), std::string::npos) << TrayTip();
  Rt().CloseWindow(kSyncWindow);

  // A save goes to the server a few seconds later, with nobody asking.
  const double day = MakeDateTime(2026, 12, 3);
  ASSERT_TRUE(SaveDayMemo(day, "自己上去"));
  Advance(p, kSyncAfterSaveSeconds - 1);
  EXPECT_FALSE(CurrentSync().running);
  Advance(p, 1.5);
  EXPECT_TRUE(CurrentSync().running);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  EXPECT_TRUE(CurrentSync().line.starts_with("已同步")) << CurrentSync().line;
  EXPECT_EQ(ServerStatus(*radicale, store, "tamsivo-memo-20261203.ics"), 200);

  // Text from elsewhere arrives with the run every few minutes.
  httplib::Client dav = radicale->Client("geheim-7");
  const char* journal =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VJOURNAL\r\n"
      "UID:phone-9\r\nDTSTAMP:20261207T080000Z\r\nDTSTART;VALUE=DATE:20261205\r\n"
      "DESCRIPTION:手机上写的\r\nEND:VJOURNAL\r\nEND:VCALENDAR\r\n";
  ASSERT_EQ(dav.Put(PathOf(Collection(store)) + "phone-9.ics", journal, "text/calendar")->status,
            201);
  Advance(p, kSyncEverySeconds - 10);
  EXPECT_FALSE(CurrentSync().running);
  Advance(p, 11);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  EXPECT_EQ(DayMemo(MakeDateTime(2026, 12, 5)), "手机上写的");
  // The clock set back two hours: the next run still comes minutes later.
  p.now -= 2.0 / 24;
  Advance(p, 1);
  EXPECT_FALSE(CurrentSync().running);
  Advance(p, kSyncEverySeconds);
  EXPECT_TRUE(CurrentSync().running);
  ASSERT_TRUE(PumpUntil(SyncIdle));

  // The server goes away: no message box, the tray says so, and the next
  // tries come ever later; after an hour of it, one notice.
  const int port = radicale->port();
  radicale.reset();
  const std::size_t messages = p.messages.size();
  ASSERT_TRUE(SaveDayMemo(day, "离线写的"));
  Advance(p, kSyncAfterSaveSeconds + 1);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  EXPECT_TRUE(CurrentSync().line.starts_with("同步失败：")) << CurrentSync().line;
  EXPECT_NE(TrayTip().find("\n同步失败："), std::string::npos) << TrayTip();
  Advance(p, 25);
  EXPECT_FALSE(CurrentSync().running);
  Advance(p, 6);
  EXPECT_TRUE(CurrentSync().running);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  for (int i = 0; i < 8; ++i) {
    Advance(p, SyncRetrySeconds(2 + i, -1) + 1);
    ASSERT_TRUE(PumpUntil(SyncIdle));
  }
  EXPECT_EQ(p.messages.size(), messages);
  ASSERT_EQ(p.notifications.size(), 1u);
  EXPECT_NE(p.notifications[0].body.find("一个小时以来同步一直没有成功"), std::string::npos);
  EXPECT_EQ(DayMemo(day), "离线写的");

  // Back again: the queued day goes up, and the window shows the result
  // after a restart, kept in the store.
  radicale = std::make_unique<Radicale>(server, "geheim-7", port);
  ASSERT_TRUE(radicale->Up());
  Advance(p, 1801);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  EXPECT_TRUE(CurrentSync().line.starts_with("已同步")) << CurrentSync().line;
  // No keyring, and 否 to the file: the password was kept in memory only,
  // so after a restart the window asks for it instead of a failing run.
  EXPECT_TRUE(ReadFlagSetting(item::kSyncAskPassword));
  EXPECT_FALSE(fileio::IsRegularFile(DataFile(davsync::kPasswordFileName)));
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  ASSERT_TRUE(PumpUntil([] { return ShownWindow(kSyncWindow) != nullptr; })) << CurrentSync().line;
  EXPECT_FALSE(CurrentSync().running);
  EXPECT_TRUE(Status().starts_with("同步需要密码")) << Status();
  EXPECT_NE(TrayTip().find("同步需要密码"), std::string::npos);
  EXPECT_EQ(Rt().Caption(kSyncWindow, ctl::kSyncAddressBox), radicale->Address());
  Type(ctl::kSyncPasswordBox, "geheim-7");
  Click(ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已同步"); })) << Status();
  EXPECT_FALSE(fileio::IsRegularFile(DataFile(davsync::kPasswordFileName)));

  // Saved just before the end: a last short run takes it out.
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 8), "退出前写的"));
  const auto start = std::chrono::steady_clock::now();
  p.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(ServerStatus(*radicale, store, "tamsivo-memo-20261208.ics"), 200);
}

TEST(SyncService, PlainHttpToAnotherComputerIsNeverSyncedInTheBackground) {
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
  TestProgram p;
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  // TEST-NET: nothing answers there, and nothing may be tried.
  ASSERT_TRUE(WriteSetting(item::kSyncAddress, "http://192.0.2.1/dav/"));
  ASSERT_TRUE(WriteFlagSetting(item::kSyncOn, true));
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "不加密的地址"));
  Advance(p, kSyncAfterSaveSeconds + 1);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  EXPECT_TRUE(CurrentSync().line.starts_with("没有自动同步：这个地址不加密")) << CurrentSync().line;
  // No retries either: it waits for the user's 立即同步 and yes.
  Advance(p, 3600);
  EXPECT_FALSE(CurrentSync().running);
  EXPECT_TRUE(p.messages.empty());
}

TEST(SyncService, BothChangedListsTheDayAndACalendarGoneInTheBackgroundWaitsForTheUser) {
  ScratchDir server;
  Radicale radicale(server, "geheim-7");
  ASSERT_TRUE(radicale.Up());
  ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "");
  TestProgram p;
  std::vector<std::string> asked;
  p.answer = [&](const ShownMessage& m) {
    if (m.text.find("密钥环") != std::string::npos) return rt::IDYES;  // the password file
    asked.push_back(m.text);
    return rt::IDCANCEL;
  };
  p.Start();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  const std::string store = DataFile(kMemoStoreFileName);
  const double day = MakeDateTime(2026, 12, 2);
  ASSERT_TRUE(SaveDayMemo(day, "这里写的"));
  FillIn(radicale.Address(), "geheim-7", ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已同步"); })) << Status();

  // Changed on the server and here: both texts, and the day in the list.
  httplib::Client dav = radicale.Client("geheim-7");
  const std::string ours = PathOf(Collection(store)) + "tamsivo-memo-20261202.ics";
  const std::string changed =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VJOURNAL\r\n"
      "UID:tamsivo-memo-20261202\r\nDTSTAMP:20261208T080000Z\r\n"
      "DTSTART;VALUE=DATE:20261202\r\nDESCRIPTION:那边写的\r\nEND:VJOURNAL\r\n"
      "END:VCALENDAR\r\n";
  ASSERT_EQ(dav.Put(ours, changed, "text/calendar")->status / 100, 2);
  ASSERT_TRUE(SaveDayMemo(day, "这里改的"));
  Click(ctl::kSyncNowButton);
  ASSERT_TRUE(PumpUntil([] { return Status().starts_with("已同步"); })) << Status();
  EXPECT_NE(Status().find("冲突 1 天"), std::string::npos) << Status();
  EXPECT_NE(DayMemo(day).find("这里改的\n—— 另一处的版本（"), std::string::npos) << DayMemo(day);
  EXPECT_NE(DayMemo(day).find("那边写的"), std::string::npos);
  ASSERT_EQ(CurrentSync().conflictDays, std::vector<double>{day});
  EXPECT_EQ(Rt().ListCurrentIndex(kSyncWindow, ctl::kSyncConflictList), 0);
  // Enter on it opens that day's memo.
  std::string opened;
  p.onModal = [&](const std::string& window) {
    opened = Rt().GetEditText(kMemoEditWindow, ctl::kMemoBox, 4096);
    Rt().CloseWindow(window);
  };
  image::EventArgs chosen;
  chosen.code = 0;
  OnSyncConflictChosen(chosen);
  EXPECT_EQ(opened, DayMemo(day));
  Rt().CloseWindow(kSyncWindow);
  // After a restart the day is still listed, from the store.
  p.Restart();
  ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
  ASSERT_TRUE(PumpUntil([] { return !CurrentSync().line.empty() && SyncIdle(); }));
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "同步…"));
  EXPECT_EQ(ListLines(ctl::kSyncConflictList), std::vector<std::string>{"2026年12月2日"});
  Rt().CloseWindow(kSyncWindow);

  // The calendar emptied while nobody looks: nothing asked, nothing changed
  // here, a notice; runs wait until the user chose in the window.
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 4), "又一天"));
  Advance(p, kSyncAfterSaveSeconds + 1);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  asked.clear();
  for (const char* r : {"tamsivo-memo-20261202.ics", "tamsivo-memo-20261204.ics"})
    ASSERT_EQ(dav.Delete(PathOf(Collection(store)) + r)->status, 200);
  Advance(p, kSyncEverySeconds + 1);
  ASSERT_TRUE(PumpUntil(SyncIdle));
  EXPECT_TRUE(CurrentSync().calendarLost) << CurrentSync().line;
  EXPECT_TRUE(asked.empty());
  ASSERT_FALSE(p.notifications.empty());
  EXPECT_NE(p.notifications.back().body.find("上传全部"), std::string::npos);
  EXPECT_NE(DayMemo(day).find("那边写的"), std::string::npos);
  Advance(p, kSyncEverySeconds + 1);
  EXPECT_FALSE(CurrentSync().running);
  // Opening the window asks.
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "同步…"));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_NE(asked[0].find("上传全部"), std::string::npos);
  // The day tidied up by hand leaves the list.
  Rt().CloseWindow(kSyncWindow);
  ASSERT_TRUE(SaveDayMemo(day, "整理好了"));
  ASSERT_TRUE(ChooseMenuItem(kMainWindow, "菜单", "同步…"));
  EXPECT_TRUE(ListLines(ctl::kSyncConflictList).empty());
}

}  // namespace
