#include "util/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace fileio {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int FileDescriptor::release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void FileDescriptor::reset(int fd) noexcept {
  // close() is not retried on EINTR: on Linux the descriptor is gone anyway.
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

FileDescriptor OpenFile(const std::string& path, int flags, mode_t mode) {
  for (;;) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EINTR) return FileDescriptor(fd);
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, int* err, std::size_t maxBytes) {
  int ignored = 0;
  int& e = err ? *err : ignored;
  // O_NONBLOCK so that a FIFO in the file's place cannot hang us.
  FileDescriptor fd = OpenFile(path, O_RDONLY | O_NONBLOCK);
  if (!fd.valid()) {
    e = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    e = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    e = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  if (static_cast<std::size_t>(st.st_size) > maxBytes) {
    e = EFBIG;
    return false;
  }
  std::string out;
  try {
    out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd.get(), buf, sizeof buf);
      if (n > 0) {
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) {
          e = EFBIG;
          return false;
        }
        out.append(buf, static_cast<std::size_t>(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        e = errno;
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    e = ENOMEM;
    return false;
  }
  *bytes = std::move(out);
  return true;
}

mode_t CurrentUmask() {
  // umask() itself would change it for a moment, racing with other threads.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
  }
  return 022;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithFilterExtension(const std::string& path, std::string_view filter) {
  if (path.empty() || FileNameOf(path).find('.') != std::string::npos) return path;
  const std::size_t star = filter.find("*.");
  if (star == std::string_view::npos) return path;
  std::size_t end = star + 2;
  while (end < filter.size() && filter[end] != ')' && filter[end] != ' ' && filter[end] != '*') {
    ++end;
  }
  if (end == star + 2) return path;
  return path + std::string(filter.substr(star + 1, end - star - 1));
}

namespace {

SyncFunction g_sync = ::fsync;

bool Owned(const struct stat& st) { return st.st_uid == ::geteuid(); }

std::string OwnerText(const struct stat& st) {
  return "属于另一个用户（uid " + std::to_string(st.st_uid) + "）";
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// lstat, except that an own symbolic link reports what it names: a foreign
// link reports itself, so it is never taken for its target.
bool StatThroughOwnLink(const std::string& path, struct stat* st) {
  if (::lstat(path.c_str(), st) != 0) return false;
  return !S_ISLNK(st->st_mode) || !Owned(*st) || ::stat(path.c_str(), st) == 0;
}

}  // namespace

int Sync(int fd) { return g_sync(fd); }

SyncFunction SetSyncFunction(SyncFunction sync) {
  const SyncFunction old = g_sync;
  g_sync = sync ? sync : ::fsync;
  return old;
}

bool SyncDirectory(const std::string& directory) {
  FileDescriptor fd = OpenFile(directory, O_RDONLY | O_DIRECTORY);
  return fd.valid() && Sync(fd.get()) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a second name, then the old one goes.
  return ::link(from.c_str(), to.c_str()) == 0 && ::unlink(from.c_str()) == 0;
}

bool WriteTarget(const std::string& path, std::string* target, std::string* error) {
  *target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) != 0) {
    if (errno == ENOENT) return true;
    SetError(error, "无法访问“" + path + "”：" + ErrorText(errno));
    return false;
  }
  if (!Owned(lst)) {
    SetError(error, "“" + path + "”" + OwnerText(lst) + "，不会写入它");
    return false;
  }
  if (!S_ISLNK(lst.st_mode)) return true;
  char* real = ::realpath(path.c_str(), nullptr);
  // A dangling link of the user's own is replaced by the file.
  if (real == nullptr) return true;
  *target = real;
  std::free(real);
  struct stat st {};
  if (::stat(target->c_str(), &st) == 0 && !Owned(st)) {
    SetError(error,
             "符号链接“" + path + "”指向的“" + *target + "”" + OwnerText(st) + "，不会写入它");
    return false;
  }
  return true;
}

bool LockedByAnotherProcess(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  std::ifstream locks("/proc/locks");
  // "1: POSIX  ADVISORY  WRITE 1234 08:02:131074 1073741824 1073741825";
  // OFD locks have no owning process (-1) and count as another's.
  char device[64];
  std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  const long self = static_cast<long>(::getpid());
  std::string line;
  while (std::getline(locks, line)) {
    char kind[16], mode[16], access[16], where[64];
    long pid = 0;
    if (std::sscanf(line.c_str(), "%*[^:]: %15s %15s %15s %ld %63s", kind, mode, access, &pid,
                    where) == 5 &&
        std::strcmp(where, device) == 0 && pid != self) {
      return true;
    }
  }
  return false;
}

std::string LockedReason(const std::string& path) {
  return LockedByAnotherProcess(path) ? "数据库正被另一个程序使用（已锁定）"
                                      : "数据库正忙（已锁定），请稍后再试";
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CheckOwnDirectory(const std::string& path, std::string* error) {
  struct stat st {};
  if (!StatThroughOwnLink(path, &st)) {
    SetError(error, "无法访问目录“" + path + "”：" + ErrorText(errno));
    return false;
  }
  if (!Owned(st)) {
    SetError(error, "目录“" + path + "”" + OwnerText(st) + "，其中的备忘录别人也能读取或替换");
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetError(error, "“" + path + "”不是目录");
    return false;
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    SetError(error, "目录“" + path + "”其他用户也可以写入，其中的备忘录别人也能读取或替换");
    return false;
  }
  return true;
}

bool MakeDirectory(const std::string& path, mode_t mode, std::string* error) {
  if (::mkdir(path.c_str(), mode) == 0 || (errno == EEXIST && IsDirectory(path))) return true;
  if (error) *error = "无法创建目录“" + path + "”：" + ErrorText(errno);
  return false;
}

DirectoryLock LockDirectory(const std::string& directory, FileDescriptor* held) {
  FileDescriptor fd = OpenFile(directory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !Owned(st)) return DirectoryLock::kUnsupported;
  int r;
  do {
    r = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) return errno == EWOULDBLOCK ? DirectoryLock::kBusy : DirectoryLock::kUnsupported;
  *held = std::move(fd);
  return DirectoryLock::kHeld;
}

bool MakeDirectories(const std::string& path, mode_t mode, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    if (!MakeDirectory(path.substr(0, at), mode, error)) return false;
  }
  // The last level holds the files: the user's own, and no wider than asked.
  std::string last = path;
  while (last.size() > 1 && last.back() == '/') last.pop_back();
  struct stat st {};
  if (!StatThroughOwnLink(last, &st)) {
    SetError(error, "无法访问目录“" + last + "”：" + ErrorText(errno));
    return false;
  }
  if (!Owned(st)) {
    SetError(error, "目录“" + last + "”" + OwnerText(st) + "，不会使用它");
    return false;
  }
  if ((st.st_mode & 07777 & ~mode) != 0 && ::chmod(last.c_str(), st.st_mode & mode & 07777) != 0) {
    SetError(error, "无法设置目录“" + last + "”的权限：" + ErrorText(errno));
    return false;
  }
  return true;
}

std::vector<std::string> ListDirectory(const std::string& directory) {
  std::vector<std::string> names;
  DIR* d = ::opendir(directory.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(d);
  return names;
}

bool IsLeftoverTemporary(std::string_view fileName, std::string_view targetName) {
  return !targetName.empty() && LeftoverTarget(fileName) == targetName;
}

std::string_view LeftoverTarget(std::string_view fileName) {
  // mkstemp's six characters after "." + name + "."
  if (fileName.size() < 9 || fileName[0] != '.' || fileName[fileName.size() - 7] != '.') return {};
  return fileName.substr(1, fileName.size() - 8);
}

std::string PathKey(const std::string& path) {
  std::string real = path;
  if (char* r = ::realpath(path.c_str(), nullptr)) {
    real = r;
    std::free(r);
  }
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : real) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

std::string ErrorText(int err) {
  switch (err) {
    case 0:
      return "未知原因";
    case ENOENT:
      return "文件或目录不存在";
    case EACCES:
    case EPERM:
      return "没有访问权限";
    case EROFS:
      return "所在的文件系统是只读的";
    case ENOSPC:
      return "磁盘已满";
    case EDQUOT:
      return "超出了磁盘配额";
    case EIO:
      return "读写磁盘时出错";
    case ENOTDIR:
      return "路径中有一部分不是目录";
    case EISDIR:
      return "这是一个目录，不是文件";
    case ENAMETOOLONG:
      return "路径太长";
    case EMFILE:
    case ENFILE:
      return "打开的文件太多";
    case ELOOP:
      return "符号链接的层数太多";
    case EBUSY:
    case ETXTBSY:
      return "文件正被占用";
    case EEXIST:
      return "文件已存在";
    case EFBIG:
      return "文件太大";
    case ENOMEM:
      return "内存不足";
    case EINVAL:
      return "不是普通文件";
    case EXDEV:
      return "不能跨文件系统移动";
    default:
      return "系统错误（错误码 " + std::to_string(err) + "）";
  }
}

std::string ExecutablePath() {
  // readlink does not say how long the target is: grow until it fits.
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), n);
    if (buf.size() >= (std::size_t{1} << 20)) return {};
    buf.resize(buf.size() * 2);
  }
}

std::string ExecutableDirectory() {
  const std::string exe = ExecutablePath();
  // Anything but an absolute path names no directory we can trust.
  if (exe.empty() || exe[0] != '/') return {};
  return DirectoryOf(exe);
}

}  // namespace fileio
