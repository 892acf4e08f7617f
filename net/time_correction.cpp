#include "net/time_correction.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar.h"
#include "net/http.h"

namespace {

constexpr const char* kStartMarker = "window.baidu_time(";
constexpr const char* kEndMarker = ")";
constexpr const char* kSetPrefix = "当前矫正时间为:";
constexpr const char* kSetSuffix = "\r\n\r\n若矫正时间差别过大，再次尝试矫正便可！";
constexpr const char* kNoTime = "矫正系统时间失败：未能从时间网页读取时间，系统时间没有改动。";
constexpr const char* kNotHttps =
    "矫正系统时间失败：时间网页不是经 https 安全连接读到的，系统时间没有改动。";
constexpr const char* kUntrusted =
    "矫正系统时间失败：时间网页的证书没有通过验证，可能有人冒充它，系统时间没有改动。";
constexpr const char* kOutOfRange =
    "矫正系统时间失败：时间网页给出的时间不在2000年到2100年之间，不可信，系统时间没有改动。";
constexpr const char* kNotSet = "无法设置系统时间：";
constexpr const char* kPageTime = "\r\n网页时间为:";
constexpr const char* kAskPrefix = "网页时间与电脑时间相差超过24小时。\r\n\r\n电脑时间为:";
constexpr const char* kAskSuffix = "\r\n\r\n要把系统时间改为网页时间吗？";

// 2100-12-31 23:59:59 UTC, the calendar's last day: a page saying later is
// broken or forged (a page of 9999-12-31 has been seen).
constexpr std::int64_t kMaxSeconds = 4133980799;
// 2000-01-01 00:00:00 UTC: a time page saying earlier is broken, and a clock
// set back there would break certificates, builds and file times.
constexpr std::int64_t kMinSeconds = 946684800;
// A correction larger than this is shown and asked about first.
constexpr long long kAskBeyondSeconds = 24 * 3600;
// The time page is a few hundred bytes; a page that is not stops here.
constexpr size_t kMaxPageBytes = 64 * 1024;
// Waits a user sitting in front of the menu command will bear.
constexpr long kPageDeadlineMs = 30000;

std::string g_timePageUrl = TimePageUrl;

// Digits only: a sign, blanks, a fraction or an exponent mean the page is
// not what we expect, and then the clock must not move.
WebTime PageSeconds(std::string_view digits) {
  WebTime result;
  if (digits.empty() || digits.size() > 15) return result;
  std::int64_t ms = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return result;
    ms = ms * 10 + (c - '0');
  }
  result.seconds = ms / 1000;
  const bool sane = result.seconds >= kMinSeconds && result.seconds <= kMaxSeconds;
  result.outcome = sane ? WebTime::Outcome::kTime : WebTime::Outcome::kOutOfRange;
  return result;
}

// The instant as local wall-clock time of the computer's time zone; nullopt
// past what a date-time can hold.
std::optional<double> LocalDateTime(std::int64_t unixSeconds) {
  tzset();  // follow a time zone changed while running
  const time_t t = static_cast<time_t>(unixSeconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return std::nullopt;
  const int year = local.tm_year + 1900;
  if (year < 100 || year > 9999) return std::nullopt;
  return MakeDateTime(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                      local.tm_sec);
}

std::string PageTimeText(std::int64_t unixSeconds) {
  const std::optional<double> local = LocalDateTime(unixSeconds);
  return local ? DateTimeToText(*local) : std::string();
}

// A jump of more than a day is more often a forged or broken page than a
// clock that far off: the user sees both times and decides.
bool ConfirmLargeCorrection(double pageTime) {
  const double now = Rt().Now();
  if (std::llround(std::fabs(pageTime - now) * 86400) <= kAskBeyondSeconds) return true;
  const std::string question =
      kAskPrefix + DateTimeToText(now) + kPageTime + DateTimeToText(pageTime) + kAskSuffix;
  return Rt().MessageBox(question, rt::MB_YESNO | rt::MB_ICONQUESTION, std::nullopt) == rt::IDYES;
}

}  // namespace

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end) {
  const size_t at = text.find(start);
  if (at == std::string_view::npos) return {};
  const std::string_view rest = text.substr(at + start.size());
  const size_t stop = rest.find(end);
  if (stop == std::string_view::npos) return {};
  return std::string(rest.substr(0, stop));
}

WebTime FetchWebTime() {
  HttpLimits limits = CurrentHttpLimits();
  limits.maxBodyBytes = std::min(limits.maxBodyBytes, kMaxPageBytes);
  limits.totalTimeoutMs = std::min(limits.totalTimeoutMs, kPageDeadlineMs);
  FetchFailure failure = FetchFailure::kNone;
  const std::string body = FetchSecurePage(g_timePageUrl, limits, &failure);
  WebTime none;
  if (failure == FetchFailure::kNotHttps) none.outcome = WebTime::Outcome::kNotHttps;
  if (failure == FetchFailure::kUntrusted) none.outcome = WebTime::Outcome::kUntrusted;
  if (failure != FetchFailure::kNone) return none;
  // The page is read as text: it ends at its first NUL byte.
  const std::string_view page(body.c_str());
  return PageSeconds(TextBetween(page, kStartMarker, kEndMarker));
}

void CorrectSystemTime() {
  const WebTime page = FetchWebTime();
  // Quit while the page was loading: the clock is not touched after that.
  if (Rt().Ending()) return;
  const std::string when = PageTimeText(page.seconds);
  switch (page.outcome) {
    case WebTime::Outcome::kTime:
      break;
    case WebTime::Outcome::kOutOfRange:
      Rt().MessageBox(kOutOfRange + (when.empty() ? "" : kPageTime + when), rt::MB_ICONWARNING,
                      std::nullopt);
      return;
    case WebTime::Outcome::kNotHttps:
      Rt().MessageBox(kNotHttps, rt::MB_ICONWARNING, std::nullopt);
      return;
    case WebTime::Outcome::kUntrusted:
      Rt().MessageBox(kUntrusted, rt::MB_ICONWARNING, std::nullopt);
      return;
    case WebTime::Outcome::kNoTime:
      Rt().MessageBox(kNoTime, rt::MB_ICONWARNING, std::nullopt);
      return;
  }
  const std::optional<double> local = LocalDateTime(page.seconds);
  if (!local || !ConfirmLargeCorrection(*local) || Rt().Ending()) return;
  std::string reason;
  const bool set = Rt().SetSystemClock(page.seconds, &reason);
  // The calendar follows the clock as it now stands, set or not.
  RefreshToday();
  if (!set) {
    Rt().MessageBox(kNotSet + reason + kPageTime + when, rt::MB_ICONWARNING, std::nullopt);
    return;
  }
  Rt().MessageBox(kSetPrefix + when + kSetSuffix, rt::MB_ICONINFORMATION, std::nullopt);
}

void OnCorrectTimeMenu(image::EventArgs&) { CorrectSystemTime(); }

void SetTimePageUrlForTesting(std::string url) { g_timePageUrl = std::move(url); }
