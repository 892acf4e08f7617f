// The one file layer of the program and the runtime: descriptors that close
// themselves, whole-file reads, and one way to replace a file atomically.
// Errors come back as Chinese text fit for a message box.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace fileio {

// Owns a file descriptor; closes it when it goes.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() noexcept;
  void reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

// A flock on a directory, held as long as `held` lives. The directory is
// never reached through a symbolic link and must be the user's own (kBusy
// is only ever another copy of ours).
enum class DirectoryLock { kHeld, kBusy, kUnsupported };
DirectoryLock LockDirectory(const std::string& directory, FileDescriptor* held);

// open(2) with EINTR retried and O_CLOEXEC added.
FileDescriptor OpenFile(const std::string& path, int flags, mode_t mode = 0);

// Writes every byte (EINTR and short writes retried); false with errno set.
bool WriteAll(int fd, std::string_view bytes);

// A regular file's whole content. A FIFO or a device in the file's place is
// refused rather than waited on. `err` gets the errno of a failure (ENOENT:
// no such file); files larger than `maxBytes` fail with EFBIG.
bool ReadWholeFile(const std::string& path, std::string* bytes, int* err = nullptr,
                   std::size_t maxBytes = static_cast<std::size_t>(-1));

enum class NewFileMode {
  kFromUmask,  // 0666 less the umask, as any program's new file
  kOwnerOnly,  // 0600, for files only the user should read
};

struct ReplacePolicy {
  NewFileMode newFileMode = NewFileMode::kFromUmask;
  // Never replace a file with content: only create the file, or fill one
  // that is empty (left by an earlier run cut off while making it).
  bool onlyIfAbsentOrEmpty = false;
};

// Replaces (or creates) `path` with `bytes` so that a reader, a crash or a
// power cut finds the old content or the new, never a mixture: StagedFile's
// steps (util/staged_file.h). An existing file keeps its mode and group.
//
// Files of other users are never written or taken over: a file in the
// target's place must be the user's own. A symbolic link is followed only
// when the link and the file it names are both the user's (their own link
// into a synced folder, say): that file's content is replaced and the link
// stays. A link another user placed, or one to another user's file, is
// refused (WriteTarget).
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                           const ReplacePolicy& policy, std::string* error);

// Where a write to `path` lands by the rules above: `path` itself, or the
// file an own link names; false with the reason for a link or file of
// another user.
bool WriteTarget(const std::string& path, std::string* target, std::string* error);

// fsync(2); tests put their own in to count or fail syncs. Returns the one
// it replaces.
using SyncFunction = int (*)(int fd);
int Sync(int fd);
SyncFunction SetSyncFunction(SyncFunction sync);

// Makes a rename or unlink in `directory` durable.
bool SyncDirectory(const std::string& directory);

// rename(2) that never replaces: false with errno EEXIST when `to` is taken.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Creates `path` as a directory with `mode` unless one is there.
bool MakeDirectory(const std::string& path, mode_t mode, std::string* error);
// MakeDirectory for `path` and every missing directory above it, each with
// `mode` (an absolute path). `path` itself, made now or before, must be the
// user's own (an own link to an own directory counts); one from before is
// narrowed to `mode`, so a folder of private files stays private.
bool MakeDirectories(const std::string& path, mode_t mode, std::string* error);
// A directory the user may keep private files in: theirs, and writable by
// no one else. false with the reason (Chinese) otherwise.
bool CheckOwnDirectory(const std::string& path, std::string* error);

// Names in a directory (no "." or ".."); empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& directory);

bool IsRegularFile(const std::string& path);
// Whether a process other than this one holds a record lock on the file
// (from /proc/locks; a lock this process holds, on any thread or
// connection, is not counted).
bool LockedByAnotherProcess(const std::string& path);
// Why a database file could not be had, in words: another program only when
// one is seen holding a lock on it (this program's own other work, such as
// a build on a thread, is not another program).
std::string LockedReason(const std::string& path);
bool IsDirectory(const std::string& path);

// The directory part of a path ("." for a bare name, "/" for the root).
std::string DirectoryOf(const std::string& path);
std::string FileNameOf(const std::string& path);
// `path` with the extension of a file-dialog filter ("CSV 表格 (*.csv)")
// added when its file name has none; unchanged when it has one or the
// filter names none.
std::string WithFilterExtension(const std::string& path, std::string_view filter);

// The process umask, read without changing it.
mode_t CurrentUmask();

// A short Chinese reason for an errno value ("磁盘已满").
std::string ErrorText(int err);

// The running executable and its directory, as the bytes the system gives
// (any encoding); empty when they cannot be found.
std::string ExecutablePath();
std::string ExecutableDirectory();

// Names of temporary files StagedFile leaves behind when killed mid-write,
// for `target` ("." + name + "." + six characters).
bool IsLeftoverTemporary(std::string_view fileName, std::string_view targetName);
// The target name such a temporary stands for; empty for any other name.
std::string_view LeftoverTarget(std::string_view fileName);

// A short key for a directory, the same for every name it goes by (16 hex
// digits of a hash of its real path).
std::string PathKey(const std::string& path);

}  // namespace fileio
