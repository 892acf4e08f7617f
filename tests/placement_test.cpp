// Where the today-memo window goes when the main window or it moves.
#include "today/placement.h"

#include <gtest/gtest.h>

#include "base/program.h"
#include "settings/settings.h"
#include "tests/support/test_program.h"

namespace {

rt::Geometry Main() { return Rt().GetGeometry(kMainWindow); }
rt::Geometry Today() { return Rt().GetGeometry(kTodayMemoWindow); }

void SetMode(const char* mode) { ASSERT_TRUE(WriteSetting({kTodaySection, "模式"}, mode)); }

// Moves the main window the way a drag does: the move raises its
// position-changed event.
void DragMain(int left, int top) { Rt().Move(kMainWindow, left, top); }

}  // namespace

TEST(Placement, FollowsTheMainWindowInEachDockedMode) {
  TestProgram p;
  p.Start();
  // First run: mode 5, the main window at its stored 117,184.
  rt::Geometry m = Main();
  ASSERT_EQ(m.left, 117);
  ASSERT_EQ(m.top, 184);
  EXPECT_EQ(Today().left, m.left + m.width);
  EXPECT_EQ(Today().top, m.top);

  SetMode("2");
  DragMain(100, 100);
  m = Main();
  EXPECT_EQ(Today().left, 100);
  EXPECT_EQ(Today().top, 100 - m.height);  // partly off the screen, not clamped

  SetMode("3");
  DragMain(40, 60);
  EXPECT_EQ(Today().left, 40);
  EXPECT_EQ(Today().top, 60 + m.height);

  SetMode("4");
  DragMain(0, 30);
  EXPECT_EQ(Today().left, -m.width);
  EXPECT_EQ(Today().top, 30);

  SetMode("5");
  DragMain(-50, -20);
  EXPECT_EQ(Today().left, -50 + m.width);
  EXPECT_EQ(Today().top, -20);

  // Offsets are the main window's size, not the today window's, in every
  // mode that offsets.
  Rt().Move(kTodayMemoWindow, 0, 0, 500, 400);
  ASSERT_NE(Today().width, m.width);
  ASSERT_NE(Today().height, m.height);
  DragMain(10, 10);
  EXPECT_EQ(Today().left, 10 + m.width);
  SetMode("2");
  DragMain(20, 500);
  EXPECT_EQ(Today().top, 500 - m.height);
  SetMode("3");
  DragMain(20, 30);
  EXPECT_EQ(Today().top, 30 + m.height);
  SetMode("4");
  DragMain(700, 30);
  EXPECT_EQ(Today().left, 700 - m.width);
}

TEST(Placement, PlacedAtFirstActivationEvenWhereTheMainWindowAlreadyIs) {
  // The remembered place is the designed one: moving there reports no move.
  TestProgram p;
  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n左边=50\r\n顶边=50\r\n[今天备忘录窗口]\r\n模式=5\r\n"));
  p.Start();
  const rt::Geometry m = Main();
  ASSERT_EQ(m.left, 50);
  EXPECT_EQ(Today().left, 50 + m.width);
  EXPECT_EQ(Today().top, 50);
}

TEST(Placement, ModeTextMustBeWithinTinyDistanceOfAWholeMode) {
  TestProgram p;
  p.Start();
  SetMode("2.00000001");
  DragMain(200, 300);
  EXPECT_EQ(Today().left, 200);
  EXPECT_EQ(Today().top, 300 - Main().height);

  for (const char* bad : {"1.5", "0", "6", "abc", "", "2.0000002"}) {
    SetMode(bad);
    Rt().Move(kTodayMemoWindow, 333, 444);
    DragMain(250, 350);
    DragMain(260, 360);
    EXPECT_EQ(Today().left, 333) << bad;
    EXPECT_EQ(Today().top, 444) << bad;
    // Not mode 1 either: the today window's own move stored nothing.
    EXPECT_EQ(ReadSetting(kTodaySection, "左边"), "0") << bad;
  }
}

TEST(Placement, CustomModeUsesStoredPlaceCutTowardZero) {
  TestProgram p;
  p.Start();
  SetMode("1");
  EXPECT_TRUE(WriteSetting({kTodaySection, "左边"}, "12.9"));
  EXPECT_TRUE(WriteSetting({kTodaySection, "顶边"}, "-3.7"));
  PlaceTodayWindow();
  EXPECT_EQ(Today().left, 12);
  EXPECT_EQ(Today().top, -3);
  // The placement is itself a move in mode 1, so the applied values are stored.
  EXPECT_EQ(ReadSetting(kTodaySection, "左边"), "12");
  EXPECT_EQ(ReadSetting(kTodaySection, "顶边"), "-3");
}

TEST(Placement, DraggingTheTodayWindowIsRememberedOnlyInCustomMode) {
  TestProgram p;
  p.Start();
  SetMode("1");
  Rt().Move(kTodayMemoWindow, 500, 40);
  EXPECT_EQ(ReadSetting(kTodaySection, "左边"), "500");
  EXPECT_EQ(ReadSetting(kTodaySection, "顶边"), "40");
  DragMain(10, 20);
  EXPECT_EQ(Today().left, 500);
  EXPECT_EQ(Today().top, 40);

  SetMode("3");
  DragMain(30, 40);
  Rt().Move(kTodayMemoWindow, 700, 600);
  EXPECT_EQ(ReadSetting(kTodaySection, "左边"), "500");
  EXPECT_EQ(ReadSetting(kTodaySection, "顶边"), "40");
  DragMain(31, 40);
  EXPECT_EQ(Today().left, 31);
  EXPECT_EQ(Today().top, 40 + Main().height);
}

TEST(Placement, HiddenTodayWindowIsStillPlaced) {
  TestProgram p;
  p.Start();
  Rt().SetVisible(kTodayMemoWindow, false);
  DragMain(80, 90);
  EXPECT_FALSE(Rt().IsVisible(kTodayMemoWindow));
  EXPECT_EQ(Today().left, 80 + Main().width);
  EXPECT_EQ(Today().top, 90);
}
