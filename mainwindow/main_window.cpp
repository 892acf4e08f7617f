#include "mainwindow/main_window.h"

#include <string>

#include "base/program.h"
#include "base/textnum.h"
#include "platform/web_page.h"
#include "settings/settings.h"
#include "system/registration.h"
#include "system/start_at_boot.h"
#include "windowstate/window_state.h"

// No web site of its own yet: a reserved name that never resolves to a
// stranger's server.
const char* const NewVersionPageUrl = "https://tamsivo.invalid/releases";

namespace {

constexpr const char* kAboutText =
    "本程序处于测试阶段\r\n\r\n"
    "意见和建议请提交到本项目的问题跟踪页：https://tamsivo.invalid/issues";

}  // namespace

void ShowMenuAtButton() {
  // Window edges are its outer screen position; the button's are client
  // coordinates.
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  const rt::Geometry button = Rt().GetGeometry(kMainWindow, ctl::kMenuButton);
  Rt().PopupMenu(kMainWindow, ctl::kMenu, main.left + button.width + button.left + 4,
                 main.top + button.height + button.top + 2);
}

void SaveMainWindowPosition() {
  // A settings file deleted during the run would otherwise come back holding
  // the position alone, and every other item would read as 0 next time.
  // Writes are not reported: there is nobody left to tell.
  (void)EnsureSettingsFile();
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  (void)WriteSetting(item::kMainTop, IntToText(main.top));
  (void)WriteSetting(item::kMainLeft, IntToText(main.left));
  Rt().SetTrayIcon(kMainWindow, false);
  UnregisterCalendarControl(kCalendarControlFile);
}

void OnMainWindowFirstActivation(image::EventArgs&) {
  // As stored, even off every screen: the user put it there.
  Rt().Move(kMainWindow, ReadIntSetting(item::kMainLeft), ReadIntSetting(item::kMainTop));
}

void OnMainWindowDestroy(image::EventArgs&) { SaveMainWindowPosition(); }

// The close box ends the program the way 退出 does.
void OnMainWindowClose(image::EventArgs& args) {
  args.cancel = true;
  Rt().EndProgram(0);
}

void OnTrayNotification(image::EventArgs& args) {
  if (args.code == image::kTrayContextClick) Rt().PopupMenu(kMainWindow, ctl::kMenu);
}

void OnMenuButtonClicked(image::EventArgs&) { ShowMenuAtButton(); }

void OnStartAtBootMenu(image::EventArgs&) {
  const bool on = !Rt().MenuChecked(kMainWindow, menu::kStartAtBoot);
  // The mark shows the choice even when the entry could not be written, as
  // the options window's box does.
  (void)SetStartAtBoot(on);
  Rt().SetMenuChecked(kMainWindow, menu::kStartAtBoot, on);
}

// An open options window is brought to the front by the runtime.
void OnOptionsMenu(image::EventArgs&) { Rt().LoadWindow(kOptionsWindow, kMainWindow, false); }

void OnNewVersionMenu(image::EventArgs&) { OpenWebPage(NewVersionPageUrl); }

void OnAboutMenu(image::EventArgs&) {
  Rt().MessageBox(std::string("Tamsivo 版本 ") + ProgramVersion() + "\r\n\r\n" + kAboutText,
                  rt::MB_OK | rt::MB_ICONINFORMATION, std::string("关于本程序"));
}

void OnQuitMenu(image::EventArgs&) { Rt().EndProgram(0); }

void OnStartedAgain(image::EventArgs& args) {
  // tamsivo --sync asks for a sync, not for the windows.
  if (args.code == image::kStartedToSync) return;
  // The user started the program again: they want to see it.
  if (!Rt().IsVisible(kMainWindow)) {
    (void)WriteFlagSetting(item::kMainHidden, false);
    ApplyVisibility();
  }
  if (Rt().IsVisible(kTodayMemoWindow)) Rt().BringToFront(kTodayMemoWindow);
  Rt().BringToFront(kMainWindow);
  if (Rt().IsLoaded(kMemoEditWindow)) Rt().BringToFront(kMemoEditWindow);
  if (Rt().IsLoaded(kOptionsWindow)) Rt().BringToFront(kOptionsWindow);
}
