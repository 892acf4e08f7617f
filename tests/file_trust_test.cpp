// The diary against other users of the same computer: what the program
// writes only the user reads, folders of others are refused, and what a
// killed write left is gone at the next start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/backup.h"
#include "archive/export.h"
#include "base/datetime.h"
#include "base/program.h"
#include "memo/drafts.h"
#include "memo/memo_store.h"
#include "tests/support/test_program.h"
#include "util/file_io.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct Umask {
  explicit Umask(mode_t m) : old(::umask(m)) {}
  ~Umask() { ::umask(old); }
  mode_t old;
};

}  // namespace

TEST(FileTrust, UnderTheUsualUmaskEveryMemoFileIsTheUsersAlone) {
  Umask usual(022);
  TestProgram p;
  p.Start();
  const std::string store = p.path(kMemoStoreFileName);
  EXPECT_EQ(ModeOf(store), 0600u);

  std::string error;
  const std::string draft = NewDraftPath(MakeDateTime(2026, 12, 7), p.now);
  ASSERT_TRUE(WriteDraft(draft, "草稿", &error)) << error;
  EXPECT_EQ(ModeOf(p.path("草稿")), 0700u);
  EXPECT_EQ(ModeOf(draft), 0600u);
  const std::string recovery = WriteRecoveryFile(MakeDateTime(2026, 12, 7), "恢复", p.now, &error);
  ASSERT_FALSE(recovery.empty()) << error;
  EXPECT_EQ(ModeOf(p.path("恢复")), 0700u);
  EXPECT_EQ(ModeOf(recovery), 0600u);

  const archive::DailyBackup backup = archive::BackUpDaily(store, MakeDateTime(2026, 12, 7));
  ASSERT_EQ(backup.outcome, archive::DailyBackup::Outcome::kMade) << backup.error;
  EXPECT_EQ(ModeOf(p.path("备份")), 0700u);
  EXPECT_EQ(ModeOf(backup.file), 0600u);

  int count = 0;
  ASSERT_TRUE(archive::ExportMemos(store, p.path("导出.md"), &count, &error)) << error;
  EXPECT_EQ(ModeOf(p.path("导出.md")), 0600u);
  // A file the user shared on purpose stays shared, and a link stays a link.
  ::chmod(p.path("导出.md").c_str(), 0644);
  ASSERT_EQ(::symlink("导出.md", p.path("链接.md").c_str()), 0);
  ASSERT_TRUE(archive::ExportMemos(store, p.path("链接.md"), &count, &error)) << error;
  EXPECT_EQ(ModeOf(p.path("导出.md")), 0644u);
  struct stat st {};
  ASSERT_EQ(::lstat(p.path("链接.md").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(FileTrust, AFolderTheStoreWouldShareIsRefusedBeforeAnythingOpens) {
  TestProgram p;
  ASSERT_EQ(::chmod(p.dir().c_str(), 0777), 0);
  p.Start();
  ::chmod(p.dir().c_str(), 0700);
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_NE(p.messages[0].text.find("无法启动"), std::string::npos) << p.messages[0].text;
  EXPECT_NE(p.messages[0].text.find("其他用户也可以写入"), std::string::npos);
  EXPECT_FALSE(p.runtime().FileExists(p.path(kMemoStoreFileName)));
  EXPECT_FALSE(p.runtime().IsLoaded(kMainWindow));
}

TEST(FileTrust, AnotherUsersDataFolderInTheHomeIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  ScratchDir home;
  ScopedEnv config("XDG_CONFIG_HOME", home / "cfg");
  ScopedEnv data("XDG_DATA_HOME", home / "share");
  ScratchDir program;
  PutFile(program / kInstalledMarkerName, "installed\n");
  ASSERT_EQ(::mkdir((home / "share").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((home / "share/tamsivo").c_str(), 0700), 0);
  ASSERT_EQ(::chown((home / "share/tamsivo").c_str(), 65534, 65534), 0);
  std::string error;
  EXPECT_FALSE(DecideFileLocations(program.path(), &error));
  EXPECT_NE(error.find("属于另一个用户"), std::string::npos) << error;
  // Ours but world-writable: refused too, not quietly narrowed.
  ASSERT_EQ(::chown((home / "share/tamsivo").c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod((home / "share/tamsivo").c_str(), 0777), 0);
  EXPECT_FALSE(DecideFileLocations(program.path(), &error));
  EXPECT_NE(error.find("其他用户也可以写入"), std::string::npos) << error;
  // Ours and only readable by others: taken, and narrowed.
  ASSERT_EQ(::chmod((home / "share/tamsivo").c_str(), 0755), 0);
  EXPECT_TRUE(DecideFileLocations(program.path(), &error)) << error;
  EXPECT_EQ(ModeOf(home / "share/tamsivo"), 0700u);
}

TEST(FileTrust, TemporariesOfKilledWritesInTheStoresFoldersGoAtTheNextStart) {
  TestProgram p;
  for (const char* dir : {"草稿", "恢复", "备份"}) ::mkdir(p.path(dir).c_str(), 0700);
  const std::vector<std::string> leftovers = {"草稿/.2026-12-07 20261207-100000.txt.a1B2c3",
                                              "恢复/.2026-12-06 20261206-100000.txt.Zz9Yy8",
                                              "备份/.事件数据 2026-12-06.edb.q1w2e3"};
  for (const std::string& name : leftovers) p.WriteFile(name, "a whole diary");
  p.WriteFile("备份/notes.txt", "the user's own");
  p.WriteFile("草稿/.hidden", "the user's own too");
  p.Start();
  for (const std::string& name : leftovers) {
    EXPECT_FALSE(p.runtime().FileExists(p.path(name))) << name;
  }
  EXPECT_EQ(p.ReadFile("备份/notes.txt"), "the user's own");
  EXPECT_EQ(p.ReadFile("草稿/.hidden"), "the user's own too");
}
