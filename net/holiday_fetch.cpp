#include "net/holiday_fetch.h"

#include <algorithm>
#include <cstdio>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar.h"
#include "memo/holiday_schedule.h"
#include "memo/memo_store.h"
#include "net/http.h"
#include "net/url.h"
#include "settings/settings.h"

namespace {

constexpr const char* kYearField = "{year}";
// A year's file is a few kilobytes.
constexpr size_t kMaxBodyBytes = 64 * 1024;
constexpr long kDeadlineMs = 30000;
// After the start has settled; again this often while a window is busy.
constexpr int kOfferDelayMs = 1500;
constexpr int kBusyRetryMs = 10000;

bool g_windowsShown = false;
bool g_storeChecked = false;

void ArmWhenReady() {
  if (g_windowsShown && g_storeChecked)
    Rt().SetTimerInterval(kMainWindow, ctl::kHolidayOfferTimer, kOfferDelayMs);
}

std::string YearsText(const std::vector<int>& years) {
  std::string text;
  for (size_t i = 0; i < years.size(); ++i) {
    if (i > 0) text += "和";
    text += std::to_string(years[i]) + "年";
  }
  return text;
}

std::string IsoDate(double day) {
  const DateParts p = SplitDateTime(day);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

// One year's download, stored; the line the closing message says for it.
bool Download(int year, std::string* said) {
  const std::string url = HolidaySourceUrl(year);
  HttpLimits limits = CurrentHttpLimits();
  limits.maxBodyBytes = std::min(limits.maxBodyBytes, kMaxBodyBytes);
  limits.totalTimeoutMs = std::min(limits.totalTimeoutMs, kDeadlineMs);
  FetchFailure failure = FetchFailure::kNone;
  int status = 0;
  const std::string body = FetchSecurePage(url, limits, &failure, &status);
  const std::string head = std::to_string(year) + "年：";
  std::string reason;
  if (failure == FetchFailure::kNotHttps) {
    reason = "来源不是 https 安全连接（或跳转到了别处），没有采用";
  } else if (failure == FetchFailure::kUntrusted) {
    reason = "来源网站的证书没有通过验证，可能有人冒充它，没有采用";
  } else if (status == 404) {
    reason = "来源还没有这一年的安排，可能尚未公布";
  } else if (failure != FetchFailure::kNone || status != 200) {
    reason = "无法从来源读取（" + UrlHost(url) + "）";
  }
  std::string text;
  if (reason.empty() &&
      ScheduleFileFromJson(body, year, url, IsoDate(Rt().Now()), &text, &reason) &&
      StoreDownloadedSchedule(DataDirectory(), year, text, &reason)) {
    *said = head + "已保存到“" + DownloadedScheduleFile(DataDirectory(), year) + "”";
    return true;
  }
  std::fprintf(stderr, "tamsivo: %s: %s\n", url.c_str(), reason.c_str());
  *said = head + "没有下载。" + reason;
  return false;
}

}  // namespace

std::string HolidaySourceUrl(int year) {
  std::string url = ReadSetting(item::kHolidaySource);
  if (url.find_first_not_of(" \t") == std::string::npos) url = kDefaultHolidaySource;
  for (size_t at; (at = url.find(kYearField)) != std::string::npos;)
    url.replace(at, std::string_view(kYearField).size(), std::to_string(year));
  return url;
}

void HolidayOfferWindowsShown() {
  g_windowsShown = true;
  ArmWhenReady();
}

void OnHolidayOfferStoreChecked(image::EventArgs&) {
  // A store that failed its check has its own questions to ask.
  if (!MemoStoreChecked()) return;
  g_storeChecked = true;
  ArmWhenReady();
}

void OnHolidayOfferTimer(image::EventArgs&) {
  // Not over the memo editor or a search in progress: later.
  if (Rt().IsLoaded(kMemoEditWindow) || Rt().IsLoaded(kSearchWindow)) {
    Rt().SetTimerInterval(kMainWindow, ctl::kHolidayOfferTimer, kBusyRetryMs);
    return;
  }
  Rt().SetTimerInterval(kMainWindow, ctl::kHolidayOfferTimer, 0);
  OfferHolidaySchedules();
}

void OfferHolidaySchedules() {
  if (ReadFlagSetting(item::kHolidayNeverAsk)) return;
  const DateParts today = SplitDateTime(Rt().Now());
  // Each year's schedule is offered once: a year up to the last one offered
  // is not asked about again.
  const int offered = ReadIntSetting(item::kHolidayOfferedYear);
  std::vector<int> years =
      ScheduleYearsMissing(today.year, today.month, ProgramHolidays(), DataDirectory());
  std::erase_if(years, [offered](int y) { return y <= offered; });
  if (years.empty()) return;
  const std::string host = UrlHost(HolidaySourceUrl(years.front()));
  if (!HolidaySourceUrl(years.front()).starts_with("https://") || host.empty()) {
    std::fprintf(stderr, "tamsivo: 节假日/下载地址不是 https 地址，没有询问下载放假安排\n");
    return;
  }
  // Asked once, whatever the answer (or a quit meanwhile).
  (void)WriteSetting(item::kHolidayOfferedYear, std::to_string(years.back()));
  const std::string question =
      "日历还没有" + YearsText(years) +
      "的放假安排（休/班），国务院办公厅通常在上一年年底公布。\r\n\r\n要从 " + host +
      " 下载吗？只读取这份安排，不发送你的任何资料。";
  const int answer =
      Rt().MessageBox(question, rt::MB_YESNONEVER | rt::MB_ICONQUESTION, std::string("Tamsivo"));
  if (answer == rt::IDNEVER) {
    (void)WriteFlagSetting(item::kHolidayNeverAsk, true);
    return;
  }
  if (answer != rt::IDYES) return;
  std::string said;
  bool allStored = true;
  for (const int year : years) {
    std::string line;
    allStored = Download(year, &line) && allStored;
    // Quit while it was loading: nothing more is asked or said.
    if (Rt().Ending()) return;
    said += (said.empty() ? "" : "\r\n") + line;
  }
  ProgramHolidays().Reload();
  MarkMemoDays();
  Rt().MessageBox("下载放假安排：\r\n\r\n" + said,
                  allStored ? rt::MB_ICONINFORMATION : rt::MB_ICONWARNING, std::string("Tamsivo"));
}
