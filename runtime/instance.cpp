#include "runtime/instance.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "util/file_io.h"
#include "util/instance_socket.h"

namespace {

constexpr char kKnock[] = "raise\n";
constexpr char kAnswer[] = "ok\n";

using instance::AbstractAddress;

// Sends the knock and waits for the holder's answer.
bool Knock(const std::string& name, int answerMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answerMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr;
    const socklen_t len = AbstractAddress(name, &addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
      // The holder may not be listening yet: it claims the lock first.
      ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    bool answered = false;
    if (::send(fd, kKnock, sizeof kKnock - 1, MSG_NOSIGNAL) == sizeof kKnock - 1) {
      char buf[8] = {};
      std::size_t got = 0;
      while (got < sizeof kAnswer - 1) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        const ssize_t n = ::recv(fd, buf + got, sizeof kAnswer - 1 - got, 0);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      answered = got == sizeof kAnswer - 1 && std::memcmp(buf, kAnswer, got) == 0;
    }
    ::close(fd);
    return answered;
  }
  return false;
}

}  // namespace

std::string SingleInstance::SocketName(const std::string& directory) {
  return instance::SocketName(directory);
}

std::unique_ptr<SingleInstance> SingleInstance::Claim(const std::string& directory,
                                                      std::function<void()> onKnock,
                                                      rt::InstanceClaim* result, int answerMs) {
  const std::string name = SocketName(directory);
  // The directory itself is locked: nothing has to be written to claim it,
  // so a read-only directory is protected as well.
  fileio::FileDescriptor lock;
  // Where the directory cannot be locked, the socket decides.
  const bool held = fileio::LockDirectory(directory, &lock) != fileio::DirectoryLock::kBusy;

  auto self = std::unique_ptr<SingleInstance>(new SingleInstance);
  self->lockFd_ = lock.release();

  if (held) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un addr;
    const socklen_t len = AbstractAddress(name, &addr);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        ::listen(fd, 8) == 0) {
      self->listenFd_ = fd;
    } else {
      const bool inUse = errno == EADDRINUSE;
      if (fd >= 0) ::close(fd);
      if (inUse && self->lockFd_ < 0) {
        // Without a lock the socket is the only claim, and it is taken.
        *result =
            Knock(name, answerMs) ? rt::InstanceClaim::kHandedOver : rt::InstanceClaim::kNoAnswer;
        return nullptr;
      }
    }
    self->onKnock_ = std::move(onKnock);
    if (self->listenFd_ >= 0) {
      self->notifier_ = new QSocketNotifier(self->listenFd_, QSocketNotifier::Read);
      SingleInstance* raw = self.get();
      QObject::connect(self->notifier_, &QSocketNotifier::activated, self->notifier_,
                       [raw] { raw->Accept(); });
    }
    *result = rt::InstanceClaim::kClaimed;
    return self;
  }
  *result = Knock(name, answerMs) ? rt::InstanceClaim::kHandedOver : rt::InstanceClaim::kNoAnswer;
  return nullptr;
}

void SingleInstance::Accept() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: nothing more waiting
    }
    // Only this user's own starts may knock (abstract sockets carry no
    // file permissions).
    ucred cred{};
    socklen_t credLen = sizeof cred;
    bool ours =
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &credLen) == 0 && cred.uid == ::getuid();
    char buf[sizeof kKnock] = {};
    std::size_t got = 0;
    while (ours && got < sizeof kKnock - 1) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) break;
      const ssize_t n = ::recv(fd, buf + got, sizeof kKnock - 1 - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    const bool knocked = ours && got == sizeof kKnock - 1 && std::memcmp(buf, kKnock, got) == 0;
    if (knocked) (void)::send(fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
    ::close(fd);
    if (knocked && onKnock_) onKnock_();
  }
}

SingleInstance::~SingleInstance() {
  delete notifier_;
  if (listenFd_ >= 0) ::close(listenFd_);
  if (lockFd_ >= 0) ::close(lockFd_);
}
