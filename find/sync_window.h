// The 同步 window (同步…): the CalDAV address, user and password, 立即同步
// and 停止同步, and what the last run did. A run goes on a worker; the
// windows follow through MemosChanged when text arrived.
#pragma once

#include "base/program_image.h"

void OnSyncMenu(image::EventArgs&);
void OnSyncWindowCreated(image::EventArgs&);
void OnSyncWindowClose(image::EventArgs&);
void OnSyncNowButton(image::EventArgs&);
void OnSyncStopButton(image::EventArgs&);
void OnSyncTimer(image::EventArgs&);
void OnSyncCloseKey(image::EventArgs&);
// At the end of the program: stops a run and waits for it, 3 s at most.
void EndSync();
