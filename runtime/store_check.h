// The whole-file integrity check of an open store on a thread of its own,
// with its own read-only connection: a start does not wait for a check that
// grows with the store, and a write waits for its verdict instead.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "base/runtime.h"

struct sqlite3;

class BackgroundCheck {
 public:
  // Starts after `delayMs` (or as soon as someone waits for the verdict), so
  // it does not compete with the start for the disk; `onVerdict` runs on the
  // check's thread once the verdict is in.
  BackgroundCheck(std::string file, std::function<void()> onVerdict, int delayMs);
  // Interrupts a check still running.
  ~BackgroundCheck();
  BackgroundCheck(const BackgroundCheck&) = delete;
  BackgroundCheck& operator=(const BackgroundCheck&) = delete;

  // Waits for the verdict; the reason when it failed. A check that could
  // not run (the file locked by another program) is tried once more here;
  // kPending then says there is no verdict yet, with the reason.
  rt::StoreCheck Await(std::string* reason);
  rt::StoreCheck Peek(std::string* reason);

 private:
  void Run();
  // One check on a connection of its own; false when it could not run.
  bool CheckOnce(bool* passed, std::string* reason, bool background);

  const std::string file_;
  const std::function<void()> onVerdict_;
  const int delayMs_;
  std::mutex mutex_;
  std::condition_variable changed_;
  rt::StoreCheck verdict_ = rt::StoreCheck::kPending;
  std::string reason_;
  bool hurry_ = false;
  bool finished_ = false;  // the thread is done, with a verdict or without
  bool stop_ = false;
  sqlite3* running_ = nullptr;  // the connection of a check under way
  std::thread thread_;
};
