#include "today/options.h"

#include <string>
#include <vector>

#include "app/program.h"
#include "app/textnum.h"
#include "mainwindow/main_window.h"
#include "settings/settings.h"
#include "system/start_at_boot.h"
#include "today/desktop.h"
#include "today/placement.h"

namespace {

bool Checked(const char* control) { return Rt().IsChecked(kOptionsWindow, control); }

// Checks button `n` (1-based) of a list. A hand-edited value outside the list
// checks none, rather than reaching past its end.
void CheckNth(const std::vector<std::string>& buttons, int n) {
  if (n < 1 || n > static_cast<int>(buttons.size())) return;
  Rt().SetChecked(kOptionsWindow, buttons[static_cast<size_t>(n - 1)], true);
}

// 1-based place of the first checked button, 0 when none is.
int FirstChecked(const std::vector<std::string>& buttons) {
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (Rt().IsChecked(kOptionsWindow, buttons[i])) return static_cast<int>(i) + 1;
  }
  return 0;
}

void ShowFlag(const char* control, const char* section, const char* key) {
  Rt().SetChecked(kOptionsWindow, control, ReadFlagSetting(section, key));
}

}  // namespace

void LoadOptionsWindow(image::EventArgs&) {
  PositionButtons = {"单选框1", "单选框2", "单选框3", "单选框4", "单选框5"};
  for (size_t i = 1; i < PositionButtons.size(); ++i)
    Rt().RouteEvents(kOptionsWindow, PositionButtons[i], PositionButtons[0]);
  RecordModeButtons = {"单选框_记录方式1", "单选框_记录方式2"};
  Rt().RouteEvents(kOptionsWindow, RecordModeButtons[1], RecordModeButtons[0]);

  // Setting states raises no click events, so none of the handlers run here.
  CheckNth(PositionButtons, ReadIntSetting(kTodaySection, "模式"));
  CheckNth(RecordModeButtons, ReadIntSetting(kTodaySection, "记录方式"));
  ShowFlag("选择框1", kTodaySection, "嵌入桌面");
  ShowFlag("选择框2", kTodaySection, "鼠标穿透");
  ShowFlag("选择框3", kMainSection, "开机启动");
  ShowFlag("选择框4", kMainSection, "托盘");
  ShowFlag("选择框5", kMainSection, "记录后回到今天");
}

void OnPositionButton(image::EventArgs&) {
  const int i = FirstChecked(PositionButtons);
  if (i == 0) return;
  WriteSetting(kTodaySection, "模式", IntToText(i));
  PlaceTodayWindow();
}

void OnRecordModeButton(image::EventArgs&) {
  const int i = FirstChecked(RecordModeButtons);
  if (i == 0) return;
  WriteSetting(kTodaySection, "记录方式", IntToText(i));
  RecordMode = i;
}

// The menu item 嵌入桌面 keeps its mark: it is only brought in line by its
// own next use or the next start.
void OnPinBox(image::EventArgs&) {
  WriteFlagSetting(kTodaySection, "嵌入桌面", Checked("选择框1"));
  ApplyDesktopEmbedding();
}

// Click-through is only remembered; nothing applies it to the windows.
void OnClickThroughBox(image::EventArgs&) {
  WriteFlagSetting(kTodaySection, "鼠标穿透", Checked("选择框2"));
  ApplyDesktopEmbedding();
}

void OnStartAtBootBox(image::EventArgs&) { SetStartAtBoot(Checked("选择框3")); }

void OnTrayBox(image::EventArgs&) {
  WriteFlagSetting(kMainSection, "托盘", Checked("选择框4"));
  ApplyTrayIcon();
}

void OnReturnToTodayBox(image::EventArgs&) {
  const bool on = Checked("选择框5");
  WriteFlagSetting(kMainSection, "记录后回到今天", on);
  ReturnToToday = on ? 1 : 0;
}
