#include "intake/collect.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "intake/readers.h"
#include "util/file_io.h"
#include "util/text.h"

namespace intake {
namespace {

// Files a folder is read for; others (pictures, a tool's own settings) are
// passed over without a word.
bool Candidate(std::string_view name) {
  for (std::string_view ext : {".md", ".markdown", ".txt", ".csv", ".ics", ".json", ".zip"}) {
    if (text::EndsWithIgnoringAsciiCase(name, ext)) return true;
  }
  return false;
}

struct Walk {
  Reading reading;
  std::size_t files = 0;
  std::size_t bytes = 0;
  const std::atomic<bool>* stop = nullptr;
};

// Reads one file through a descriptor opened without following a link,
// checked to be the user's own regular file. `label` names it for the user.
void ReadOne(Walk& w, int dirFd, const std::string& entry, const std::string& label) {
  Reading& r = w.reading;
  if (++w.files > kMaxFiles) {
    r.truncated = true;
    return;
  }
  fileio::FileDescriptor fd(
      ::openat(dirFd, entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    r.skipped.push_back(label + "：" +
                        (errno == ELOOP ? std::string("是符号链接，没有读取")
                                        : "无法打开（" + fileio::ErrorText(errno) + "）"));
    return;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    r.skipped.push_back(label + "：不是普通文件，没有读取");
    return;
  }
  if (st.st_uid != ::geteuid()) {
    r.skipped.push_back(label + "：不是你的文件，没有读取");
    return;
  }
  if (static_cast<std::size_t>(st.st_size) > kMaxFileBytes ||
      w.bytes + static_cast<std::size_t>(st.st_size) > kMaxTotalBytes) {
    r.skipped.push_back(label + "：文件太大，没有读取");
    return;
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n > 0) {
      if (bytes.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
        r.skipped.push_back(label + "：文件太大，没有读取");
        return;
      }
      bytes.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      r.skipped.push_back(label + "：无法读取（" + fileio::ErrorText(errno) + "）");
      return;
    }
  }
  w.bytes += bytes.size();
  ReadFileBytes(label, bytes, &r);
}

void ReadFolder(Walk& w, int dirFd, const std::string& prefix, int depth) {
  DIR* d = ::fdopendir(dirFd);
  if (!d) {
    ::close(dirFd);
    w.reading.skipped.push_back((prefix.empty() ? "." : prefix) + "：无法列出文件夹");
    return;
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view n = e->d_name;
    // Hidden entries are tools' own (.obsidian, .trash) or ours (temporaries).
    if (n.empty() || n[0] == '.') continue;
    names.emplace_back(n);
    if (names.size() > kMaxFiles) break;
  }
  // Days in order, and the same order every time.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (w.stop && w.stop->load()) break;
    if (w.reading.truncated) break;
    const std::string label = prefix.empty() ? name : prefix + "/" + name;
    struct stat st {};
    if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      if (Candidate(name)) w.reading.skipped.push_back(label + "：是符号链接，没有读取");
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (depth >= kMaxDepth) {
        w.reading.skipped.push_back(label + "：文件夹层次太深，没有读取");
        continue;
      }
      const int sub =
          ::openat(::dirfd(d), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        w.reading.skipped.push_back(label + "：无法打开文件夹");
        continue;
      }
      ReadFolder(w, sub, label, depth + 1);
      continue;
    }
    if (!Candidate(name)) continue;
    ReadOne(w, ::dirfd(d), name, label);
  }
  ::closedir(d);
}

}  // namespace

Reading ReadPath(const std::string& path, const std::atomic<bool>* stop) {
  Walk w;
  w.stop = stop;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    w.reading.problems.push_back({path, "", "找不到（" + fileio::ErrorText(errno) + "）"});
    return std::move(w.reading);
  }
  if (S_ISLNK(st.st_mode)) {
    w.reading.skipped.push_back(path + "：是符号链接，没有读取");
    return std::move(w.reading);
  }
  if (S_ISDIR(st.st_mode)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      w.reading.problems.push_back(
          {path, "", "无法打开文件夹（" + fileio::ErrorText(errno) + "）"});
      return std::move(w.reading);
    }
    ReadFolder(w, fd, "", 1);
    return std::move(w.reading);
  }
  const std::string dir = fileio::DirectoryOf(path);
  const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    w.reading.problems.push_back({path, "", "无法打开（" + fileio::ErrorText(errno) + "）"});
    return std::move(w.reading);
  }
  ReadOne(w, dirFd, fileio::FileNameOf(path), fileio::FileNameOf(path));
  ::close(dirFd);
  return std::move(w.reading);
}

}  // namespace intake
