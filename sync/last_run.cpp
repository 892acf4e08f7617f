#include "sync/last_run.h"

#include <algorithm>
#include <cstdlib>

#include "archive/memo_db.h"
#include "sync/sync_store.h"
#include "util/store_schema.h"

namespace davsync {

namespace {

constexpr const char* kKey = "last_run";
constexpr const char* kConflictsKey = "conflict_days";

std::vector<double> ParseDays(const std::string& text) {
  std::vector<double> days;
  std::size_t at = 0;
  while (at < text.size() && days.size() < kConflictDaysKept) {
    const std::size_t comma = text.find(',', at);
    const std::string item = text.substr(at, comma == std::string::npos ? comma : comma - at);
    char* end = nullptr;
    const double day = std::strtod(item.c_str(), &end);
    if (end != item.c_str() && *end == '\0') days.push_back(day);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return days;
}

std::string Format(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

}  // namespace

std::string WhenText(std::time_t t, std::time_t now) {
  if (Format(t, "%Y%m%d") == Format(now, "%Y%m%d")) return Format(t, "%H:%M");
  std::tm tm{};
  localtime_r(&t, &tm);
  return std::to_string(tm.tm_mon + 1) + "月" + std::to_string(tm.tm_mday) + "日 " +
         Format(t, "%H:%M");
}

std::string ResultLine(const SyncOutcome& out, bool stopped, std::time_t finished) {
  std::string line;
  if (stopped && !out.ok) {
    // What was done before the stop stays done.
    line = "同步已停止（" + OutcomeCounts(out) + "）";
  } else if (out.ok) {
    line = "已同步 " + Format(finished, "%H:%M") + "：" + OutcomeCounts(out, "\n");
  } else {
    line = "同步失败：" + out.error;
    if (out.up + out.down + out.conflicts > 0) line += "（" + OutcomeCounts(out) + "）";
  }
  if (!out.refusedDays.empty()) line += "；服务器没有收下 " + DayNames(out.refusedDays);
  return line;
}

bool SaveLastRun(const std::string& storeFile, const LastRun& run, std::string* error) {
  std::unique_ptr<SyncStore> store = SyncStore::Open(storeFile, error);
  if (!store) return false;
  // Tabs and line breaks of a reason would break the fields apart.
  std::string line = run.line;
  for (char& c : line)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  const std::string value = std::to_string(run.started) + "\t" + std::to_string(run.finished) +
                            "\t" + (run.ok ? "1" : "0") + "\t" + line;
  if (run.conflictDays.empty()) return store->SetState(kKey, value, error);
  std::string known;
  if (!store->State(kConflictsKey, &known, error)) return false;
  std::vector<double> days = run.conflictDays;
  for (double day : ParseDays(known))
    if (std::find(days.begin(), days.end(), day) == days.end()) days.push_back(day);
  if (days.size() > kConflictDaysKept) days.resize(kConflictDaysKept);
  std::string list;
  for (double day : days)
    list += (list.empty() ? "" : ",") + std::to_string(static_cast<long>(day));
  if (!store->Begin(error)) return false;
  if (!store->SetState(kKey, value, error) || !store->SetState(kConflictsKey, list, error) ||
      !store->Commit(error)) {
    store->Rollback();
    return false;
  }
  return true;
}

bool LoadLastRun(const std::string& storeFile, LastRun* run, bool* found, std::string* error) {
  *found = false;
  archive::Db db = archive::OpenDb(storeFile, true, error);
  if (!db) return false;
  bool stale = false;
  if (!storeschema::AcceptSchema(db.get(), &stale, error)) return false;
  archive::Statement st =
      archive::Prepare(db.get(), "SELECT value FROM sync_state WHERE key = ?", nullptr);
  // No sync_state table: the store never synced.
  if (!st) return true;
  archive::BindText(st.get(), 1, kKey);
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) {
    *error = archive::Reason(db.get(), rc);
    return false;
  }
  const std::string value = archive::Column(st.get(), 0);
  sqlite3_reset(st.get());
  archive::BindText(st.get(), 1, kConflictsKey);
  if (sqlite3_step(st.get()) == SQLITE_ROW)
    run->conflictDays = ParseDays(archive::Column(st.get(), 0));
  const std::size_t a = value.find('\t'), b = value.find('\t', a + 1),
                    c = value.find('\t', b == std::string::npos ? b : b + 1);
  if (c == std::string::npos) return true;  // not ours to read
  run->started = std::atoll(value.substr(0, a).c_str());
  run->finished = std::atoll(value.substr(a + 1, b - a - 1).c_str());
  run->ok = value.substr(b + 1, c - b - 1) == "1";
  run->line = value.substr(c + 1);
  *found = true;
  return true;
}

}  // namespace davsync
