// The one way a file is written: under a temporary name beside its target,
// synced, and renamed into place only when whole, so a reader, a crash or a
// full disk never finds a half file under the target's name.
// ReplaceFileAtomically is this with the whole content at once; exports and
// backups stream through it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "util/file_io.h"

namespace fileio {

class StagedFile {
 public:
  StagedFile() = default;
  // Removes the temporary file unless Commit succeeded.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Finds where a write to `target` lands (WriteTarget's rules) and creates
  // the temporary file there ("." + name + "." + six characters, see
  // IsLeftoverTemporary), 0600 from its creation: a copy a kill leaves
  // behind shows nothing to other users. The finished file gets the mode
  // of the file it replaces, or the policy's for a new one, at Commit.
  bool Open(const std::string& target, const ReplacePolicy& policy, std::string* error);
  // Buffered; the first failure sticks and Commit reports it.
  void Write(std::string_view bytes);
  // Flush, the final mode, fsync, rename over the target, fsync of the
  // directory. Any failure removes the temporary file.
  bool Commit(std::string* error);
  // The file the bytes go to until Commit (SQLite may write it itself).
  const std::string& temporaryPath() const { return temp_; }

 private:
  bool Flush();
  bool Rename();

  std::string target_, temp_;
  std::string buffer_;
  FileDescriptor fd_;
  ReplacePolicy policy_;
  mode_t mode_ = 0600;
  int errno_ = 0;
  bool committed_ = false;
};

}  // namespace fileio
