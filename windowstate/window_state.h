// What the two windows look like on the desktop: shown or hidden, pinned or
// not, and the tray icon that keeps a hidden program reachable. The menu,
// the options window and the start-up sequence all come here.
#pragma once

#include <string>

#include "base/program_image.h"

inline constexpr const char* kTrayTip = "Tamsivo";

// Hidden states of both windows, their menu check marks and the tray icon,
// as the settings say.
void ApplyVisibility();
// The tray icon as 托盘 says; a hidden main window that no tray icon could
// bring back is shown.
void ApplyTrayIcon();
// A line under the tray icon's name in its tooltip ("已同步 10:32"); empty
// for none. Applied at once when the icon is shown.
void SetTrayStatus(const std::string& line);
// The tooltip as it stands: kTrayTip and the status line.
std::string TrayTip();
// Both windows pinned to the desktop as 嵌入桌面 says.
void ApplyDesktopEmbedding();

void OnHideMainMenu(image::EventArgs&);
void OnHideTodayMenu(image::EventArgs&);
void OnEmbedMenu(image::EventArgs&);
// The today window's close box hides it the way its menu item does.
void OnTodayWindowClose(image::EventArgs&);
