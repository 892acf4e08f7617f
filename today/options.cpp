#include "today/options.h"

#include <iterator>
#include <string>
#include <vector>

#include "base/program.h"
#include "base/textnum.h"
#include "memo/calendar.h"
#include "memo/past_years.h"
#include "settings/settings.h"
#include "system/start_at_boot.h"
#include "today/placement.h"
#include "windowstate/window_state.h"

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

void ShowFlag(const char* control, const SettingItem& item) {
  Rt().SetChecked(kOptionsWindow, control, ReadFlagSetting(item));
}

}  // namespace

// The buttons' events are routed to the first of each group by the program
// image, as soon as the window is built.
void LoadOptionsWindow(image::EventArgs&) {
  PositionButtons.assign(std::begin(ctl::kPositionButtons), std::end(ctl::kPositionButtons));
  RecordModeButtons.assign(std::begin(ctl::kRecordModeButtons), std::end(ctl::kRecordModeButtons));

  // Setting states raises no click events, so none of the handlers run here.
  CheckNth(PositionButtons, ReadIntSetting(item::kPlacementMode));
  CheckNth(RecordModeButtons, ReadIntSetting(item::kRecordMode));
  ShowFlag(ctl::kPinBox, item::kEmbedded);
  ShowFlag(ctl::kClickThroughBox, item::kClickThrough);
  ShowFlag(ctl::kStartAtBootBox, item::kStartAtBoot);
  ShowFlag(ctl::kTrayBox, item::kTray);
  ShowFlag(ctl::kReturnToTodayBox, item::kReturnToToday);
  ShowFlag(ctl::kShowLunarBox, item::kShowLunar);
  ShowFlag(ctl::kPastYearsBox, item::kPastYears);
}

// The options write at once and are not reported when the file cannot be
// written: the next read shows what the file holds.
void OnPositionButton(image::EventArgs&) {
  const int i = FirstChecked(PositionButtons);
  if (i == 0) return;
  (void)WriteSetting(item::kPlacementMode, IntToText(i));
  PlaceTodayWindow();
}

void OnRecordModeButton(image::EventArgs&) {
  const int i = FirstChecked(RecordModeButtons);
  if (i == 0) return;
  (void)WriteSetting(item::kRecordMode, IntToText(i));
  RecordMode = i;
}

// The menu item 嵌入桌面 keeps its mark: it is only brought in line by its
// own next use or the next start.
void OnPinBox(image::EventArgs&) {
  (void)WriteFlagSetting(item::kEmbedded, Checked(ctl::kPinBox));
  ApplyDesktopEmbedding();
}

// Click-through is only remembered; nothing applies it to the windows.
void OnClickThroughBox(image::EventArgs&) {
  (void)WriteFlagSetting(item::kClickThrough, Checked(ctl::kClickThroughBox));
  ApplyDesktopEmbedding();
}

void OnStartAtBootBox(image::EventArgs&) {
  std::string error;
  if (!SetStartAtBoot(Checked(ctl::kStartAtBootBox), &error)) {
    Rt().MessageBox("无法更改开机启动：" + error, rt::MB_OK | rt::MB_ICONWARNING,
                    std::string("Tamsivo"));
  }
}

void OnTrayBox(image::EventArgs&) {
  (void)WriteFlagSetting(item::kTray, Checked(ctl::kTrayBox));
  ApplyTrayIcon();
}

void OnShowLunarBox(image::EventArgs&) {
  (void)WriteFlagSetting(item::kShowLunar, Checked(ctl::kShowLunarBox));
  ApplyCalendarLayout();
  MarkMemoDays();
  PlaceTodayWindow();
}

void OnPastYearsBox(image::EventArgs&) {
  (void)WriteFlagSetting(item::kPastYears, Checked(ctl::kPastYearsBox));
  RefreshPastYears();
}

void OnReturnToTodayBox(image::EventArgs&) {
  const bool on = Checked(ctl::kReturnToTodayBox);
  (void)WriteFlagSetting(item::kReturnToToday, on);
  ReturnToToday = on ? 1 : 0;
}

void OnCloseOptionsWindow(image::EventArgs&) { Rt().CloseWindow(kOptionsWindow); }
