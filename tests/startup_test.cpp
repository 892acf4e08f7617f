// The program's start-up and shut-down as the user meets them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "settings/settings.h"
#include "tests/support/test_program.h"
#include "util/file_io.h"

namespace {

const std::string kDefaults =
    "[主窗口]\r\n左边=117\r\n顶边=184\r\n托盘=0\r\n隐藏=0\r\n开机启动=0\r\n记录后回到今天=0\r\n"
    "[今天备忘录窗口]\r\n模式=5\r\n左边=0\r\n顶边=0\r\n透明度=180\r\n鼠标穿透=0\r\n嵌入桌面=0\r\n"
    "隐藏=0\r\n记录方式=2";

}  // namespace

TEST(Startup, FirstStartInAnEmptyDirectory) {
  TestProgram p;
  p.Start();
  const std::string ini = p.ReadFile("Start.ini");
  EXPECT_EQ(ini.size(), 172u);
  EXPECT_EQ(ini, Gbk(kDefaults));
  EXPECT_TRUE(p.runtime().FileExists(p.path("事件数据.edb")));
  EXPECT_TRUE(MemoStoreOpen());
  EXPECT_EQ(RecordMode, 2);
  EXPECT_EQ(ReturnToToday, 0);
  rt::Runtime& r = p.runtime();
  EXPECT_FALSE(r.MenuChecked(kMainWindow, "嵌入桌面"));
  EXPECT_FALSE(r.MenuChecked(kMainWindow, "开机启动本程序"));
  EXPECT_TRUE(r.IsVisible(kMainWindow));
  EXPECT_TRUE(r.IsVisible(kTodayMemoWindow));
  EXPECT_EQ(r.Caption(kMainWindow), "Tamsivo 2026年12月7日");
  EXPECT_EQ(TodayDate, MakeDateTime(2026, 12, 7));
  EXPECT_TRUE(p.messages.empty());
}

TEST(Startup, TemporaryFilesOfKilledWritesAreCleared) {
  TestProgram p;
  const std::vector<std::string> leftovers = {".Start.ini.a1B2c3", "Start.ini.Zz9Yy8",
                                              ".事件数据.edb.new-0badf00d",
                                              ".事件数据.edb.new-0badf00d-journal"};
  for (const std::string& name : leftovers) p.WriteFile(name, Gbk(kDefaults.substr(0, 20)));
  p.WriteFile("Start.ini.bak", "the user's own");
  p.WriteFile("Start.ini.backup", "the user's own too");
  p.WriteFile("notes.txt", "not ours");
  p.Start();
  for (const std::string& name : leftovers) {
    EXPECT_FALSE(p.runtime().FileExists(p.path(name))) << name;
  }
  EXPECT_EQ(p.ReadFile("Start.ini.bak"), "the user's own");
  EXPECT_EQ(p.ReadFile("Start.ini.backup"), "the user's own too");
  EXPECT_EQ(p.ReadFile("notes.txt"), "not ours");
}

TEST(Startup, HandEditedSettingsAreHonoured) {
  TestProgram p;
  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n记录后回到今天=1\r\n开机启动=1\r\n"
                               "[今天备忘录窗口]\r\n记录方式=1.9\r\n嵌入桌面=1\r\n"));
  p.Start();
  EXPECT_EQ(ReturnToToday, 1);
  EXPECT_EQ(RecordMode, 1);
  EXPECT_TRUE(p.runtime().MenuChecked(kMainWindow, "开机启动本程序"));
  EXPECT_TRUE(p.runtime().MenuChecked(kMainWindow, "嵌入桌面"));
  // An existing file, whatever it holds, is never rewritten with defaults.
  EXPECT_EQ(p.ReadFile("Start.ini").find(Gbk("透明度")), std::string::npos);
}

TEST(Startup, ReturnToTodayIsAFlagNotANumber) {
  // 1.5 is not within 1e-7 of 1: off, although it would cut to 1.
  for (const char* value : {"1.5", "2", "0.99"}) {
    TestProgram p;
    p.WriteFile("Start.ini", Gbk(std::string("[主窗口]\r\n记录后回到今天=") + value + "\r\n"));
    p.Start();
    EXPECT_EQ(ReturnToToday, 0) << value;
  }
  TestProgram p;
  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n记录后回到今天=1.00000001\r\n"));
  p.Start();
  EXPECT_EQ(ReturnToToday, 1);
}

TEST(Startup, EmptyRecordModeGivesZero) {
  TestProgram p;
  p.WriteFile("Start.ini", Gbk("[今天备忘录窗口]\r\n记录方式=\r\n"));
  p.Start();
  EXPECT_EQ(RecordMode, 0);
}

TEST(Startup, StoreAndSettingsAreRecreatedIndependently) {
  std::string dir;
  {
    TestProgram p;
    p.Start();
    ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 1), "旧的备忘"));
    ::unlink(p.path("Start.ini").c_str());
    // Same directory, second start: only the settings come back.
    p.Restart();
    EXPECT_EQ(p.ReadFile("Start.ini"), Gbk(kDefaults));
    ASSERT_TRUE(FindDayMemo(MakeDateTime(2026, 12, 1)));
    EXPECT_EQ(ReadMemoText(), "旧的备忘");
  }
}

TEST(Startup, WorkingDirectoryDoesNotMatter) {
  TestProgram p;
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  std::string other = p.dir() + "-elsewhere";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  ASSERT_EQ(chdir(other.c_str()), 0);
  p.Start();
  EXPECT_TRUE(p.runtime().FileExists(p.path("Start.ini")));
  EXPECT_FALSE(p.runtime().FileExists(other + "/Start.ini"));
  EXPECT_FALSE(p.runtime().FileExists(other + "/事件数据.edb"));
  ASSERT_EQ(chdir(old), 0);
  rmdir(other.c_str());
}

TEST(Startup, CloseBoxEndsTheProgramWithItsCleanUp) {
  TestProgram p;
  p.Start();
  CollectionList.push_back({1, 2});
  PositionButtons.push_back("单选框1");
  p.runtime().CloseWindow(kMainWindow);
  p.Pump();
  EXPECT_FALSE(p.runtime().IsLoaded(kMainWindow));
  EXPECT_FALSE(p.runtime().IsLoaded(kTodayMemoWindow));
  EXPECT_TRUE(CollectionList.empty());
  EXPECT_TRUE(PositionButtons.empty());
}

TEST(Shutdown, EndingWithTheEditorOpenKeepsTheMemo) {
  TestProgram p;
  p.onModal = [&](const std::string& w) {
    p.runtime().SetEditText(w, "编辑框1", "写到一半");
    p.runtime().EndProgram(0);  // what SIGTERM does at log-out
  };
  p.Start();
  p.runtime().SetCalendarValue(kMainWindow, "Calendar1", MakeDateTime(2026, 12, 20));
  OpenMemoEditor();
  ASSERT_TRUE(FindDayMemo(MakeDateTime(2026, 12, 20)));
  EXPECT_EQ(ReadMemoText(), "写到一半");
  // Ending the program does not count as the user hiding the today window.
  EXPECT_EQ(ReadSetting(kTodaySection, "隐藏"), "0");
}

TEST(Shutdown, TodayWindowCloseBoxHidesItInsteadOfDestroyingIt) {
  TestProgram p;
  p.Start();
  p.runtime().CloseWindow(kTodayMemoWindow);
  p.Pump();
  EXPECT_TRUE(p.runtime().IsLoaded(kTodayMemoWindow));
  EXPECT_FALSE(p.runtime().IsVisible(kTodayMemoWindow));
  EXPECT_EQ(ReadSetting(kTodaySection, "隐藏"), "1");
  EXPECT_TRUE(p.runtime().MenuChecked(kMainWindow, "今天备忘录 隐藏"));
}

// Where the settings and the memos go, for each kind of copy.
namespace {

struct Homes {
  ScratchDir scratch{"tamsivo-homes"};
  ScopedEnv config{"XDG_CONFIG_HOME", scratch / "cfg"};
  ScopedEnv data{"XDG_DATA_HOME", scratch / "share"};
  std::string Settings() const { return scratch / "cfg/tamsivo"; }
  std::string Data() const { return scratch / "share/tamsivo"; }
};

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

TEST(FileLocations, APortableCopyKeepsEverythingBesideTheProgram) {
  Homes homes;
  ScratchDir program;
  ASSERT_TRUE(DecideFileLocations(program.path(), nullptr));
  EXPECT_EQ(SettingsDirectory(), program.path());
  EXPECT_EQ(DataDirectory(), program.path());
  EXPECT_EQ(ModeOf(homes.Data()), 0u) << "nothing made in the home";
}

TEST(FileLocations, AnInstalledCopyKeepsItsFilesInTheHome) {
  Homes homes;
  TestProgram p;
  p.WriteFile(kInstalledMarkerName, "installed\n");
  p.Start();
  EXPECT_EQ(SettingsDirectory(), homes.Settings());
  EXPECT_EQ(DataDirectory(), homes.Data());
  EXPECT_EQ(ModeOf(homes.Settings()), 0700u);
  EXPECT_EQ(ModeOf(homes.Data()), 0700u);
  EXPECT_EQ(ModeOf(homes.scratch / "share"), 0700u) << "directories it made are private";
  EXPECT_TRUE(fileio::IsRegularFile(homes.Settings() + "/Start.ini"));
  EXPECT_TRUE(fileio::IsRegularFile(homes.Data() + "/事件数据.edb"));
  EXPECT_TRUE(MemoStoreOpen());
  EXPECT_EQ(fileio::ListDirectory(p.dir()), std::vector<std::string>{kInstalledMarkerName})
      << "nothing written beside an installed program";
}

TEST(FileLocations, AProgramDirectoryTheUserCannotWriteSendsFilesHome) {
  Homes homes;
  ScratchDir program;
  ASSERT_EQ(::chmod(program.path().c_str(), 0555), 0);
  {
    ObeyFilePermissions asAUser;
    ASSERT_TRUE(DecideFileLocations(program.path(), nullptr));
  }
  ::chmod(program.path().c_str(), 0755);
  EXPECT_EQ(SettingsDirectory(), homes.Settings());
  EXPECT_EQ(DataDirectory(), homes.Data());
}

TEST(FileLocations, AnInstalledCopyThatAlreadyHoldsMemosKeepsThem) {
  Homes homes;
  ScratchDir program;
  PutFile(program / kInstalledMarkerName, "installed\n");
  PutFile(program / kMemoStoreFileName, "");
  ASSERT_TRUE(DecideFileLocations(program.path(), nullptr));
  EXPECT_EQ(DataDirectory(), program.path());
  EXPECT_EQ(SettingsDirectory(), program.path());
}

TEST(FileLocations, HomeDefaultsAndBadValues) {
  ScratchDir home;
  ScopedEnv h("HOME", home.path());
  ScopedEnv config("XDG_CONFIG_HOME", "");
  // A relative value is not a base directory and falls back to the default.
  ScopedEnv data("XDG_DATA_HOME", "relative/share");
  ScratchDir program;
  PutFile(program / kInstalledMarkerName, "installed\n");
  ASSERT_TRUE(DecideFileLocations(program.path(), nullptr));
  EXPECT_EQ(SettingsDirectory(), home / ".config/tamsivo");
  EXPECT_EQ(DataDirectory(), home / ".local/share/tamsivo");

  // A file where the directory should be: refused with its name, not "/".
  ScratchDir other;
  PutFile(other / "share", "in the way");
  ScopedEnv blocked("XDG_DATA_HOME", other / "share");
  std::string error;
  EXPECT_FALSE(DecideFileLocations(program.path(), &error));
  EXPECT_NE(error.find(other / "share"), std::string::npos) << error;
  EXPECT_FALSE(DecideFileLocations("relative/dir", &error));
}

namespace {

// This thread's real user becomes one the password file does not know, as
// in a container or for a deleted account. The raw system call changes the
// calling thread only, and root may change it back.
class UserWithoutHome {
 public:
  UserWithoutHome() : old_(::getuid()) {
    changed_ = old_ == 0 && ::syscall(SYS_setresuid, kUnknownUser, -1, -1) == 0;
  }
  ~UserWithoutHome() {
    if (changed_) (void)::syscall(SYS_setresuid, old_, -1, -1);  // back to root, as it was
  }
  UserWithoutHome(const UserWithoutHome&) = delete;
  UserWithoutHome& operator=(const UserWithoutHome&) = delete;
  bool changed() const { return changed_; }

 private:
  static constexpr uid_t kUnknownUser = 0x7ffff123;
  uid_t old_;
  bool changed_ = false;
};

}  // namespace

TEST(FileLocations, WithoutAHomeOneBaseDirectoryIsNotEnough) {
  ScratchDir program, elsewhere;
  PutFile(program / kInstalledMarkerName, "installed\n");
  // The marker is looked for with the real user's rights.
  ASSERT_EQ(::chmod(program.path().c_str(), 0755), 0);
  UserWithoutHome user;
  if (!user.changed()) GTEST_SKIP() << "only root can run as a user without a home";
  ScopedEnv home("HOME", "");
  for (const auto& [given, missing] : {std::pair{"XDG_CONFIG_HOME", "XDG_DATA_HOME"},
                                       std::pair{"XDG_DATA_HOME", "XDG_CONFIG_HOME"}}) {
    ScopedEnv set(given, elsewhere / "base");
    ScopedEnv unset(missing, "");
    std::string error;
    EXPECT_FALSE(DecideFileLocations(program.path(), &error)) << given;
    EXPECT_NE(error.find("找不到用户的主目录"), std::string::npos) << given << ": " << error;
  }
  EXPECT_EQ(ModeOf(elsewhere / "base"), 0u) << "nothing made on half a decision";
}
