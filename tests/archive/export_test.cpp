// Export: each format read back, the file only ever whole under its name,
// and the store left as it was.
#include "archive/export.h"

#include <libical/ical.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/archive/archive_test_util.h"
#include "util/file_io.h"

using namespace archive_test;

namespace {

const std::string kLong(300, 'x');

struct Scene {
  ScratchDir dir;
  std::string store = dir / "事件数据.edb";

  Scene() {
    MemoFile memos(store);
    memos.Put(Date(2026, 12, 7), "开会, 带\"样品\"\n第二行");
    memos.Put(Date(2026, 1, 2), "Windows 行\r\n尾😀");
    memos.Put(Date(1999, 12, 31), "plain " + kLong);
    // An emptied memo, and a second record of a day that the day's first
    // one hides.
    Sql(store, R"(INSERT INTO records("日期", "事情") VALUES()" + std::to_string(Date(2026, 3, 4)) +
                   ", X'')");
    Sql(store, R"(INSERT INTO records("日期", "事情") VALUES()" +
                   std::to_string(Date(2026, 12, 7)) + ", CAST('影子' AS BLOB))");
  }

  std::string Export(const std::string& name, int expected = 3) {
    int count = -1;
    std::string error;
    EXPECT_TRUE(archive::ExportMemos(store, dir / name, &count, &error)) << error;
    EXPECT_EQ(count, expected);
    return SlurpFile(dir / name);
  }
};

TEST(Export, TextFormatsByteForByte) {
  Scene s;
  const std::string before = SlurpFile(s.store);
  EXPECT_EQ(s.Export("备忘录.md"),
            "## 1999年12月31日\n\nplain " + kLong +
                "\n\n## 2026年1月2日\n\nWindows 行\r\n尾😀\n\n## 2026年12月7日\n\n"
                "开会, 带\"样品\"\n第二行\n");
  EXPECT_EQ(s.Export("备忘录.TXT"), "1999年12月31日\nplain " + kLong +
                                        "\n\n2026年1月2日\nWindows 行\r\n尾😀\n\n2026年12月7日\n"
                                        "开会, 带\"样品\"\n第二行\n");
  // RFC 4180: CRLF between records, fields with a comma, quote, CR or LF
  // quoted and their quotes doubled.
  EXPECT_EQ(s.Export("备忘录.Csv"), "\xEF\xBB\xBF日期,备忘录\r\n1999-12-31,plain " + kLong +
                                        "\r\n2026-01-02,\"Windows 行\r\n尾😀\"\r\n"
                                        "2026-12-07,\"开会, 带\"\"样品\"\"\n第二行\"\r\n");
  EXPECT_EQ(SlurpFile(s.store), before);

  // A lone CR (text from an old Mac) ends a spreadsheet's row as LF does.
  ScratchDir mac;
  MemoFile(mac / "事件数据.edb").Put(Date(2026, 2, 3), "旧式\r换行");
  std::string error;
  ASSERT_TRUE(archive::ExportMemos(mac / "事件数据.edb", mac / "mac.csv", nullptr, &error))
      << error;
  EXPECT_EQ(SlurpFile(mac / "mac.csv"), "\xEF\xBB\xBF日期,备忘录\r\n2026-02-03,\"旧式\r换行\"\r\n");
}

TEST(Export, CalendarReadsBackWithLibical) {
  Scene s;
  const std::string ics = s.Export("备忘录.ics");
  icalcomponent* calendar = icalparser_parse_string(ics.c_str());
  ASSERT_NE(calendar, nullptr);
  EXPECT_EQ(icalcomponent_isa(calendar), ICAL_VCALENDAR_COMPONENT);
  EXPECT_STREQ(
      icalproperty_get_version(icalcomponent_get_first_property(calendar, ICAL_VERSION_PROPERTY)),
      "2.0");
  EXPECT_NE(icalcomponent_get_first_property(calendar, ICAL_PRODID_PROPERTY), nullptr);

  struct Event {
    std::string uid, start, end, summary, description;
    bool operator==(const Event&) const = default;
  };
  std::vector<Event> events;
  for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
       e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
    const icaltimetype start = icalcomponent_get_dtstart(e), end = icalcomponent_get_dtend(e);
    EXPECT_TRUE(start.is_date && end.is_date);
    EXPECT_FALSE(icaltime_is_null_time(icalcomponent_get_dtstamp(e)));
    events.push_back({icalcomponent_get_uid(e), icaltime_as_ical_string(start),
                      icaltime_as_ical_string(end), icalcomponent_get_summary(e),
                      icalcomponent_get_description(e)});
  }
  icalcomponent_free(calendar);
  const std::vector<Event> expected = {
      {"19991231@tamsivo", "19991231", "20000101", "plain " + kLong, "plain " + kLong},
      {"20260102@tamsivo", "20260102", "20260103", "Windows 行", "Windows 行\n尾😀"},
      {"20261207@tamsivo", "20261207", "20261208", "开会, 带\"样品\"", "开会, 带\"样品\"\n第二行"}};
  ASSERT_EQ(events.size(), expected.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].uid, expected[i].uid);
    EXPECT_EQ(events[i].start, expected[i].start);
    EXPECT_EQ(events[i].end, expected[i].end);
    EXPECT_EQ(events[i].summary, expected[i].summary);
    EXPECT_EQ(events[i].description, expected[i].description);
  }
  EXPECT_NE(ics.find("DTSTART;VALUE=DATE:20261207\r\n"), std::string::npos);
}

TEST(Export, EveryStorableDayIsAValidCalendarDate) {
  ScratchDir dir;
  const std::string store = dir / "事件数据.edb";
  {
    MemoFile memos(store);
    memos.Put(Date(100, 1, 1), "最早的一天");
    memos.Put(Date(9999, 12, 30), "倒数第二天");
    memos.Put(Date(9999, 12, 31), "最后一天");
  }
  int count = 0;
  std::string error;
  ASSERT_TRUE(archive::ExportMemos(store, dir / "边界.ics", &count, &error)) << error;
  const std::string ics = SlurpFile(dir / "边界.ics");
  for (const char* line : {"DTSTART;VALUE=DATE:01000101\r\n", "DTEND;VALUE=DATE:01000102\r\n",
                           "DTSTART;VALUE=DATE:99991230\r\n", "DTEND;VALUE=DATE:99991231\r\n",
                           "DTSTART;VALUE=DATE:99991231\r\n"}) {
    EXPECT_NE(ics.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(ics.find("00000000"), std::string::npos) << ics;
  icalcomponent* calendar = icalparser_parse_string(ics.c_str());
  ASSERT_NE(calendar, nullptr);
  std::vector<std::string> starts;
  for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); e;
       e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
    const icaltimetype start = icalcomponent_get_dtstart(e);
    EXPECT_TRUE(start.is_date);
    starts.push_back(icaltime_as_ical_string(start));
  }
  icalcomponent_free(calendar);
  EXPECT_EQ(starts, (std::vector<std::string>{"01000101", "99991230", "99991231"}));
}

TEST(Export, UnknownTypeAndFailuresLeaveTheTargetAlone) {
  Scene s;
  int count = 0;
  std::string error;
  EXPECT_FALSE(archive::ExportMemos(s.store, s.dir / "备忘录.docx", &count, &error));
  for (const char* ext : {".md", ".txt", ".csv", ".ics"}) {
    EXPECT_NE(error.find(ext), std::string::npos) << error;
  }
  EXPECT_FALSE(fs::exists(s.dir / "备忘录.docx"));
  EXPECT_FALSE(archive::ExportMemos(s.store, s.dir / "没有这个目录/备忘录.md", &count, &error));

  // An earlier export is replaced whole, or stays as it was.
  PutFile(s.dir / "旧.md", "earlier");
  {
    ObeyFilePermissions obey;
    fs::permissions(s.dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(archive::ExportMemos(s.store, s.dir / "旧.md", &count, &error));
    fs::permissions(s.dir.path(), fs::perms::owner_all);
    EXPECT_NE(error.find("没有访问权限"), std::string::npos) << error;
  }
  EXPECT_EQ(SlurpFile(s.dir / "旧.md"), "earlier");
  DirectoryWatch watch(s.dir.path());
  EXPECT_EQ(s.Export("旧.md").rfind("## 1999年12月31日", 0), 0u);
  EXPECT_TRUE(watch.ArrivedWhole("旧.md"));
  EXPECT_EQ(Names(s.dir.path()), (std::vector<std::string>{"事件数据.edb", "旧.md"}));
}

TEST(Export, OneSnapshotWhileTheProgramSaves) {
  Scene s;
  sqlite3* writer = nullptr;
  sqlite3_open(s.store.c_str(), &writer);
  sqlite3_exec(
      writer,
      R"(BEGIN IMMEDIATE; INSERT INTO records("日期", "事情") VALUES(1, CAST('未提交' AS BLOB));)",
      nullptr, nullptr, nullptr);
  const std::string csv = s.Export("快照.csv");
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(writer);
  EXPECT_EQ(csv.find("未提交"), std::string::npos);
}

}  // namespace

TEST(FolderExport, OneFileADayAndADifferentFileNeverReplacedUnasked) {
  Scene s;
  const std::string folder = s.dir / "日记";
  archive::FolderExport result;
  std::string error;
  ASSERT_TRUE(
      archive::ExportMemosToFolder(s.store, folder, archive::ExistingFiles::kAsk, &result, &error))
      << error;
  EXPECT_EQ(result.written, 3);
  EXPECT_EQ(SlurpFile(folder + "/2026/2026-12-07.md"), "开会, 带\"样品\"\n第二行");
  EXPECT_EQ(SlurpFile(folder + "/2026/2026-01-02.md"), "Windows 行\r\n尾😀");
  EXPECT_EQ(SlurpFile(folder + "/1999/1999-12-31.md"), "plain " + kLong);
  EXPECT_EQ(Names(folder + "/2026"), (std::vector<std::string>{"2026-01-02.md", "2026-12-07.md"}));
  struct stat st {};
  ASSERT_EQ(stat((folder + "/2026/2026-12-07.md").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Again: every file already holds its memo.
  ASSERT_TRUE(
      archive::ExportMemosToFolder(s.store, folder, archive::ExistingFiles::kAsk, &result, &error));
  EXPECT_EQ(result.written, 0);
  EXPECT_EQ(result.unchanged, 3);

  // A file the user changed: asked about first, nothing written meanwhile.
  PutFile(folder + "/2026/2026-12-07.md", "我在别的程序里改过");
  ::unlink((folder + "/1999/1999-12-31.md").c_str());
  ASSERT_TRUE(
      archive::ExportMemosToFolder(s.store, folder, archive::ExistingFiles::kAsk, &result, &error));
  EXPECT_EQ(result.differing, std::vector<std::string>{folder + "/2026/2026-12-07.md"});
  EXPECT_EQ(result.written, 0);
  EXPECT_FALSE(fileio::IsRegularFile(folder + "/1999/1999-12-31.md"));
  ASSERT_TRUE(archive::ExportMemosToFolder(s.store, folder, archive::ExistingFiles::kKeep, &result,
                                           &error));
  EXPECT_EQ(result.written, 1);
  EXPECT_EQ(result.kept, 1);
  EXPECT_EQ(SlurpFile(folder + "/2026/2026-12-07.md"), "我在别的程序里改过");
  ASSERT_TRUE(archive::ExportMemosToFolder(s.store, folder, archive::ExistingFiles::kOverwrite,
                                           &result, &error));
  EXPECT_EQ(result.written, 1);
  EXPECT_EQ(SlurpFile(folder + "/2026/2026-12-07.md"), "开会, 带\"样品\"\n第二行");
}
