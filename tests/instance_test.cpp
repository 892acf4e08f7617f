// One running copy per directory: the lock, the knock and the answer.
#include "runtime/instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <filesystem>
#include <thread>

#include "base/program.h"
#include "tests/support/test_program.h"

namespace {

namespace fs = std::filesystem;

using Dir = ScratchDir;

// Claims from another thread while this one runs its event loop, the way a
// second process knocks while the first goes on.
rt::InstanceClaim ClaimElsewhere(const std::string& dir, int answerMs) {
  std::atomic<bool> done{false};
  rt::InstanceClaim result = rt::InstanceClaim::kClaimed;
  std::thread other([&] {
    auto held = SingleInstance::Claim(dir, {}, &result, answerMs);
    EXPECT_EQ(held, nullptr);
    done = true;
  });
  QElapsedTimer t;
  t.start();
  while (!done && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  other.join();
  return result;
}

}  // namespace

TEST(SingleInstance, ASecondStartHandsOverToTheFirst) {
  TestProgram p;  // for the application object
  Dir dir;
  int knocks = 0;
  rt::InstanceClaim result;
  auto first = SingleInstance::Claim(
      dir.path(), [&] { ++knocks; }, &result);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(result, rt::InstanceClaim::kClaimed);

  EXPECT_EQ(ClaimElsewhere(dir.path(), 5000), rt::InstanceClaim::kHandedOver);
  EXPECT_EQ(knocks, 1);

  // The same directory by another name is the same directory.
  ::symlink(dir.path().c_str(), (dir.path() + "-link").c_str());
  EXPECT_EQ(ClaimElsewhere(dir.path() + "-link", 5000), rt::InstanceClaim::kHandedOver);
  ::unlink((dir.path() + "-link").c_str());
  EXPECT_EQ(knocks, 2);

  // A copy that does not answer (its loop is busy) is reported as such.
  rt::InstanceClaim blocked;
  EXPECT_EQ(SingleInstance::Claim(dir.path(), {}, &blocked, 300), nullptr);
  EXPECT_EQ(blocked, rt::InstanceClaim::kNoAnswer);

  // Gone with its holder: the next start holds the directory itself.
  first.reset();
  auto again = SingleInstance::Claim(dir.path(), {}, &result);
  EXPECT_NE(again, nullptr);
  EXPECT_EQ(result, rt::InstanceClaim::kClaimed);
}

TEST(SingleInstance, OtherDirectoriesAreIndependent) {
  TestProgram p;
  Dir a, b;
  rt::InstanceClaim ra, rb;
  auto first = SingleInstance::Claim(a.path(), {}, &ra);
  auto second = SingleInstance::Claim(b.path(), {}, &rb);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_NE(SingleInstance::SocketName(a.path()), SingleInstance::SocketName(b.path()));
}

TEST(SingleInstance, TheProgramNeverTouchesTheFilesOfARunningCopy) {
  TestProgram p;
  // A running copy holds the directory; its loop is busy and cannot answer.
  rt::InstanceClaim result;
  auto other = SingleInstance::Claim(p.dir(), {}, &result);
  ASSERT_NE(other, nullptr);
  p.Start();
  EXPECT_FALSE(p.runtime().IsLoaded(kMainWindow));
  EXPECT_FALSE(fs::exists(p.path("事件数据.edb")));
  EXPECT_FALSE(fs::exists(p.path("Start.ini")));
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_NE(p.messages[0].text.find("没有响应"), std::string::npos) << p.messages[0].text;
}
