// MainWindow's own behaviour: menu commands, hide toggles, tray icon,
// remembered position, about box and the end of the program.
#include "mainwindow/main_window.h"

#include "app/program.h"
#include "platform/web_page.h"
#include "settings/settings.h"
#include "system/registration.h"
#include "system/start_at_boot.h"
#include "today/desktop.h"

// No web site of its own yet: a reserved name that never resolves to a
// stranger's server.
const char* const NewVersionPageUrl = "https://tamsivo.invalid/releases";

namespace {

constexpr const char* kMenu = "菜单";
constexpr const char* kMenuButton = "图形按钮1";
constexpr const char* kTrayTip = "Tamsivo";
constexpr const char* kHideMainItem = "Tamsivo 隐藏";
constexpr const char* kHideTodayItem = "今天备忘录 隐藏";
constexpr const char* kStartAtBootItem = "开机启动本程序";
constexpr const char* kNoTrayText =
    "桌面上没有系统托盘，主窗口隐藏后将无法找回，所以没有隐藏。\r\n"
    "请先启用桌面的系统托盘（通知区域），再隐藏主窗口。";
constexpr const char* kKeptShownText =
    "Tamsivo 的主窗口设为隐藏，但桌面上没有可用的托盘图标（系统托盘或通知区域），"
    "隐藏后将无法把它找回，所以主窗口保持显示。";
constexpr const char* kAboutText =
    "本程序处于测试阶段\r\n\r\n"
    "意见和建议请提交到本项目的问题跟踪页：https://tamsivo.invalid/issues";
// The tray's context action (right button) opens the menu.
constexpr int kTrayMenuCode = 3;

// Flips a menu check mark and returns the new state.
bool ToggleMenuMark(const char* item) {
  const bool on = !Rt().MenuChecked(kMainWindow, item);
  Rt().SetMenuChecked(kMainWindow, item, on);
  return on;
}

}  // namespace

namespace {

// Shows the main window that nothing else could bring back, and says why
// (once a run: the reason does not change).
void KeepMainWindowReachable() {
  Rt().SetVisible(kMainWindow, true);
  Rt().SetMenuChecked(kMainWindow, kHideMainItem, false);
  static bool told = false;
  if (told) return;
  told = true;
  Rt().MessageBox(kKeptShownText, rt::MB_OK | rt::MB_ICONINFORMATION, std::string("Tamsivo"));
}

}  // namespace

void ApplyTrayIcon() {
  const bool on = ReadFlagSetting(kMainSection, "托盘");
  Rt().SetTrayIcon(kMainWindow, on, kTrayTip);
  // Turned off (or no tray at all) while the main window is hidden: the
  // program would be running with nothing on screen.
  if ((!on || !Rt().TrayAvailable()) && Rt().IsLoaded(kMainWindow) &&
      !Rt().IsVisible(kMainWindow)) {
    KeepMainWindowReachable();
  }
}

void ApplyVisibility() {
  const bool mainWasVisible = Rt().IsVisible(kMainWindow);
  const bool todayWasVisible = Rt().IsVisible(kTodayMemoWindow);

  const bool mainHidden = ReadFlagSetting(kMainSection, "隐藏");
  Rt().SetMenuChecked(kMainWindow, kHideMainItem, mainHidden);
  Rt().SetVisible(kMainWindow, !mainHidden);
  // A hidden main window stays reachable through the tray icon.
  if (!Rt().IsVisible(kMainWindow)) WriteSetting(kMainSection, "托盘", "1");
  ApplyTrayIcon();

  const bool todayHidden = ReadFlagSetting(kTodaySection, "隐藏");
  Rt().SetMenuChecked(kMainWindow, kHideTodayItem, todayHidden);
  Rt().SetVisible(kTodayMemoWindow, !todayHidden);

  // The window manager forgets a pinned window's state while it is hidden, so
  // a window shown again is pinned again.
  const bool shownAgain = (!mainWasVisible && Rt().IsVisible(kMainWindow)) ||
                          (!todayWasVisible && Rt().IsVisible(kTodayMemoWindow));
  if (shownAgain && ReadFlagSetting(kTodaySection, "嵌入桌面")) ApplyDesktopEmbedding();
}

void ShowMenuAtButton() {
  // Window edges are its outer screen position; the button's are client
  // coordinates.
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  const rt::Geometry button = Rt().GetGeometry(kMainWindow, kMenuButton);
  Rt().PopupMenu(kMainWindow, kMenu, main.left + button.width + button.left + 4,
                 main.top + button.height + button.top + 2);
}

void SaveMainWindowPosition() {
  // A settings file deleted during the run would otherwise come back holding
  // the position alone, and every other item would read as 0 next time.
  EnsureSettingsFile();
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  WriteSetting(kMainSection, "顶边", std::to_string(main.top));
  WriteSetting(kMainSection, "左边", std::to_string(main.left));
  Rt().SetTrayIcon(kMainWindow, false);
  UnregisterCalendarControl(kCalendarControlFile);
}

void OnMainWindowFirstActivation(image::EventArgs&) {
  // As stored, even off every screen: the user put it there.
  Rt().Move(kMainWindow, ReadIntSetting(kMainSection, "左边"),
            ReadIntSetting(kMainSection, "顶边"));
}

void OnMainWindowDestroy(image::EventArgs&) { SaveMainWindowPosition(); }

void OnTrayNotification(image::EventArgs& args) {
  if (args.code == kTrayMenuCode) Rt().PopupMenu(kMainWindow, kMenu);
}

void OnMenuButtonClicked(image::EventArgs&) { ShowMenuAtButton(); }

void OnHideMainMenu(image::EventArgs&) {
  // Without a notification area a hidden main window could not be brought
  // back from anywhere: say so and keep it.
  if (!Rt().MenuChecked(kMainWindow, kHideMainItem) && !Rt().TrayAvailable()) {
    Rt().MessageBox(kNoTrayText, rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"));
    return;
  }
  WriteFlagSetting(kMainSection, "隐藏", ToggleMenuMark(kHideMainItem));
  ApplyVisibility();
}

void OnHideTodayMenu(image::EventArgs&) {
  WriteFlagSetting(kTodaySection, "隐藏", ToggleMenuMark(kHideTodayItem));
  ApplyVisibility();
}

// The today window's close box hides it the way its menu item does, so it
// can be brought back from the menu instead of being gone until a restart.
void OnTodayWindowClose(image::EventArgs& args) {
  args.cancel = true;
  WriteFlagSetting(kTodaySection, "隐藏", true);
  ApplyVisibility();
}

void OnStartAtBootMenu(image::EventArgs&) {
  const bool on = !Rt().MenuChecked(kMainWindow, kStartAtBootItem);
  SetStartAtBoot(on);
  Rt().SetMenuChecked(kMainWindow, kStartAtBootItem, on);
}

// An open options window is brought to the front by the runtime.
void OnOptionsMenu(image::EventArgs&) { Rt().LoadWindow(kOptionsWindow, kMainWindow, false); }

void OnNewVersionMenu(image::EventArgs&) { OpenWebPage(NewVersionPageUrl); }

void OnAboutMenu(image::EventArgs&) {
  Rt().MessageBox(kAboutText, rt::MB_OK | rt::MB_ICONINFORMATION, std::string("关于本程序"));
}

void OnQuitMenu(image::EventArgs&) { Rt().EndProgram(0); }

void OnStartedAgain(image::EventArgs&) {
  // The user started the program again: they want to see it.
  if (!Rt().IsVisible(kMainWindow)) {
    WriteFlagSetting(kMainSection, "隐藏", false);
    ApplyVisibility();
  }
  if (Rt().IsVisible(kTodayMemoWindow)) Rt().BringToFront(kTodayMemoWindow);
  Rt().BringToFront(kMainWindow);
  if (Rt().IsLoaded(kMemoEditWindow)) Rt().BringToFront(kMemoEditWindow);
  if (Rt().IsLoaded(kOptionsWindow)) Rt().BringToFront(kOptionsWindow);
}
