// The shared file layer and text helpers: one promise for every write, one
// converter for every path to GBK.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "net/encoding.h"
#include "tests/support/test_program.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/staged_file.h"
#include "util/text.h"

namespace {

namespace fs = std::filesystem;

using Dir = ScratchDir;

std::string Slurp(const std::string& path) { return SlurpFile(path); }

mode_t Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

}  // namespace

TEST(ReplaceFileAtomically, ModesLinksAndTheNoReplacePolicy) {
  Dir d;
  std::string error;
  const mode_t old = ::umask(027);
  ASSERT_TRUE(fileio::ReplaceFileAtomically(d / "new", "a", {}, &error)) << error;
  ASSERT_TRUE(
      fileio::ReplaceFileAtomically(d / "secret", "b", {fileio::NewFileMode::kOwnerOnly}, &error));
  ::umask(old);
  EXPECT_EQ(Mode(d / "new"), 0640u);
  EXPECT_EQ(Mode(d / "secret"), 0600u);

  // An existing file keeps its mode; its content is replaced whole.
  ::chmod((d / "new").c_str(), 0604);
  ASSERT_TRUE(fileio::ReplaceFileAtomically(d / "new", "second", {}, &error));
  EXPECT_EQ(Slurp(d / "new"), "second");
  EXPECT_EQ(Mode(d / "new"), 0604u);

  // Through a symbolic link the target changes and the link stays.
  ASSERT_EQ(::symlink("new", (d / "link").c_str()), 0);
  ASSERT_TRUE(fileio::ReplaceFileAtomically(d / "link", "third", {}, &error));
  EXPECT_TRUE(fs::is_symlink(d / "link"));
  EXPECT_EQ(Slurp(d / "new"), "third");

  // Never over a file with content; an empty one is filled.
  fileio::ReplacePolicy keep;
  keep.onlyIfAbsentOrEmpty = true;
  EXPECT_FALSE(fileio::ReplaceFileAtomically(d / "new", "x", keep, &error));
  EXPECT_EQ(Slurp(d / "new"), "third");
  EXPECT_NE(error.find("已存在"), std::string::npos) << error;
  std::ofstream(d / "empty").close();
  EXPECT_TRUE(fileio::ReplaceFileAtomically(d / "empty", "filled", keep, &error)) << error;
  EXPECT_EQ(Slurp(d / "empty"), "filled");

  // No temporary file is ever left behind, and a directory is refused.
  fs::create_directory(d / "dir");
  EXPECT_FALSE(fileio::ReplaceFileAtomically(d / "dir", "x", {}, &error));
  for (const auto& e : fs::directory_iterator(d.path())) {
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  }
}

TEST(ReplaceFileAtomically, AReadOnlyDirectoryIsReportedInChinese) {
  Dir d;
  ObeyFilePermissions obey;
  ASSERT_EQ(::chmod(d.path().c_str(), 0555), 0);
  std::string error;
  EXPECT_FALSE(fileio::ReplaceFileAtomically(d / "x", "x", {}, &error));
  ::chmod(d.path().c_str(), 0755);
  EXPECT_NE(error.find("没有访问权限"), std::string::npos) << error;
}

TEST(ReadWholeFile, RegularFilesOnlyAndWithinTheLimit) {
  Dir d;
  std::ofstream(d / "f") << "12345";
  std::string bytes;
  int err = 0;
  EXPECT_TRUE(fileio::ReadWholeFile(d / "f", &bytes, &err));
  EXPECT_EQ(bytes, "12345");
  EXPECT_FALSE(fileio::ReadWholeFile(d / "f", &bytes, &err, 4));
  EXPECT_EQ(err, EFBIG);
  ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(fileio::ReadWholeFile(d / "fifo", &bytes, &err));  // does not hang
  EXPECT_FALSE(fileio::ReadWholeFile(d / "missing", &bytes, &err));
  EXPECT_EQ(err, ENOENT);
}

TEST(WithFilterExtension, TheChosenFileTypeNamesABareName) {
  using fileio::WithFilterExtension;
  EXPECT_EQ(WithFilterExtension("/home/u/memos", "CSV 表格 (*.csv)"), "/home/u/memos.csv");
  EXPECT_EQ(WithFilterExtension("memos", "iCalendar 日历 (*.ics)"), "memos.ics");
  // A name with an extension of its own keeps it, whatever the filter.
  EXPECT_EQ(WithFilterExtension("/home/u/memos.txt", "CSV 表格 (*.csv)"), "/home/u/memos.txt");
  // A dot in a folder name is no extension of the file's.
  EXPECT_EQ(WithFilterExtension("/home/u.v/memos", "Markdown (*.md)"), "/home/u.v/memos.md");
  // No extension in the filter, no path, or a cancelled dialog: unchanged.
  for (const char* filter : {"所有文件 (*)", "", "(*.)"}) {
    EXPECT_EQ(WithFilterExtension("/home/u/memos", filter), "/home/u/memos") << filter;
  }
  EXPECT_EQ(WithFilterExtension("", "CSV 表格 (*.csv)"), "");
  EXPECT_EQ(WithFilterExtension("a", "表 (*.csv *.txt)"), "a.csv");
}

TEST(Text, LinesCaseAndPrefixes) {
  EXPECT_EQ(text::SplitLines("a\r\nb\nc\rd"), (std::vector<std::string_view>{"a", "b", "c", "d"}));
  EXPECT_EQ(text::SplitLines("a\r\n\r\n"), (std::vector<std::string_view>{"a", ""}));
  EXPECT_EQ(text::FindIgnoringAsciiCase("Set-COOKIE: x", "cookie:"), 4u);
  EXPECT_TRUE(text::EndsWithIgnoringAsciiCase("A.DESKTOP", ".desktop"));
  EXPECT_EQ(text::Trim(" \t x \r\n"), "x");
  // Never a cut UTF-8 sequence.
  EXPECT_EQ(text::Utf8Prefix("今天没有", 2), "今天…");
  EXPECT_EQ(text::Utf8Prefix("今天", 2), "今天");
}

// Every path from UTF-8 to GBK treats a character GBK cannot hold alike:
// the tag characters U+E0000..U+E007F included, which glibc would drop.
TEST(Gbk, TagCharactersBecomeAQuestionMarkOnEveryPath) {
  TestProgram p;
  for (const std::string tag :
       {"\xF3\xA0\x80\x81", "\xF3\xA0\x80\xBF", "\xF3\xA0\x81\x80", "\xF3\xA0\x81\xBF"}) {
    SCOPED_TRACE(tag);
    const std::string in = "a" + tag + "中";
    const std::string want = "a?\xD6\xD0";
    EXPECT_EQ(gbk::FromUtf8(in), want);
    EXPECT_EQ(p.runtime().TextToGbkBytes(in), want);
    EXPECT_EQ(Utf8ToGbk(in), want);
    EXPECT_EQ(WideToText(TextToWide(in, 65001), 936), want);
  }
  // A character GBK lacks outside the tags, and broken UTF-8, alike too.
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80x"), gbk::FromUtf8("\xF0\x9F\x98\x80x"));
  EXPECT_EQ(gbk::FromUtf8("\xE4\xB8"), "?");
}

TEST(LockDirectory, OneHolderAtATime) {
  Dir d;
  fileio::FileDescriptor first, second;
  EXPECT_EQ(fileio::LockDirectory(d.path(), &first), fileio::DirectoryLock::kHeld);
  EXPECT_EQ(fileio::LockDirectory(d.path(), &second), fileio::DirectoryLock::kBusy);
  EXPECT_FALSE(second.valid());
  first.reset();
  EXPECT_EQ(fileio::LockDirectory(d.path(), &second), fileio::DirectoryLock::kHeld);
  EXPECT_EQ(fileio::LockDirectory(d / "missing", &first), fileio::DirectoryLock::kUnsupported);
}

TEST(MakeDirectories, EachMissingLevelGetsTheModeAndExistingOnesKeepTheirs) {
  Dir d;
  const mode_t old = ::umask(0);
  std::string error;
  ASSERT_EQ(::mkdir((d / "a").c_str(), 0700), 0);
  EXPECT_TRUE(fileio::MakeDirectories(d / "a/b/c/", 0751, &error)) << error;
  EXPECT_TRUE(fileio::MakeDirectories(d / "a/b/c", 0751, &error)) << error;  // all there
  ::umask(old);
  EXPECT_EQ(Mode(d / "a"), 0700u);
  EXPECT_EQ(Mode(d / "a/b"), 0751u);
  EXPECT_EQ(Mode(d / "a/b/c"), 0751u);
  std::ofstream(d / "file").close();
  EXPECT_FALSE(fileio::MakeDirectories(d / "file/x", 0700, &error));
  EXPECT_NE(error.find(d / "file"), std::string::npos) << error;
}

namespace {

// What the file layer synced, in order: the path each descriptor names.
std::vector<std::string> g_synced;
int RecordSync(int fd) {
  g_synced.push_back(fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string());
  return ::fsync(fd);
}
int FailSync(int) {
  errno = EIO;
  return -1;
}

struct SyncHook {
  explicit SyncHook(fileio::SyncFunction f) : old(fileio::SetSyncFunction(f)) {}
  ~SyncHook() { fileio::SetSyncFunction(old); }
  fileio::SyncFunction old;
};

bool AnyHiddenFile(const std::string& dir) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string()[0] == '.') return true;
  }
  return false;
}

}  // namespace

TEST(StagedFile, StreamsManyBuffersWholeAndInOrder) {
  Dir d;
  std::string want;
  fileio::StagedFile f;
  std::string error;
  ASSERT_TRUE(f.Open(d / "big", {fileio::NewFileMode::kOwnerOnly}, &error)) << error;
  // Small pieces fill the buffer many times over; a big one goes straight.
  for (int i = 0; i < 20000; ++i) {
    const std::string piece = "第" + std::to_string(i) + "行\n";
    f.Write(piece);
    want += piece;
  }
  const std::string big(200000, 'x');
  f.Write(big);
  want += big;
  f.Write("end");
  want += "end";
  ASSERT_GT(want.size(), 4u * 65536);
  ASSERT_TRUE(f.Commit(&error)) << error;
  EXPECT_EQ(Slurp(d / "big"), want);
}

TEST(StagedFile, SyncsTheFileBeforeTheRenameAndTheDirectoryAfter) {
  Dir d;
  PutFile(d / "f", "old");
  std::string error;
  {
    g_synced.clear();
    SyncHook hook(RecordSync);
    ASSERT_TRUE(fileio::ReplaceFileAtomically(d / "f", "new", {}, &error)) << error;
  }
  ASSERT_EQ(g_synced.size(), 2u);
  EXPECT_TRUE(fileio::IsLeftoverTemporary(fileio::FileNameOf(g_synced[0]), "f")) << g_synced[0];
  EXPECT_EQ(g_synced[1], fs::canonical(d.path()).string());

  // A sync that fails: the old content stays, and nothing is left behind.
  {
    SyncHook hook(FailSync);
    EXPECT_FALSE(fileio::ReplaceFileAtomically(d / "f", "lost", {}, &error));
  }
  EXPECT_NE(error.find("读写磁盘时出错"), std::string::npos) << error;
  EXPECT_EQ(Slurp(d / "f"), "new");
  EXPECT_FALSE(AnyHiddenFile(d.path()));
}

TEST(StagedFile, PrivateFromTheStartAndAReplacedFileKeepsItsMode) {
  Dir d;
  const mode_t old = ::umask(022);
  std::string error;
  {
    fileio::StagedFile f;
    ASSERT_TRUE(f.Open(d / "export.md", {fileio::NewFileMode::kOwnerOnly}, &error)) << error;
    f.Write("secret");
    // What a kill would leave shows nothing to others.
    EXPECT_EQ(Mode(f.temporaryPath()), 0600u);
    ASSERT_TRUE(f.Commit(&error)) << error;
  }
  EXPECT_EQ(Mode(d / "export.md"), 0600u);
  ::chmod((d / "export.md").c_str(), 0640);
  ASSERT_TRUE(fileio::ReplaceFileAtomically(d / "export.md", "again",
                                            {fileio::NewFileMode::kOwnerOnly}, &error));
  EXPECT_EQ(Mode(d / "export.md"), 0640u);
  // An abandoned write removes its temporary.
  {
    fileio::StagedFile f;
    ASSERT_TRUE(f.Open(d / "export.md", {}, &error));
    f.Write("half");
  }
  ::umask(old);
  EXPECT_EQ(Slurp(d / "export.md"), "again");
  EXPECT_FALSE(AnyHiddenFile(d.path()));
}

// Files, links and folders of another user: root makes them (nobody's).
TEST(FileLayer, NeverWritesOrTakesOverWhatAnotherUserOwns) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files another user owns";
  Dir d;
  const uid_t nobody = 65534;
  std::string error;
  PutFile(d / "theirs", "their text");
  ASSERT_EQ(::chown((d / "theirs").c_str(), nobody, nobody), 0);
  EXPECT_FALSE(fileio::ReplaceFileAtomically(d / "theirs", "x", {}, &error));
  EXPECT_NE(error.find("另一个用户"), std::string::npos) << error;

  // Their link to their file, and our link to their file.
  ASSERT_EQ(::symlink("theirs", (d / "事件数据.edb").c_str()), 0);
  ASSERT_EQ(::lchown((d / "事件数据.edb").c_str(), nobody, nobody), 0);
  EXPECT_FALSE(fileio::ReplaceFileAtomically(d / "事件数据.edb", "x", {}, &error));
  ASSERT_EQ(::symlink("theirs", (d / "mine").c_str()), 0);
  EXPECT_FALSE(fileio::ReplaceFileAtomically(d / "mine", "x", {}, &error));
  EXPECT_EQ(Slurp(d / "theirs"), "their text");
  EXPECT_TRUE(fs::is_symlink(d / "事件数据.edb"));

  // Our own link to our own file is followed (a synced folder, say).
  PutFile(d / "ours", "a");
  ::chmod((d / "ours").c_str(), 0600);
  ASSERT_EQ(::symlink("ours", (d / "link").c_str()), 0);
  EXPECT_TRUE(fileio::ReplaceFileAtomically(d / "link", "b", {}, &error)) << error;
  EXPECT_EQ(Slurp(d / "ours"), "b");
  EXPECT_EQ(Mode(d / "ours"), 0600u);

  // Folders: theirs refused, ours narrowed, one others may write refused.
  fs::create_directory(d / "草稿");
  ASSERT_EQ(::chown((d / "草稿").c_str(), nobody, nobody), 0);
  EXPECT_FALSE(fileio::MakeDirectories(d / "草稿", 0700, &error));
  EXPECT_FALSE(fileio::CheckOwnDirectory(d / "草稿", &error));
  ASSERT_EQ(::symlink("草稿", (d / "备份").c_str()), 0);
  EXPECT_FALSE(fileio::MakeDirectories(d / "备份", 0700, &error));
  ::mkdir((d / "恢复").c_str(), 0755);
  EXPECT_TRUE(fileio::MakeDirectories(d / "恢复", 0700, &error)) << error;
  EXPECT_EQ(Mode(d / "恢复"), 0700u);
  ::mkdir((d / "open").c_str(), 0777);
  ::chmod((d / "open").c_str(), 0777);
  EXPECT_FALSE(fileio::CheckOwnDirectory(d / "open", &error));
  EXPECT_NE(error.find("其他用户也可以写入"), std::string::npos) << error;
  EXPECT_TRUE(fileio::CheckOwnDirectory(d / "恢复", &error)) << error;

  // A lock on a folder of theirs is never taken for one of ours.
  fileio::FileDescriptor held;
  EXPECT_EQ(fileio::LockDirectory(d / "草稿", &held), fileio::DirectoryLock::kUnsupported);
}

TEST(LeftoverTarget, OnlyTheTemporaryPattern) {
  EXPECT_EQ(fileio::LeftoverTarget(".事件数据.edb.a1B2c3"), "事件数据.edb");
  EXPECT_EQ(fileio::LeftoverTarget(".x.txt.abcdef"), "x.txt");
  EXPECT_EQ(fileio::LeftoverTarget("x.txt.abcdef"), "");
  EXPECT_EQ(fileio::LeftoverTarget(".x.txt-abcdef"), "");
  EXPECT_EQ(fileio::LeftoverTarget(".abcdef"), "");
  EXPECT_EQ(fileio::PathKey("/tmp/../tmp"), fileio::PathKey("/tmp"));
  EXPECT_NE(fileio::PathKey("/tmp"), fileio::PathKey("/"));
}
