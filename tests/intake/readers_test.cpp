// Each reader on the files other programs write, recognised by content as
// well as by name, and bad input told by file and line or entry.
#include "intake/readers.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include "intake/decode.h"
#include "tests/intake/intake_test_util.h"
#include "util/codepage.h"

using namespace intake_test;

namespace {

intake::Reading Read(const std::string& name, const std::string& bytes) {
  intake::Reading r;
  intake::ReadFileBytes(name, bytes, &r);
  return r;
}

TEST(Decode, ByteOrderMarksUtf16AndGbk) {
  EXPECT_EQ(intake::DecodeText("\xEF\xBB\xBF日记"), "日记");
  EXPECT_EQ(intake::DecodeText(std::string("\xFF\xFE\xE5\x65\xB0\x8B", 6)), "日记");
  EXPECT_EQ(intake::DecodeText(std::string("\xFE\xFF\x65\xE5\x8B\xB0", 6)), "日记");
  EXPECT_EQ(intake::DecodeText(gbk::FromUtf8("旧文件的日记")), "旧文件的日记");
  // Broken UTF-8 after a mark never passes on.
  EXPECT_EQ(intake::DecodeText("\xEF\xBB\xBF"
                               "a\xC3"),
            "a\xEF\xBF\xBD");
  EXPECT_EQ(intake::UnifyLineEnds("a\r\nb\rc\n"), "a\nb\nc\n");
}

TEST(DailyNotes, NamesNestingFrontMatterAndEncodings) {
  ScratchDir dir;
  mkdir((dir / "2025").c_str(), 0700);
  mkdir((dir / "2025/03").c_str(), 0700);
  mkdir((dir / ".obsidian").c_str(), 0700);
  PutFile(dir / "2025-01-02.md", "---\ntags: [日记]\n---\n正文\r\n第二行\r\n\r\n");
  PutFile(dir / "2025/20250203.md", "\xEF\xBB\xBF八位数字");
  PutFile(dir / "2025/03/2025年3月4日.txt", gbk::FromUtf8("中文名字，GBK"));
  PutFile(dir / "2025/03/2025-03-05.markdown", std::string("\xFF\xFE\x31\x00\x0D\x00\x32\x00", 8));
  PutFile(dir / "2025-02-30.md", "没有这一天");
  PutFile(dir / "空的 2025-04-01.md", "不是日期名字");
  PutFile(dir / "2025-05-01.md", "  \n\n");
  PutFile(dir / "图片.png", "\x89PNG");
  PutFile(dir / ".obsidian/2025-06-01.md", "工具自己的");
  ASSERT_EQ(symlink((dir / "2025-01-02.md").c_str(), (dir / "2025-07-01.md").c_str()), 0);
  const intake::Reading r = intake::ReadPath(dir.path());
  EXPECT_EQ(Entries(r),
            "2025-01-02 ---\ntags: [日记]\n---\n正文\n第二行|"
            "2025-02-03 八位数字|"
            "2025-03-04 中文名字，GBK|"
            "2025-03-05 1\n2|");
  const std::string problems = Problems(r);
  EXPECT_NE(problems.find("2025-07-01.md：是符号链接，没有读取"), std::string::npos) << problems;
  EXPECT_NE(problems.find("2025-02-30.md：无法识别的格式"), std::string::npos) << problems;
  EXPECT_NE(problems.find("空的 2025-04-01.md：无法识别的格式"), std::string::npos) << problems;
  EXPECT_EQ(problems.find("png"), std::string::npos) << problems;
  EXPECT_EQ(problems.find("obsidian"), std::string::npos) << problems;
}

TEST(DayOne, EachEntryOnItsLocalDayAndSeveralJoinedWithTimes) {
  const std::string json = R"({"metadata":{"version":"1.0"},"entries":[
    {"creationDate":"2023-01-05T20:30:00Z","timeZone":"Asia/Shanghai","text":"上海的早上"},
    {"creationDate":"2023-01-05T20:30:00Z","timeZone":"America/New_York","text":"纽约的下午"},
    {"creationDate":"2023-01-05T23:10:00Z","timeZone":"Asia/Shanghai","text":"同一天第二条\r\n"},
    {"creationDate":"not a date","text":"坏的"},
    {"creationDate":"2023-02-01T00:00:00Z","timeZone":"Mars/Olympus","text":"未知时区"}
  ]})";
  const intake::Reading r = Read("Journal.json", json);
  EXPECT_EQ(Entries(r),
            "2023-01-05 15:30 纽约的下午|2023-01-06 04:30 上海的早上|2023-01-06 07:10 同一天第二条|"
            "2023-02-01 00:00 未知时区|");
  EXPECT_EQ(Problems(r),
            "Journal.json 第 4 条：没有可以读取的 creationDate|"
            "Journal.json 第 5 条：不认识的时区“Mars/Olympus”，按协调世界时（UTC）计日期|");

  ScratchDir dir;
  { MemoFile(dir / "事件数据.edb"); }
  PutFile(dir / "Journal.json", json);
  Import(dir / "事件数据.edb", dir / "Journal.json");
  EXPECT_EQ(Memos(dir / "事件数据.edb").at("2023-01-06"),
            "04:30\n上海的早上\n\n07:10\n同一天第二条");
}

TEST(DayOne, TheZipExportAndABrokenOne) {
  ScratchDir dir;
  const std::string file = dir / "export.zip";
  int err = 0;
  zip_t* z = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  const std::string json =
      R"({"entries":[{"creationDate":"2022-06-01T08:00:00Z","timeZone":"Europe/Berlin","text":"柏林"}]})";
  zip_source_t* s = zip_source_buffer(z, json.data(), json.size(), 0);
  ASSERT_GE(zip_file_add(z, "Journal.json", s, ZIP_FL_ENC_UTF_8), 0);
  zip_source_t* p = zip_source_buffer(z, "x", 1, 0);
  ASSERT_GE(zip_file_add(z, "photos/a.json", p, ZIP_FL_ENC_UTF_8), 0);
  ASSERT_EQ(zip_close(z), 0);
  intake::Reading r = intake::ReadPath(file);
  EXPECT_EQ(Entries(r), "2022-06-01 10:00 柏林|");
  EXPECT_TRUE(r.problems.empty()) << Problems(r);

  std::string cut = SlurpFile(file);
  cut.resize(cut.size() / 2);
  r = Read("export.zip", cut);
  EXPECT_EQ(Problems(r), "export.zip ：不是可以读取的 zip 文件|");
}

TEST(Jrnl, PlainTextWithItsTimeFormatsAndJson) {
  const std::string text =
      "[2024-03-01 09:15] 早上的标题\n正文第一行\n\n正文第二段\n\n"
      "[2024-03-01 02:30:00 PM] 下午\n\n"
      "[2024-03-02 7:05] 只有标题\n";
  intake::Reading r = Read("journal.txt", text);
  EXPECT_EQ(Entries(r),
            "2024-03-01 09:15 早上的标题\n正文第一行\n\n正文第二段|2024-03-01 14:30 下午|"
            "2024-03-02 07:05 只有标题|");
  r = Read("journal.txt", "[2024-03-01 09:15] 好的\n");
  EXPECT_TRUE(r.problems.empty());

  r = Read("jrnl.json", R"({"tags":{},"entries":[
      {"date":"2024-03-01","time":"09:15","title":"标题","body":"正文\n"},
      {"date":"2024-13-01","time":"09:15","title":"坏日期","body":""}]})");
  EXPECT_EQ(Entries(r), "2024-03-01 09:15 标题\n正文|");
  EXPECT_EQ(Problems(r), "jrnl.json 第 2 条：没有有效的日期（date）|");
  // A time is HH:MM or nothing: seconds go, anything else is left out.
  r = Read("jrnl.json", R"({"entries":[
      {"date":"2024-03-01","time":"05","title":"a","body":""},
      {"date":"2024-03-02","time":"7:05:30","title":"b","body":""},
      {"date":"2024-03-03","time":"25:00","title":"c","body":""},
      {"date":"2024-03-04","time":"1:5","title":"d","body":""}]})");
  EXPECT_EQ(Entries(r), "2024-03-01 a|2024-03-02 07:05 b|2024-03-03 c|2024-03-04 d|");

  r = Read("jrnl.json", "{\"entries\": [\n{\"date\": \"2024-01-01\",\n oops}]}");
  EXPECT_EQ(Problems(r), "jrnl.json 第 3 行：JSON 格式有误，没有读取|");
  // A number no double holds is the library's other kind of refusal.
  r = Read("jrnl.json", "{\"entries\": [], \"n\": 8e888888888888}");
  EXPECT_EQ(Problems(r), "jrnl.json ：JSON 内容无法读取，没有读取|");
}

TEST(RedNotebook, MonthFilesByDayNumber) {
  ScratchDir dir;
  PutFile(dir / "2021-02.txt",
          "1: {text: \"二月一日\\n第二行\"}\n"
          "14:\n  text: |\n    情人节\n    多行\n"
          "30: {text: 没有这一天}\n");
  PutFile(dir / "2021-03.txt", "1: {text: [unclosed\n");
  const intake::Reading r = intake::ReadPath(dir.path());
  EXPECT_EQ(Entries(r), "2021-02-01 二月一日\n第二行|2021-02-14 情人节\n多行|");
  EXPECT_EQ(
      Problems(r),
      "2021-02.txt 第 6 行：不是这个月里的一天|2021-03.txt 第 2 行：YAML 格式有误，没有读取|");
}

TEST(Calendar, JournalsAndAllDayEventsButNotAppointments) {
  const std::string ics =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//phone//EN\r\n"
      "BEGIN:VJOURNAL\r\nUID:a\r\nDTSTART;VALUE=DATE:20240105\r\nSUMMARY:手机日记\r\n"
      "DESCRIPTION:今天\\n很好\r\nEND:VJOURNAL\r\n"
      "BEGIN:VEVENT\r\nUID:b\r\nDTSTART;VALUE=DATE:20240106\r\nSUMMARY:全天的事\r\nEND:VEVENT\r\n"
      "BEGIN:VEVENT\r\nUID:c\r\nDTSTART:20240107T100000\r\nSUMMARY:开会\r\nEND:VEVENT\r\n"
      "BEGIN:VJOURNAL\r\nUID:d\r\nDTSTART:2024x\r\nSUMMARY:坏日期\r\nEND:VJOURNAL\r\n"
      "END:VCALENDAR\r\n";
  const intake::Reading r = Read("phone.ics", ics);
  EXPECT_EQ(Entries(r), "2024-01-05 手机日记\n今天\n很好|2024-01-06 全天的事|");
  const std::string problems = Problems(r);
  EXPECT_NE(problems.find("phone.ics 第 4 条：开始日期无法读取"), std::string::npos) << problems;
  EXPECT_NE(problems.find("phone.ics：1 个带具体时间的日程不是日记，没有导入"), std::string::npos)
      << problems;
}

TEST(Recognise, ByContentWhateverTheName) {
  EXPECT_EQ(intake::Recognise("x.txt", "## 2026年1月1日\n\n备忘\n"), intake::Format::kOwnMarkdown);
  EXPECT_EQ(intake::Recognise("x.md", "2026年1月1日\n备忘\n"), intake::Format::kOwnText);
  EXPECT_EQ(intake::Recognise("x", "日期,备忘录\r\n"), intake::Format::kOwnCsv);
  EXPECT_EQ(intake::Recognise("x.txt", "\r\nBEGIN:VCALENDAR\r\n"), intake::Format::kCalendar);
  EXPECT_EQ(intake::Recognise("x.txt", R"({"entries":[{"creationDate":""}]})"),
            intake::Format::kDayOneJson);
  EXPECT_EQ(intake::Recognise("x.dat", R"({"entries":[]})"), intake::Format::kJrnlJson);
  EXPECT_EQ(intake::Recognise("x.log", "[2024-03-01 09:15] t\n"), intake::Format::kJrnlText);
  EXPECT_EQ(intake::Recognise("2024-03-01.md", "[2024-03-01 09:15] t\n"),
            intake::Format::kDailyNote);
  EXPECT_EQ(intake::Recognise("x.bin", std::string("PK\x03\x04", 4)), intake::Format::kDayOneZip);
  EXPECT_EQ(intake::Recognise("notes.txt", "just text"), intake::Format::kUnknown);
}

TEST(Bounds, DeepNestingAndOtherUsersFilesAreRefusedUnread) {
  intake::Reading r = Read(
      "deep.json", "{\"entries\":" + std::string(100000, '[') + std::string(100000, ']') + "}");
  EXPECT_EQ(Problems(r), "deep.json ：JSON 嵌套过深，没有读取|");
  r = {};
  intake::ReadFileBytes("2021-01.txt", "1: " + std::string(5000, '[') + "\n", &r,
                        intake::Format::kRedNotebook);
  EXPECT_EQ(Problems(r), "2021-01.txt ：括号嵌套过深，没有读取|");
  ScratchDir dir;
  // A device in a note's place is never opened for reading as a file.
  ASSERT_EQ(symlink("/dev/zero", (dir / "2024-01-01.md").c_str()), 0);
  r = intake::ReadPath(dir / "2024-01-01.md");
  EXPECT_EQ(Problems(r), dir / "2024-01-01.md" + "：是符号链接，没有读取|");
  if (geteuid() != 0) return;  // only root can give a file to another user
  PutFile(dir / "2024-01-02.md", "别人的");
  ASSERT_EQ(chown((dir / "2024-01-02.md").c_str(), 65534, 65534), 0);
  r = intake::ReadPath(dir / "2024-01-02.md");
  EXPECT_EQ(Problems(r), "2024-01-02.md：不是你的文件，没有读取|");
}

}  // namespace
