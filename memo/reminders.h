// Reminders of the user's recurring days and of writing the day's memo:
// shown as desktop notifications at their time, once each (the store keeps
// which were shown), a missed one at the next start or wake saying how late.
#pragma once

#include "base/program_image.h"

// The store passed its check: the recurring days are read and the
// reminders looked at from now on.
void StartAnniversaries();
// The store failed its check or was closed.
void StopAnniversaries();
// Shows what is due now (also after an edit, a wake, a clock change).
void CheckReminders();
void OnReminderTimer(image::EventArgs&);
// 打开 shows the day, 稍后提醒 shows it again later; other notifications
// than this run's are not ours and are left alone.
void OnNotificationAnswered(image::EventArgs&);

// How long 稍后提醒 waits.
inline constexpr int kSnoozeMinutes = 10;
// How often the time is looked at.
inline constexpr int kReminderCheckMs = 20 * 1000;
