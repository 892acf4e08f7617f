// The command line: what each argument list asks for, and the exit status
// of the requests that need no store.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using cmdline::Action;

struct Case {
  std::vector<std::string> args;
  Action action;
  std::string fileOrError;  // the file, or words of the usage error
};

}  // namespace

TEST(CommandLine, ParseTable) {
  const Case cases[] = {
      {{}, Action::kRunWindows, ""},
      {{"--help"}, Action::kHelp, ""},
      {{"--version"}, Action::kVersion, ""},
      {{"--export", "备忘录.md"}, Action::kExport, "备忘录.md"},
      {{"--export=a=b.md"}, Action::kExport, "a=b.md"},
      {{"--restore", "事件数据 2026-12-06.edb"}, Action::kRestore, "事件数据 2026-12-06.edb"},
      {{"--restore=b.edb"}, Action::kRestore, "b.edb"},
      {{"--import", "日记"}, Action::kImport, "日记"},
      {{"--import", "a.md", "--export", "b.md"}, Action::kUsageError, "一次只能用一个"},
      // A file name may look like an option.
      {{"--export", "--help"}, Action::kExport, "--help"},
      // Help and version win over the other actions, whatever the order.
      {{"--export", "a.md", "--help"}, Action::kHelp, ""},
      {{"--help", "--restore", "b.edb"}, Action::kHelp, ""},
      {{"--version", "--help"}, Action::kVersion, ""},
      {{"--restore=b.edb", "--version"}, Action::kVersion, ""},
      {{"--bogus"}, Action::kUsageError, "无法识别的选项“--bogus”"},
      {{"-"}, Action::kUsageError, "无法识别的选项“-”"},
      {{"--exports"}, Action::kUsageError, "无法识别的选项“--exports”"},
      {{"--help=x"}, Action::kUsageError, "无法识别的选项“--help=x”"},
      {{"notes.md"}, Action::kUsageError, "多余的参数“notes.md”"},
      {{"--export", "a.md", "b.md"}, Action::kUsageError, "多余的参数“b.md”"},
      {{"--export"}, Action::kUsageError, "后面要跟一个文件名"},
      {{"--export="}, Action::kUsageError, "文件名是空的"},
      {{"--restore", ""}, Action::kUsageError, "文件名是空的"},
      {{"--export", "a.md", "--restore", "b.edb"}, Action::kUsageError, "一次只能用一个"},
      {{"--export=a.md", "--export=b.md"}, Action::kUsageError, "一次只能用一个"},
      {{"--sync"}, Action::kSync, ""},
      {{"--sync", "--help"}, Action::kHelp, ""},
      {{"--sync=now"}, Action::kUsageError, "无法识别的选项“--sync=now”"},
      {{"--sync", "now"}, Action::kUsageError, "多余的参数“now”"},
      {{"--sync", "--export", "a.md"}, Action::kUsageError, "一次只能用一个"},
      {{"--sync-upload-all"}, Action::kSyncUploadAll, ""},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += "[" + a + "]";
    SCOPED_TRACE(joined);
    const cmdline::Request r = cmdline::Parse(c.args);
    EXPECT_EQ(r.action, c.action);
    if (c.action == Action::kUsageError) {
      EXPECT_NE(r.error.find(c.fileOrError), std::string::npos) << r.error;
    } else {
      EXPECT_EQ(r.file, c.fileOrError);
    }
  }
}

TEST(CommandLine, HelpVersionAndUsageErrorStatus) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(cmdline::Run(cmdline::Parse({"--help"})), 0);
  EXPECT_EQ(cmdline::Run(cmdline::Parse({"--version"})), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("--restore 备份文件"), std::string::npos) << out;
  EXPECT_NE(out.find("tamsivo "), std::string::npos) << out;

  testing::internal::CaptureStderr();
  EXPECT_EQ(cmdline::Run(cmdline::Parse({"--bogus"})), 2);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("--bogus"), std::string::npos) << err;
  EXPECT_NE(err.find("tamsivo --help"), std::string::npos) << err;
}
