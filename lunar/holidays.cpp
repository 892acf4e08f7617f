#include "lunar/holidays.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>

namespace lunar {
namespace {

constexpr std::string_view kOff = "休";
constexpr std::string_view kWork = "班";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr int kLongestRange = 31;  // no notice gives a longer break
// A year's file is a few hundred bytes; anything near this is not one, and
// reading it whole would cost the window thread for nothing.
constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;
// A file of bad lines is told by its first few and a count, not line by line.
constexpr size_t kMaxProblemsListed = 5;

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsSpace(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsSpace(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Splits off the first whitespace-separated token.
std::string_view NextToken(std::string_view& rest) {
  size_t end = 0;
  while (end < rest.size() && !IsSpace(rest[end])) ++end;
  const std::string_view token = rest.substr(0, end);
  rest = Trim(rest.substr(end));
  return token;
}

bool LooksLikeDate(std::string_view s) {
  return s.size() == 10 && s[4] == '-' && s[7] == '-' &&
         std::isdigit(static_cast<unsigned char>(s[0]));
}

std::optional<CivilDate> ParseDate(std::string_view s) {
  if (!LooksLikeDate(s)) return std::nullopt;
  int fields[3] = {0, 0, 0};
  const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int i = 0; i < 3; ++i) {
    for (char c : s.substr(starts[i], lengths[i])) {
      if (c < '0' || c > '9') return std::nullopt;
      fields[i] = fields[i] * 10 + (c - '0');
    }
  }
  const CivilDate date{fields[0], fields[1], fields[2]};
  if (!IsValid(date)) return std::nullopt;
  return date;
}

std::string NotADate(std::string_view text) {
  return "“" + std::string(text) + "”不是日期（应为 YYYY-MM-DD）";
}

std::string Text(CivilDate d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

// Parses one non-comment line into `days`; returns the reason it is
// malformed, or an empty string.
std::string ParseLine(std::string_view line, int year, std::map<int, HolidayMark>& days) {
  std::string_view rest = line;
  const std::string_view mark = NextToken(rest);
  if (mark != kOff && mark != kWork) return "行首应为“休”或“班”，却是“" + std::string(mark) + "”";
  const std::string_view firstText = NextToken(rest);
  const auto first = ParseDate(firstText);
  if (!first) return NotADate(firstText);
  CivilDate last = *first;
  std::string_view peek = rest;
  if (LooksLikeDate(NextToken(peek))) {
    const std::string_view lastText = NextToken(rest);
    const auto parsed = ParseDate(lastText);
    if (!parsed) return NotADate(lastText);
    last = *parsed;
  }
  const std::string_view name = NextToken(rest);
  if (name.empty()) return "缺少节日名称";
  if (!rest.empty()) return "名称后多了“" + std::string(rest) + "”";
  if (last < *first) return "结束日早于开始日";
  const int from = DayNumber(*first), to = DayNumber(last);
  if (to - from >= kLongestRange) return "日期范围超过 31 天";
  for (const CivilDate d : {*first, last}) {
    if (d.year != year && !(d.year == year - 1 && d.month == 12))
      return Text(d) + " 不在 " + std::to_string(year) + " 年（及前一年 12 月）之内";
  }
  const HolidayMark value{mark == kOff ? HolidayKind::kOff : HolidayKind::kWork, std::string(name)};
  for (int day = from; day <= to; ++day) {
    if (!days.emplace(day, value).second) return Text(FromDayNumber(day)) + " 列了两次";
  }
  return {};
}

// The whole file, or false with `text` empty when it cannot be read and
// holding the reason when it is too large (however it grew meanwhile).
bool ReadSmallFile(const std::filesystem::path& path, std::string* text) {
  const std::string tooLarge = "文件大于 " + std::to_string(kMaxFileBytes / 1024) +
                               " KiB，不是休/班文件（一年的文件只有几百字节）";
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!ec && size > kMaxFileBytes) {
    *text = tooLarge;
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  text->assign(kMaxFileBytes + 1, '\0');
  in.read(text->data(), static_cast<std::streamsize>(text->size()));
  if (in.bad() || (!in && !in.eof())) {
    text->clear();
    return false;
  }
  text->resize(static_cast<size_t>(in.gcount()));
  if (text->size() > kMaxFileBytes) {
    *text = tooLarge;
    return false;
  }
  return true;
}

// "节假日/2026.txt 未采用：第 3 行……": the folder and file, as the user
// would look for them, and the first reason.
std::string RejectionText(const std::filesystem::path& path, const HolidayProblem& first) {
  const std::string name = (path.parent_path().filename() / path.filename()).string();
  const std::string where = first.line > 0 ? "第 " + std::to_string(first.line) + " 行" : "";
  return name + " 未采用：" + where + first.reason;
}

}  // namespace

HolidaySchedule ParseHolidays(std::string_view text, int year) {
  HolidaySchedule schedule;
  size_t unlisted = 0;
  if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  for (int number = 1; !text.empty(); ++number) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.starts_with(kHolidaySourcePrefix) && schedule.source.empty()) {
      schedule.source = Trim(line.substr(kHolidaySourcePrefix.size()));
    }
    if (line.empty() || line.front() == '#') continue;
    std::string reason = ParseLine(line, year, schedule.days);
    if (reason.empty()) continue;
    if (schedule.problems.size() < kMaxProblemsListed) {
      schedule.problems.push_back({{}, number, std::move(reason)});
    } else {
      ++unlisted;
    }
  }
  if (unlisted > 0) {
    schedule.problems.push_back({{}, 0, "另有 " + std::to_string(unlisted) + " 行有误"});
  }
  if (!schedule.ok()) schedule.days.clear();
  return schedule;
}

HolidayCalendar::HolidayCalendar(std::vector<std::filesystem::path> dirs,
                                 std::span<const ShippedHolidayFile> shipped)
    : dirs_(std::move(dirs)), shipped_(shipped) {}

const HolidayCalendar::Year& HolidayCalendar::Load(int year) {
  if (auto it = years_.find(year); it != years_.end()) return it->second;
  Year& result = years_[year];
  for (const auto& dir : dirs_) {
    const auto path = dir / (std::to_string(year) + ".txt");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) continue;
    std::string text;
    HolidaySchedule schedule;
    if (ReadSmallFile(path, &text)) {
      schedule = ParseHolidays(text, year);
    } else {
      schedule.problems.push_back({{}, 0, text.empty() ? "无法读取" : text});
    }
    if (!schedule.ok()) {
      // The first rejected file is the one the user meant to be used.
      if (result.rejected.empty()) result.rejected = RejectionText(path, schedule.problems[0]);
      for (auto& p : schedule.problems) problems_.push_back({path.string(), p.line, p.reason});
      continue;
    }
    result.hasData = true;
    result.source = path;
    result.note = std::move(schedule.source);
    result.days = std::move(schedule.days);
    return result;
  }
  for (const ShippedHolidayFile& file : shipped_) {
    if (file.year != year) continue;
    HolidaySchedule schedule = ParseHolidays(file.text, year);
    // The tests parse every shipped file; a bad one is still never shown.
    if (!schedule.ok()) break;
    result.hasData = true;
    result.days = std::move(schedule.days);
    break;
  }
  return result;
}

const HolidayMark* HolidayCalendar::Find(CivilDate date) {
  const int number = DayNumber(date);
  for (int year : {date.year, date.year + 1}) {
    if (year != date.year && date.month != 12) break;
    const Year& y = Load(year);
    if (auto it = y.days.find(number); it != y.days.end()) return &it->second;
  }
  return nullptr;
}

bool HolidayCalendar::HasData(int year) { return Load(year).hasData; }

std::filesystem::path HolidayCalendar::SourceOf(int year) { return Load(year).source; }

std::string HolidayCalendar::SourceNote(int year) { return Load(year).note; }

std::string HolidayCalendar::RejectedFile(int year) { return Load(year).rejected; }

void HolidayCalendar::Reload() {
  years_.clear();
  problems_.clear();
}

}  // namespace lunar
