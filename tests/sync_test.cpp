// The sync module's parts on their own: the merge rules, WebDAV answers,
// journals, and the sync objects in the memo store.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "sync/dav_http.h"
#include "sync/dav_xml.h"
#include "sync/discovery.h"
#include "sync/engine.h"
#include "sync/journal.h"
#include "sync/password.h"
#include "sync/sync_store.h"
#include "tests/archive/archive_test_util.h"
#include "tests/support/local_servers.h"
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

// A calendar of the test's own on 127.0.0.1 at /cal/: keeps what is PUT,
// lists it in sync-collection, serves calendar-multiget, on as many
// keep-alive connections as the client opens. `onPut` may answer a PUT in
// its place (a refusal, a 412) or act while it is under way.
class FakeDav {
 public:
  struct Answer {
    int status = 0;  // 0: none, the PUT goes on as usual
    std::string headers;
  };
  std::function<Answer(const std::string& href, int nth)> onPut;

  FakeDav() : fd_(local::ListenOnLoopback(&port_)) {
    listen(fd_, 16);
    thread_ = std::thread([this] { Accept(); });
  }
  ~FakeDav() {
    stop_ = true;
    thread_.join();
    for (std::thread& t : connections_) t.join();
    close(fd_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/cal/"; }
  // The memo text of each resource, by href.
  std::map<std::string, std::string> Texts() {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> out;
    for (const auto& [href, item] : items_) {
      std::vector<davsync::Journal> journals;
      EXPECT_TRUE(davsync::ParseJournals(item.second, &journals)) << href;
      out[href] = journals.empty() ? "" : journals.front().text;
    }
    return out;
  }
  void Put(const std::string& href, const std::string& ics) {
    std::lock_guard lock(mutex_);
    items_[href] = {"\"v" + std::to_string(++version_) + "\"", ics};
  }
  std::atomic<int> puts{0}, inFlight{0}, mostInFlight{0};

 private:
  bool Wait(int fd) {
    pollfd p{fd, POLLIN, 0};
    while (!stop_)
      if (poll(&p, 1, 20) > 0) return true;
    return false;
  }
  void Accept() {
    while (Wait(fd_)) {
      const int conn = accept(fd_, nullptr, nullptr);
      if (conn >= 0) connections_.emplace_back([this, conn] { Serve(conn); });
    }
  }
  void Serve(int conn) {
    std::string got;
    char buffer[65536];
    for (;;) {
      std::size_t end;
      while ((end = got.find("\r\n\r\n")) == std::string::npos) {
        if (!Wait(conn)) return (void)close(conn);
        const ssize_t n = read(conn, buffer, sizeof buffer);
        if (n <= 0) return (void)close(conn);
        got.append(buffer, static_cast<std::size_t>(n));
      }
      const std::string head = got.substr(0, end + 2);
      std::size_t length = 0;
      const std::size_t cl = head.find("Content-Length: ");
      if (cl != std::string::npos) length = std::stoul(head.substr(cl + 16));
      while (got.size() < end + 4 + length) {
        if (!Wait(conn)) return (void)close(conn);
        const ssize_t n = read(conn, buffer, sizeof buffer);
        if (n <= 0) return (void)close(conn);
        got.append(buffer, static_cast<std::size_t>(n));
      }
      const std::string body = got.substr(end + 4, length);
      got.erase(0, end + 4 + length);
      const std::string answer = Handle(head, body);
      // A client that went away (a stop) is no signal to die of.
      if (send(conn, answer.data(), answer.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(answer.size())) {
        return (void)close(conn);
      }
    }
  }
  static std::string Reply(int status, const std::string& body, const std::string& headers = "") {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers +
           "Content-Type: application/xml\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  }
  static std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '&')
        out += "&amp;";
      else if (c == '<')
        out += "&lt;";
      else if (c == '>')
        out += "&gt;";
      else
        out += c;
    }
    return out;
  }
  std::string Handle(const std::string& head, const std::string& body) {
    const std::string method = head.substr(0, head.find(' '));
    const std::size_t at = head.find(' ') + 1;
    const std::string url = head.substr(at, head.find(' ', at) - at);
    const std::string href = url.substr(url.find("/cal/"));
    constexpr const char* kOpen =
        "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\" "
        "xmlns:c=\"urn:ietf:params:xml:ns:caldav\">";
    if (method == "PROPFIND") {
      return Reply(207, std::string(kOpen) +
                            "<d:response><d:href>/cal/</d:href><d:propstat><d:prop>"
                            "<d:resourcetype><d:collection/><c:calendar/></d:resourcetype>"
                            "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
                            "</d:response></d:multistatus>");
    }
    std::lock_guard lock(mutex_);
    if (method == "REPORT" && body.find("sync-collection") != std::string::npos) {
      std::string out = kOpen;
      for (const auto& [h, item] : items_) {
        out += "<d:response><d:href>" + h + "</d:href><d:propstat><d:prop><d:getetag>" +
               item.first +
               "</d:getetag></d:prop><d:status>HTTP/1.1 200 OK</d:status>"
               "</d:propstat></d:response>";
      }
      return Reply(207, out + "<d:sync-token>t" + std::to_string(version_) +
                            "</d:sync-token></d:multistatus>");
    }
    if (method == "REPORT") {
      std::string out = kOpen;
      for (std::size_t p = 0; (p = body.find("<d:href>", p)) != std::string::npos;) {
        p += 8;
        const std::string h = body.substr(p, body.find('<', p) - p);
        const auto it = items_.find(h);
        if (it == items_.end()) {
          out += "<d:response><d:href>" + h +
                 "</d:href><d:status>HTTP/1.1 404 Not Found</d:status></d:response>";
          continue;
        }
        out += "<d:response><d:href>" + h + "</d:href><d:propstat><d:prop><d:getetag>" +
               it->second.first + "</d:getetag><c:calendar-data>" + Escape(it->second.second) +
               "</c:calendar-data></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
               "</d:response>";
      }
      return Reply(207, out + "</d:multistatus>");
    }
    if (method == "PUT") {
      const int nth = ++puts;
      mostInFlight = std::max(mostInFlight.load(), ++inFlight);
      Answer a;
      if (onPut) {
        // Unlocked: the hook may sleep, or write items, while others go on.
        mutex_.unlock();
        a = onPut(href, nth);
        mutex_.lock();
      }
      --inFlight;
      if (a.status) return Reply(a.status, "", a.headers);
      const bool exists = items_.count(href) != 0;
      if (exists && head.find("If-None-Match: *") != std::string::npos) return Reply(412, "");
      const std::size_t im = head.find("If-Match: ");
      if (im != std::string::npos &&
          (!exists ||
           head.substr(im + 10, head.find("\r\n", im) - im - 10) != items_[href].first)) {
        return Reply(412, "");
      }
      items_[href] = {"\"v" + std::to_string(++version_) + "\"", body};
      return Reply(exists ? 204 : 201, "", "ETag: " + items_[href].first + "\r\n");
    }
    if (method == "DELETE") {
      items_.erase(href);
      ++version_;
      return Reply(204, "");
    }
    return Reply(405, "");
  }

  int port_ = 0;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::thread> connections_;
  std::mutex mutex_;
  std::map<std::string, std::pair<std::string, std::string>> items_;  // href: etag, ics
  int version_ = 0;
};

// Sending the pending days in batches: many PUTs under way at once, each
// batch recorded in one transaction, and every promise of a run kept.
class SyncBatch : public SyncStoreTest {
 protected:
  static constexpr double kFirst = 39083;  // 2007-01-01
  static std::string Memo(int i) {
    return "第 " + std::to_string(i) + " 天\n" + std::string(i % 7 * 30, 'x');
  }
  static std::string Href(double day) { return "/cal/" + davsync::DayResourceName(day); }
  void SetUp() override {
    archive_test::MemoFile memos(file_);
    for (int i = 0; i < kDays; ++i) memos.Put(kFirst + i, Memo(i));
    memos.Close();
  }
  davsync::SyncOutcome Sync(const std::atomic<bool>* stop = nullptr,
                            const davsync::SyncProgress& progress = {}) {
    davsync::SyncConfig config;
    config.address = dav_.Url();
    return davsync::RunSync(config, file_, kOtherTime, stop, progress);
  }
  std::vector<std::string> Pending() {
    return store_test::Query(file_, "SELECT day FROM sync_pending ORDER BY day");
  }
  // Every day not pending is on the server with its text here.
  void ExpectSettledDaysAreThere() {
    const std::map<std::string, std::string> there = dav_.Texts();
    const std::vector<std::string> pending = Pending();
    for (int i = 0; i < kDays; ++i) {
      const double day = kFirst + i;
      if (std::find(pending.begin(), pending.end(), std::to_string(static_cast<int>(day)) + ".0") !=
          pending.end()) {
        continue;
      }
      const auto it = there.find(Href(day));
      ASSERT_NE(it, there.end()) << "day " << i << " left the queue without going up";
      EXPECT_EQ(it->second, Memo(i));
    }
  }
  static constexpr int kDays = 260;
  FakeDav dav_;
};

TEST_F(SyncBatch, AFirstUploadGoesUpOnSeveralConnectionsAndProgressCountsEveryDay) {
  std::vector<std::pair<int, int>> seen;
  dav_.onPut = [](const std::string&, int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    return FakeDav::Answer{};
  };
  const davsync::SyncOutcome out =
      Sync(nullptr, [&](int done, int total) { seen.emplace_back(done, total); });
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.up, kDays);
  EXPECT_GT(dav_.mostInFlight.load(), 1);
  EXPECT_LE(dav_.mostInFlight.load(), 8);
  EXPECT_EQ(dav_.puts.load(), kDays);
  EXPECT_TRUE(Pending().empty());
  ExpectSettledDaysAreThere();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), std::make_pair(0, kDays));
  EXPECT_EQ(seen.back(), std::make_pair(kDays, kDays));
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1].first, seen[i].first);
  // The ETags the PUTs answered were kept: nothing new is one request.
  const davsync::SyncOutcome again = Sync();
  EXPECT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.up + again.down, 0);
  EXPECT_EQ(again.requests, 1);
  // A second computer takes them all down, batch by batch too.
  const std::string other = dir_ / "另一台.edb";
  archive_test::MemoFile(other).Close();
  davsync::SyncConfig config;
  config.address = dav_.Url();
  const davsync::SyncOutcome down = davsync::RunSync(config, other, kOtherTime);
  ASSERT_TRUE(down.ok) << down.error;
  EXPECT_EQ(down.down, kDays);
  EXPECT_EQ(store_test::Query(other, "SELECT count(*) FROM sync_pending"),
            std::vector<std::string>{"0"});
  EXPECT_EQ(store_test::Query(other, "SELECT count(*) FROM records"),
            std::vector<std::string>{std::to_string(kDays)});
}

TEST_F(SyncBatch, OneRefusedDayIsNamedAndStaysWhileTheRestGoUp) {
  const double refused = kFirst + 150;
  dav_.onPut = [&](const std::string& href, int) {
    return href == Href(refused) ? FakeDav::Answer{415, ""} : FakeDav::Answer{};
  };
  const davsync::SyncOutcome out = Sync();
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("2007年5月31日"), std::string::npos) << out.error;
  EXPECT_NE(out.error.find("415"), std::string::npos) << out.error;
  EXPECT_EQ(out.refusedDays, std::vector<double>{refused});
  EXPECT_EQ(out.up, kDays - 1);
  EXPECT_EQ(Pending(), std::vector<std::string>{"39233.0"});
  ExpectSettledDaysAreThere();
  EXPECT_EQ(dav_.Texts().count(Href(refused)), 0u);
}

TEST_F(SyncBatch, ADayAnotherComputerWroteMeanwhileIsFetchedAndMerged) {
  const double day = kFirst + 42;
  const std::string theirs = davsync::BuildJournal(day, "另一台电脑写的", kOtherTime - 3600);
  dav_.onPut = [&](const std::string& href, int) {
    // Arrives between our listing and our PUT: If-None-Match then fails.
    if (href == Href(day) && dav_.Texts().count(href) == 0) dav_.Put(href, theirs);
    return FakeDav::Answer{};
  };
  const davsync::SyncOutcome out = Sync();
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.conflicts, 1);
  EXPECT_EQ(out.conflictDays, std::vector<double>{day});
  const std::string merged = dav_.Texts()[Href(day)];
  EXPECT_EQ(merged.find(Memo(42)), 0u) << merged;
  EXPECT_NE(merged.find("另一台电脑写的"), std::string::npos) << merged;
  std::string local, error;
  auto store = davsync::SyncStore::Open(file_, &error);
  ASSERT_TRUE(store && store->LocalText(day, &local, &error)) << error;
  EXPECT_EQ(local, merged);
  EXPECT_TRUE(Pending().empty());
}

TEST_F(SyncBatch, AStopMidBatchEndsWithinASecondAndLeavesTheQueueWhole) {
  std::atomic<bool> stop{false}, slow{true};
  dav_.onPut = [&](const std::string&, int nth) {
    if (!slow) return FakeDav::Answer{};
    if (nth == 30) stop = true;
    if (nth < 30) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return FakeDav::Answer{};
    }
    // Under way when the stop comes, and never taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    return FakeDav::Answer{500, ""};
  };
  const auto start = std::chrono::steady_clock::now();
  const davsync::SyncOutcome out = Sync(&stop);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.error, "同步已停止");
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  EXPECT_LT(dav_.puts.load(), 40);
  EXPECT_FALSE(Pending().empty());
  ExpectSettledDaysAreThere();
  std::string reason;
  EXPECT_TRUE(archive::CheckMemoStore(file_, &reason)) << reason;
  // What the stop cut off goes up next time, nothing twice.
  slow = false;
  const davsync::SyncOutcome rest = Sync();
  ASSERT_TRUE(rest.ok) << rest.error;
  EXPECT_TRUE(Pending().empty());
  ExpectSettledDaysAreThere();
  EXPECT_EQ(dav_.Texts().size(), static_cast<std::size_t>(kDays));
}

TEST_F(SyncBatch, ADaySavedWhileItsPutWasUnderWayKeepsTheNewTextPending) {
  const double day = kFirst + 7;
  dav_.onPut = [&](const std::string& href, int) {
    if (href == Href(day)) {
      archive_test::Sql(file_,
                        "UPDATE records SET \"事情\" = CAST('刚刚改过' AS BLOB) WHERE \"日期\" = " +
                            std::to_string(day));
    }
    return FakeDav::Answer{};
  };
  const davsync::SyncOutcome out = Sync();
  ASSERT_TRUE(out.ok) << out.error;
  std::string local, error;
  {
    auto store = davsync::SyncStore::Open(file_, &error);
    ASSERT_TRUE(store && store->LocalText(day, &local, &error)) << error;
  }
  EXPECT_EQ(local, "刚刚改过");
  // Still pending after its batch, it went up in the run's second round.
  EXPECT_EQ(out.up, kDays + 1);
  EXPECT_EQ(out.conflicts, 0);
  EXPECT_EQ(dav_.Texts()[Href(day)], "刚刚改过");
  EXPECT_TRUE(Pending().empty());
}

TEST_F(SyncBatch, ABusyAnswerEndsTheRunKeepingWhatTheServerTook) {
  dav_.onPut = [&](const std::string&, int nth) {
    return nth >= 120 ? FakeDav::Answer{503, "Retry-After: 120\r\n"} : FakeDav::Answer{};
  };
  const davsync::SyncOutcome out = Sync();
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(out.retryAfter, 120);
  EXPECT_NE(out.error.find("120 秒后再试"), std::string::npos) << out.error;
  // No more than were under way when the first 503 came.
  EXPECT_LT(dav_.puts.load(), 120 + 8);
  EXPECT_EQ(out.up, static_cast<int>(dav_.Texts().size()));
  EXPECT_EQ(Pending().size(), static_cast<std::size_t>(kDays - out.up));
  ExpectSettledDaysAreThere();
  EXPECT_EQ(store_test::Query(file_,
                              "SELECT count(*) FROM sync_state WHERE key = 'retry_until'"
                              " AND value <> ''"),
            std::vector<std::string>{"1"});
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
