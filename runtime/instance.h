// One running copy per directory: a lock on the directory held for the
// process's life, and a local socket through which a later start asks the
// running copy to come forward.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/runtime.h"

class SingleInstance {
 public:
  // Claims `directory`. On kClaimed the lock lasts as long as this object;
  // `onKnock` runs (on the caller's thread, from its event loop) whenever a
  // later start knocks, with what it asked (instance::KnockKind). Otherwise the holder has been
  // knocked on, waiting at most `answerMs` for it to answer.
  static std::unique_ptr<SingleInstance> Claim(const std::string& directory,
                                               std::function<void(int)> onKnock,
                                               rt::InstanceClaim* result, int answerMs = 10000);
  ~SingleInstance();

  // The socket name for a directory (abstract namespace, without the NUL).
  static std::string SocketName(const std::string& directory);

 private:
  SingleInstance() = default;
  void Accept();
  int lockFd_ = -1;
  int listenFd_ = -1;
  std::function<void(int)> onKnock_;
  class QSocketNotifier* notifier_ = nullptr;
};
