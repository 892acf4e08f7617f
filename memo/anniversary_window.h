// The window 纪念日 (menu 纪念日…): the user's recurring days listed with
// their next occurrence, added, edited and removed, and the daily reminder
// to write the day's memo.
#pragma once

#include "base/program_image.h"

void OnAnniversaryMenu(image::EventArgs&);
void OnAnniversaryWindowCreated(image::EventArgs&);
void OnAnniversarySelected(image::EventArgs&);
void OnAnniversaryAdd(image::EventArgs&);
void OnAnniversaryEdit(image::EventArgs&);
void OnAnniversaryDelete(image::EventArgs&);
void OnMemoReminderBox(image::EventArgs&);
void OnMemoReminderTime(image::EventArgs&);
void OnCloseAnniversaryWindow(image::EventArgs&);
// The list again (the store was replaced, the day changed).
void RefreshAnniversaryWindow();
