// MainWindow's menu, hide toggles, tray icon, remembered position and the
// commands that leave the window.
#include "mainwindow/main_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "base/program.h"
#include "settings/settings.h"
#include "tests/support/test_program.h"
#include "today/options.h"
#include "windowstate/window_state.h"

namespace {

QWidget* MainWidget() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "MainWindow") return w;
  return nullptr;
}

QMenu* MainMenu() { return MainWidget()->findChild<QMenu*>("菜单"); }

// Chooses a menu item the way a click does, check mark included.
void Choose(const char* caption) {
  for (QAction* a : MainMenu()->actions())
    if (a->text() == QString::fromUtf8(caption)) return a->trigger();
  FAIL() << "no menu item " << caption;
}

std::string Main(const char* key) { return ReadSetting(kMainSection, key); }

}  // namespace

TEST(MainWindowMenu, OpensAtTheButtonAndFromTheTray) {
  TestProgram p;
  p.Start();
  rt::Runtime& r = p.runtime();
  auto* button = MainWidget()->findChild<QAbstractButton*>("图形按钮1");
  button->click();  // the window went to 117,184 from the default settings
  ASSERT_TRUE(r.MenuShowing(kMainWindow, "菜单"));
  EXPECT_EQ(MainMenu()->pos(), QPoint(144, 208));
  MainMenu()->hide();
  r.Move(kMainWindow, 20, 30);
  button->click();
  EXPECT_EQ(MainMenu()->pos(), QPoint(47, 54));
  MainMenu()->hide();

  for (int code : {0, 1, 2, 4, 3}) {
    image::EventArgs args;
    args.code = code;
    OnTrayNotification(args);
    EXPECT_EQ(r.MenuShowing(kMainWindow, "菜单"), code == 3) << code;
  }
  MainMenu()->hide();
}

TEST(HideToggles, MainWindowForcesTheTrayTodayWindowDoesNot) {
  TestProgram p;
  p.Start();
  rt::Runtime& r = p.runtime();
  Choose("今天备忘录 隐藏");
  EXPECT_FALSE(r.IsVisible(kTodayMemoWindow));
  EXPECT_TRUE(r.IsVisible(kMainWindow));
  EXPECT_TRUE(r.MenuChecked(kMainWindow, "今天备忘录 隐藏"));
  EXPECT_EQ(ReadSetting(kTodaySection, "隐藏"), "1");
  EXPECT_EQ(Main("托盘"), "0");
  EXPECT_FALSE(r.TrayIconShown());

  Choose("Tamsivo 隐藏");
  EXPECT_FALSE(r.IsVisible(kMainWindow));
  EXPECT_TRUE(r.MenuChecked(kMainWindow, "Tamsivo 隐藏"));
  EXPECT_EQ(Main("隐藏"), "1");
  EXPECT_EQ(Main("托盘"), "1");
  EXPECT_TRUE(r.TrayIconShown());

  // Back again (from the tray menu): the tray setting and icon stay.
  Choose("Tamsivo 隐藏");
  EXPECT_TRUE(r.IsVisible(kMainWindow));
  EXPECT_FALSE(r.MenuChecked(kMainWindow, "Tamsivo 隐藏"));
  EXPECT_EQ(Main("隐藏"), "0");
  EXPECT_EQ(Main("托盘"), "1");
  EXPECT_TRUE(r.TrayIconShown());
  EXPECT_TRUE(WriteSetting({kMainSection, "托盘"}, "0"));
  ApplyTrayIcon();
  EXPECT_FALSE(r.TrayIconShown());
}

TEST(HideToggles, HiddenStartStaysReachable) {
  TestProgram p;
  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n隐藏=1\r\n托盘=0\r\n[今天备忘录窗口]\r\n隐藏=1\r\n"));
  p.Start();
  rt::Runtime& r = p.runtime();
  EXPECT_FALSE(r.IsVisible(kMainWindow));
  EXPECT_FALSE(r.IsVisible(kTodayMemoWindow));
  EXPECT_TRUE(r.MenuChecked(kMainWindow, "Tamsivo 隐藏"));
  EXPECT_TRUE(r.MenuChecked(kMainWindow, "今天备忘录 隐藏"));
  EXPECT_EQ(Main("托盘"), "1");
  EXPECT_TRUE(r.TrayIconShown());
  p.Stop();
  EXPECT_FALSE(r.TrayIconShown());
}

TEST(HideToggles, WithoutATrayTheMainWindowIsNotHidden) {
  TestProgram p;
  p.trayAvailable = false;
  p.Start();
  Choose("Tamsivo 隐藏");
  EXPECT_TRUE(p.runtime().IsVisible(kMainWindow));
  EXPECT_FALSE(p.runtime().MenuChecked(kMainWindow, "Tamsivo 隐藏"));
  EXPECT_EQ(Main("隐藏"), "0");
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_NE(p.messages[0].text.find("系统托盘"), std::string::npos);
}

TEST(HideToggles, NothingOnScreenIsNeverTheOutcome) {
  {
    // Hidden at start on a desktop without a tray: shown, and told why once.
    TestProgram p;
    p.trayAvailable = false;
    p.WriteFile("Start.ini", Gbk("[主窗口]\r\n隐藏=1\r\n托盘=1\r\n"));
    p.Start();
    rt::Runtime& r = p.runtime();
    EXPECT_TRUE(r.IsVisible(kMainWindow));
    EXPECT_FALSE(r.MenuChecked(kMainWindow, "Tamsivo 隐藏"));
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_NE(p.messages[0].text.find("托盘"), std::string::npos);
    ApplyVisibility();
    EXPECT_EQ(p.messages.size(), 1u);  // once a run
  }
  // With a tray: hidden, then the tray icon turned off in the options.
  TestProgram q;
  q.WriteFile("Start.ini", Gbk("[主窗口]\r\n隐藏=1\r\n托盘=1\r\n"));
  q.Start();
  EXPECT_FALSE(q.runtime().IsVisible(kMainWindow));
  q.runtime().LoadWindow(kOptionsWindow, kMainWindow, false);
  q.runtime().SetChecked(kOptionsWindow, "选择框4", false);
  image::EventArgs a;
  OnTrayBox(a);
  EXPECT_FALSE(q.runtime().TrayIconShown());
  EXPECT_TRUE(q.runtime().IsVisible(kMainWindow));
}

TEST(StartedAgain, TheRunningCopyComesForward) {
  TestProgram p;
  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n隐藏=1\r\n托盘=1\r\n"));
  p.Start();
  ASSERT_FALSE(p.runtime().IsVisible(kMainWindow));
  image::EventArgs a;
  OnStartedAgain(a);
  EXPECT_TRUE(p.runtime().IsVisible(kMainWindow));
  EXPECT_EQ(Main("隐藏"), "0");
}

TEST(RememberedPosition, SavedOnQuitAndOnCloseBoxAndUsedNextTime) {
  TestProgram p;
  p.Start();
  p.runtime().Move(kMainWindow, 300, 250);
  Choose("退出");
  EXPECT_EQ(Main("左边"), "300");
  EXPECT_EQ(Main("顶边"), "250");
  p.Restart();
  rt::Geometry g = p.runtime().GetGeometry(kMainWindow);
  EXPECT_EQ(std::make_pair(g.left, g.top), std::make_pair(300, 250));

  // Off every screen is kept as it is. (Positive: the offscreen platform
  // nudges a negative edge by its fake frame; a real X server does not.)
  p.runtime().Move(kMainWindow, 4000, 9000);
  p.runtime().CloseWindow(kMainWindow);
  EXPECT_EQ(Main("左边"), "4000");
  p.Restart();
  g = p.runtime().GetGeometry(kMainWindow);
  EXPECT_EQ(std::make_pair(g.left, g.top), std::make_pair(4000, 9000));
}

TEST(MenuCommands, AboutStartAtBootAndOptions) {
  TestProgram p;
  setenv("XDG_CONFIG_HOME", (p.dir() + "/config").c_str(), 1);
  p.Start();
  rt::Runtime& r = p.runtime();
  Choose("关于本程序");
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].title, "关于本程序");
  EXPECT_EQ(p.messages[0].flags, rt::MB_OK | rt::MB_ICONINFORMATION);
  // The version first, as --version prints it.
  EXPECT_EQ(p.messages[0].text.rfind(std::string("Tamsivo 版本 ") + TAMSIVO_TEST_VERSION +
                                         "\r\n\r\n本程序处于测试阶段\r\n\r\n",
                                     0),
            0u)
      << p.messages[0].text;

  const std::string entry = p.dir() + "/config/autostart/Tamsivo.desktop";
  Choose("开机启动本程序");
  EXPECT_TRUE(r.MenuChecked(kMainWindow, "开机启动本程序"));
  EXPECT_EQ(Main("开机启动"), "1");
  EXPECT_TRUE(r.FileExists(entry));
  Choose("开机启动本程序");
  EXPECT_FALSE(r.MenuChecked(kMainWindow, "开机启动本程序"));
  EXPECT_EQ(Main("开机启动"), "0");
  EXPECT_FALSE(r.FileExists(entry));
  unsetenv("XDG_CONFIG_HOME");

  Choose("选项");
  Choose("选项");  // raises the open window instead of a second one
  EXPECT_TRUE(r.IsLoaded(kOptionsWindow));
}

TEST(MenuCommands, NewVersionPageOpensWithoutLeavingAChild) {
  TestProgram p;
  p.Start();
  // A stand-in opener on PATH records what it was asked to open.
  const std::string bin = p.dir() + "/bin", log = p.path("opened.txt");
  ASSERT_EQ(mkdir(bin.c_str(), 0700), 0);
  std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s|' \"$@\" > '" << log << ".t' && mv '"
                                   << log << ".t' '" << log << "'\n";
  ASSERT_EQ(chmod((bin + "/xdg-open").c_str(), 0700), 0);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
  Choose("查看新版本");
  setenv("PATH", oldPath.c_str(), 1);

  for (int i = 0; i < 500 && !p.runtime().FileExists(log); ++i) usleep(10000);
  EXPECT_EQ(p.ReadFile("opened.txt"), std::string(NewVersionPageUrl) + "|");
  int status;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);  // nothing left to reap
  EXPECT_EQ(errno, ECHILD);
}
