// A file written in pieces under a temporary name beside its target and
// renamed into place only when whole: a reader, a crash or a full disk never
// leaves a half file under the target's name. (ReplaceFileAtomically wants
// the whole content at once; exports stream.)
#pragma once

#include <string>
#include <string_view>

namespace archive {

class StagedFile {
 public:
  StagedFile() = default;
  // Removes the temporary file unless Commit succeeded.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary file ("." + name + "." + six characters, the
  // pattern of util's leftovers) in the target's directory; `mode` is
  // applied to the finished file.
  bool Open(const std::string& target, unsigned mode, std::string* error);
  // Buffered; the first failure sticks and Commit reports it.
  void Write(std::string_view bytes);
  // Flush, fsync, rename over the target, fsync of the directory.
  bool Commit(std::string* error);
  const std::string& temporaryPath() const { return temp_; }

 private:
  bool Flush();

  std::string target_, temp_;
  std::string buffer_;
  int fd_ = -1;
  int errno_ = 0;
  bool committed_ = false;
};

}  // namespace archive
