#include "archive/staged_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "util/file_io.h"

namespace archive {

namespace {

constexpr std::size_t kBufferBytes = 1 << 16;

}  // namespace

StagedFile::~StagedFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool StagedFile::Open(const std::string& target, unsigned mode, std::string* error) {
  target_ = target;
  const std::string dir = fileio::DirectoryOf(target);
  std::string temp = dir + "/." + fileio::FileNameOf(target) + ".XXXXXX";
  fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd_ < 0) {
    *error = "无法在目录“" + dir + "”中写入文件：" + fileio::ErrorText(errno);
    return false;
  }
  temp_ = temp;
  if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) errno_ = errno;
  buffer_.reserve(kBufferBytes);
  return true;
}

bool StagedFile::Flush() {
  if (errno_ == 0 && !buffer_.empty() && !fileio::WriteAll(fd_, buffer_)) errno_ = errno;
  buffer_.clear();
  return errno_ == 0;
}

void StagedFile::Write(std::string_view bytes) {
  if (errno_ != 0) return;
  if (buffer_.size() + bytes.size() > kBufferBytes) {
    if (!Flush()) return;
    if (bytes.size() >= kBufferBytes) {
      if (!fileio::WriteAll(fd_, bytes)) errno_ = errno;
      return;
    }
  }
  buffer_.append(bytes);
}

bool StagedFile::Commit(std::string* error) {
  if (fd_ < 0) {
    *error = "文件没有打开";
    return false;
  }
  if (Flush() && ::fsync(fd_) != 0) errno_ = errno;
  if (::close(fd_) != 0 && errno_ == 0) errno_ = errno;
  fd_ = -1;
  if (errno_ == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0) errno_ = errno;
  if (errno_ != 0) {
    *error = "无法写入“" + target_ + "”：" + fileio::ErrorText(errno_);
    return false;
  }
  committed_ = true;
  // The file is whole under its name already; only its durability is left.
  (void)fileio::SyncDirectory(fileio::DirectoryOf(target_));
  return true;
}

}  // namespace archive
