#include "memo/holiday_schedule.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "util/file_io.h"

namespace {

using Json = nlohmann::json;

// A year's notice gives some 30 to 40 days; a body far from that is not a
// schedule (a 2020-style extension added a handful).
constexpr size_t kFewestDays = 5;
constexpr size_t kMostDays = 80;
// The State Council's seven holidays; a break of two at once is named by
// both ("中秋节、国庆节").
constexpr std::array<std::string_view, 7> kKnownNames = {"元旦",   "春节",   "清明节", "劳动节",
                                                         "端午节", "中秋节", "国庆节"};
constexpr std::string_view kJoiner = "、";
constexpr size_t kLongestNote = 300;

bool KnownName(std::string_view name) {
  if (name.empty()) return false;
  while (true) {
    const size_t at = name.find(kJoiner);
    const std::string_view part = name.substr(0, at);
    bool known = false;
    for (std::string_view k : kKnownNames) known = known || part == k;
    if (!known) return false;
    if (at == std::string_view::npos) return true;
    name.remove_prefix(at + kJoiner.size());
  }
}

std::optional<lunar::CivilDate> DateOf(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int fields[3] = {0, 0, 0};
  const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
  for (int i = 0; i < 3; ++i) {
    for (char c : text.substr(starts[i], lengths[i])) {
      if (c < '0' || c > '9') return std::nullopt;
      fields[i] = fields[i] * 10 + (c - '0');
    }
  }
  const lunar::CivilDate date{fields[0], fields[1], fields[2]};
  if (!lunar::IsValid(date)) return std::nullopt;
  return date;
}

// 0 Sunday ... 6 Saturday; day 0 (1970-01-01) was a Thursday.
int Weekday(int dayNumber) { return ((dayNumber % 7) + 7 + 4) % 7; }

std::string DateText(int dayNumber) {
  const lunar::CivilDate d = lunar::FromDayNumber(dayNumber);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

// A note goes into one comment line: no line breaks or control bytes.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, kLongestNote)) {
    out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  }
  return out;
}

struct Day {
  lunar::HolidayKind kind;
  std::string name;
};

}  // namespace

bool ScheduleFileFromJson(std::string_view body, int year, std::string_view sourceUrl,
                          std::string_view fetchedOn, std::string* fileText, std::string* error) {
  const Json root = Json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) {
    *error = "下载的内容不是放假安排（不是 JSON 对象）";
    return false;
  }
  if (const auto it = root.find("year"); it != root.end()) {
    if (!it->is_number_integer() || it->get<long long>() != year) {
      *error = "下载的内容不是" + std::to_string(year) + "年的放假安排";
      return false;
    }
  }
  const auto days = root.find("days");
  if (days == root.end() || !days->is_array()) {
    *error = "下载的内容里没有放假日期";
    return false;
  }
  if (days->size() < kFewestDays || days->size() > kMostDays) {
    *error = "下载的放假安排有 " + std::to_string(days->size()) + " 天，不像一年的安排";
    return false;
  }
  std::map<int, Day> byDay;
  for (const Json& entry : *days) {
    const auto name = entry.find("name"), date = entry.find("date"), off = entry.find("isOffDay");
    if (!entry.is_object() || name == entry.end() || date == entry.end() || off == entry.end() ||
        !name->is_string() || !date->is_string() || !off->is_boolean()) {
      *error = "下载的放假安排有一项缺少名称、日期或休/班";
      return false;
    }
    const std::string dateText = date->get<std::string>();
    const auto d = DateOf(dateText);
    if (!d) {
      *error = "下载的放假安排里“" + OneLine(dateText) + "”不是日期";
      return false;
    }
    if (d->year != year && !(d->year == year - 1 && d->month == 12)) {
      *error = "下载的放假安排里 " + dateText + " 不在 " + std::to_string(year) + " 年之内";
      return false;
    }
    const std::string holiday = name->get<std::string>();
    if (!KnownName(holiday)) {
      *error = "下载的放假安排里“" + OneLine(holiday) + "”不是法定节假日的名称";
      return false;
    }
    const int number = lunar::DayNumber(*d);
    const bool isOff = off->get<bool>();
    const int weekday = Weekday(number);
    if (!isOff && weekday != 0 && weekday != 6) {
      *error = "下载的放假安排把 " + dateText + " 列为调休上班日，可那天本来就是工作日";
      return false;
    }
    const Day value{isOff ? lunar::HolidayKind::kOff : lunar::HolidayKind::kWork, holiday};
    if (!byDay.emplace(number, value).second) {
      *error = "下载的放假安排把 " + dateText + " 列了两次";
      return false;
    }
  }

  std::string text = std::string(lunar::kHolidaySourcePrefix) + OneLine(sourceUrl) + "，" +
                     OneLine(fetchedOn) + " 下载\n";
  if (const auto papers = root.find("papers"); papers != root.end() && papers->is_array()) {
    for (const Json& paper : *papers) {
      if (paper.is_string()) text += "# 通知：" + OneLine(paper.get<std::string>()) + "\n";
    }
  }
  text += "# 格式：休 开始日期 [结束日期] 名称 / 班 日期 名称（日期含首尾）。\n\n";
  // Runs of days in a row with the same mark and name make one line.
  for (auto it = byDay.begin(); it != byDay.end();) {
    auto last = it;
    for (auto next = std::next(it);
         next != byDay.end() && next->first == last->first + 1 &&
         next->second.kind == it->second.kind && next->second.name == it->second.name;
         ++next) {
      last = next;
    }
    text += it->second.kind == lunar::HolidayKind::kOff ? "休 " : "班 ";
    text += DateText(it->first);
    if (last != it) text += " " + DateText(last->first);
    text += " " + it->second.name + "\n";
    it = std::next(last);
  }
  // What is written must read back as the same days, or it is not written.
  const lunar::HolidaySchedule check = lunar::ParseHolidays(text, year);
  if (!check.ok() || check.days.size() != byDay.size()) {
    *error = "下载的放假安排无法写成休/班文件" +
             (check.ok() ? std::string() : "：" + check.problems.front().reason);
    return false;
  }
  *fileText = std::move(text);
  return true;
}

std::string DownloadedScheduleFile(const std::string& dataDirectory, int year) {
  return dataDirectory + "/节假日/" + std::to_string(year) + ".txt";
}

bool StoreDownloadedSchedule(const std::string& dataDirectory, int year,
                             const std::string& fileText, std::string* error) {
  if (!fileio::MakeDirectories(dataDirectory + "/节假日", 0700, error)) return false;
  // A file there is the user's whatever it holds, an empty one too (which
  // the policy alone would fill); the rename never replaces one that
  // appears meanwhile.
  const std::string path = DownloadedScheduleFile(dataDirectory, year);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    *error = "“" + path + "”已存在，没有改动它";
    return false;
  }
  fileio::ReplacePolicy policy;
  policy.newFileMode = fileio::NewFileMode::kOwnerOnly;
  policy.onlyIfAbsentOrEmpty = true;
  return fileio::ReplaceFileAtomically(path, fileText, policy, error);
}

std::vector<int> ScheduleYearsMissing(int year, int month, lunar::HolidayCalendar& holidays,
                                      const std::string& dataDirectory) {
  std::vector<int> years;
  for (const int y : {year, year + 1}) {
    if (y != year && month < 11) break;
    if (holidays.HasData(y)) continue;
    struct stat st {};
    if (dataDirectory.empty() ||
        ::lstat(DownloadedScheduleFile(dataDirectory, y).c_str(), &st) == 0)
      continue;
    years.push_back(y);
  }
  return years;
}
