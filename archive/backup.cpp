#include "archive/backup.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <set>
#include <thread>

#include "archive/memo_db.h"
#include "archive/search.h"
#include "util/file_io.h"
#include "util/staged_file.h"
#include "util/store_schema.h"

namespace archive {
namespace {

constexpr std::size_t kKeepNewest = 14;
constexpr int kKeepMonths = 24;
constexpr const char* kExtension = ".edb";
// A temporary file this old was left by a copy that was cut off.
constexpr std::time_t kLeftoverAgeSeconds = 3600;

std::string Stem(const std::string& storeFile) {
  const std::string name = fileio::FileNameOf(storeFile);
  const std::size_t ext = name.size() - std::min(name.size(), std::string(kExtension).size());
  return name.compare(ext, std::string::npos, kExtension) == 0 ? name.substr(0, ext) : name;
}

// The day a backup's file name stands for, or false for any other name.
bool ParseName(const std::string& name, const std::string& stem, double* day) {
  const std::string prefix = stem + " ", suffix = kExtension;
  if (name.size() != prefix.size() + 10 + suffix.size() || name.compare(0, prefix.size(), prefix) ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix)) {
    return false;
  }
  const std::string date = name.substr(prefix.size(), 10);
  for (std::size_t i = 0; i < date.size(); ++i) {
    if (i == 4 || i == 7 ? date[i] != '-' : (date[i] < '0' || date[i] > '9')) return false;
  }
  const int y = std::stoi(date.substr(0, 4)), m = std::stoi(date.substr(5, 2)),
            d = std::stoi(date.substr(8, 2));
  const std::chrono::year_month_day ymd{std::chrono::year(y), std::chrono::month(m),
                                        std::chrono::day(d)};
  if (!ymd.ok()) return false;
  *day = FromCivil(y, m, d);
  return true;
}

int MonthNumber(double day) {
  const CivilDay c = ToCivil(day);
  return c.year * 12 + c.month - 1;
}

bool OldLeftover(const std::string& dir, const std::string& name, const std::string& stem) {
  // "." + backup name + "." + six characters, as StagedFile names them.
  double day = 0;
  if (name.size() < 9 || name[0] != '.' || name[name.size() - 7] != '.' ||
      !ParseName(name.substr(1, name.size() - 8), stem, &day)) {
    return false;
  }
  struct stat st {};
  return ::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         std::time(nullptr) - st.st_mtime > kLeftoverAgeSeconds;
}

// Which backups retention keeps, by path.
std::set<std::string> Kept(const std::vector<BackupFile>& newestFirst, double today) {
  std::set<std::string> keep;
  std::set<int> months;
  const int thisMonth = MonthNumber(today);
  for (std::size_t i = 0; i < newestFirst.size(); ++i) {
    const BackupFile& b = newestFirst[i];
    const int month = MonthNumber(b.day);
    const bool newestOfMonth = months.insert(month).second;
    if (i < kKeepNewest || (newestOfMonth && thisMonth - month < kKeepMonths)) keep.insert(b.path);
  }
  return keep;
}

// `checked` passed the integrity check a moment ago.
std::vector<std::string> Prune(const std::string& storeFile, double today,
                               const std::string& checked) {
  const std::vector<BackupFile> all = ListBackups(storeFile);
  const std::set<std::string> keep = Kept(all, today);
  // Never down to no backup that opens: while no kept one passes the
  // check, the newest of the others that does stays.
  bool keptGood = false;
  for (const BackupFile& b : all) {
    std::string why;
    if (keep.count(b.path) && (b.path == checked || CheckMemoStore(b.path, &why))) {
      keptGood = true;
      break;
    }
  }
  std::string spared;
  for (const BackupFile& b : all) {
    std::string why;
    if (keptGood) break;
    if (!keep.count(b.path) && CheckMemoStore(b.path, &why)) {
      spared = b.path;
      keptGood = true;
    }
  }
  std::vector<std::string> removed;
  for (const BackupFile& b : all) {
    if (keep.count(b.path) || b.path == spared) continue;
    if (::unlink(b.path.c_str()) == 0) removed.push_back(b.path);
  }
  const std::string dir = BackupDirectory(storeFile);
  const std::string stem = Stem(storeFile);
  for (const std::string& name : fileio::ListDirectory(dir)) {
    if (OldLeftover(dir, name, stem)) ::unlink((dir + "/" + name).c_str());
  }
  if (!removed.empty()) (void)fileio::SyncDirectory(dir);
  return removed;
}

}  // namespace

bool CopyStore(const std::string& storeFile, const std::string& copyFile, std::string* error) {
  const Db source = OpenDb(storeFile, true, error);
  bool staleSearch = false;
  if (!source || !storeschema::AcceptSchema(source.get(), &staleSearch, error)) return false;
  const Db copy = OpenDb(copyFile, false, error);
  if (!copy) return false;
  sqlite3_backup* backup = sqlite3_backup_init(copy.get(), "main", source.get(), "main");
  if (!backup) {
    *error = Reason(copy.get(), sqlite3_errcode(copy.get()));
    return false;
  }
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
  int rc;
  while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    if (std::chrono::steady_clock::now() > giveUp) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    // A write error (a full disk) is the copy's, a read error the store's.
    *error = Reason(sqlite3_errcode(copy.get()) != SQLITE_OK ? copy.get() : source.get(), rc);
    return false;
  }
  // The index is rebuilt from the records when needed: left out, backups
  // are half the size.
  Statement indexed = Prepare(
      copy.get(),
      "SELECT EXISTS(SELECT 1 FROM sqlite_master WHERE name LIKE 'search\\_%' ESCAPE '\\')", error);
  if (!indexed || sqlite3_step(indexed.get()) != SQLITE_ROW) {
    if (error->empty()) *error = Reason(copy.get(), sqlite3_errcode(copy.get()));
    return false;
  }
  const bool hasIndex = sqlite3_column_int(indexed.get(), 0) != 0;
  indexed.reset();
  if (hasIndex && (!DropSearchIndex(copy.get(), error) || !Exec(copy.get(), "VACUUM", error))) {
    return false;
  }
  // A store of an earlier build may use a write-ahead log; a backup is one
  // file.
  return Exec(copy.get(), "PRAGMA journal_mode = DELETE", error);
}

std::string BackupDirectory(const std::string& storeFile) {
  return fileio::DirectoryOf(storeFile) + "/备份";
}

std::string BackupPath(const std::string& storeFile, double day) {
  return BackupDirectory(storeFile) + "/" + Stem(storeFile) + " " + IsoDate(day) + kExtension;
}

std::vector<BackupFile> ListBackups(const std::string& storeFile) {
  const std::string dir = BackupDirectory(storeFile);
  const std::string stem = Stem(storeFile);
  std::vector<BackupFile> found;
  for (const std::string& name : fileio::ListDirectory(dir)) {
    double day = 0;
    if (ParseName(name, stem, &day)) found.push_back({dir + "/" + name, day});
  }
  std::sort(found.begin(), found.end(),
            [](const BackupFile& a, const BackupFile& b) { return a.day > b.day; });
  return found;
}

std::vector<std::string> PruneBackups(const std::string& storeFile, double today) {
  return Prune(storeFile, today, {});
}

DailyBackup BackUpDaily(const std::string& storeFile, double today) {
  DailyBackup result;
  result.file = BackupPath(storeFile, today);
  const std::string dir = BackupDirectory(storeFile);
  const std::string name = fileio::FileNameOf(result.file);
  const std::vector<std::string> names = fileio::ListDirectory(dir);
  if (std::find(names.begin(), names.end(), name) != names.end()) {
    result.outcome = DailyBackup::Outcome::kAlreadyMade;
    return result;
  }
  std::string error;
  fileio::StagedFile staged;
  const bool copied = fileio::MakeDirectories(dir, 0700, &error) &&
                      staged.Open(result.file, {fileio::NewFileMode::kOwnerOnly}, &error) &&
                      CopyStore(storeFile, staged.temporaryPath(), &error);
  // SQLite's own side files of the copy, should a failure have left any.
  for (const char* side : {"-journal", "-wal", "-shm"}) {
    if (!staged.temporaryPath().empty()) ::unlink((staged.temporaryPath() + side).c_str());
  }
  if (!copied) {
    result.error = "无法备份备忘录数据库：" + error;
    return result;
  }
  // A copy of a damaged store would push a good backup out of retention.
  if (!CheckMemoStore(staged.temporaryPath(), &error)) {
    result.error = "备忘录数据库未通过检查，没有备份：" + error;
    return result;
  }
  if (!staged.Commit(&error)) {
    result.error = "无法备份备忘录数据库：" + error;
    return result;
  }
  result.outcome = DailyBackup::Outcome::kMade;
  result.removed = Prune(storeFile, today, result.file);
  return result;
}

}  // namespace archive
