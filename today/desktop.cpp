#include "today/desktop.h"

#include "app/program.h"
#include "platform/desktop_host.h"
#include "settings/settings.h"

void ApplyDesktopEmbedding() {
  const bool on = ReadFlagSetting(kTodaySection, "嵌入桌面");
  // No top-level window has the second class, so switching off hands both
  // windows a null host: ordinary top-level windows again.
  std::uintptr_t host = FindTopLevelWindow(on ? "ProgMan" : "SysListView32");
  host = FirstChildWindow(host);
  SetParentWindow(Rt().NativeHandle(kMainWindow), host);
  SetParentWindow(Rt().NativeHandle(kTodayMemoWindow), host);
}

// Decides from the item's own mark, not from the setting: after a change made
// in the options window the two may differ.
void OnEmbedMenu(image::EventArgs&) {
  const bool on = !Rt().MenuChecked(kMainWindow, "嵌入桌面");
  WriteFlagSetting(kTodaySection, "嵌入桌面", on);
  Rt().SetMenuChecked(kMainWindow, "嵌入桌面", on);
  ApplyDesktopEmbedding();
}
