// The options window and the desktop pinning switches, with the desktop
// layer replaced by a recorder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "base/program.h"
#include "platform/desktop_host.h"
#include "runtime/widgets.h"
#include "settings/settings.h"
#include "system/start_at_boot.h"
#include "tests/support/test_program.h"

namespace {

constexpr std::uintptr_t kDesktop = 0x4000;

struct ParentCall {
  std::uintptr_t window;
  std::uintptr_t host;
};

class RecordingHost final : public DesktopHost {
 public:
  std::uintptr_t FindTopLevel(const char* className) override {
    return std::string(className) == "ProgMan" ? kDesktop : 0;
  }
  std::uintptr_t FirstChild(std::uintptr_t window) override { return window ? window + 1 : 0; }
  void SetParent(std::uintptr_t window, std::uintptr_t host) override {
    calls.push_back({window, host});
  }
  std::vector<ParentCall> calls;
};

QWidget* TopLevel(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == name && w->isVisible()) return w;
  }
  return nullptr;
}

// Clicks a control the way the user does (the state flips, then the click
// event runs).
void Click(const char* control) {
  QWidget* w = TopLevel(kOptionsWindow);
  ASSERT_NE(w, nullptr);
  auto* b = w->findChild<QAbstractButton*>(control);
  ASSERT_NE(b, nullptr) << control;
  b->click();
}

void Choose(const char* item) {
  QWidget* main = TopLevel(kMainWindow);
  ASSERT_NE(main, nullptr);
  for (QAction* a : main->findChild<QMenu*>("菜单")->actions()) {
    if (a->text() == QString::fromUtf8(item)) {
      a->trigger();
      return;
    }
  }
  FAIL() << "no menu item " << item;
}

bool Checked(const char* control) { return Rt().IsChecked(kOptionsWindow, control); }
std::string Today(const char* key) { return ReadSetting(kTodaySection, key); }
std::string MainItem(const char* key) { return ReadSetting(kMainSection, key); }
rt::Geometry Calendar() { return Rt().GetGeometry(kMainWindow, "Calendar1"); }
void OpenOptions() { Rt().LoadWindow(kOptionsWindow, kMainWindow, false); }

class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDesktopHost(&host);
    // The autostart entry goes into the test's own directory.
    setenv("XDG_CONFIG_HOME", p.dir().c_str(), 1);
  }
  void TearDown() override { SetDesktopHost(nullptr); }

  // The last SetParent of each window must be to `host`.
  void ExpectBothParentedTo(std::uintptr_t host) {
    ASSERT_GE(this->host.calls.size(), 2u);
    const ParentCall& a = this->host.calls[this->host.calls.size() - 2];
    const ParentCall& b = this->host.calls.back();
    EXPECT_EQ(a.window, Rt().NativeHandle(kMainWindow));
    EXPECT_EQ(b.window, Rt().NativeHandle(kTodayMemoWindow));
    EXPECT_EQ(a.host, host);
    EXPECT_EQ(b.host, host);
  }

  TestProgram p;
  RecordingHost host;
};

constexpr std::uintptr_t kPinned = kDesktop + 1;  // first child of the desktop

}  // namespace

TEST_F(Options, OpeningShowsStoredStates) {
  p.Start();
  OpenOptions();
  // First run defaults.
  EXPECT_TRUE(Checked("单选框5"));
  EXPECT_TRUE(Checked("单选框_记录方式2"));
  for (const char* c : {"单选框1", "单选框2", "单选框3", "单选框4", "单选框_记录方式1", "选择框1",
                        "选择框2", "选择框3", "选择框4", "选择框5"})
    EXPECT_FALSE(Checked(c)) << c;
  // Showing the states ran no handler.
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(Today("模式"), "5");

  // Reopened after hand edits: truncation, and values outside the lists
  // check no button at all.
  Rt().CloseWindow(kOptionsWindow);
  p.Pump();
  ASSERT_FALSE(Rt().IsLoaded(kOptionsWindow));
  EXPECT_TRUE(WriteSetting({kTodaySection, "模式"}, "3.9"));
  EXPECT_TRUE(WriteSetting({kTodaySection, "记录方式"}, "7"));
  for (const char* k : {"嵌入桌面", "鼠标穿透"}) EXPECT_TRUE(WriteSetting({kTodaySection, k}, "1"));
  for (const char* k : {"开机启动", "托盘", "记录后回到今天"})
    EXPECT_TRUE(WriteSetting({kMainSection, k}, "1.00000001"));
  OpenOptions();
  EXPECT_TRUE(Checked("单选框3"));
  EXPECT_FALSE(Checked("单选框_记录方式1"));
  EXPECT_FALSE(Checked("单选框_记录方式2"));
  for (const char* c : {"选择框1", "选择框2", "选择框3", "选择框4", "选择框5"})
    EXPECT_TRUE(Checked(c)) << c;

  // Handlers of a second opening still work, routing included.
  Click("单选框4");
  EXPECT_EQ(Today("模式"), "4");
  Click("单选框_记录方式2");
  EXPECT_EQ(RecordMode, 2);
}

TEST_F(Options, PositionButtonsWriteTheModeAndPlaceAtOnce) {
  p.Start();
  OpenOptions();
  const rt::Geometry m = Rt().GetGeometry(kMainWindow);

  Click("单选框2");
  EXPECT_EQ(Today("模式"), "2");
  rt::Geometry t = Rt().GetGeometry(kTodayMemoWindow);
  EXPECT_EQ(t.left, m.left);
  EXPECT_EQ(t.top, m.top - m.height);

  EXPECT_TRUE(WriteSetting({kTodaySection, "左边"}, "321"));
  EXPECT_TRUE(WriteSetting({kTodaySection, "顶边"}, "-45"));
  Click("单选框1");
  EXPECT_EQ(Today("模式"), "1");
  t = Rt().GetGeometry(kTodayMemoWindow);
  EXPECT_EQ(t.left, 321);
  EXPECT_EQ(t.top, -45);

  // An already checked button writes again and places again.
  Click("单选框3");
  EXPECT_TRUE(WriteSetting({kTodaySection, "模式"}, "9"));
  Rt().Move(kTodayMemoWindow, 5, 5);
  Click("单选框3");
  EXPECT_EQ(Today("模式"), "3");
  t = Rt().GetGeometry(kTodayMemoWindow);
  EXPECT_EQ(t.left, m.left);
  EXPECT_EQ(t.top, m.top + m.height);
}

TEST_F(Options, EveryOtherControlWritesAndAppliesAtOnce) {
  p.Start();
  OpenOptions();
  Click("单选框_记录方式1");
  EXPECT_EQ(Today("记录方式"), "1");
  EXPECT_EQ(RecordMode, 1);
  Click("单选框_记录方式2");
  EXPECT_EQ(Today("记录方式"), "2");
  EXPECT_EQ(RecordMode, 2);

  Click("选择框5");
  EXPECT_EQ(MainItem("记录后回到今天"), "1");
  EXPECT_EQ(ReturnToToday, 1);
  Click("选择框5");
  EXPECT_EQ(MainItem("记录后回到今天"), "0");
  EXPECT_EQ(ReturnToToday, 0);

  Click("选择框3");
  EXPECT_EQ(MainItem("开机启动"), "1");
  EXPECT_TRUE(Rt().FileExists(StartAtBootEntryPath()));
  EXPECT_EQ(StartAtBootEntryPath().rfind(p.dir(), 0), 0u);
  EXPECT_FALSE(Rt().MenuChecked(kMainWindow, "开机启动本程序"));  // not mirrored
  Click("选择框3");
  EXPECT_EQ(MainItem("开机启动"), "0");
  EXPECT_FALSE(Rt().FileExists(StartAtBootEntryPath()));

  Click("选择框4");
  EXPECT_EQ(MainItem("托盘"), "1");
  EXPECT_TRUE(Rt().TrayIconShown());
  Click("选择框4");
  EXPECT_EQ(MainItem("托盘"), "0");
  EXPECT_FALSE(Rt().TrayIconShown());
}

TEST_F(Options, MenuSwitchPinsAndReleasesBothWindows) {
  p.Start();
  ASSERT_TRUE(host.calls.empty());  // 嵌入桌面 off: nothing at start-up
  Choose("嵌入桌面");
  EXPECT_EQ(Today("嵌入桌面"), "1");
  EXPECT_TRUE(Rt().MenuChecked(kMainWindow, "嵌入桌面"));
  ExpectBothParentedTo(kPinned);

  Choose("嵌入桌面");
  EXPECT_EQ(Today("嵌入桌面"), "0");
  EXPECT_FALSE(Rt().MenuChecked(kMainWindow, "嵌入桌面"));
  ExpectBothParentedTo(0);

  // Still set at the next start: the mark comes back and both windows are
  // pinned once start-up is done.
  Choose("嵌入桌面");
  host.calls.clear();
  p.Restart();
  EXPECT_TRUE(Rt().MenuChecked(kMainWindow, "嵌入桌面"));
  ExpectBothParentedTo(kPinned);
  EXPECT_EQ(host.calls.size(), 2u);
}

TEST_F(Options, PinBoxesLeaveTheMenuMarkAsItWas) {
  p.Start();
  OpenOptions();
  Click("选择框1");
  EXPECT_EQ(Today("嵌入桌面"), "1");
  ExpectBothParentedTo(kPinned);
  EXPECT_FALSE(Rt().MenuChecked(kMainWindow, "嵌入桌面"));

  // The menu decides from its own mark: it writes "1" again and re-applies.
  host.calls.clear();
  Choose("嵌入桌面");
  EXPECT_EQ(Today("嵌入桌面"), "1");
  EXPECT_TRUE(Rt().MenuChecked(kMainWindow, "嵌入桌面"));
  ExpectBothParentedTo(kPinned);

  // Clearing the box releases the windows; the mark stays checked.
  Click("选择框1");
  EXPECT_EQ(Today("嵌入桌面"), "0");
  ExpectBothParentedTo(0);
  EXPECT_TRUE(Rt().MenuChecked(kMainWindow, "嵌入桌面"));

  // Click-through is only stored, then the stored embedding is applied again.
  host.calls.clear();
  Click("选择框2");
  EXPECT_EQ(Today("鼠标穿透"), "1");
  ExpectBothParentedTo(0);
  EXPECT_TRUE(WriteSetting({kTodaySection, "嵌入桌面"}, "1"));
  Click("选择框2");
  EXPECT_EQ(Today("鼠标穿透"), "0");
  ExpectBothParentedTo(kPinned);
  EXPECT_EQ(Today("透明度"), "180");
}

// 显示农历和节日: the calendar grows by 90x96 for the second line in each
// cell, MainWindow by as much, and the docked today window follows.
TEST_F(Options, LunarBoxGrowsTheCalendarAndTheTodayWindowStaysBeside) {
  p.Start();
  EXPECT_EQ(p.ReadFile("Start.ini").find(Gbk("显示农历")), std::string::npos);
  const rt::Geometry main0 = Rt().GetGeometry(kMainWindow);
  EXPECT_EQ(Calendar().width, 302);
  EXPECT_EQ(Calendar().height, 182);
  OpenOptions();
  EXPECT_FALSE(Checked("选择框6"));
  for (const char* mode : {"2", "3", "4", "5"}) {
    ASSERT_TRUE(WriteSetting({kTodaySection, "模式"}, mode));
    for (const int grown : {1, 0}) {
      SCOPED_TRACE(std::string("mode ") + mode + (grown ? " on" : " off"));
      Click("选择框6");
      EXPECT_EQ(MainItem("显示农历"), grown ? "1" : "0");
      EXPECT_EQ(Calendar().width, 302 + 90 * grown);
      EXPECT_EQ(Calendar().height, 182 + 96 * grown);
      const rt::Geometry m = Rt().GetGeometry(kMainWindow), t = Rt().GetGeometry(kTodayMemoWindow);
      EXPECT_EQ(std::vector<int>({m.left, m.top, m.width, m.height}),
                std::vector<int>(
                    {main0.left, main0.top, main0.width + 90 * grown, main0.height + 96 * grown}));
      const int want[4][2] = {{m.left, m.top - m.height},
                              {m.left, m.top + m.height},
                              {m.left - m.width, m.top},
                              {m.left + m.width, m.top}};
      EXPECT_EQ(t.left, want[mode[0] - '2'][0]);
      EXPECT_EQ(t.top, want[mode[0] - '2'][1]);
    }
  }
}

TEST_F(Options, LunarSettingAtStartShowsTheLinesGrown) {
  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n显示农历=1\r\n[今天备忘录窗口]\r\n模式=5\r\n"));
  // The user's own 休/班 file in the data directory is used.
  ASSERT_TRUE(std::filesystem::create_directory(p.path("节假日")));
  p.WriteFile("节假日/2026.txt", "休 2026-12-10 自定假\n");
  p.Start();
  EXPECT_EQ(Calendar().width, 392);
  EXPECT_EQ(Calendar().height, 278);
  const rt::Geometry m = Rt().GetGeometry(kMainWindow);
  EXPECT_EQ(Rt().GetGeometry(kTodayMemoWindow).left, m.left + m.width);
  auto* calendar = TopLevel(kMainWindow)->findChild<MemoCalendar*>("Calendar1");
  ASSERT_NE(calendar, nullptr);
  EXPECT_TRUE(calendar->ShowsLines());
  const MemoCalendar::DayText* text = calendar->TextOf(QDate(2026, 12, 10));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->mark.toStdString(), "休");
  EXPECT_EQ(calendar->CellName(QDate(2026, 12, 10)).toStdString(), "10 初二 休");
  OpenOptions();
  EXPECT_TRUE(Checked("选择框6"));
}

// Escape closes the window; its pin box is named as the menu item it
// mirrors.
TEST_F(Options, EscapeClosesAndThePinBoxIsNamedAsTheMenu) {
  p.Start();
  OpenOptions();
  QWidget* options = TopLevel(kOptionsWindow);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(Rt().Caption(kOptionsWindow, "选择框1"), "嵌入桌面");
  QAction* embed = nullptr;
  for (QAction* a : TopLevel(kMainWindow)->findChild<QMenu*>("菜单")->actions()) {
    if (a->text() == "嵌入桌面") embed = a;
  }
  EXPECT_NE(embed, nullptr);
  QApplication::setActiveWindow(options);
  QTest::keyClick(options->findChild<QAbstractButton*>("选择框3"), Qt::Key_Escape);
  p.Pump();
  EXPECT_FALSE(Rt().IsLoaded(kOptionsWindow));
}
