// One running copy per directory: the lock, the knock and the answer.
#include "runtime/instance.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "base/program.h"
#include "tests/support/test_program.h"
#include "util/instance_lock.h"

namespace {

namespace fs = std::filesystem;

using Dir = ScratchDir;

// Runs `call` on another thread while this one runs its event loop, the
// way a second process knocks while the first goes on.
void Elsewhere(const std::function<void()>& call) {
  std::atomic<bool> done{false};
  std::thread other([&] {
    call();
    done = true;
  });
  QElapsedTimer t;
  t.start();
  while (!done && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  other.join();
}

rt::InstanceClaim ClaimElsewhere(const std::string& dir, int answerMs) {
  rt::InstanceClaim result = rt::InstanceClaim::kClaimed;
  Elsewhere([&] {
    auto held = SingleInstance::Claim(dir, {}, &result, answerMs);
    EXPECT_EQ(held, nullptr);
  });
  return result;
}

// Knocks with `text`, as tamsivo --sync does.
instance::KnockResult KnockElsewhere(const std::string& dir, const char* text) {
  instance::KnockResult result = instance::KnockResult::kNobody;
  Elsewhere([&] { result = instance::Knock(dir, 3000, false, text); });
  return result;
}

}  // namespace

TEST(SingleInstance, ASecondStartHandsOverToTheFirst) {
  TestProgram p;  // for the application object
  Dir dir;
  int knocks = 0;
  std::vector<int> kinds;
  rt::InstanceClaim result;
  auto first = SingleInstance::Claim(
      dir.path(),
      [&](int kind) {
        ++knocks;
        kinds.push_back(kind);
      },
      &result);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(result, rt::InstanceClaim::kClaimed);

  EXPECT_EQ(ClaimElsewhere(dir.path(), 5000), rt::InstanceClaim::kHandedOver);
  EXPECT_EQ(knocks, 1);

  // The same directory by another name is the same directory.
  ::symlink(dir.path().c_str(), (dir.path() + "-link").c_str());
  EXPECT_EQ(ClaimElsewhere(dir.path() + "-link", 5000), rt::InstanceClaim::kHandedOver);
  ::unlink((dir.path() + "-link").c_str());
  EXPECT_EQ(knocks, 2);

  // tamsivo --sync asks for a sync, told apart from a start; anything else
  // is neither answered nor acted on.
  EXPECT_EQ(KnockElsewhere(dir.path(), instance::kSyncKnockText), instance::KnockResult::kAnswered);
  EXPECT_EQ(KnockElsewhere(dir.path(), "raisesync\n"), instance::KnockResult::kNoAnswer);
  EXPECT_EQ(KnockElsewhere(dir.path(), "sync"), instance::KnockResult::kNoAnswer);
  EXPECT_EQ(kinds, (std::vector<int>{0, 0, 1}));

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

namespace {

// tests/support/squatter.py as nobody: a flock on the directory and the
// copy's first socket name, answering "ok" to anyone.
class Squatter {
 public:
  Squatter(const std::string& dir, const std::string& name) {
    // Handed over as text: the other user may not be able to enter the
    // checkout (a clone under /root).
    std::ifstream file(TAMSIVO_SQUATTER);
    const std::string source((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      // Only the ends it uses: ours must close for it to see the end.
      for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
      ::execlp("setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
               "/usr/bin/python3", "-c", source.c_str(), dir.c_str(), name.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Squatter() {
    if (to_ >= 0) ::close(to_);  // ends it
    if (from_ >= 0) ::close(from_);
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
  }
  void Say(const std::string& line) { (void)!::write(to_, line.data(), line.size()); }
  // The next line it prints, running the event loop meanwhile.
  std::string Line() {
    std::string line;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
      pollfd p{from_, POLLIN, 0};
      if (::poll(&p, 1, 20) == 1) {
        char c;
        if (::read(from_, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
      }
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return line;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
};

}  // namespace

TEST(SingleInstance, AnotherUserCanNeitherBlockNorFakeNorKnock) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a squatter as another user (nobody)";
  TestProgram p;
  Dir dir;
  ::chmod(dir.path().c_str(), 0755);  // so nobody can reach it
  Squatter squatter(dir.path(), SingleInstance::SocketName(dir.path()));
  ASSERT_EQ(squatter.Line(), "ready");

  // Their flock and their "ok" neither stop nor fool a start of ours.
  int knocks = 0;
  rt::InstanceClaim result;
  QElapsedTimer t;
  t.start();
  auto first = SingleInstance::Claim(
      dir.path(), [&](int) { ++knocks; }, &result, 5000);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(result, rt::InstanceClaim::kClaimed);
  EXPECT_LT(t.elapsed(), 2000);

  // Our second start finds our copy under the next name and hands over.
  EXPECT_EQ(ClaimElsewhere(dir.path(), 5000), rt::InstanceClaim::kHandedOver);
  EXPECT_EQ(knocks, 1);

  // Their knock raises nothing and gets no answer.
  squatter.Say("knock " + instance::SocketNames(dir.path())[1] + "\n");
  EXPECT_EQ(squatter.Line(), "silent");
  EXPECT_EQ(knocks, 1);
}
