// MainWindow's own behaviour: menu commands, hide toggles, tray icon,
// remembered position, about box and the end of the program.
#pragma once

#include <string>

#include "app/program_image.h"

// Address opened by 查看新版本.
extern const char* const NewVersionPageUrl;

void ApplyVisibility();
void ApplyTrayIcon();
void ShowMenuAtButton();
void SaveMainWindowPosition();

void OnMainWindowFirstActivation(image::EventArgs&);
void OnMainWindowDestroy(image::EventArgs&);
void OnTrayNotification(image::EventArgs&);
void OnMenuButtonClicked(image::EventArgs&);
void OnHideMainMenu(image::EventArgs&);
void OnHideTodayMenu(image::EventArgs&);
void OnTodayWindowClose(image::EventArgs&);
void OnStartAtBootMenu(image::EventArgs&);
void OnOptionsMenu(image::EventArgs&);
void OnNewVersionMenu(image::EventArgs&);
void OnAboutMenu(image::EventArgs&);
void OnQuitMenu(image::EventArgs&);
void OnStartedAgain(image::EventArgs&);
