// Program entry, MainWindow's creation steps and the end-of-program clean-up.
#include "app/program.h"
#include "mainwindow/main_window.h"
#include "memo/calendar.h"
#include "memo/memo_store.h"
#include "settings/settings.h"
#include "system/registration.h"
#include "today/desktop.h"

void ProgramStart() {
  CollectionList.clear();
  PositionButtons.clear();
  RecordModeButtons.clear();
  Rt().SetEndOfProgramRoutine(EndOfProgramCleanup);
  Rt().LoadWindow(kMainWindow, {}, false);
}

void ProgramEntry(rt::Runtime& runtime) {
  SetRuntime(&runtime);
  ProgramStart();
  Rt().MessageLoop();
}

void MainWindowCreated() {
  // First-run initialisation: the store and the settings file are created
  // independently of each other.
  OpenMemoStore();
  EnsureSettingsFile();

  Rt().LoadWindow(kTodayMemoWindow, kMainWindow, false);
  RefreshToday();
  RegisterCalendarControl(kCalendarControlFile);

  const bool embedded = ReadFlagSetting(kTodaySection, "嵌入桌面");
  Rt().SetMenuChecked(kMainWindow, "嵌入桌面", embedded);

  const int left = ReadIntSetting(kMainSection, "左边");
  const int top = ReadIntSetting(kMainSection, "顶边");
  Rt().Move(kTodayMemoWindow, left, top);

  RecordMode = ReadIntSetting(kTodaySection, "记录方式");
  ReturnToToday = ReadFlagSetting(kMainSection, "记录后回到今天") ? 1 : 0;
  Rt().SetMenuChecked(kMainWindow, "开机启动本程序", ReadFlagSetting(kMainSection, "开机启动"));
  ApplyVisibility();
  // Last, so both windows exist and have their place and visibility.
  if (embedded) ApplyDesktopEmbedding();
}

void EndOfProgramCleanup() {
  CollectionList.clear();
  CollectionList.shrink_to_fit();
  PositionButtons.clear();
  RecordModeButtons.clear();
}
