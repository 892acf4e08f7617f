#include "windowstate/window_state.h"

#include <string>

#include "base/program.h"
#include "platform/desktop_host.h"
#include "settings/settings.h"

namespace {

constexpr const char* kTitle = "Tamsivo";
constexpr const char* kNoTrayText =
    "桌面上没有系统托盘，主窗口隐藏后将无法找回，所以没有隐藏。\r\n"
    "请先启用桌面的系统托盘（通知区域），再隐藏主窗口。";
constexpr const char* kKeptShownText =
    "Tamsivo 的主窗口设为隐藏，但桌面上没有可用的托盘图标（系统托盘或通知区域），"
    "隐藏后将无法把它找回，所以主窗口保持显示。";

// Flips a menu check mark and returns the new state.
bool ToggleMenuMark(const char* item) {
  const bool on = !Rt().MenuChecked(kMainWindow, item);
  Rt().SetMenuChecked(kMainWindow, item, on);
  return on;
}

// Shows the main window that nothing else could bring back, and says why
// (once a run: the reason does not change).
void KeepMainWindowReachable() {
  Rt().SetVisible(kMainWindow, true);
  Rt().SetMenuChecked(kMainWindow, menu::kHideMain, false);
  static bool told = false;
  if (told) return;
  told = true;
  Rt().MessageBox(kKeptShownText, rt::MB_OK | rt::MB_ICONINFORMATION, std::string(kTitle));
}

std::string g_trayStatus;

}  // namespace

std::string TrayTip() {
  return g_trayStatus.empty() ? std::string(kTrayTip) : std::string(kTrayTip) + "\n" + g_trayStatus;
}

void SetTrayStatus(const std::string& line) {
  g_trayStatus = line;
  if (Rt().TrayIconShown()) Rt().SetTrayIcon(kMainWindow, true, TrayTip());
}

void ApplyTrayIcon() {
  const bool on = ReadFlagSetting(item::kTray);
  Rt().SetTrayIcon(kMainWindow, on, TrayTip());
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

  const bool mainHidden = ReadFlagSetting(item::kMainHidden);
  Rt().SetMenuChecked(kMainWindow, menu::kHideMain, mainHidden);
  Rt().SetVisible(kMainWindow, !mainHidden);
  // A hidden main window stays reachable through the tray icon; a failed
  // write shows up when the icon is applied from the setting below.
  if (!Rt().IsVisible(kMainWindow)) (void)WriteSetting(item::kTray, "1");
  ApplyTrayIcon();

  const bool todayHidden = ReadFlagSetting(item::kTodayHidden);
  Rt().SetMenuChecked(kMainWindow, menu::kHideToday, todayHidden);
  Rt().SetVisible(kTodayMemoWindow, !todayHidden);

  // The window manager forgets a pinned window's state while it is hidden, so
  // a window shown again is pinned again.
  const bool shownAgain = (!mainWasVisible && Rt().IsVisible(kMainWindow)) ||
                          (!todayWasVisible && Rt().IsVisible(kTodayMemoWindow));
  if (shownAgain && ReadFlagSetting(item::kEmbedded)) ApplyDesktopEmbedding();
}

void ApplyDesktopEmbedding() {
  const bool on = ReadFlagSetting(item::kEmbedded);
  // No top-level window has the second class, so switching off hands both
  // windows a null host: ordinary top-level windows again.
  std::uintptr_t host = FindTopLevelWindow(on ? "ProgMan" : "SysListView32");
  host = FirstChildWindow(host);
  SetParentWindow(Rt().NativeHandle(kMainWindow), host);
  SetParentWindow(Rt().NativeHandle(kTodayMemoWindow), host);
}

void OnHideMainMenu(image::EventArgs&) {
  // Without a notification area a hidden main window could not be brought
  // back from anywhere: say so and keep it.
  if (!Rt().MenuChecked(kMainWindow, menu::kHideMain) && !Rt().TrayAvailable()) {
    Rt().MessageBox(kNoTrayText, rt::MB_OK | rt::MB_ICONWARNING, std::string(kTitle));
    return;
  }
  // Settings writes are not reported: the state follows what the file says.
  (void)WriteFlagSetting(item::kMainHidden, ToggleMenuMark(menu::kHideMain));
  ApplyVisibility();
}

void OnHideTodayMenu(image::EventArgs&) {
  (void)WriteFlagSetting(item::kTodayHidden, ToggleMenuMark(menu::kHideToday));
  ApplyVisibility();
}

// Decides from the item's own mark, not from the setting: after a change made
// in the options window the two may differ.
void OnEmbedMenu(image::EventArgs&) {
  const bool on = !Rt().MenuChecked(kMainWindow, menu::kEmbed);
  (void)WriteFlagSetting(item::kEmbedded, on);
  Rt().SetMenuChecked(kMainWindow, menu::kEmbed, on);
  ApplyDesktopEmbedding();
}

// Hidden rather than destroyed, so it can be brought back from the menu
// instead of being gone until a restart.
void OnTodayWindowClose(image::EventArgs& args) {
  args.cancel = true;
  (void)WriteFlagSetting(item::kTodayHidden, true);
  ApplyVisibility();
}
