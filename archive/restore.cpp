#include "archive/restore.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <utility>
#include <vector>

#include "archive/backup.h"
#include "archive/memo_db.h"
#include "util/file_io.h"
#include "util/staged_file.h"
#include "util/store_schema.h"

namespace archive {
namespace {

constexpr const char* kSideSuffixes[] = {"-journal", "-wal", "-shm"};

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string Stamp(double now) {
  const CivilDay c = ToCivil(now);
  const double fraction = std::fabs(now - std::trunc(now));
  const long long seconds = std::min(std::llround(fraction * 86400.0), 86399LL);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02lld%02lld%02lld", c.year, c.month, c.day,
                seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

// Gives the damaged store a second name while it keeps its own: a hard link,
// or a copy where the file system has no links. `*err` is EEXIST when the
// name is taken.
bool KeepAside(const std::string& store, const std::string& aside, int* err) {
  if (::link(store.c_str(), aside.c_str()) == 0) return true;
  *err = errno;
  if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != EOPNOTSUPP) return false;
  std::string bytes;
  if (!fileio::ReadWholeFile(store, &bytes, err)) return false;
  fileio::FileDescriptor fd =
      fileio::OpenFile(aside, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (fd.valid() && fileio::WriteAll(fd.get(), bytes) && fileio::Sync(fd.get()) == 0) return true;
  *err = errno;
  if (fd.valid()) ::unlink(aside.c_str());
  return false;
}

// Puts side files that were moved aside back where they were.
void MoveBack(const std::vector<std::pair<std::string, std::string>>& moved) {
  for (const auto& [from, to] : moved) (void)fileio::RenameNoReplace(to, from);
}

}  // namespace

Restored RestoreFromBackup(const std::string& storeFile, double now,
                           const std::string& backupFile) {
  Restored result;
  // Restored where the file layer would write the store: through the user's
  // own link, never into another user's file.
  std::string target, error;
  if (!fileio::WriteTarget(storeFile, &target, &error)) {
    result.message = "恢复失败：" + error + "。";
    return result;
  }
  // A program with a transaction open there owns the store and its journal:
  // nothing is moved under it.
  const std::string busy =
      "备忘录数据库文件正被另一个程序使用（已锁定），没有恢复。请先关闭那个程序再恢复。";
  if (storeschema::LockedByAnotherProcess(target)) {
    result.message = busy;
    return result;
  }
  struct stat before {};
  const bool had = ::stat(target.c_str(), &before) == 0;
  std::vector<std::string> candidates;
  if (!backupFile.empty()) {
    struct stat given {};
    if (had && ::stat(backupFile.c_str(), &given) == 0 && given.st_ino == before.st_ino &&
        given.st_dev == before.st_dev) {
      result.message = "“" + backupFile + "”就是备忘录数据库文件本身，不是备份，没有恢复。";
      return result;
    }
    candidates.push_back(backupFile);
  } else {
    for (const BackupFile& b : ListBackups(storeFile)) candidates.push_back(b.path);
  }
  if (candidates.empty()) {
    result.message = "没有找到备份（备份目录：" + BackupDirectory(storeFile) + "），没有恢复。";
    return result;
  }
  int skipped = 0;
  std::string why;
  for (const std::string& candidate : candidates) {
    if (CheckMemoStore(candidate, &why)) {
      result.backup = candidate;
      break;
    }
    ++skipped;
  }
  if (result.backup.empty()) {
    result.message =
        backupFile.empty()
            ? "所有备份（共 " + std::to_string(skipped) + " 个）都未通过检查，没有恢复。"
            : "备份“" + backupFile + "”未通过检查（" + why + "），没有恢复。";
    return result;
  }

  // Copied through SQLite beside the store (a backup left with its
  // write-ahead log holds part of its memos there), checked, and only then
  // put in place by a rename.
  fileio::StagedFile staged;
  bool copied = staged.Open(target, {fileio::NewFileMode::kOwnerOnly}, &error) &&
                CopyStore(result.backup, staged.temporaryPath(), &error);
  for (const char* side : kSideSuffixes) {
    if (!staged.temporaryPath().empty()) ::unlink((staged.temporaryPath() + side).c_str());
  }
  if (copied && !CheckMemoStore(staged.temporaryPath(), &error)) copied = false;
  if (!copied) {
    result.message = "恢复失败：" + error + "。备忘录数据库文件保持原样。";
    return result;
  }

  std::vector<std::pair<std::string, std::string>> moved;
  if (had) {
    if (storeschema::LockedByAnotherProcess(target)) {
      result.message = busy;
      return result;
    }
    // A store that passes the check is only being replaced, not damaged.
    const bool healthy = CheckMemoStore(target, &why);
    result.replacedHealthy = healthy;
    const std::string stem = target + (healthy ? ".恢复前-" : ".损坏-") + Stamp(now);
    int err = EEXIST;
    for (int n = 1; n <= 1000 && result.damagedFile.empty(); ++n) {
      const std::string aside = n == 1 ? stem : stem + "-" + std::to_string(n);
      bool free = true;
      for (const char* side : kSideSuffixes) free = free && !Exists(aside + side);
      if (free && KeepAside(target, aside, &err)) result.damagedFile = aside;
      if (err != EEXIST) break;
    }
    if (result.damagedFile.empty()) {
      result.message = "无法保留原来的文件（" + fileio::ErrorText(err) + "），没有恢复。";
      return result;
    }
    // A journal left beside the backup would be played into it: the side
    // files go with the old file.
    for (const char* side : kSideSuffixes) {
      if (!Exists(target + side)) continue;
      if (!fileio::RenameNoReplace(target + side, result.damagedFile + side)) {
        err = errno;
        MoveBack(moved);
        ::unlink(result.damagedFile.c_str());
        result.message = "无法移开文件“" + target + side + "”（" + fileio::ErrorText(err) +
                         "），没有恢复，文件保持原样。";
        result.damagedFile.clear();
        return result;
      }
      moved.emplace_back(target + side, result.damagedFile + side);
    }
    (void)fileio::SyncDirectory(fileio::DirectoryOf(target));
  }

  if (!staged.Commit(&error)) {
    struct stat after {};
    const bool replaced = ::stat(target.c_str(), &after) == 0 &&
                          (!had || after.st_ino != before.st_ino || after.st_dev != before.st_dev);
    if (!replaced) {
      MoveBack(moved);
      if (had) ::unlink(result.damagedFile.c_str());
      result.damagedFile.clear();
      result.message = "恢复失败：" + error + "。备忘录数据库文件保持原样。";
      return result;
    }
    // In place, only not yet known to be on the disk.
  }
  result.ok = true;
  result.message = "已用备份“" + fileio::FileNameOf(result.backup) + "”恢复了备忘录数据库。";
  if (had) {
    result.message +=
        std::string(result.replacedHealthy ? "原来的文件（通过了检查）" : "原来的文件") +
        "已改名为“" + fileio::FileNameOf(result.damagedFile) + "”，保存在同一目录中。";
  }
  if (skipped > 0) {
    result.message += "较新的 " + std::to_string(skipped) + " 个备份未通过检查，已跳过。";
  }
  return result;
}

}  // namespace archive
