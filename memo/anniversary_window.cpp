#include "memo/anniversary_window.h"

#include <charconv>
#include <optional>
#include <string>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/anniversaries.h"
#include "memo/calendar.h"
#include "memo/reminders.h"
#include "memo/today_memo.h"
#include "settings/settings.h"
#include "util/text.h"

namespace {

using namespace ctl;
constexpr const char* kWindow = kAnniversaryWindow;
constexpr const char* kHint = "选中一项可修改或删除；农历的起始年份按农历年填写。";
constexpr int kDefaultRemindMinute = 9 * 60;

std::string Field(const char* control) {
  return std::string(text::Trim(Rt().Caption(kWindow, control)));
}

void SetField(const char* control, const std::string& value) {
  Rt().SetCaption(kWindow, value, control);
}

// A whole number in ASCII or full-width digits; nullopt for anything else.
std::optional<int> Number(std::string s) {
  std::string ascii;
  for (std::size_t i = 0; i < s.size(); ++i) {
    // Full-width digits are EF BC 90 ... EF BC 99.
    if (i + 2 < s.size() && static_cast<unsigned char>(s[i]) == 0xEF &&
        static_cast<unsigned char>(s[i + 1]) == 0xBC) {
      const auto c = static_cast<unsigned char>(s[i + 2]);
      if (c >= 0x90 && c <= 0x99) {
        ascii += static_cast<char>('0' + (c - 0x90));
        i += 2;
        continue;
      }
    }
    ascii += s[i];
  }
  if (ascii.empty() || ascii.size() > 6) return std::nullopt;
  int value = 0;
  const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ec != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
  return value;
}

void Warn(const std::string& text) {
  Rt().MessageBox(text, rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"),
                  Rt().NativeHandle(kWindow));
}

// The fields as an anniversary; nullopt after telling what is wrong.
std::optional<lunar::Anniversary> ReadFields() {
  lunar::Anniversary a;
  a.name = Field(kAnnName);
  a.lunar = Rt().IsChecked(kWindow, kAnnLunar);
  const std::optional<int> month = Number(Field(kAnnMonth));
  const std::optional<int> day = Number(Field(kAnnDay));
  if (!month || !day) {
    Warn("请用数字填写月和日，例如 8 月 15 日。");
    return std::nullopt;
  }
  a.month = *month;
  a.day = *day;
  a.leap = Rt().IsChecked(kWindow, kAnnLeap);
  a.bothMonths = Rt().IsChecked(kWindow, kAnnBothMonths);
  if (const std::string year = Field(kAnnStartYear); !year.empty()) {
    const std::optional<int> y = Number(year);
    if (!y) {
      Warn("起始年份请填四位数字，例如 1966；不需要可以不填。");
      return std::nullopt;
    }
    a.startYear = *y;
  }
  if (Rt().IsChecked(kWindow, kAnnRemind)) {
    const std::string days = Field(kAnnRemindDays);
    const std::optional<int> d = days.empty() ? std::optional<int>(0) : Number(days);
    if (!d) {
      Warn("提前提醒的天数请填 0 到 30 的数字（0 表示当天提醒）。");
      return std::nullopt;
    }
    a.remindDays = *d;
    const std::string time = Field(kAnnRemindTime);
    const std::optional<int> minute =
        time.empty() ? std::optional<int>(kDefaultRemindMinute) : lunar::ParseClock(time);
    if (!minute) {
      Warn("提醒时间请写成 时:分，例如 08:30。");
      return std::nullopt;
    }
    a.remindMinute = *minute;
  }
  std::string error;
  if (!lunar::CheckAnniversary(a, &error)) {
    Warn(error);
    return std::nullopt;
  }
  return a;
}

void ShowFields(const lunar::Anniversary& a) {
  SetField(kAnnName, a.name);
  Rt().SetChecked(kWindow, kAnnSolar, !a.lunar);
  Rt().SetChecked(kWindow, kAnnLunar, a.lunar);
  SetField(kAnnMonth, std::to_string(a.month));
  SetField(kAnnDay, std::to_string(a.day));
  Rt().SetChecked(kWindow, kAnnLeap, a.leap);
  Rt().SetChecked(kWindow, kAnnBothMonths, a.bothMonths);
  SetField(kAnnStartYear, a.startYear == lunar::kNoStartYear ? "" : std::to_string(a.startYear));
  const bool remind = a.remindDays != lunar::kNoReminder;
  Rt().SetChecked(kWindow, kAnnRemind, remind);
  SetField(kAnnRemindDays, remind ? std::to_string(a.remindDays) : "0");
  SetField(kAnnRemindTime, lunar::ClockText(remind ? a.remindMinute : kDefaultRemindMinute));
}

std::string ListLine(const lunar::Anniversary& a) {
  std::string line = a.name + " · " + lunar::DateText(a);
  if (a.leap && a.bothMonths) line += "（平闰都过）";
  if (!a.leap && a.bothMonths) line += "（闰月也过）";
  const lunar::CivilDate today = CivilOf(TodayDate);
  if (const auto next = lunar::NextOccurrence(a, today)) {
    line += " · 下次 " + std::to_string(next->date.year) + "年" + std::to_string(next->date.month) +
            "月" + std::to_string(next->date.day) + "日";
    const int ahead = static_cast<int>(DayOf(next->date) - DayOf(today));
    line += ahead == 0 ? "（今天）" : "（" + std::to_string(ahead) + " 天后）";
    if (next->ordinal > 0) line += "，第 " + std::to_string(next->ordinal) + " 个";
  } else {
    line += " · 农历日期只能推算到 2100 年";
  }
  if (a.remindDays != lunar::kNoReminder) {
    line += a.remindDays == 0 ? " · 当天 " : " · 提前 " + std::to_string(a.remindDays) + " 天 ";
    line += lunar::ClockText(a.remindMinute) + " 提醒";
  }
  return line;
}

void ShowList(int current) {
  std::vector<rt::ListItem> items;
  for (const StoredAnniversary& s : Anniversaries()) items.push_back({ListLine(s.a)});
  Rt().SetListItems(kWindow, kAnnList, items);
  Rt().SetListCurrentIndex(kWindow, kAnnList, current);
  std::string status = kHint;
  if (!AnniversariesLoaded()) status = "备忘录数据库还没有准备好，纪念日暂时不能修改。";
  Rt().SetCaption(kWindow, status, kAnnStatus);
}

int IndexOf(std::int64_t id) {
  const auto& all = Anniversaries();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i].id == id) return static_cast<int>(i);
  return -1;
}

// What depends on the list: the calendar's marks, the today box, reminders.
void Changed(int current) {
  ShowList(current);
  MarkMemoDays();
  RefreshTodayMemo();
  CheckReminders();
}

void Save(std::int64_t id) {
  const std::optional<lunar::Anniversary> a = ReadFields();
  if (!a) return;
  StoredAnniversary s{id, *a};
  std::string error;
  if (!SaveAnniversary(&s, Rt().Now(), &error)) {
    Warn("纪念日没有保存：" + error);
    return;
  }
  Changed(IndexOf(s.id));
}

const StoredAnniversary* Current() {
  const int i = Rt().ListCurrentIndex(kWindow, kAnnList);
  const auto& all = Anniversaries();
  return i >= 0 && i < static_cast<int>(all.size()) ? &all[i] : nullptr;
}

void ShowMemoReminder() {
  const std::optional<int> at = lunar::ParseClock(ReadSetting(item::kMemoReminder));
  Rt().SetChecked(kWindow, kMemoReminder, at.has_value());
  SetField(kMemoReminderTime, lunar::ClockText(at.value_or(21 * 60)));
}

}  // namespace

void OnAnniversaryMenu(image::EventArgs&) {
  if (Rt().IsLoaded(kWindow)) {
    Rt().SetVisible(kWindow, true);
    Rt().BringToFront(kWindow);
  } else {
    Rt().LoadWindow(kWindow, kMainWindow, false);
  }
  Rt().FocusControl(kWindow, kAnnName);
}

void OnAnniversaryWindowCreated(image::EventArgs&) {
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  Rt().Move(kWindow, main.left + 24, main.top + 24);
  lunar::Anniversary blank;
  const lunar::CivilDate today = CivilOf(TodayDate);
  blank.month = today.month;
  blank.day = today.day;
  ShowFields(blank);
  ShowList(-1);
  ShowMemoReminder();
}

void RefreshAnniversaryWindow() {
  if (Rt().IsLoaded(kWindow)) ShowList(Rt().ListCurrentIndex(kWindow, kAnnList));
}

void OnAnniversarySelected(image::EventArgs&) {
  if (const StoredAnniversary* s = Current()) ShowFields(s->a);
}

void OnAnniversaryAdd(image::EventArgs&) { Save(0); }

void OnAnniversaryEdit(image::EventArgs&) {
  const StoredAnniversary* s = Current();
  if (!s) {
    Warn("请先在列表中选中要修改的纪念日。");
    return;
  }
  Save(s->id);
}

void OnAnniversaryDelete(image::EventArgs&) {
  const StoredAnniversary* s = Current();
  if (!s) {
    Warn("请先在列表中选中要删除的纪念日。");
    return;
  }
  if (Rt().MessageBox("删除纪念日“" + s->a.name + "”吗？", rt::MB_YESNO | rt::MB_ICONQUESTION,
                      std::string("Tamsivo"), Rt().NativeHandle(kWindow)) != rt::IDYES) {
    return;
  }
  const int at = Rt().ListCurrentIndex(kWindow, kAnnList);
  std::string error;
  if (!RemoveAnniversary(s->id, &error)) {
    Warn("纪念日没有删除：" + error);
    return;
  }
  Changed(std::min(at, static_cast<int>(Anniversaries().size()) - 1));
}

void OnMemoReminderBox(image::EventArgs&) {
  const bool on = Rt().IsChecked(kWindow, kMemoReminder);
  const std::optional<int> at = lunar::ParseClock(Field(kMemoReminderTime));
  if (on && !at) {
    Rt().SetChecked(kWindow, kMemoReminder, false);
    Warn("提醒时间请写成 时:分，例如 21:00。");
    return;
  }
  std::string error;
  if (!WriteSetting(item::kMemoReminder, on ? lunar::ClockText(*at) : "", &error)) {
    Warn("设置没有保存：" + error);
    return;
  }
  CheckReminders();
}

void OnMemoReminderTime(image::EventArgs&) {
  // Taken while it reads as a time; the box says when it does not.
  const std::optional<int> at = lunar::ParseClock(Field(kMemoReminderTime));
  if (!Rt().IsChecked(kWindow, kMemoReminder) || !at) return;
  // A file that cannot be written is told when the box is ticked again.
  (void)WriteSetting(item::kMemoReminder, lunar::ClockText(*at));
}

void OnCloseAnniversaryWindow(image::EventArgs&) { Rt().CloseWindow(kWindow); }
