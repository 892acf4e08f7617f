#include "util/instance_lock.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace instance {
namespace {

// Enough spare names that squatting all of them takes intent, few enough
// that a knock tries them all at once.
constexpr int kSocketNames = 8;

// A folder of ours no one else may enter, made if missing.
bool PrivateFolder(const std::string& path) {
  std::string error;
  struct stat st {};
  return fileio::MakeDirectories(path, 0700, &error) && ::lstat(path.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode) && (st.st_mode & 077) == 0;
}

socklen_t AbstractAddress(const std::string& name, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  // Abstract namespace: a leading NUL, no file, gone with the process.
  const std::size_t n = std::min(name.size(), sizeof addr->sun_path - 1);
  std::memcpy(addr->sun_path + 1, name.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

fileio::FileDescriptor Connect(const std::string& name) {
  fileio::FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr;
  const socklen_t len = AbstractAddress(name, &addr);
  if (fd.valid() && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) != 0) fd.reset();
  return fd;
}

// Sends the knock on a connected socket and waits for the answer.
bool KnockAndWait(int fd, std::string_view knock, std::chrono::steady_clock::time_point deadline) {
  constexpr std::size_t kAnswerBytes = sizeof kAnswerText - 1;
  if (::send(fd, knock.data(), knock.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(knock.size())) {
    return false;
  }
  char buf[8] = {};
  std::size_t got = 0;
  while (got < kAnswerBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    const ssize_t n = ::recv(fd, buf + got, kAnswerBytes - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got == kAnswerBytes && std::memcmp(buf, kAnswerText, got) == 0;
}

}  // namespace

fileio::DirectoryLock LockDataDirectory(const std::string& dataDirectory,
                                        fileio::FileDescriptor* held) {
  std::vector<std::string> folders;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  // The session's own folder counts only when it is ours and closed to others.
  if (runtime && runtime[0] == '/' && ::lstat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == ::geteuid() && (st.st_mode & 077) == 0) {
    folders.push_back(std::string(runtime) + "/tamsivo");
  }
  folders.push_back("/tmp/tamsivo-" + std::to_string(::geteuid()));
  const std::string key = fileio::PathKey(dataDirectory);
  for (const std::string& folder : folders) {
    std::string error;
    if (!PrivateFolder(folder) || !fileio::MakeDirectories(folder + "/" + key, 0700, &error)) {
      continue;  // another user's folder in its place: the next one
    }
    const fileio::DirectoryLock lock = fileio::LockDirectory(folder + "/" + key, held);
    if (lock != fileio::DirectoryLock::kUnsupported) return lock;
  }
  return fileio::DirectoryLock::kUnsupported;
}

std::vector<std::string> SocketNames(const std::string& dataDirectory) {
  const std::string base =
      "tamsivo." + std::to_string(::getuid()) + "." + fileio::PathKey(dataDirectory);
  std::vector<std::string> names = {base};
  for (int n = 1; n < kSocketNames; ++n) names.push_back(base + "." + std::to_string(n));
  return names;
}

fileio::FileDescriptor Listen(const std::string& dataDirectory) {
  for (const std::string& name : SocketNames(dataDirectory)) {
    fileio::FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) return fd;
    sockaddr_un addr;
    const socklen_t len = AbstractAddress(name, &addr);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        ::listen(fd.get(), 8) == 0) {
      return fd;
    }
    if (errno != EADDRINUSE) return {};
  }
  return {};
}

bool PeerIsUs(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred &&
         cred.uid == ::getuid();
}

int KnockKind(std::string_view line) {
  if (line == kKnockText) return 0;
  if (line == kSyncKnockText) return 1;
  return -1;
}

bool ListenerPresent(const std::string& dataDirectory) {
  for (const std::string& name : SocketNames(dataDirectory)) {
    // Closed unspoken: the listener reads end of file and goes on.
    const fileio::FileDescriptor fd = Connect(name);
    if (fd.valid() && PeerIsUs(fd.get())) return true;
  }
  return false;
}

KnockResult Knock(const std::string& dataDirectory, int answerMs, bool waitForListener,
                  std::string_view knock) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMs);
  const std::vector<std::string> names = SocketNames(dataDirectory);
  do {
    for (const std::string& name : names) {
      const fileio::FileDescriptor fd = Connect(name);
      // Another user's socket under our name is passed over unspoken to.
      if (!fd.valid() || !PeerIsUs(fd.get())) continue;
      return KnockAndWait(fd.get(), knock, deadline) ? KnockResult::kAnswered
                                                     : KnockResult::kNoAnswer;
    }
    if (!waitForListener) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  return KnockResult::kNobody;
}

}  // namespace instance
