#include "util/staged_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fileio {

namespace {

constexpr std::size_t kBufferBytes = 1 << 16;

}  // namespace

StagedFile::~StagedFile() {
  fd_.reset();
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool StagedFile::Open(const std::string& target, const ReplacePolicy& policy, std::string* error) {
  policy_ = policy;
  if (!WriteTarget(target, &target_, error)) return false;
  struct stat old {};
  const bool exists = ::stat(target_.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    *error = "无法访问“" + target_ + "”：" + ErrorText(errno);
    return false;
  }
  if (exists && !S_ISREG(old.st_mode)) {
    *error = "“" + target_ + "”不是普通文件";
    return false;
  }
  if (exists && policy.onlyIfAbsentOrEmpty && old.st_size > 0) {
    *error = "“" + target_ + "”已存在";
    return false;
  }
  mode_ = 0600;
  if (exists) {
    mode_ = old.st_mode & 07777;
  } else if (policy.newFileMode == NewFileMode::kFromUmask) {
    mode_ = 0666 & ~CurrentUmask();
  }
  const std::string dir = DirectoryOf(target_);
  std::string temp = dir + "/." + FileNameOf(target_) + ".XXXXXX";
  // mkostemp makes it 0600: nobody else can read a copy cut off midway.
  fd_.reset(::mkostemp(temp.data(), O_CLOEXEC));
  if (!fd_.valid()) {
    *error = "无法在目录“" + dir + "”中写入文件：" + ErrorText(errno);
    return false;
  }
  temp_ = temp;
  // The group of the file replaced, where we may (we are its owner).
  if (exists && old.st_gid != ::getegid())
    (void)::fchown(fd_.get(), static_cast<uid_t>(-1), old.st_gid);
  buffer_.reserve(kBufferBytes);
  return true;
}

bool StagedFile::Flush() {
  if (errno_ == 0 && !buffer_.empty() && !WriteAll(fd_.get(), buffer_)) errno_ = errno;
  buffer_.clear();
  return errno_ == 0;
}

void StagedFile::Write(std::string_view bytes) {
  if (errno_ != 0 || !fd_.valid()) return;
  if (buffer_.size() + bytes.size() > kBufferBytes) {
    if (!Flush()) return;
    if (bytes.size() >= kBufferBytes) {
      if (!WriteAll(fd_.get(), bytes)) errno_ = errno;
      return;
    }
  }
  buffer_.append(bytes);
}

bool StagedFile::Rename() {
  if (!policy_.onlyIfAbsentOrEmpty) return ::rename(temp_.c_str(), target_.c_str()) == 0;
  // A file that appeared meanwhile is never replaced; an empty one is.
  if (RenameNoReplace(temp_, target_)) return true;
  if (errno != EEXIST) return false;
  struct stat now {};
  if (::lstat(target_.c_str(), &now) == 0 && S_ISREG(now.st_mode) && now.st_size == 0) {
    return ::rename(temp_.c_str(), target_.c_str()) == 0;
  }
  errno = EEXIST;
  return false;
}

bool StagedFile::Commit(std::string* error) {
  if (!fd_.valid()) {
    *error = "文件没有打开";
    return false;
  }
  if (Flush() && ::fchmod(fd_.get(), mode_) != 0) errno_ = errno;
  if (errno_ == 0 && Sync(fd_.get()) != 0) errno_ = errno;
  if (::close(fd_.release()) != 0 && errno_ == 0) errno_ = errno;
  if (errno_ == 0 && !Rename()) errno_ = errno;
  if (errno_ != 0) {
    ::unlink(temp_.c_str());
    temp_.clear();
    *error = errno_ == EEXIST ? "“" + target_ + "”已存在"
                              : "无法写入“" + target_ + "”：" + ErrorText(errno_);
    return false;
  }
  committed_ = true;
  if (!SyncDirectory(DirectoryOf(target_))) {
    // Whole under its name already; only not yet known to be on the disk.
    *error = "无法把“" + target_ + "”写入磁盘：" + ErrorText(errno);
    return false;
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           const ReplacePolicy& policy, std::string* error) {
  std::string ignored;
  std::string& e = error ? *error : ignored;
  StagedFile file;
  if (!file.Open(path, policy, &e)) return false;
  file.Write(bytes);
  return file.Commit(&e);
}

}  // namespace fileio
