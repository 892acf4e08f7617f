// The start-at-login entry and the calendar control's registration calls.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "base/program.h"
#include "settings/settings.h"
#include "system/registration.h"
#include "system/start_at_boot.h"
#include "tests/support/test_program.h"

namespace fs = std::filesystem;

namespace {

// Reads back an Exec value holding one quoted argument the way a desktop
// does: string escapes, then the quoting, then %%. nullopt when malformed.
std::optional<std::string> ExecProgram(const std::string& value) {
  std::string s;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\') {
      s += value[i];
    } else if (++i < value.size() && std::string("snrt\\").find(value[i]) != std::string::npos) {
      s += std::string(" \n\r\t\\")[std::string("snrt\\").find(value[i])];
    } else {
      return std::nullopt;
    }
  }
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return std::nullopt;
  std::string arg;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == '"' || s[i] == '`' || s[i] == '$') return std::nullopt;  // must be escaped
    if (s[i] == '\\' &&
        (++i + 1 == s.size() || std::string("\"`$\\").find(s[i]) == std::string::npos))
      return std::nullopt;
    if (s[i] == '%' && (++i + 1 == s.size() || s[i] != '%')) return std::nullopt;
    arg += s[i];
  }
  return arg;
}

std::string Read(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

std::string Line(const std::string& text, const std::string& key) {
  const size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "<none>";
  const size_t from = at + key.size() + 2;
  return text.substr(from, text.find('\n', from) - from);
}

}  // namespace

TEST(StartAtBoot, OnOnAgainOffOffAgain) {
  TestProgram p;
  setenv("XDG_CONFIG_HOME", p.path("config").c_str(), 1);
  p.Start();
  const std::string entry = p.path("config/autostart/Tamsivo.desktop");
  EXPECT_EQ(StartAtBootEntryPath(), entry);

  EXPECT_TRUE(SetStartAtBoot(true));
  EXPECT_EQ(ReadSetting(kMainSection, "开机启动"), "1");
  const std::string text = Read(entry);
  EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\nName=Tamsivo\n", 0), 0u);
  EXPECT_EQ(Line(text, "Comment"), "避免忘记事情的程序");
  EXPECT_EQ(Line(text, "Path"), "<none>");
  EXPECT_EQ(ExecProgram(Line(text, "Exec")), p.path("system_test"));

  // On again replaces a spoilt entry whole and leaves no temporary file
  // behind.
  p.WriteFile("config/autostart/Tamsivo.desktop", "junk");
  DirectoryWatch watch(p.path("config/autostart"));
  EXPECT_TRUE(SetStartAtBoot(true));
  EXPECT_TRUE(watch.ArrivedWhole("Tamsivo.desktop"));
  EXPECT_EQ(Read(entry), text);
  EXPECT_EQ(std::distance(fs::directory_iterator(p.path("config/autostart")), {}), 1);

  for (int i = 0; i < 2; ++i) {  // off twice: the second finds nothing to delete
    EXPECT_TRUE(SetStartAtBoot(false));
    EXPECT_EQ(ReadSetting(kMainSection, "开机启动"), "0");
    EXPECT_FALSE(fs::exists(entry));
  }

  // Without XDG_CONFIG_HOME (or with an invalid relative one): ~/.config.
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", p.dir().c_str(), 1);
  setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(StartAtBootEntryPath(), p.path(".config/autostart/Tamsivo.desktop"));
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
}

TEST(StartAtBoot, ExecSurvivesAwkwardPathsAndSuffixRule) {
  TestProgram p;
  for (const std::string target :
       {"/opt/my programs/tamsivo", "/home/a \"quoted\" b/tam's", "/tmp/$HOME/`x`/100%/%f",
        "/tmp/back\\slash\\\\/t", "/tmp/line\nbreak\tand tab"}) {
    EXPECT_TRUE(CreateShellLink(p.path("entry"), target, "d"));
    EXPECT_EQ(ExecProgram(Line(Read(p.path("entry.desktop")), "Exec")), target);
  }
  EXPECT_TRUE(CreateShellLink(p.path("A.DESKTOP"), "/x", "d"));
  EXPECT_TRUE(CreateShellLink(p.path("sub/B"), "/x", "d"));
  EXPECT_TRUE(fs::exists(p.path("A.DESKTOP")));
  EXPECT_FALSE(fs::exists(p.path("A.DESKTOP.desktop")));
  EXPECT_TRUE(fs::exists(p.path("sub/B.desktop")));
}

TEST(Registration, RegisteredAtStartUnregisteredAtExit) {
  TestProgram p;
  const std::string log = p.path("calls.txt");
  setenv("TAMSIVO_MSCAL_LOG", log.c_str(), 1);
  fs::copy_file(MSCAL_FIXTURE, p.path("MSCAL.OCX"));
  p.Start();
  EXPECT_EQ(p.ReadFile("calls.txt"), "DllRegisterServer\n");
  p.Stop();
  EXPECT_EQ(p.ReadFile("calls.txt"), "DllRegisterServer\nDllUnregisterServer\n");

  fs::remove(log);
  CallServerEntry("MSCAL.OCX", "DllNoSuchEntry");
  EXPECT_FALSE(fs::exists(log));
  unsetenv("TAMSIVO_MSCAL_LOG");
}

TEST(Registration, OnlyAFileInTheProgramDirectoryIsEverRun) {
  TestProgram p;
  const std::string log = p.path("calls.txt");
  setenv("TAMSIVO_MSCAL_LOG", log.c_str(), 1);
  // A library of that name is known to the system (here: already loaded,
  // which a bare-name search finds first), but none is beside the program.
  void* elsewhere = dlopen(MSCAL_FIXTURE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(elsewhere, nullptr);
  p.Start();
  p.Stop();
  EXPECT_FALSE(fs::exists(log));
  dlclose(elsewhere);
  unsetenv("TAMSIVO_MSCAL_LOG");
}

TEST(Registration, NothingHappensWithoutTheFileOrItsEntries) {
  for (const char* fixture : {"", MSCAL_FIXTURE_NO_ENTRIES}) {
    TestProgram p;
    const std::string log = p.path("calls.txt");
    setenv("TAMSIVO_MSCAL_LOG", log.c_str(), 1);
    if (*fixture) fs::copy_file(fixture, p.path("MSCAL.OCX"));
    p.Start();
    EXPECT_TRUE(p.runtime().IsVisible(kMainWindow));
    p.Stop();
    p.WriteFile("MSCAL.OCX", "not a library");
    RegisterCalendarControl("MSCAL.OCX");
    EXPECT_FALSE(fs::exists(log)) << fixture;
    unsetenv("TAMSIVO_MSCAL_LOG");
  }
}
