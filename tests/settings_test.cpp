// Start.ini: the item reader/writer on raw files, and the program's settings
// routines on a test program directory.
#include "settings/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_program.h"
#include "util/codepage.h"
#include "util/ini_file.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/tamsivo-ini-XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (made) dir_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string dir_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string G(const std::string& utf8) { return gbk::FromUtf8(utf8); }

// The first-start file as GBK bytes, written out here rather than derived
// from the program's own constant or converter.
const std::string kDefaultFileBytes =
    "[\xD6\xF7\xB4\xB0\xBF\xDA]\x0D\x0A"
    "\xD7\xF3\xB1\xDF=117\x0D\x0A"
    "\xB6\xA5\xB1\xDF=184\x0D\x0A"
    "\xCD\xD0\xC5\xCC=0\x0D\x0A"
    "\xD2\xFE\xB2\xD8=0\x0D\x0A"
    "\xBF\xAA\xBB\xFA\xC6\xF4\xB6\xAF=0\x0D\x0A"
    "\xBC\xC7\xC2\xBC\xBA\xF3\xBB\xD8\xB5\xBD\xBD\xF1\xCC\xEC=0\x0D\x0A"
    "[\xBD\xF1\xCC\xEC\xB1\xB8\xCD\xFC\xC2\xBC\xB4\xB0\xBF\xDA]\x0D\x0A"
    "\xC4\xA3\xCA\xBD=5\x0D\x0A"
    "\xD7\xF3\xB1\xDF=0\x0D\x0A"
    "\xB6\xA5\xB1\xDF=0\x0D\x0A"
    "\xCD\xB8\xC3\xF7\xB6\xC8=180\x0D\x0A"
    "\xCA\xF3\xB1\xEA\xB4\xA9\xCD\xB8=0\x0D\x0A"
    "\xC7\xB6\xC8\xEB\xD7\xC0\xC3\xE6=0\x0D\x0A"
    "\xD2\xFE\xB2\xD8=0\x0D\x0A"
    "\xBC\xC7\xC2\xBC\xB7\xBD\xCA\xBD=2";

}  // namespace

// ---------------------------------------------------------------- GBK text

TEST(Gbk, ConvertsBothWaysAndReplacesWhatItCannotHold) {
  EXPECT_EQ(gbk::FromUtf8("主窗口"), "\xD6\xF7\xB4\xB0\xBF\xDA");
  EXPECT_EQ(gbk::ToUtf8("\xD6\xF7\xB4\xB0\xBF\xDA"), "主窗口");
  EXPECT_EQ(gbk::ToUtf8(gbk::FromUtf8(DefaultSettingsText)), DefaultSettingsText);
  // A character outside GBK becomes one '?', whatever its UTF-8 length.
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(gbk::FromUtf8("a" + emoji + "b"), "a?b");
  // Tag characters too (the converter would drop them silently).
  EXPECT_EQ(gbk::FromUtf8("a\xF3\xA0\x80\x81\x7F"), "a?\x7F");
  // Broken UTF-8 does not stop the rest.
  EXPECT_EQ(gbk::FromUtf8(std::string("a\xFF\xE4\xB8") + "b左"), "a??b" + G("左"));
  // Invalid GBK: a stray byte, a lead byte without trail, a lead at the end.
  const std::string bad = "\xEF\xBF\xBD";  // U+FFFD
  EXPECT_EQ(gbk::ToUtf8(std::string("a\xFF") + "b"), "a" + bad + "b");
  EXPECT_EQ(gbk::ToUtf8(std::string("a\x81") + "0b"), "a" + bad + "0b");
  EXPECT_EQ(gbk::ToUtf8("ab\x81"), "ab" + bad);
  EXPECT_EQ(gbk::ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));

  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string junk(rng() % 300, '\0');
    for (char& c : junk) c = static_cast<char>(rng());
    (void)gbk::ToUtf8(junk);
    (void)gbk::FromUtf8(junk);
  }
}

// ---------------------------------------------------------------- ini layer

TEST(IniFile, ReplacingAValueKeepsEveryOtherByte) {
  TempDir t;
  const std::string path = t.Path("Start.ini");
  const std::string before = G("; 注释 左边=1\r\n") + "# other\r\n" + G("[主窗口]\r\n") +
                             "\xFF\x80 odd\r\n" + G("  左边 =\t117  \r\n") +
                             G("顶边=184\n") +  // no CR
                             std::string("\0x\r\n", 4) + G("[今天备忘录窗口]\r\n隐藏=0");
  Put(path, before);

  EXPECT_EQ(ini::ReadItem(path, "主窗口", "左边"), "117");
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "顶边"), "184");
  std::string error;
  ASSERT_TRUE(ini::WriteItem(path, "主窗口", "左边", "300", &error)) << error;
  std::string expected = before;
  const std::string oldLine = G("  左边 =\t117  \r\n");
  expected.replace(expected.find(oldLine), oldLine.size(), G("  左边 =\t300  \r\n"));
  EXPECT_EQ(Slurp(path), expected);
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "左边"), "300");

  // The line without CR and the file's unterminated last line stay so.
  ASSERT_TRUE(ini::WriteItem(path, "主窗口", "顶边", "-5"));
  ASSERT_TRUE(ini::WriteItem(path, "今天备忘录窗口", "隐藏", "1"));
  const std::string after = Slurp(path);
  EXPECT_NE(after.find(G("顶边=-5\n")), std::string::npos);
  EXPECT_EQ(after.substr(after.size() - G("\r\n隐藏=1").size()), G("\r\n隐藏=1"));
  EXPECT_EQ(after.substr(0, G("; 注释 左边=1\r\n").size()), G("; 注释 左边=1\r\n"));

  // A commented-out item is not an item; ASCII names ignore case.
  Put(path, "[Win]\r\n;Width=1\r\nWIDTH=2\r\nwidth=3\r\n");
  EXPECT_EQ(ini::ReadItem(path, "win", "Width"), "2");
  ASSERT_TRUE(ini::WriteItem(path, "WIN", "width", "9"));
  EXPECT_EQ(Slurp(path), "[Win]\r\n;Width=1\r\nWIDTH=9\r\nwidth=3\r\n");

  // A byte-order mark in front of the first section is tolerated and kept.
  Put(path, "\xEF\xBB\xBF" + G("[主窗口]\r\n托盘=1\r\n"));
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "托盘"), "1");
  ASSERT_TRUE(ini::WriteItem(path, "主窗口", "托盘", "0"));
  EXPECT_EQ(Slurp(path), "\xEF\xBB\xBF" + G("[主窗口]\r\n托盘=0\r\n"));
}

TEST(IniFile, AddsItemsAndSections) {
  TempDir t;
  const std::string path = t.Path("Start.ini");

  // Missing file: the section and item are created.
  ASSERT_TRUE(ini::WriteItem(path, "主窗口", "左边", "1"));
  EXPECT_EQ(Slurp(path), G("[主窗口]\r\n左边=1"));

  // A new item goes right after the section's last item, before its comments.
  Put(path, G("[a]\r\nx=1\r\n\r\n; c\r\n[b]\r\ny=2\r\n"));
  ASSERT_TRUE(ini::WriteItem(path, "a", "新", "7"));
  EXPECT_EQ(Slurp(path), G("[a]\r\nx=1\r\n新=7\r\n\r\n; c\r\n[b]\r\ny=2\r\n"));
  // ... and into an empty section right after its heading.
  Put(path, "[a]\r\n[b]\r\ny=2");
  ASSERT_TRUE(ini::WriteItem(path, "a", "x", "1"));
  EXPECT_EQ(Slurp(path), "[a]\r\nx=1\r\n[b]\r\ny=2");
  // ... and after an unterminated last line without adding a final break.
  ASSERT_TRUE(ini::WriteItem(path, "b", "z", "3"));
  EXPECT_EQ(Slurp(path), "[a]\r\nx=1\r\n[b]\r\ny=2\r\nz=3");

  // A missing section is appended, starting on a line of its own.
  ASSERT_TRUE(ini::WriteItem(path, "c", "k", "v"));
  EXPECT_EQ(Slurp(path), "[a]\r\nx=1\r\n[b]\r\ny=2\r\nz=3\r\n[c]\r\nk=v");
  Put(path, "[a]\r\nx=1\r\n");
  ASSERT_TRUE(ini::WriteItem(path, "c", "k", "v"));
  EXPECT_EQ(Slurp(path), "[a]\r\nx=1\r\n[c]\r\nk=v");

  // Names and values that would break the layout are refused.
  std::string error;
  EXPECT_FALSE(ini::WriteItem(path, "a", "x", "1\r\n[b]", &error));
  EXPECT_FALSE(ini::WriteItem(path, "a", "x=y", "1"));
  EXPECT_FALSE(ini::WriteItem(path, "a]", "x", "1"));
  EXPECT_FALSE(ini::WriteItem(path, "a", "", "1"));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Slurp(path), "[a]\r\nx=1\r\n[c]\r\nk=v");
}

TEST(IniFile, SectionsAndNamesAreMatchedExactly) {
  TempDir t;
  const std::string path = t.Path("Start.ini");
  Put(path, G(std::string(DefaultSettingsText)));

  // The same key in two sections names two items.
  ASSERT_TRUE(ini::WriteItem(path, "今天备忘录窗口", "隐藏", "1"));
  EXPECT_EQ(ini::ReadItem(path, "今天备忘录窗口", "隐藏"), "1");
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "隐藏"), "0");
  ASSERT_TRUE(ini::WriteItem(path, "主窗口", "左边", "-20"));
  EXPECT_EQ(ini::ReadItem(path, "今天备忘录窗口", "左边"), "0");
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "左边"), "-20");
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "记录方式"), "");
  EXPECT_EQ(ini::ReadItem(path, "别的", "左边"), "");

  // The first of two same-named sections and keys counts.
  Put(path, "[s]\r\nk=1\r\nk=2\r\n[s]\r\nk=3\r\nj=4\r\n");
  EXPECT_EQ(ini::ReadItem(path, "s", "k"), "1");
  EXPECT_EQ(ini::ReadItem(path, "s", "j"), "");

  // GBK trail bytes: 乚 ends in ']', 丄 and 乤 differ only in a trail byte
  // that reads as 'A' / 'a'.
  Put(path, G("[乚]\r\n丄=upper\r\n乤=lower\r\n"));
  EXPECT_EQ(ini::ReadItem(path, "乚", "丄"), "upper");
  EXPECT_EQ(ini::ReadItem(path, "乚", "乤"), "lower");
  ASSERT_TRUE(ini::WriteItem(path, "乚", "乤", "x"));
  EXPECT_EQ(Slurp(path), G("[乚]\r\n丄=upper\r\n乤=x\r\n"));
}

TEST(IniFile, UnreadableContentReadsAsEmpty) {
  TempDir t;
  const std::string path = t.Path("Start.ini");
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "左边"), "");  // missing
  Put(path, "");
  EXPECT_EQ(ini::ReadItem(path, "主窗口", "左边"), "");
  EXPECT_EQ(ini::ReadItem(t.dir(), "主窗口", "左边"), "");  // a directory

  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    std::string junk(rng() % 4096, '\0');
    if (round % 2) {
      for (char& c : junk) c = static_cast<char>(rng());
    }
    Put(path, junk);
    EXPECT_EQ(ini::ReadItem(path, "主窗口", "左边"), "");
    // Writing keeps the junk as it was and adds a readable item after it.
    ASSERT_TRUE(ini::WriteItem(path, "主窗口", "左边", "5"));
    const std::string after = Slurp(path);
    EXPECT_EQ(after.substr(0, junk.size()), junk);
    EXPECT_EQ(ini::ReadItem(path, "主窗口", "左边"), "5");
  }
}

TEST(IniFile, WritesReplaceTheFileSafely) {
  TempDir t;
  const std::string path = t.Path("Start.ini");
  Put(path, "[a]\r\nx=1\r\n");
  chmod(path.c_str(), 0640);

  // The new content arrives by rename: a second link keeps the old file whole.
  const std::string link = t.Path("old.ini");
  ASSERT_EQ(::link(path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(ini::WriteItem(path, "a", "x", "2"));
  EXPECT_EQ(Slurp(link), "[a]\r\nx=1\r\n");
  EXPECT_EQ(Slurp(path), "[a]\r\nx=2\r\n");
  unlink(link.c_str());

  for (int i = 0; i < 20; ++i) ASSERT_TRUE(ini::WriteItem(path, "a", "y", std::to_string(i)));
  EXPECT_EQ(t.Names(), std::vector<std::string>{"Start.ini"});  // no temp files left
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A symbolic link stays a link to the updated file.
  const std::string sym = t.Path("via-link.ini");
  ASSERT_EQ(symlink(path.c_str(), sym.c_str()), 0);
  ASSERT_TRUE(ini::WriteItem(sym, "a", "x", "3"));
  ASSERT_EQ(lstat(sym.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ini::ReadItem(path, "a", "x"), "3");
  unlink(sym.c_str());

  // A read-only file is refused even for root, and left as it was.
  const std::string content = Slurp(path);
  chmod(path.c_str(), 0444);
  std::string error;
  EXPECT_FALSE(ini::WriteItem(path, "a", "x", "4", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Slurp(path), content);
  EXPECT_EQ(ini::ReadItem(path, "a", "x"), "3");
  EXPECT_EQ(t.Names(), std::vector<std::string>{"Start.ini"});

  // A directory that cannot be written to is reported.
  error.clear();
  EXPECT_FALSE(ini::WriteItem(t.Path("no-such-dir/Start.ini"), "a", "x", "1", &error));
  EXPECT_FALSE(error.empty());
  if (geteuid() != 0) {
    chmod(path.c_str(), 0644);
    chmod(t.dir().c_str(), 0555);
    EXPECT_FALSE(ini::WriteItem(path, "a", "x", "5"));
    chmod(t.dir().c_str(), 0755);
    EXPECT_EQ(Slurp(path), content);
  }
}

TEST(IniFile, AnyLineBreakSeparatesItemsAndWritesKeepTheFilesOwn) {
  // Old Mac editors end lines with a lone CR.
  const std::string cr = G("[主窗口]\r左边=300\r顶边=40\r[今天备忘录窗口]\r隐藏=1\r");
  EXPECT_EQ(ini::ReadItemFromBytes(cr, "主窗口", "顶边"), "40");
  EXPECT_EQ(ini::ReadItemFromBytes(cr, "今天备忘录窗口", "隐藏"), "1");
  std::string written = ini::WriteItemToBytes(cr, "主窗口", "左边", "5");
  EXPECT_EQ(written, G("[主窗口]\r左边=5\r顶边=40\r[今天备忘录窗口]\r隐藏=1\r"));
  written = ini::WriteItemToBytes(written, "主窗口", "托盘", "1");
  EXPECT_EQ(written, G("[主窗口]\r左边=5\r顶边=40\r托盘=1\r[今天备忘录窗口]\r隐藏=1\r"));
  EXPECT_EQ(ini::ReadItemFromBytes(written, "今天备忘录窗口", "隐藏"), "1");
  // LF-only files stay LF-only.
  EXPECT_EQ(ini::WriteItemToBytes("[a]\nx=1\n", "b", "y", "2"), "[a]\nx=1\n[b]\ny=2");
  EXPECT_EQ(ini::WriteItemToBytes("[a]\nx=1\n", "a", "z", "3"), "[a]\nx=1\nz=3\n");
}

// ---------------------------------------------------------------- program layer

TEST(Settings, TheFirstFileArrivesWholeAndHonoursTheUmask) {
  TestProgram p;
  DirectoryWatch watch(p.dir());
  const mode_t old = ::umask(077);
  EXPECT_TRUE(EnsureSettingsFile());
  ::umask(old);
  // Made beside and renamed into place: a crash never leaves half of it.
  EXPECT_TRUE(watch.ArrivedWhole("Start.ini"));
  struct stat st {};
  ASSERT_EQ(::stat(p.path("Start.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Settings, FirstStartWritesTheDefaultFileOnce) {
  const std::string expected = kDefaultFileBytes;
  EXPECT_EQ(expected.size(), 172u);

  TestProgram p;
  EXPECT_EQ(SettingsPath(), p.dir() + "/Start.ini");
  EXPECT_TRUE(EnsureSettingsFile());
  const std::string written = p.ReadFile("Start.ini");
  EXPECT_EQ(written, expected);
  EXPECT_EQ(written.substr(written.size() - Gbk("记录方式=2").size()), Gbk("记录方式=2"));
  EXPECT_EQ(ReadIntSetting({kTodaySection, "记录方式"}), 2);
  EXPECT_EQ(ReadIntSetting({kMainSection, "左边"}), 117);
  EXPECT_EQ(ReadIntSetting({kTodaySection, "透明度"}), 180);

  // An existing file, whatever it holds, is left alone.
  p.WriteFile("Start.ini", "junk");
  EXPECT_TRUE(EnsureSettingsFile());
  EXPECT_EQ(p.ReadFile("Start.ini"), "junk");
}

TEST(Settings, FlagsAndIntegersFromHandWrittenFiles) {
  TestProgram p;
  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n左边=300"));
  EXPECT_EQ(ReadIntSetting({kMainSection, "左边"}), 300);
  EXPECT_EQ(ReadIntSetting({kMainSection, "顶边"}), 0);
  for (const char* flag : {"托盘", "隐藏", "开机启动", "记录后回到今天"}) {
    EXPECT_FALSE(ReadFlagSetting({kMainSection, flag})) << flag;
  }

  for (const char* on : {"1", "1.0", "01", "1.00000005", " 1"}) {
    EXPECT_TRUE(IsFlagSet(on)) << on;
  }
  for (const char* off : {"0", "2", "-1", "", "1.001", "0.9999", "yes"}) {
    EXPECT_FALSE(IsFlagSet(off)) << off;
  }

  p.WriteFile("Start.ini", Gbk("[主窗口]\r\n隐藏=1.00000005\r\n托盘=1.001\r\n左边=1.9\r\n"
                               "顶边=-5.5\r\n[今天备忘录窗口]\r\n记录方式=\r\n"));
  EXPECT_TRUE(ReadFlagSetting({kMainSection, "隐藏"}));
  EXPECT_FALSE(ReadFlagSetting({kMainSection, "托盘"}));
  EXPECT_EQ(ReadIntSetting({kMainSection, "左边"}), 1);
  EXPECT_EQ(ReadIntSetting({kMainSection, "顶边"}), -5);
  EXPECT_EQ(ReadIntSetting({kTodaySection, "记录方式"}), 0);
}

TEST(Settings, WritesAreSeenAndHandEditsAreReadAtOnce) {
  TestProgram p;
  EXPECT_TRUE(EnsureSettingsFile());
  EXPECT_TRUE(WriteFlagSetting({kTodaySection, "隐藏"}, true));
  EXPECT_TRUE(ReadFlagSetting({kTodaySection, "隐藏"}));
  EXPECT_FALSE(ReadFlagSetting({kMainSection, "隐藏"}));
  EXPECT_NE(p.ReadFile("Start.ini").find(Gbk("\r\n隐藏=1\r\n记录方式=2")), std::string::npos);
  EXPECT_TRUE(WriteFlagSetting({kTodaySection, "隐藏"}, false));
  EXPECT_EQ(p.ReadFile("Start.ini"), kDefaultFileBytes);

  EXPECT_TRUE(WriteSetting({kMainSection, "左边"}, "-40"));
  EXPECT_EQ(ReadIntSetting({kMainSection, "左边"}), -40);

  // Nothing is cached: an edit made behind the program's back counts next time.
  std::string text = p.ReadFile("Start.ini");
  const std::string from = Gbk("记录方式=2");
  text.replace(text.find(from), from.size(), Gbk("记录方式=1"));
  p.WriteFile("Start.ini", text);
  EXPECT_EQ(ReadIntSetting({kTodaySection, "记录方式"}), 1);
  EXPECT_EQ(ReadSetting(kTodaySection, "记录方式"), "1");

  // A read-only settings file: the write fails and the old value stays.
  chmod(p.path("Start.ini").c_str(), 0444);
  EXPECT_FALSE(WriteSetting({kMainSection, "左边"}, "5"));
  EXPECT_EQ(ReadIntSetting({kMainSection, "左边"}), -40);
  chmod(p.path("Start.ini").c_str(), 0644);
}
