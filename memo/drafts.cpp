#include "memo/drafts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/datetime.h"
#include "base/program.h"
#include "platform/xdg_dirs.h"
#include "util/file_io.h"

namespace {

// Recovery files go beside the store; when that cannot be written (a full
// disk, a read-only program directory) into the user's data directory, in
// a folder named by the store's directory: every portable copy falls back
// there, and each is offered back only its own texts.
std::vector<std::string> RecoveryDirectories() {
  std::vector<std::string> dirs = {JoinPath(DataDirectory(), kRecoveryFolder)};
  const std::string data = XdgDataHome();
  const std::string home = data.empty() ? std::string() : data + "/tamsivo";
  if (!home.empty() && !DataDirectory().empty() &&
      fileio::PathKey(home) != fileio::PathKey(DataDirectory())) {
    dirs.push_back(home + "/" + kRecoveryFolder + "/" + fileio::PathKey(DataDirectory()));
  }
  return dirs;
}

std::string Stamp(double now) {
  const DateParts p = SplitDateTime(now);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

// "<day> <stamp>.txt", with "-2", "-3" ... when that name is taken.
std::string FreeName(const std::string& dir, double day, double now) {
  const std::string base = dir + "/" + DayFileStem(day) + " " + Stamp(now);
  std::string path = base + ".txt";
  struct stat st;
  for (int n = 2; ::lstat(path.c_str(), &st) == 0; ++n) {
    path = base + "-" + std::to_string(n) + ".txt";
  }
  return path;
}

bool MakeFolder(const std::string& dir, std::string* error) {
  return fileio::MakeDirectories(dir, 0700, error);
}

void Collect(const std::string& dir, bool recovery, std::vector<LeftoverText>& out) {
  for (const std::string& name : fileio::ListDirectory(dir)) {
    if (name.size() < 14 || name[0] == '.' || !name.ends_with(".txt")) continue;
    const double day = DayOfFileName(name);
    if (std::isnan(day)) continue;
    LeftoverText l;
    l.path = dir + "/" + name;
    // Only texts the user wrote: nothing another user or a link put there.
    struct stat st {};
    if (::lstat(l.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    l.day = day;
    l.recovery = recovery;
    if (!fileio::ReadWholeFile(l.path, &l.text)) continue;
    out.push_back(std::move(l));
  }
}

}  // namespace

std::string DayFileStem(double day) {
  const DateParts p = SplitDateTime(day);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

double DayOfFileName(const std::string& name) {
  int y = 0, m = 0, d = 0;
  char dash1 = 0, dash2 = 0;
  if (name.size() < 10 ||
      std::sscanf(name.c_str(), "%4d%c%2d%c%2d", &y, &dash1, &m, &dash2, &d) != 5 || dash1 != '-' ||
      dash2 != '-' || !std::all_of(name.begin(), name.begin() + 4, ::isdigit)) {
    return NAN;
  }
  const std::optional<double> day = TextToDateTime(std::to_string(y) + "年" + std::to_string(m) +
                                                   "月" + std::to_string(d) + "日");
  return day ? *day : NAN;
}

std::string NewDraftPath(double day, double now) {
  return FreeName(JoinPath(DataDirectory(), kDraftFolder), day, now);
}

bool WriteDraft(const std::string& path, const std::string& text, std::string* error) {
  if (!MakeFolder(fileio::DirectoryOf(path), error)) return false;
  return fileio::ReplaceFileAtomically(path, text, {fileio::NewFileMode::kOwnerOnly}, error);
}

std::string WriteRecoveryFile(double day, const std::string& text, double now, std::string* error) {
  for (const std::string& dir : RecoveryDirectories()) {
    if (dir.empty() || !MakeFolder(dir, error)) continue;
    const std::string path = FreeName(dir, day, now);
    if (fileio::ReplaceFileAtomically(path, text, {fileio::NewFileMode::kOwnerOnly}, error)) {
      return path;
    }
  }
  return {};
}

std::vector<std::string> LeftoverTextDirectories() {
  std::vector<std::string> dirs = RecoveryDirectories();
  dirs.insert(dirs.begin(), JoinPath(DataDirectory(), kDraftFolder));
  return dirs;
}

std::vector<LeftoverText> FindLeftoverTexts() {
  std::vector<LeftoverText> out;
  Collect(JoinPath(DataDirectory(), kDraftFolder), false, out);
  for (const std::string& dir : RecoveryDirectories()) Collect(dir, true, out);
  std::stable_sort(out.begin(), out.end(), [](const LeftoverText& a, const LeftoverText& b) {
    return a.day != b.day ? a.day < b.day : a.path < b.path;
  });
  return out;
}

void RemoveLeftover(const std::string& path) {
  if (path.empty()) return;
  if (::unlink(path.c_str()) == 0) fileio::SyncDirectory(fileio::DirectoryOf(path));
}
