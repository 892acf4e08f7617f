#include "net/time_correction.h"

#include <algorithm>
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
constexpr const char* kNotSet = "无法设置系统时间：";
constexpr const char* kPageTime = "\r\n网页时间为:";

// 9999-12-31 23:59:59 UTC, the last instant a date-time can hold.
constexpr std::int64_t kMaxSeconds = 253402300799;
// 2000-01-01 00:00:00 UTC: a time page saying earlier is broken, and a clock
// set back there would break certificates, builds and file times.
constexpr std::int64_t kMinSeconds = 946684800;
// The time page is a few hundred bytes; a page that is not stops here.
constexpr size_t kMaxPageBytes = 64 * 1024;
// Waits a user sitting in front of the menu command will bear.
constexpr long kPageDeadlineMs = 30000;

std::string g_timePageUrl = TimePageUrl;

// Digits only: a sign, blanks, a fraction or an exponent mean the page is
// not what we expect, and then the clock must not move.
std::optional<std::int64_t> PageSeconds(std::string_view digits) {
  if (digits.empty() || digits.size() > 15) return std::nullopt;
  std::int64_t ms = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    ms = ms * 10 + (c - '0');
  }
  const std::int64_t seconds = ms / 1000;
  if (seconds < kMinSeconds || seconds > kMaxSeconds) return std::nullopt;
  return seconds;
}

// The instant as local wall-clock time of the computer's time zone.
double LocalDateTime(std::int64_t unixSeconds) {
  tzset();  // follow a time zone changed while running
  const time_t t = static_cast<time_t>(unixSeconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return UnixSecondsToDays(unixSeconds);
  return MakeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
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

std::optional<std::int64_t> FetchWebTime() {
  HttpLimits limits = CurrentHttpLimits();
  limits.maxBodyBytes = std::min(limits.maxBodyBytes, kMaxPageBytes);
  limits.totalTimeoutMs = std::min(limits.totalTimeoutMs, kPageDeadlineMs);
  const std::string body = FetchPage(g_timePageUrl, limits);
  // The page is read as text: it ends at its first NUL byte.
  const std::string_view page(body.c_str());
  return PageSeconds(TextBetween(page, kStartMarker, kEndMarker));
}

void CorrectSystemTime() {
  const std::optional<std::int64_t> seconds = FetchWebTime();
  // Quit while the page was loading: the clock is not touched after that.
  if (Rt().Ending()) return;
  if (!seconds) {
    Rt().MessageBox(kNoTime, rt::MB_ICONWARNING, std::nullopt);
    return;
  }
  std::string reason;
  const bool set = Rt().SetSystemClock(*seconds, &reason);
  // The calendar follows the clock as it now stands, set or not.
  RefreshToday();
  const std::string when = DateTimeToText(LocalDateTime(*seconds));
  if (!set) {
    Rt().MessageBox(kNotSet + reason + kPageTime + when, rt::MB_ICONWARNING, std::nullopt);
    return;
  }
  Rt().MessageBox(kSetPrefix + when + kSetSuffix, rt::MB_ICONINFORMATION, std::nullopt);
}

void OnCorrectTimeMenu(image::EventArgs&) { CorrectSystemTime(); }

void SetTimePageUrlForTesting(std::string url) { g_timePageUrl = std::move(url); }
