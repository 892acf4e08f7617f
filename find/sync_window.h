// The 同步 window (同步…): the CalDAV address, user and password, 测试连接
// with the calendars found, 立即同步 and 停止同步, what the last run did and
// the days that kept both texts. Runs go through the sync service.
#pragma once

#include "base/program_image.h"

void OnSyncMenu(image::EventArgs&);
void OnSyncWindowCreated(image::EventArgs&);
void OnSyncWindowClose(image::EventArgs&);
void OnSyncNowButton(image::EventArgs&);
void OnSyncStopButton(image::EventArgs&);
void OnSyncTestButton(image::EventArgs&);
void OnSyncCalendarChosen(image::EventArgs&);
void OnSyncConflictChosen(image::EventArgs&);
void OnSyncTimer(image::EventArgs&);
void OnSyncCloseKey(image::EventArgs&);
// The service's news: shown when the window is open; `askIfLost` asks the
// emptied-calendar question (after a run the user started).
void RefreshSyncWindow(bool askIfLost);
// 每次询问密码: the window shown, the password box in focus.
void AskForSyncPassword();
// At the end of the program: a connection test under way is stopped first,
// and after the sync's end waited for briefly (then left to end by itself).
void StopSyncTest();
void EndSyncWindow();
