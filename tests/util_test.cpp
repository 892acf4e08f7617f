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
