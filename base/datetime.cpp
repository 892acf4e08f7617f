#include "base/datetime.h"

#include <cmath>
#include <ctime>

namespace {

// Howard Hinnant's days-from-civil, shifted so 1899-12-30 is day 0.
std::int64_t CivilToUnixDays(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void UnixDaysToCivil(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

constexpr std::int64_t kUnixDayOfBase = -25569;  // 1899-12-30

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Reads an unsigned decimal at `pos`; false when there is no digit.
bool ReadNumber(std::string_view s, size_t& pos, int& out) {
  size_t start = pos;
  long long v = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
    if (v < 100000000) v = v * 10 + (s[pos] - '0');
    ++pos;
  }
  if (pos == start) return false;
  out = static_cast<int>(v);
  return true;
}

bool Eat(std::string_view s, size_t& pos, std::string_view token) {
  if (s.substr(pos, token.size()) != token) return false;
  pos += token.size();
  return true;
}

}  // namespace

std::int64_t DaysFromCivil(int year, int month, int day) {
  return CivilToUnixDays(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
         kUnixDayOfBase;
}

double MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const double days = static_cast<double>(DaysFromCivil(year, month, day));
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the base day the fraction counts forward from the day, not back.
  return days >= 0 ? days + time : days - time;
}

DateParts SplitDateTime(double value) {
  DateParts p;
  if (!std::isfinite(value)) return p;
  double whole = std::trunc(value);
  // Rounded to the millisecond (to undo binary fractions), then cut to the
  // second, so 23:59:59.6 is still the old day.
  long long ms = std::llround(std::fabs(value - whole) * 86400000.0);
  if (ms >= 86400000LL) {
    ms -= 86400000LL;
    whole += value >= 0 ? 1 : -1;
  }
  const long long secs = ms / 1000;
  int y, m, d;
  UnixDaysToCivil(static_cast<std::int64_t>(whole) + kUnixDayOfBase, y, m, d);
  p.year = y;
  p.month = m;
  p.day = d;
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  return p;
}

double DatePart(double value) {
  const DateParts p = SplitDateTime(value);
  return MakeDateTime(p.year, p.month, p.day);
}

double AddSeconds(double value, std::int64_t seconds) {
  const DateParts p = SplitDateTime(value);
  const std::int64_t total = (DaysFromCivil(p.year, p.month, p.day) * 86400LL) + p.hour * 3600LL +
                             p.minute * 60LL + p.second + seconds;
  std::int64_t days = total / 86400;
  std::int64_t rest = total % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const double d = static_cast<double>(days);
  const double t = static_cast<double>(rest) / 86400.0;
  return d >= 0 ? d + t : d - t;
}

std::string DateTimeToText(double value) {
  const DateParts p = SplitDateTime(value);
  std::string s =
      std::to_string(p.year) + "年" + std::to_string(p.month) + "月" + std::to_string(p.day) + "日";
  if (p.hour || p.minute || p.second) {
    s += std::to_string(p.hour) + "时" + std::to_string(p.minute) + "分" +
         std::to_string(p.second) + "秒";
  }
  return s;
}

std::optional<double> TextToDateTime(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  size_t pos = 0;
  int y, m, d, h = 0, mi = 0, s = 0;
  if (!ReadNumber(text, pos, y)) return std::nullopt;
  if (Eat(text, pos, "年")) {
    if (!ReadNumber(text, pos, m) || !Eat(text, pos, "月")) return std::nullopt;
    if (!ReadNumber(text, pos, d) || !Eat(text, pos, "日")) return std::nullopt;
    int v;
    size_t save = pos;
    if (ReadNumber(text, pos, v) && Eat(text, pos, "时")) {
      h = v;
      save = pos;
      if (ReadNumber(text, pos, v) && Eat(text, pos, "分")) {
        mi = v;
        save = pos;
        if (ReadNumber(text, pos, v) && Eat(text, pos, "秒")) {
          s = v;
          save = pos;
        }
      }
    }
    pos = save;
  } else {
    const char sep = pos < text.size() ? text[pos] : '\0';
    if (sep != '-' && sep != '/') return std::nullopt;
    ++pos;
    if (!ReadNumber(text, pos, m) || pos >= text.size() || text[pos] != sep) return std::nullopt;
    ++pos;
    if (!ReadNumber(text, pos, d)) return std::nullopt;
    if (pos < text.size() && (text[pos] == ' ' || text[pos] == 'T')) {
      ++pos;
      if (!ReadNumber(text, pos, h) || !Eat(text, pos, ":") || !ReadNumber(text, pos, mi))
        return std::nullopt;
      if (Eat(text, pos, ":") && !ReadNumber(text, pos, s)) return std::nullopt;
    }
  }
  if (pos != text.size()) return std::nullopt;
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return std::nullopt;
  if (h > 23 || mi > 59 || s > 59) return std::nullopt;
  return MakeDateTime(y, m, d, h, mi, s);
}

double UnixSecondsToDays(std::int64_t seconds) {
  return AddSeconds(MakeDateTime(1970, 1, 1), seconds);
}

double LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!localtime_r(&now, &local)) return UnixSecondsToDays(now);
  return MakeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec);
}
