#include "memo/reminders.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/anniversaries.h"
#include "memo/anniversary_window.h"
#include "memo/calendar.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"
#include "settings/settings.h"

namespace {

// The daily memo reminder's id in the reminder state.
constexpr std::int64_t kMemoReminderId = 0;
constexpr double kMinute = 1.0 / (24 * 60);
const std::vector<std::string> kActions = {"打开", "稍后提醒"};

struct Shown {
  std::int64_t id = 0;
  double day = 0;
  std::string title, body;
};

std::map<int, Shown> g_shown;  // by the runtime's handle
std::vector<std::pair<double, Shown>> g_snoozed;

void Show(const Shown& s) {
  const int handle = Rt().Notify(kMainWindow, s.title, s.body, kActions);
  if (handle > 0) {
    g_shown[handle] = s;
  } else {
    std::fprintf(stderr, "tamsivo: a reminder could not be shown: %s\n", s.title.c_str());
  }
}

void CheckMemoReminder(double now) {
  const std::optional<int> at = lunar::ParseClock(ReadSetting(item::kMemoReminder));
  const double today = std::floor(now);
  if (!at || now + 1e-9 < today + *at * kMinute) return;
  // A day whose memo has text is not reminded of, and then not at all.
  const bool written = FindDayMemo(today) && !ReadMemoText().empty();
  if (!ClaimReminder(kMemoReminderId, today) || written) return;
  std::string body = "今天的备忘录还是空的。";
  if (const std::string late = LatenessText(now - (today + *at * kMinute)); !late.empty())
    body += "\n（这条提醒晚了 " + late + "）";
  Show({kMemoReminderId, today, "写今天的备忘录", body});
}

}  // namespace

void StartAnniversaries() {
  // Notifications of an earlier opening are not answered any more.
  g_shown.clear();
  g_snoozed.clear();
  std::string error;
  if (!LoadAnniversaries(DataFile(kMemoStoreFileName), &error)) {
    std::fprintf(stderr, "tamsivo: anniversaries not read: %s\n", error.c_str());
  }
  MarkMemoDays();
  RefreshTodayMemo();
  RefreshAnniversaryWindow();
  Rt().SetTimerInterval(kMainWindow, ctl::kReminderTimer, kReminderCheckMs);
  CheckReminders();
}

void StopAnniversaries() {
  ForgetAnniversaries();
  g_snoozed.clear();
  Rt().SetTimerInterval(kMainWindow, ctl::kReminderTimer, 0);
  RefreshAnniversaryWindow();
}

void CheckReminders() {
  if (!AnniversariesLoaded()) return;
  const double now = Rt().Now();
  for (const DueReminder& r : DueReminders(Anniversaries(), now)) {
    if (ClaimReminder(r.id, r.occurrence)) Show({r.id, r.occurrence, r.title, r.body});
  }
  CheckMemoReminder(now);
  for (auto it = g_snoozed.begin(); it != g_snoozed.end();) {
    if (it->first <= now) {
      const Shown s = it->second;
      it = g_snoozed.erase(it);
      Show(s);
    } else {
      ++it;
    }
  }
}

void OnReminderTimer(image::EventArgs&) { CheckReminders(); }

void OnNotificationAnswered(image::EventArgs& args) {
  const auto it = g_shown.find(args.code);
  if (it == g_shown.end()) return;
  const Shown s = it->second;
  g_shown.erase(it);
  if (args.action == 1) {
    g_snoozed.emplace_back(Rt().Now() + kSnoozeMinutes * kMinute, s);
    return;
  }
  if (args.action != 0) return;
  Rt().SetVisible(kMainWindow, true);
  Rt().BringToFront(kMainWindow);
  Rt().SetCalendarValue(kMainWindow, ctl::kCalendar, s.day);
  // The memo reminder is there to write it.
  if (s.id == kMemoReminderId) OpenMemoEditor();
}
