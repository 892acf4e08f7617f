#include "runtime/instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "util/file_io.h"
#include "util/instance_lock.h"

namespace {

rt::InstanceClaim ClaimOf(instance::KnockResult knocked) {
  return knocked == instance::KnockResult::kAnswered ? rt::InstanceClaim::kHandedOver
                                                     : rt::InstanceClaim::kNoAnswer;
}

}  // namespace

std::string SingleInstance::SocketName(const std::string& directory) {
  return instance::SocketNames(directory).front();
}

std::unique_ptr<SingleInstance> SingleInstance::Claim(const std::string& directory,
                                                      std::function<void(int)> onKnock,
                                                      rt::InstanceClaim* result, int answerMs) {
  // The lock is in a folder only this user can enter: another user can
  // neither hold it nor make it look held.
  fileio::FileDescriptor lock;
  const fileio::DirectoryLock state = instance::LockDataDirectory(directory, &lock);
  if (state == fileio::DirectoryLock::kBusy) {
    *result = ClaimOf(instance::Knock(directory, answerMs));
    return nullptr;
  }
  if (state == fileio::DirectoryLock::kUnsupported) {
    // Without a lock the socket is the only claim: a copy of ours that
    // listens holds the directory.
    const instance::KnockResult knocked = instance::Knock(directory, answerMs, false);
    if (knocked != instance::KnockResult::kNobody) {
      *result = ClaimOf(knocked);
      return nullptr;
    }
  }
  auto self = std::unique_ptr<SingleInstance>(new SingleInstance);
  self->lockFd_ = lock.release();
  // Names other users squat are passed over; with all of them taken the
  // copy still runs, only a later start cannot hand over to it.
  self->listenFd_ = instance::Listen(directory).release();
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

void SingleInstance::Accept() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: nothing more waiting
    }
    // Only this user's own starts may knock (abstract sockets carry no
    // file permissions).
    bool ours = instance::PeerIsUs(fd);
    // One short line: "raise\n" or "sync\n".
    char buf[8] = {};
    std::size_t got = 0;
    while (ours && got < sizeof buf && (got == 0 || buf[got - 1] != '\n')) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) break;
      const ssize_t n = ::recv(fd, buf + got, sizeof buf - got, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    const int kind = ours ? instance::KnockKind(std::string_view(buf, got)) : -1;
    if (kind >= 0) {
      (void)::send(fd, instance::kAnswerText, sizeof instance::kAnswerText - 1, MSG_NOSIGNAL);
    }
    ::close(fd);
    if (kind >= 0 && onKnock_) onKnock_(kind);
  }
}

SingleInstance::~SingleInstance() {
  delete notifier_;
  if (listenFd_ >= 0) ::close(listenFd_);
  if (lockFd_ >= 0) ::close(lockFd_);
}
