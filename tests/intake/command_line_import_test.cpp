// tamsivo --import on the real binary, copied into a scratch directory as
// a portable copy (its store beside it), with no display.
#include <sys/stat.h>

#include <cstdlib>

#include "tests/intake/intake_test_util.h"
#include "util/instance_lock.h"

using namespace intake_test;

namespace {

struct Copy {
  ScratchDir dir;
  std::string bin = dir / "bin";
  std::string store = bin + "/事件数据.edb";
  std::string out, err;

  Copy() {
    mkdir(bin.c_str(), 0700);
    // The lock folder the copy and this test both use.
    mkdir((dir / "r").c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", (dir / "r").c_str(), 1);
    for (const char* f : {"tamsivo", "tesmo.qrr"}) {
      const std::string from = std::string(std::getenv("TAMSIVO_TEST_BIN")) + "/" + f;
      PutFile(bin + "/" + f, SlurpFile(from));
      chmod((bin + "/" + f).c_str(), 0700);
    }
  }
  int Run(const std::string& path) {
    const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY HOME='" + dir.path() +
                            "' XDG_CONFIG_HOME='" + dir.path() + "/c' XDG_DATA_HOME='" +
                            dir.path() + "/d' XDG_RUNTIME_DIR='" + dir.path() + "/r' ";
    const int status = std::system((env + "'" + bin + "/tamsivo' --import '" + path + "' >'" +
                                    dir.path() + "/out' 2>'" + dir.path() + "/err'")
                                       .c_str());
    out = SlurpFile(dir / "out");
    err = SlurpFile(dir / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST(CommandLineImport, OneSummaryLineTwiceTheSameAndRefusedWhileACopyRuns) {
  if (!std::getenv("TAMSIVO_TEST_BIN")) GTEST_SKIP() << "TAMSIVO_TEST_BIN names the program";
  Copy c;
  EXPECT_EQ(c.Run(c.dir / "notes"), 1);
  EXPECT_NE(c.err.find("请先启动一次 Tamsivo"), std::string::npos) << c.err;

  { MemoFile(c.store).Put(Date(2024, 5, 1), "原来的"); }
  mkdir((c.dir / "notes").c_str(), 0700);
  PutFile(c.dir / "notes/2024-05-01.md", "日记\n");
  PutFile(c.dir / "notes/2024-05-02.md", "第二天");
  PutFile(c.dir / "notes/journal.json", "{\"entries\": [\n  oops\n]}");
  ASSERT_EQ(c.Run(c.dir / "notes"), 0) << c.err;
  EXPECT_EQ(c.out,
            "已从“" + c.dir / "notes" +
                "”导入：新增 1 天，追加到已有备忘录 1 天，已有相同内容跳过 0 天；1 处没有读入。\n");
  EXPECT_NE(c.err.find("journal.json 第 2 行：JSON 格式有误"), std::string::npos) << c.err;
  const auto memos = Memos(c.store);
  EXPECT_EQ(memos.at("2024-05-01"), "原来的\n\n—— 导入 ——\n日记");
  EXPECT_EQ(memos.at("2024-05-02"), "第二天");
  int backups = 0;
  for (const std::string& name : Names(c.bin + "/备份"))
    backups += name.find("导入前") != std::string::npos;
  EXPECT_EQ(backups, 1);

  ASSERT_EQ(c.Run(c.dir / "notes"), 0) << c.err;
  EXPECT_NE(c.out.find("没有要导入的内容：新增 0 天，追加到已有备忘录 0 天，已有相同内容跳过 2 天"),
            std::string::npos)
      << c.out;
  EXPECT_EQ(Memos(c.store), memos);

  // A running copy holds the directory's lock for its life.
  PutFile(c.dir / "notes/2024-05-03.md", "第三天");
  fileio::FileDescriptor held;
  ASSERT_EQ(instance::LockDataDirectory(c.bin, &held), fileio::DirectoryLock::kHeld);
  EXPECT_EQ(c.Run(c.dir / "notes"), 1);
  EXPECT_NE(c.err.find("正在使用"), std::string::npos) << c.err;
  EXPECT_EQ(Memos(c.store), memos);
}

}  // namespace
