#include "runtime/store_check.h"

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "runtime/sqlite_util.h"
#include "runtime/table_file.h"

BackgroundCheck::BackgroundCheck(std::string file, std::function<void()> onVerdict, int delayMs)
    : file_(std::move(file)), onVerdict_(std::move(onVerdict)), delayMs_(delayMs) {
  thread_ = std::thread([this] { Run(); });
}

BackgroundCheck::~BackgroundCheck() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    if (running_) sqlite3_interrupt(running_);
  }
  changed_.notify_all();
  thread_.join();
}

rt::StoreCheck BackgroundCheck::Await(std::string* reason) {
  std::unique_lock lock(mutex_);
  hurry_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return finished_; });
  if (verdict_ == rt::StoreCheck::kPending) {
    lock.unlock();
    bool passed = false;
    std::string why;
    const bool ran = CheckOnce(&passed, &why, false);
    lock.lock();
    if (ran) {
      verdict_ = passed ? rt::StoreCheck::kPassed : rt::StoreCheck::kFailed;
      reason_ = passed ? std::string() : why;
    } else {
      reason_ = why;
    }
  }
  if (reason) *reason = reason_;
  return verdict_;
}

rt::StoreCheck BackgroundCheck::Peek(std::string* reason) {
  std::lock_guard lock(mutex_);
  if (reason) *reason = reason_;
  return verdict_;
}

void BackgroundCheck::Run() {
  {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(delayMs_),
                      [this] { return hurry_ || stop_; });
    if (stop_) return;
  }
  // Behind the windows, which the user is waiting for.
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
  bool passed = false;
  std::string reason;
  const bool ran = CheckOnce(&passed, &reason, true);
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    if (ran) {
      verdict_ = passed ? rt::StoreCheck::kPassed : rt::StoreCheck::kFailed;
    }
    reason_ = passed ? std::string() : reason;
  }
  changed_.notify_all();
  if (ran && onVerdict_) onVerdict_();
}

bool BackgroundCheck::CheckOnce(bool* passed, std::string* reason, bool background) {
  int rc = 0;
  const sqlite::Db db = sqlite::Open(file_, SQLITE_OPEN_READONLY, &rc);
  if (rc != SQLITE_OK) {
    *reason = sqlite::Describe(db.get(), rc);
    return false;
  }
  if (background) {
    std::lock_guard lock(mutex_);
    if (stop_) return false;
    running_ = db.get();
  }
  int code = 0;
  *passed = CheckIntegrity(db.get(), file_, reason, &code);
  if (background) {
    std::lock_guard lock(mutex_);
    running_ = nullptr;
  }
  // A check that could not run (locked, interrupted) found nothing either way.
  return *passed || code == 0;
}
