// The sync module's parts on their own: the merge rules, WebDAV answers,
// journals, and the sync objects in the memo store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "sync/dav_http.h"
#include "sync/dav_xml.h"
#include "sync/discovery.h"
#include "sync/engine.h"
#include "sync/journal.h"
#include "sync/password.h"
#include "sync/sync_store.h"
#include "tests/archive/archive_test_util.h"
#include "util/file_io.h"
#include "util/store_schema.h"

namespace {

using davsync::DayPlan;
using davsync::PlanDay;
using davsync::RemoteRow;

// 2026-12-09 10:32 in China.
constexpr std::time_t kOtherTime = 1796783520;

class ChinaTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_ = tz ? tz : "";
    had_ = tz != nullptr;
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
  }
  void TearDown() override {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  std::string saved_;
  bool had_ = false;
};

using SyncMerge = ChinaTime;

TEST_F(SyncMerge, TheConflictLineNamesTheOtherSidesTimeAsTheIssueWritesIt) {
  EXPECT_EQ(davsync::ConflictLine(kOtherTime), "—— 另一处的版本（2026年12月9日10时32分）——");
}

TEST_F(SyncMerge, EachSideAloneWinsAndSameTextIsNoConflict) {
  // Servers give back LF where the memo had CR LF: the same text.
  DayPlan p = PlanDay("一\r\n二", std::string("旧的"), "一\n二", kOtherTime);
  EXPECT_FALSE(p.upload || p.writeLocal || p.conflict);

  p = PlanDay("改过", std::string("旧的"), "旧的", kOtherTime);
  EXPECT_TRUE(p.upload);
  EXPECT_FALSE(p.writeLocal || p.conflict);
  EXPECT_EQ(p.result, "改过");

  p = PlanDay("旧的", std::string("旧的"), "那边改的", kOtherTime);
  EXPECT_TRUE(p.writeLocal);
  EXPECT_FALSE(p.upload || p.conflict);
  EXPECT_EQ(p.result, "那边改的");

  // Emptied over there and nothing here: the day is emptied here too.
  p = PlanDay("旧的", std::string("旧的"), "", kOtherTime);
  EXPECT_TRUE(p.writeLocal);
  EXPECT_EQ(p.result, "");
}

TEST_F(SyncMerge, BothChangedKeepsBothTextsJoinedByTheLine) {
  const DayPlan p = PlanDay("这里写的", std::string("旧的"), "那边写的", kOtherTime);
  EXPECT_TRUE(p.conflict && p.upload && p.writeLocal);
  EXPECT_EQ(p.result, "这里写的\n—— 另一处的版本（2026年12月9日10时32分）——\n那边写的");
  // A new day written on both computers is the same case.
  const DayPlan fresh = PlanDay("甲", std::nullopt, "乙", kOtherTime);
  EXPECT_TRUE(fresh.conflict);
  EXPECT_EQ(fresh.result.find("甲\n"), 0u);
}

TEST_F(SyncMerge, EmptiedOnOneSideAndChangedOnTheOtherKeepsTheText) {
  DayPlan p = PlanDay("", std::string("旧的"), "那边改的", kOtherTime);
  EXPECT_EQ(p.result, "那边改的");
  EXPECT_TRUE(p.writeLocal);
  EXPECT_FALSE(p.conflict || p.upload);
  p = PlanDay("这里改的", std::string("旧的"), "", kOtherTime);
  EXPECT_EQ(p.result, "这里改的");
  EXPECT_TRUE(p.upload);
  EXPECT_FALSE(p.conflict || p.writeLocal);
}

TEST_F(SyncMerge, ATextThatHoldsTheOtherIsTakenWholeNothingDoubled) {
  // What a sync cut off after the server took a merged text leaves.
  const std::string merged = "这里\n" + davsync::ConflictLine(kOtherTime) + "\n那边";
  DayPlan p = PlanDay("这里", std::string("旧的"), merged, kOtherTime);
  EXPECT_EQ(p.result, merged);
  EXPECT_FALSE(p.conflict);
  p = PlanDay("那边，再加一句", std::string("旧的"), "那边", kOtherTime);
  EXPECT_EQ(p.result, "那边，再加一句");
  EXPECT_TRUE(p.upload);
  EXPECT_FALSE(p.conflict);
}

TEST(SyncCombine, OtherClientsJournalsFollowOursUnlessOursHoldsThem) {
  const double day = archive::FromCivil(2026, 12, 9);
  const std::vector<RemoteRow> rows = {
      {"/c/tamsivo-memo-20261209.ics", "\"1\"", day, true, 0, "电脑上写的\n\n手机补一句"},
      {"/c/a.ics", "\"2\"", day, false, 0, "手机补一句"},
      {"/c/b.ics", "\"3\"", day, false, 0, "另一条"},
      {"/c/c.ics", "\"4\"", day, false, 0, ""}};
  EXPECT_EQ(davsync::CombineRemote(rows), "电脑上写的\n\n手机补一句\n\n另一条");
  EXPECT_EQ(davsync::CombineRemote({rows[1], rows[2]}), "手机补一句\n\n另一条");
  EXPECT_EQ(davsync::CombineRemote({}), "");
  EXPECT_FALSE(davsync::TextInside("", "任何"));
  EXPECT_TRUE(davsync::TextInside("a\r\nb", "x a\nb y"));
}

TEST(SyncXml, ElementsAreKnownByNamespaceNotByPrefix) {
  const std::string body = R"(<?xml version="1.0"?>
<multistatus xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav" xmlns:x="urn:other">
  <sync-token>http://example/sync/7</sync-token>
  <response><href>/cal/a.ics</href>
    <propstat><prop><getetag>"e1"</getetag><x:getetag>"fake"</x:getetag>
      <C:calendar-data><![CDATA[BEGIN:VCALENDAR
END:VCALENDAR]]></C:calendar-data></prop><status>HTTP/1.1 200 OK</status></propstat>
    <propstat><prop><displayname>missing</displayname></prop>
      <status>HTTP/1.1 404 Not Found</status></propstat>
  </response>
  <D:response xmlns:D="DAV:"><D:href>/cal/gone.ics</D:href><D:status>HTTP/1.1 404 Not Found</D:status></D:response>
  <D:response xmlns:D="DAV:"><D:href>/cal/</D:href><D:propstat><D:prop>
    <D:resourcetype><D:collection/><cal:calendar xmlns:cal="urn:ietf:params:xml:ns:caldav"/></D:resourcetype>
    <C:supported-calendar-component-set><C:comp name="VEVENT"/></C:supported-calendar-component-set>
  </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
  <x:response><x:href>/not/dav</x:href></x:response>
</multistatus>)";
  davsync::Multistatus ms;
  std::string error;
  ASSERT_TRUE(davsync::ParseMultistatus(body, &ms, &error)) << error;
  EXPECT_EQ(ms.syncToken, "http://example/sync/7");
  ASSERT_EQ(ms.resources.size(), 3u);
  EXPECT_EQ(ms.resources[0].etag, "\"e1\"");
  EXPECT_EQ(ms.resources[0].displayName, "");
  EXPECT_EQ(ms.resources[0].calendarData, "BEGIN:VCALENDAR\nEND:VCALENDAR");
  EXPECT_EQ(ms.resources[1].status, 404);
  EXPECT_TRUE(ms.resources[2].calendar && ms.resources[2].collection);
  EXPECT_TRUE(ms.resources[2].componentsListed);
  EXPECT_FALSE(ms.resources[2].journals);
}

TEST(SyncXml, BrokenOrForeignAnswersAreRefusedWithAReason) {
  davsync::Multistatus ms;
  std::string error;
  for (const char* body : {"", "<d:multistatus xmlns:d='DAV:'><d:response>", "<html>oops</html>",
                           "<multistatus xmlns='urn:not-dav'/>"}) {
    error.clear();
    EXPECT_FALSE(davsync::ParseMultistatus(body, &ms, &error)) << body;
    EXPECT_FALSE(error.empty());
  }
  // Entities are not expanded into a billion laughs.
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\">";
  char prev = 'a';
  for (char c = 'b'; c <= 'k'; ++c) {
    bomb += std::string("<!ENTITY ") + c + " \"";
    for (int i = 0; i < 10; ++i) bomb += std::string("&") + prev + ";";
    bomb += "\">";
    prev = c;
  }
  bomb +=
      "]><d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>&k;</d:href></d:response>"
      "</d:multistatus>";
  const auto start = std::chrono::steady_clock::now();
  if (davsync::ParseMultistatus(bomb, &ms, &error)) {
    for (const auto& r : ms.resources) EXPECT_LT(r.href.size(), 1u << 20);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// A home set's listing as servers write it: names, component sets and hrefs
// in the forms met in practice.
TEST(SyncDiscovery, CalendarsAreNamedAndJudgedFromTheListing) {
  const std::string body = R"(<?xml version="1.0" encoding="utf-8"?>
<D:multistatus xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav">
  <D:response><D:href>/dav/anna/</D:href><D:propstat><D:prop>
    <D:resourcetype><D:collection/></D:resourcetype><D:displayname>家</D:displayname>
  </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
  <D:response><D:href>work/</D:href><D:propstat><D:prop>
    <D:resourcetype><D:collection/><C:calendar/></D:resourcetype>
    <D:displayname>  工作 &amp; 日志
第二行 </D:displayname>
    <C:supported-calendar-component-set><C:comp name="VEVENT"/><C:comp name="VJOURNAL"/>
    </C:supported-calendar-component-set>
  </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
  <D:response><D:href>/dav/anna/tamsivo-memos/</D:href><D:propstat><D:prop>
    <D:resourcetype><D:collection/><C:calendar/></D:resourcetype>
    <D:displayname>Tamsivo 备忘录</D:displayname>
  </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>
  <D:propstat><D:prop><C:supported-calendar-component-set/></D:prop>
    <D:status>HTTP/1.1 404 Not Found</D:status></D:propstat></D:response>
  <D:response><D:href>/dav/anna/%E6%97%A5%E8%AE%B0</D:href><D:propstat><D:prop>
    <D:resourcetype><D:collection/><C:calendar/></D:resourcetype><D:displayname/>
    <C:supported-calendar-component-set><C:comp name="VEVENT"/></C:supported-calendar-component-set>
  </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
  <D:response><D:href>http://h/dav/anna/%FF%00x/</D:href><D:propstat><D:prop>
    <D:resourcetype><D:collection/><C:calendar/></D:resourcetype>
  </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
  <D:response><D:href>long/</D:href><D:propstat><D:prop>
    <D:resourcetype><D:collection/><C:calendar/></D:resourcetype>
    <D:displayname>)" + std::string(300, 'x') +
                           R"(</D:displayname>
  </D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>
  <D:response><D:href>/dav/anna/gone/</D:href><D:status>HTTP/1.1 404 Not Found</D:status></D:response>
</D:multistatus>)";
  davsync::Multistatus ms;
  std::string error;
  ASSERT_TRUE(davsync::ParseMultistatus(body, &ms, &error)) << error;
  const std::vector<davsync::CalendarInfo> list = davsync::CalendarsOf(ms, "http://h/dav/anna/");
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].url, "http://h/dav/anna/work/");
  EXPECT_EQ(list[0].displayName, "工作 & 日志 第二行");
  EXPECT_TRUE(list[0].takesJournals);
  EXPECT_FALSE(list[0].isOurs);
  // No component set given is every component, journals too.
  EXPECT_EQ(list[1].displayName, davsync::kCalendarName);
  EXPECT_TRUE(list[1].takesJournals && list[1].isOurs);
  // No name: the last path segment, decoded; a collection's URL ends in '/'.
  EXPECT_EQ(list[2].url, "http://h/dav/anna/%E6%97%A5%E8%AE%B0/");
  EXPECT_EQ(list[2].displayName, "日记");
  EXPECT_FALSE(list[2].takesJournals);
  // A segment that decodes to no text is shown as it was written.
  EXPECT_EQ(list[3].displayName, "%FF%00x");
  EXPECT_EQ(list[4].displayName, std::string(80, 'x') + "…");
}

TEST(SyncXml, HrefsAndNamesAreEscapedInRequests) {
  const std::string body = davsync::MultigetBody({"/c/a&b<c>.ics"});
  EXPECT_NE(body.find("<d:href>/c/a&amp;b&lt;c&gt;.ics</d:href>"), std::string::npos);
  davsync::Multistatus ms;
  std::string error;
  EXPECT_FALSE(davsync::ParseMultistatus(body, &ms, &error));  // well-formed, not a multistatus
  EXPECT_NE(error.find("multistatus"), std::string::npos);
}

TEST(SyncJournal, AMemoGoesThereAndBackByteForByte) {
  const std::string memo = "第一行, 逗号; 分号\\反斜杠\n\n  缩进\t制表\n最后";
  for (const double day : {archive::FromCivil(2026, 12, 9), archive::FromCivil(9999, 12, 31),
                           archive::FromCivil(100, 1, 1)}) {
    const std::string ics = davsync::BuildJournal(day, memo, kOtherTime);
    EXPECT_NE(ics.find("DTSTART;VALUE=DATE:" + davsync::DayUid(day).substr(13)), std::string::npos)
        << ics;
    std::vector<davsync::Journal> journals;
    ASSERT_TRUE(davsync::ParseJournals(ics, &journals));
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(journals[0].uid, davsync::DayUid(day));
    EXPECT_EQ(journals[0].day, day);
    EXPECT_EQ(journals[0].text, memo);
    EXPECT_EQ(journals[0].modified, kOtherTime);
  }
  EXPECT_EQ(davsync::DayResourceName(archive::FromCivil(2026, 1, 2)), "tamsivo-memo-20260102.ics");
  // iCalendar readers drop blanks at a value's ends: the same memo, no change
  // to send or take back (found by fuzz_dav_answer).
  std::vector<davsync::Journal> back;
  ASSERT_TRUE(davsync::ParseJournals(davsync::BuildJournal(0, "\t 缩进开头\r\n结尾 ", 0), &back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_TRUE(davsync::SameMemo(back[0].text, "\t 缩进开头\r\n结尾 "));
  EXPECT_FALSE(PlanDay("\t 缩进开头\r\n结尾 ", std::string("旧的"), back[0].text, 0).conflict);
}

TEST(SyncJournal, OtherClientsJournalsAreReadForTheirDate) {
  const std::string ics =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\n"
      "BEGIN:VEVENT\r\nUID:e\r\nDTSTART:20261209T100000Z\r\nSUMMARY:会议\r\nEND:VEVENT\r\n"
      "BEGIN:VJOURNAL\r\nUID:j1\r\nDTSTART:20261209T233000Z\r\nDESCRIPTION:晚上\r\n"
      "DESCRIPTION:第二段\r\nLAST-MODIFIED:20261209T023200Z\r\nEND:VJOURNAL\r\n"
      "BEGIN:VJOURNAL\r\nUID:j2\r\nSUMMARY:只有标题\r\nDTSTART;VALUE=DATE:20261210\r\n"
      "END:VJOURNAL\r\n"
      "BEGIN:VJOURNAL\r\nUID:j3\r\nDESCRIPTION:没有日期\r\nEND:VJOURNAL\r\n"
      "BEGIN:VJOURNAL\r\nUID:j4\r\nDTSTART;VALUE=DATE:20260231\r\nEND:VJOURNAL\r\n"
      "END:VCALENDAR\r\n";
  std::vector<davsync::Journal> journals;
  ASSERT_TRUE(davsync::ParseJournals(ics, &journals));
  ASSERT_EQ(journals.size(), 2u);
  // A date-time counts for the date it names, never moved by a time zone.
  EXPECT_EQ(journals[0].day, archive::FromCivil(2026, 12, 9));
  EXPECT_EQ(journals[0].text, "晚上\n第二段");
  EXPECT_EQ(journals[0].modified, kOtherTime);
  EXPECT_EQ(journals[1].text, "只有标题");
  EXPECT_FALSE(davsync::ParseJournals("not a calendar", &journals));
}

TEST(SyncHttp, PlainHttpOnlyToThisComputerOrWhenConfirmed) {
  std::string error;
  EXPECT_TRUE(davsync::UrlAllowed("https://dav.example.org/cal/", false, &error));
  EXPECT_TRUE(davsync::UrlAllowed("http://127.0.0.1:5232/u/", false, &error));
  EXPECT_TRUE(davsync::UrlAllowed("http://localhost/u/", false, &error));
  EXPECT_FALSE(davsync::UrlAllowed("http://192.0.2.7/u/", false, &error));
  EXPECT_NE(error.find("https://"), std::string::npos);
  EXPECT_TRUE(davsync::UrlAllowed("http://192.0.2.7/u/", true, &error));
  // A host that only starts like this computer's name is another host.
  EXPECT_FALSE(davsync::UrlAllowed("http://localhost.example.org/u/", false, &error));
  EXPECT_FALSE(davsync::UrlAllowed("ftp://127.0.0.1/u/", true, &error));
  EXPECT_FALSE(davsync::UrlAllowed("not a url", true, &error));
  EXPECT_EQ(davsync::ResolveUrl("http://h/cal/", "/cal/a.ics"), "http://h/cal/a.ics");
  EXPECT_EQ(davsync::UrlPath("http://h:1/cal/a.ics"), "/cal/a.ics");
}

class SyncStoreTest : public ::testing::Test {
 protected:
  store_test::TempDir dir_;
  std::string file_ = dir_ / "事件数据.edb";
};

TEST_F(SyncStoreTest, AStoreFromBeforeSyncOpensAndGetsItsObjectsWithEveryDayPending) {
  archive_test::MemoFile memos(file_);
  memos.Put(archive_test::Date(2026, 12, 9), "一");
  memos.Put(archive_test::Date(2026, 12, 10), "二");
  memos.Close();
  std::string error;
  auto store = davsync::SyncStore::Open(file_, &error);
  ASSERT_NE(store, nullptr) << error;
  std::vector<double> pending;
  ASSERT_TRUE(store->PendingDays(&pending, &error));
  EXPECT_EQ(pending, (std::vector<double>{archive_test::Date(2026, 12, 9),
                                          archive_test::Date(2026, 12, 10)}));
  store.reset();
  // The program's own check takes the store with them, and its saves are noted.
  memos.Reopen();
  memos.Put(archive_test::Date(2026, 12, 11), "三");
  memos.Close();
  EXPECT_EQ(store_test::Query(file_, "SELECT count(*) FROM sync_pending"),
            std::vector<std::string>{"3"});
  std::string reason;
  EXPECT_TRUE(archive::CheckMemoStore(file_, &reason)) << reason;
}

TEST_F(SyncStoreTest, ADayIsSavedAsTheProgramSavesItAndEveryChangeIsNoted) {
  archive_test::MemoFile memos(file_);
  memos.Close();
  std::string error;
  auto store = davsync::SyncStore::Open(file_, &error);
  ASSERT_NE(store, nullptr) << error;
  const double day = archive_test::Date(2026, 12, 9);
  ASSERT_TRUE(store->Begin(&error));
  ASSERT_TRUE(store->SaveDay(day, "", &error));  // nothing to empty: no record made
  ASSERT_TRUE(store->RemovePending(day, &error));
  ASSERT_TRUE(store->Commit(&error));
  EXPECT_EQ(store_test::Query(file_, "SELECT count(*) FROM records"),
            std::vector<std::string>{"0"});
  ASSERT_TRUE(store->Begin(&error));
  ASSERT_TRUE(store->SaveDay(day, "来自服务器", &error));
  ASSERT_TRUE(store->SaveDay(day, "再改一次", &error));
  ASSERT_TRUE(store->Commit(&error));
  std::string text;
  ASSERT_TRUE(store->LocalText(day, &text, &error));
  EXPECT_EQ(text, "再改一次");
  EXPECT_EQ(store_test::Query(file_, "SELECT count(*), typeof(\"事情\") FROM records"),
            std::vector<std::string>{"1|blob"});
  // A change another tool makes through SQLite is noted as well.
  ASSERT_TRUE(store->Begin(&error));
  ASSERT_TRUE(store->RemovePending(day, &error));
  ASSERT_TRUE(store->Commit(&error));
  archive_test::Sql(file_, "DELETE FROM records");
  std::vector<double> pending;
  ASSERT_TRUE(store->PendingDays(&pending, &error));
  EXPECT_EQ(pending, std::vector<double>{day});
}

TEST_F(SyncStoreTest, SyncObjectsOfAnotherMakeAreRefusedAndMissingOnesMadeAgain) {
  archive_test::MemoFile memos(file_);
  memos.Put(archive_test::Date(2026, 12, 9), "一");
  memos.Close();
  std::string error;
  ASSERT_NE(davsync::SyncStore::Open(file_, &error), nullptr) << error;
  // A trigger dropped by hand: changes may have gone unseen, so all over.
  archive_test::Sql(file_, "DROP TRIGGER sync_records_update; DELETE FROM sync_pending;");
  ASSERT_NE(davsync::SyncStore::Open(file_, &error), nullptr) << error;
  EXPECT_EQ(store_test::Query(file_, "SELECT count(*) FROM sync_pending"),
            std::vector<std::string>{"1"});
  EXPECT_EQ(store_test::Query(file_, "SELECT count(*) FROM sqlite_master WHERE name LIKE 'sync%'"),
            std::vector<std::string>{"8"});
  // One that rewrites what is saved is not ours, whatever its name.
  archive_test::Sql(file_,
                    "CREATE TRIGGER sync_evil AFTER INSERT ON records BEGIN "
                    "DELETE FROM records; END;");
  EXPECT_EQ(davsync::SyncStore::Open(file_, &error), nullptr);
  EXPECT_NE(error.find(storeschema::kForeignObjects), std::string::npos) << error;
  std::string reason;
  EXPECT_FALSE(archive::CheckMemoStore(file_, &reason));
}

}  // namespace

namespace {

namespace fs = std::filesystem;

TEST(SyncPassword, AFileTheProgramWroteIsOnlyForItsServerAndUser) {
  const fs::path dir = fs::temp_directory_path() / ("tamsivo-pw-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string file = (dir / davsync::kPasswordFileName).string();
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "", 1);
  std::string password, error;
  davsync::PasswordSource source;
  ASSERT_TRUE(
      davsync::StorePasswordFile(file, "geh#eim 7", "https://dav.example/anna/", "anna", &error))
      << error;
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // The same server (a slash more or less) and user.
  ASSERT_TRUE(
      davsync::LookUpPassword(file, "https://dav.example/anna", "anna", &password, &source, &error))
      << error;
  EXPECT_EQ(password, "geh#eim 7");
  EXPECT_EQ(source, davsync::PasswordSource::kFile);
  // Another server or user is never sent it.
  for (const auto& [address, user] :
       {std::pair<std::string, std::string>{"https://evil.example/anna/", "anna"},
        {"https://dav.example/anna/", "bob"}}) {
    password = "left over";
    EXPECT_FALSE(davsync::LookUpPassword(file, address, user, &password, &source, &error));
    EXPECT_EQ(password, "");
    EXPECT_NE(error.find("另一个服务器"), std::string::npos) << error;
  }
  // One written by hand (the password alone, CR LF) is for what Start.ini names.
  ASSERT_TRUE(fileio::ReplaceFileAtomically(file, "handmade\r\n",
                                            {fileio::NewFileMode::kOwnerOnly, false}, &error));
  ASSERT_TRUE(
      davsync::LookUpPassword(file, "https://any.example/", "x", &password, &source, &error));
  EXPECT_EQ(password, "handmade");
  fs::remove_all(dir);
}

}  // namespace
