#include "intake/merge.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>

#include "archive/backup.h"
#include "archive/memo_db.h"
#include "util/file_io.h"
#include "util/staged_file.h"
#include "util/store_schema.h"

namespace intake {
namespace {

constexpr std::size_t kKeptImportBackups = 5;
// A write transaction is closed after this long, so the program's own saves
// wait at most about that much.
constexpr auto kTransactionTime = std::chrono::milliseconds(100);
constexpr auto kBreather = std::chrono::milliseconds(10);

// `needle` in `hay` as whole lines: starting at the start or after a line
// end, ending at the end or before one.
bool ContainsAsLines(std::string_view hay, std::string_view needle) {
  if (needle.empty()) return true;
  for (std::size_t at = hay.find(needle); at != std::string_view::npos;
       at = hay.find(needle, at + 1)) {
    std::size_t end = at + needle.size();
    // The needle was read without its trailing blanks.
    while (end < hay.size() && (hay[end] == ' ' || hay[end] == '\t')) ++end;
    const bool startOk = at == 0 || hay[at - 1] == '\n' || hay[at - 1] == '\r';
    const bool endOk = end == hay.size() || hay[end] == '\n' || hay[end] == '\r';
    if (startOk && endOk) return true;
  }
  return false;
}

std::string_view TrimEnd(std::string_view s) {
  while (!s.empty() &&
         (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

constexpr const char* kDayLookup =
    R"(SELECT id, "事情" FROM records WHERE min(max("日期", -657434.0), 2958465.0) = ?1 )"
    "ORDER BY id LIMIT 1";

// The memo the program shows for `day` (its first record), with its id.
bool Lookup(sqlite3_stmt* s, double day, long long* id, std::string* text, std::string* error) {
  sqlite3_reset(s);
  sqlite3_bind_double(s, 1, day);
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    *id = sqlite3_column_int64(s, 0);
    *text = archive::Column(s, 1);
    return true;
  }
  *id = 0;
  text->clear();
  if (rc == SQLITE_DONE) return true;
  *error = "无法读取备忘录：" + archive::Reason(sqlite3_db_handle(s), rc);
  return false;
}

std::string DateText(const Date& d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

}  // namespace

std::string Merge(std::string_view existing, const std::vector<Piece>& pieces, bool* changed) {
  std::string out(existing);
  bool added = false;
  const bool hadText = !TrimEnd(existing).empty();
  for (const Piece& p : pieces) {
    if (p.text.empty()) continue;
    const std::string label = p.label.empty() ? "" : p.label + "\n";
    // A day without a memo gets the text exactly as it was read.
    if (out.empty()) {
      out = label + p.text;
      added = true;
      continue;
    }
    const std::string_view text = TrimEnd(p.text);
    if (text.empty() || ContainsAsLines(out, text)) continue;
    if (!out.ends_with("\n")) out += '\n';
    out += '\n';
    if (hadText && !added) out.append(kSeparator).append("\n");
    out += label;
    out += text;
    added = true;
  }
  if (changed) *changed = added;
  return out;
}

bool MakePlan(const std::string& storeFile, Reading reading, Plan* plan, std::string* error) {
  *plan = Plan{};
  plan->problems = std::move(reading.problems);
  plan->skippedFiles = std::move(reading.skipped);
  plan->truncated = reading.truncated;
  plan->filesRead = reading.filesRead;
  plan->entries = reading.entries.size();
  // By day, each day's entries in the order they were read, timed ones by time.
  std::stable_sort(reading.entries.begin(), reading.entries.end(),
                   [](const Entry& a, const Entry& b) {
                     if (a.date != b.date) return a.date < b.date;
                     if (a.time.empty() || b.time.empty()) return false;
                     return a.time < b.time;
                   });
  const archive::Db db = archive::OpenDb(storeFile, true, error);
  if (!db || !archive::Exec(db.get(), "BEGIN", error)) return false;
  bool staleSearch = false;
  if (!storeschema::AcceptSchema(db.get(), &staleSearch, error)) return false;
  const archive::Statement lookup = archive::Prepare(db.get(), kDayLookup, error);
  if (!lookup) return false;
  std::vector<Entry>& entries = reading.entries;
  for (std::size_t i = 0; i < entries.size();) {
    std::size_t j = i;
    while (j < entries.size() && entries[j].date == entries[i].date) ++j;
    DayPlan day;
    day.date = entries[i].date;
    day.day = archive::FromCivil(day.date.year, day.date.month, day.date.day);
    std::size_t timed = 0;
    for (std::size_t k = i; k < j; ++k) timed += !entries[k].time.empty();
    for (std::size_t k = i; k < j; ++k) {
      Piece p{std::move(entries[k].text), timed > 1 ? entries[k].time : std::string()};
      day.pieces.push_back(std::move(p));
    }
    long long id = 0;
    std::string existing;
    if (!Lookup(lookup.get(), day.day, &id, &existing, error)) return false;
    bool changed = false;
    (void)Merge(existing, day.pieces, &changed);
    day.existed = !existing.empty();
    if (!changed) {
      ++plan->skippedDays;
    } else {
      ++(day.existed ? plan->addedDays : plan->newDays);
      plan->days.push_back(std::move(day));
    }
    i = j;
  }
  return true;
}

std::string PlanSummary(const Plan& plan) {
  std::string line = "新增 " + std::to_string(plan.newDays) + " 天，追加到已有备忘录 " +
                     std::to_string(plan.addedDays) + " 天，已有相同内容跳过 " +
                     std::to_string(plan.skippedDays) + " 天";
  const std::size_t issues = plan.problems.size() + plan.skippedFiles.size();
  if (issues > 0) line += "；" + std::to_string(issues) + " 处没有读入";
  if (plan.truncated) line += "；超过读取上限，其余部分没有读取";
  return line;
}

std::string PlanDetails(const Plan& plan, std::size_t maxProblems) {
  std::string out = "读取了 " + std::to_string(plan.filesRead) + " 个文件，共 " +
                    std::to_string(plan.entries) + " 条日记。\n" + PlanSummary(plan) + "。\n";
  std::size_t shown = 0;
  for (const Problem& p : plan.problems) {
    if (shown++ == maxProblems) break;
    out += "\n" + p.file + (p.where.empty() ? "" : " " + p.where) + "：" + p.message;
  }
  for (const std::string& s : plan.skippedFiles) {
    if (shown++ == maxProblems) break;
    out += "\n" + s;
  }
  const std::size_t all = plan.problems.size() + plan.skippedFiles.size();
  if (all > maxProblems) out += "\n……另有 " + std::to_string(all - maxProblems) + " 处";
  return out;
}

bool BackUpBeforeImport(const std::string& storeFile, std::string* backup, std::string* error) {
  const std::string dir = archive::BackupDirectory(storeFile);
  if (!fileio::MakeDirectories(dir, 0700, error)) return false;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H%M%S", &local);
  std::string stem = fileio::FileNameOf(storeFile);
  if (stem.ends_with(".edb")) stem.resize(stem.size() - 4);
  const std::string prefix = stem + " 导入前 ";
  *backup = dir + "/" + prefix + stamp + ".edb";
  fileio::StagedFile staged;
  std::string why;
  bool ok = staged.Open(*backup, {fileio::NewFileMode::kOwnerOnly}, &why) &&
            archive::CopyStore(storeFile, staged.temporaryPath(), &why);
  for (const char* side : {"-journal", "-wal", "-shm"}) {
    if (!staged.temporaryPath().empty()) ::unlink((staged.temporaryPath() + side).c_str());
  }
  if (ok && !archive::CheckMemoStore(staged.temporaryPath(), &why)) {
    *error = "备忘录数据库未通过检查，没有导入：" + why;
    return false;
  }
  if (!ok || !staged.Commit(&why)) {
    *error = "导入前无法备份备忘录数据库：" + why;
    return false;
  }
  // Only our own earlier copies of this kind, newest kept.
  std::vector<std::string> earlier;
  for (const std::string& name : fileio::ListDirectory(dir)) {
    if (name.starts_with(prefix) && name.ends_with(".edb") &&
        name.size() == prefix.size() + 17 + 4) {
      earlier.push_back(name);
    }
  }
  std::sort(earlier.begin(), earlier.end());
  while (earlier.size() > kKeptImportBackups) {
    (void)::unlink((dir + "/" + earlier.front()).c_str());  // a copy left over costs only space
    earlier.erase(earlier.begin());
  }
  return true;
}

bool WritePlan(const std::string& storeFile, const Plan& plan, Progress* progress, Written* written,
               std::string* error) {
  *written = Written{};
  const archive::Db db = archive::OpenDb(storeFile, false, error);
  if (!db) return false;
  sqlite3* raw = db.get();
  std::size_t next = 0;
  bool checked = false;
  while (next < plan.days.size()) {
    if (progress && progress->stop.load()) {
      written->stopped = true;
      return true;
    }
    if (next > 0) {
      // Between two transactions the store is free: a connection of another
      // process waiting in its busy handler gets a moment to take it, and
      // the program's own saves go first.
      std::this_thread::sleep_for(kBreather);
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (progress && progress->savesWaiting && progress->savesWaiting->load() > 0 &&
             !progress->stop.load() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    if (!archive::Exec(raw, "BEGIN IMMEDIATE", error)) return false;
    // The objects are looked at in each transaction: between two, another
    // program could have changed them.
    bool staleSearch = false;
    if (!storeschema::AcceptSchema(raw, &staleSearch, error) ||
        (staleSearch && !storeschema::DropSearchObjects(raw, error))) {
      (void)archive::Exec(raw, "ROLLBACK", nullptr);  // nothing was written
      return false;
    }
    checked = true;
    const archive::Statement lookup = archive::Prepare(raw, kDayLookup, error);
    const archive::Statement insert =
        archive::Prepare(raw, R"(INSERT INTO records("日期", "事情") VALUES(?1, ?2))", error);
    const archive::Statement update =
        archive::Prepare(raw, R"(UPDATE records SET "事情" = ?2 WHERE id = ?1)", error);
    if (!lookup || !insert || !update) {
      (void)archive::Exec(raw, "ROLLBACK", nullptr);  // nothing was written
      return false;
    }
    Written batch;
    const auto until = std::chrono::steady_clock::now() + kTransactionTime;
    std::size_t i = next;
    for (; i < plan.days.size() && (i == next || std::chrono::steady_clock::now() < until); ++i) {
      const DayPlan& day = plan.days[i];
      long long id = 0;
      std::string existing;
      if (!Lookup(lookup.get(), day.day, &id, &existing, error)) {
        (void)archive::Exec(raw, "ROLLBACK", nullptr);  // the batch is undone whole
        return false;
      }
      bool changed = false;
      const std::string merged = Merge(existing, day.pieces, &changed);
      if (!changed) continue;
      sqlite3_stmt* s = id == 0 ? insert.get() : update.get();
      sqlite3_reset(s);
      if (id == 0) {
        sqlite3_bind_double(s, 1, day.day);
      } else {
        sqlite3_bind_int64(s, 1, id);
      }
      sqlite3_bind_blob64(s, 2, merged.data(), merged.size(), SQLITE_STATIC);
      const int rc = sqlite3_step(s);
      if (rc != SQLITE_DONE) {
        *error = "无法写入 " + DateText(day.date) + " 的备忘录：" + archive::Reason(raw, rc);
        (void)archive::Exec(raw, "ROLLBACK", nullptr);  // the batch is undone whole
        return false;
      }
      ++(existing.empty() ? batch.newDays : batch.addedDays);
    }
    if (!archive::Exec(raw, "COMMIT", error)) {
      (void)archive::Exec(raw, "ROLLBACK", nullptr);  // the batch is undone whole
      return false;
    }
    written->newDays += batch.newDays;
    written->addedDays += batch.addedDays;
    next = i;
    if (progress) progress->daysDone = next;
  }
  (void)checked;
  return true;
}

}  // namespace intake
