// Day One's JSON export (alone or in its .zip) and jrnl's JSON export,
// through nlohmann's JSON library and libzip.
#include <libical/ical.h>
#include <zip.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "intake/decode.h"
#include "intake/readers.h"
#include "util/text.h"

namespace intake {
namespace {

using nlohmann::json;

constexpr int kMaxNesting = 64;

// "HH:MM" of a jrnl time ("9:05", "09:05:30"); "" for anything else, which
// would otherwise show as a heading's time.
std::string ClockTime(const std::string& time) {
  int hour = 0, minute = 0, taken = 0;
  if (std::sscanf(time.c_str(), "%2d:%2d%n", &hour, &minute, &taken) != 2 || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || time[taken - 2] == ':' ||
      (time[taken] != '\0' && time[taken] != ':'))
    return "";
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", hour, minute);
  return buf;
}

std::string Trimmed(std::string s) {
  s = UnifyLineEnds(s);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  std::size_t start = 0;
  while (start < s.size() && s[start] == '\n') ++start;
  return s.substr(start);
}

// The document, or a problem naming where it broke.
bool Parse(const std::string& name, std::string_view text, json* doc, Reading* out) {
  if (NestedTooDeep(text, kMaxNesting)) {
    out->problems.push_back({name, "", "JSON 嵌套过深，没有读取"});
    return false;
  }
  try {
    *doc = json::parse(text.begin(), text.end());
  } catch (const json::parse_error& e) {
    std::fprintf(stderr, "tamsivo: import: %s: %s\n", name.c_str(), e.what());
    out->problems.push_back(
        {name, LineAt(LineOf(text, e.byte > 0 ? e.byte - 1 : 0)), "JSON 格式有误，没有读取"});
    return false;
  } catch (const json::exception& e) {
    // A number too large for a double, and the like: the library's other
    // refusals, which name no position.
    std::fprintf(stderr, "tamsivo: import: %s: %s\n", name.c_str(), e.what());
    out->problems.push_back({name, "", "JSON 内容无法读取，没有读取"});
    return false;
  }
  if (!doc->is_object() || !doc->contains("entries") || !(*doc)["entries"].is_array()) {
    out->problems.push_back({name, "", "没有“entries”列表，不是可以读取的日记导出"});
    return false;
  }
  return true;
}

std::string StringField(const json& entry, const char* key) {
  const auto it = entry.find(key);
  return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// "2023-01-05T08:30:00Z" (fractions allowed) as UTC.
bool ParseUtc(std::string_view s, icaltimetype* t) {
  Date d;
  if (!ParseIsoDate(s, &d) || s.size() < 19 || s[10] != 'T') return false;
  int parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    const std::string_view two = s.substr(11 + i * 3, 2);
    if (two.size() != 2 || two[0] < '0' || two[0] > '9' || two[1] < '0' || two[1] > '9')
      return false;
    parts[i] = (two[0] - '0') * 10 + (two[1] - '0');
    if (i < 2 && s[13 + i * 3] != ':') return false;
  }
  if (parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return false;
  *t = icaltime_null_time();
  t->year = d.year, t->month = d.month, t->day = d.day;
  t->hour = parts[0], t->minute = parts[1], t->second = parts[2];
  t->zone = icaltimezone_get_utc_timezone();
  return true;
}

}  // namespace

void ReadDayOneJson(const std::string& name, std::string_view text, Reading* out) {
  json doc;
  if (!Parse(name, text, &doc, out)) return;
  const json& entries = doc["entries"];
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const json& e = entries[i];
    if (!e.is_object()) {
      out->problems.push_back({name, EntryAt(i), "不是一条日记"});
      continue;
    }
    icaltimetype when;
    if (!ParseUtc(StringField(e, "creationDate"), &when)) {
      out->problems.push_back({name, EntryAt(i), "没有可以读取的 creationDate"});
      continue;
    }
    // Each entry on the day it was where it was written.
    const std::string zoneName = StringField(e, "timeZone");
    icaltimezone* zone =
        zoneName.empty() ? nullptr : icaltimezone_get_builtin_timezone(zoneName.c_str());
    if (!zone && !zoneName.empty()) {
      out->problems.push_back(
          {name, EntryAt(i), "不认识的时区“" + zoneName + "”，按协调世界时（UTC）计日期"});
    }
    if (zone) when = icaltime_convert_to_zone(when, zone);
    const Date date{when.year, when.month, when.day};
    std::string body = Trimmed(StringField(e, "text"));
    if (!ValidDate(date) || body.empty()) continue;
    char time[8];
    std::snprintf(time, sizeof time, "%02d:%02d", when.hour, when.minute);
    AddEntry(out, {date, std::move(body), time, name, 0});
  }
}

void ReadJrnlJson(const std::string& name, std::string_view text, Reading* out) {
  json doc;
  if (!Parse(name, text, &doc, out)) return;
  const json& entries = doc["entries"];
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const json& e = entries[i];
    Date date;
    const std::string day = e.is_object() ? StringField(e, "date") : std::string();
    if (day.size() != 10 || !ParseIsoDate(day, &date)) {
      out->problems.push_back({name, EntryAt(i), "没有有效的日期（date）"});
      continue;
    }
    std::string memo = Trimmed(StringField(e, "title"));
    const std::string body = Trimmed(StringField(e, "body"));
    if (!body.empty()) memo += (memo.empty() ? "" : "\n") + body;
    if (memo.empty()) continue;
    AddEntry(out, {date, std::move(memo), ClockTime(StringField(e, "time")), name, 0});
  }
}

void ReadDayOneZip(const std::string& name, std::string_view bytes, Reading* out) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  if (!archive) {
    if (source) zip_source_free(source);
    std::fprintf(stderr, "tamsivo: import: %s: %s\n", name.c_str(), zip_error_strerror(&error));
    zip_error_fini(&error);
    out->problems.push_back({name, "", "不是可以读取的 zip 文件"});
    return;
  }
  zip_error_fini(&error);
  const std::unique_ptr<zip_t, int (*)(zip_t*)> owner(archive, zip_close);
  const zip_int64_t members = zip_get_num_entries(archive, 0);
  if (members < 0 || static_cast<std::size_t>(members) > kMaxZipMembers) {
    out->problems.push_back({name, "", "zip 文件里的文件太多，没有读取"});
    return;
  }
  bool any = false;
  for (zip_int64_t i = 0; i < members; ++i) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)) continue;
    const std::string member = st.name;
    // The journals lie at the top; pictures and such in folders beside them.
    if (member.find('/') != std::string::npos || !text::EndsWithIgnoringAsciiCase(member, ".json"))
      continue;
    const std::string label = name + "/" + member;
    if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxFileBytes) {
      out->problems.push_back({label, "", "文件太大，没有读取"});
      continue;
    }
    zip_file_t* file = zip_fopen_index(archive, i, 0);
    if (!file) {
      out->problems.push_back({label, "", "无法从 zip 文件中取出"});
      continue;
    }
    std::string content(static_cast<std::size_t>(st.size), '\0');
    // The stated size bounds the read; a member longer than it says is cut
    // there and then fails to parse.
    const zip_int64_t got = zip_fread(file, content.data(), content.size());
    zip_fclose(file);
    if (got < 0 || static_cast<zip_uint64_t>(got) != st.size) {
      out->problems.push_back({label, "", "无法从 zip 文件中取出（文件已损坏）"});
      continue;
    }
    any = true;
    ReadDayOneJson(label, DecodeText(content), out);
  }
  if (!any) out->problems.push_back({name, "", "zip 文件里没有日记的 .json 文件"});
}

}  // namespace intake
