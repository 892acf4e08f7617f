// MainWindow's own behaviour: the menu and its commands, the remembered
// position, the tray icon's menu, the about box and the end of the program.
#pragma once

#include "base/program_image.h"

// Address opened by 查看新版本.
extern const char* const NewVersionPageUrl;

void ShowMenuAtButton();
void SaveMainWindowPosition();

void OnMainWindowFirstActivation(image::EventArgs&);
void OnMainWindowDestroy(image::EventArgs&);
void OnMainWindowClose(image::EventArgs&);
void OnTrayNotification(image::EventArgs&);
void OnMenuButtonClicked(image::EventArgs&);
void OnStartAtBootMenu(image::EventArgs&);
void OnOptionsMenu(image::EventArgs&);
void OnNewVersionMenu(image::EventArgs&);
void OnAboutMenu(image::EventArgs&);
void OnQuitMenu(image::EventArgs&);
void OnStartedAgain(image::EventArgs&);
