// The offer to download a missing 休/班 schedule, against an https source of
// the test's own on 127.0.0.1: what is asked and when, what is requested
// (nothing without a 是), what is stored and used, what is refused. The
// clock is the test program's.
#include "net/holiday_fetch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar.h"
#include "memo/memo_store.h"
#include "net/http.h"
#include "settings/settings.h"
#include "tests/support/holiday_json.h"
#include "tests/support/local_servers.h"
#include "tests/support/test_program.h"
#include "tests/support/tls_server.h"

using namespace local;
namespace fs = std::filesystem;

namespace {

class HolidayFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(certificates.ok()) << "the openssl command could not make test certificates";
    web.server.Get(R"(/holiday/(\d+)\.json)",
                   [this](const httplib::Request& req, httplib::Response& res) {
                     std::lock_guard lock(mutex);
                     requested.push_back(std::stoi(req.matches[1]));
                     const auto it = bodies.find(requested.back());
                     if (it == bodies.end()) {
                       res.status = 404;
                       res.set_content("Not Found", "text/plain");
                       return;
                     }
                     res.set_content(it->second, "application/json");
                   });
    ASSERT_TRUE(web.Start());
    SetCaFileForTesting(certificates.Ca());
    program.now = MakeDateTime(2026, 12, 9, 9, 0, 0);
    program.Start();
    ASSERT_TRUE(PumpUntil([] { return MemoStoreChecked(); }));
    ASSERT_TRUE(WriteSetting(item::kHolidaySource, web.Url("/holiday/{year}.json")));
    program.messages.clear();
    program.answer = [this](const ShownMessage& m) {
      return (m.flags & 0xF) == rt::MB_YESNONEVER ? reply(m) : rt::IDOK;
    };
  }
  void TearDown() override { SetCaFileForTesting(""); }

  void Serve(int year, std::string body) {
    std::lock_guard lock(mutex);
    bodies[year] = std::move(body);
  }
  std::vector<int> Requested() {
    std::lock_guard lock(mutex);
    return requested;
  }
  std::string File(int year) { return program.path("节假日/" + std::to_string(year) + ".txt"); }
  // Forget that the year was offered, as a later year's start would.
  void AskAgain() { ASSERT_TRUE(WriteSetting(item::kHolidayOfferedYear, "")); }
  size_t Questions() const {
    size_t n = 0;
    for (const ShownMessage& m : program.messages) n += (m.flags & 0xF) == rt::MB_YESNONEVER;
    return n;
  }

  static inline TestCertificates certificates;
  TestProgram program;
  TlsWebServer web{certificates.Cert("server"), certificates.Key("server")};
  std::mutex mutex;
  std::map<int, std::string> bodies;
  std::vector<int> requested;
  std::function<int(const ShownMessage&)> reply = [](const ShownMessage&) { return rt::IDYES; };
};

}  // namespace

TEST_F(HolidayFetchTest, AcceptedScheduleIsStoredUsedAndOfferedOnce) {
  Serve(2027, holidayjson::Body(holidayjson::Days2027()));
  ASSERT_FALSE(ProgramHolidays().HasData(2027));
  OfferHolidaySchedules();
  ASSERT_EQ(program.messages.size(), 2u);
  EXPECT_EQ(program.messages[0].flags, rt::MB_YESNONEVER | rt::MB_ICONQUESTION);
  EXPECT_NE(program.messages[0].text.find("日历还没有2027年的放假安排"), std::string::npos);
  EXPECT_NE(program.messages[0].text.find("要从 127.0.0.1 下载吗？"), std::string::npos);
  EXPECT_EQ(program.messages[1].flags, rt::MB_ICONINFORMATION);
  EXPECT_NE(program.messages[1].text.find("2027年：已保存到“" + File(2027) + "”"),
            std::string::npos)
      << program.messages[1].text;
  EXPECT_EQ(Requested(), std::vector<int>{2027});

  struct stat st {};
  ASSERT_EQ(::stat(File(2027).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  const std::string text = program.ReadFile("节假日/2027.txt");
  EXPECT_TRUE(text.starts_with("# 来源：" + web.Url("/holiday/2027.json") + "，2026-12-09 下载\n"))
      << text;
  // The calendar uses it at once.
  const lunar::HolidayMark* mark = ProgramHolidays().Find({2027, 10, 1});
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(mark->name, "国庆节");
  EXPECT_EQ(ProgramHolidays().SourceNote(2027),
            web.Url("/holiday/2027.json") + "，2026-12-09 下载");

  // Nothing is missing now, and the year was offered: no second question.
  OfferHolidaySchedules();
  AskAgain();
  OfferHolidaySchedules();
  EXPECT_EQ(program.messages.size(), 2u);
  EXPECT_EQ(Requested().size(), 1u);
}

TEST_F(HolidayFetchTest, BadSchedulesAreRefusedAndNothingIsWritten) {
  std::vector<holidayjson::Entry> outside = holidayjson::Days2027(),
                                  unknown = holidayjson::Days2027(),
                                  weekday = holidayjson::Days2027();
  outside.push_back({"元旦", "2028-01-01", true});
  unknown.push_back({"圣诞节", "2027-12-25", true});
  weekday.push_back({"元旦", "2027-01-04", false});
  const std::pair<std::string, std::string> cases[] = {
      {holidayjson::Body(outside), "2028-01-01 不在 2027 年之内"},
      {holidayjson::Body(unknown), "“圣诞节”不是法定节假日的名称"},
      {holidayjson::Body(weekday), "可那天本来就是工作日"},
      {"<html>garbage</html>", "不是 JSON 对象"},
      // Past what a year's file can be: the transfer stops, nothing is read.
      {"{\"days\": [" + std::string(200 * 1024, ' ') + "]}", "无法从来源读取"},
  };
  for (const auto& [body, why] : cases) {
    Serve(2027, body);
    AskAgain();
    program.messages.clear();
    OfferHolidaySchedules();
    ASSERT_EQ(program.messages.size(), 2u) << why;
    EXPECT_EQ(program.messages[1].flags, rt::MB_ICONWARNING);
    EXPECT_NE(program.messages[1].text.find("2027年：没有下载。"), std::string::npos);
    EXPECT_NE(program.messages[1].text.find(why), std::string::npos) << program.messages[1].text;
    EXPECT_FALSE(fs::exists(File(2027))) << why;
    EXPECT_FALSE(ProgramHolidays().HasData(2027));
  }
  // Not yet published.
  {
    std::lock_guard lock(mutex);
    bodies.clear();
  }
  AskAgain();
  program.messages.clear();
  OfferHolidaySchedules();
  ASSERT_EQ(program.messages.size(), 2u);
  EXPECT_NE(program.messages[1].text.find("可能尚未公布"), std::string::npos);
  EXPECT_FALSE(fs::exists(program.path("节假日/2027.txt")));
}

TEST_F(HolidayFetchTest, OnlyHttpsWithATrustedCertificateAndNoPlainRedirect) {
  Serve(2027, holidayjson::Body(holidayjson::Days2027()));
  WebServer plain;
  plain.server.Get(R"(/holiday/(\d+)\.json)", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(holidayjson::Body(holidayjson::Days2027()), "application/json");
  });
  plain.Start();
  web.server.Get(R"(/to-plain/(\d+)\.json)", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(plain.Url("/holiday/2027.json"));
  });
  TlsWebServer misnamed(certificates.Cert("misnamed"), certificates.Key("misnamed"));
  ASSERT_TRUE(misnamed.Start());

  // A plain address is not even offered.
  ASSERT_TRUE(WriteSetting(item::kHolidaySource, plain.Url("/holiday/{year}.json")));
  OfferHolidaySchedules();
  EXPECT_TRUE(program.messages.empty());

  const std::pair<std::string, std::string> cases[] = {
      {web.Url("/to-plain/{year}.json"), "来源不是 https 安全连接"},
      {misnamed.Url("/holiday/{year}.json"), "证书没有通过验证"},
  };
  for (const auto& [source, why] : cases) {
    ASSERT_TRUE(WriteSetting(item::kHolidaySource, source));
    AskAgain();
    program.messages.clear();
    OfferHolidaySchedules();
    ASSERT_EQ(program.messages.size(), 2u) << source;
    EXPECT_NE(program.messages[1].text.find(why), std::string::npos) << program.messages[1].text;
    EXPECT_FALSE(fs::exists(File(2027)));
  }
  EXPECT_EQ(plain.requests, 0);
}

TEST_F(HolidayFetchTest, TheUsersOwnFileIsNeverReplaced) {
  Serve(2027, holidayjson::Body(holidayjson::Days2027()));
  fs::create_directories(program.path("节假日"));
  // Already there (even one the calendar refuses): not offered at all.
  program.WriteFile("节假日/2027.txt", "休 2027-13-01 我的\n");
  ProgramHolidays().Reload();
  OfferHolidaySchedules();
  EXPECT_TRUE(program.messages.empty());
  EXPECT_TRUE(Requested().empty());

  // Put there while the question was up: kept, and the download is told.
  fs::remove(File(2027));
  ProgramHolidays().Reload();
  reply = [this](const ShownMessage&) {
    program.WriteFile("节假日/2027.txt", "休 2027-03-01 自定\n");
    return rt::IDYES;
  };
  OfferHolidaySchedules();
  ASSERT_EQ(program.messages.size(), 2u);
  EXPECT_NE(program.messages[1].text.find("已存在，没有改动它"), std::string::npos)
      << program.messages[1].text;
  EXPECT_EQ(program.ReadFile("节假日/2027.txt"), "休 2027-03-01 自定\n");
}

TEST_F(HolidayFetchTest, NoRequestWithoutConsent) {
  Serve(2027, holidayjson::Body(holidayjson::Days2027()));
  // 否: asked once for the year, nothing fetched.
  reply = [](const ShownMessage&) { return rt::IDNO; };
  OfferHolidaySchedules();
  OfferHolidaySchedules();
  EXPECT_EQ(Questions(), 1u);
  EXPECT_EQ(ReadIntSetting(item::kHolidayOfferedYear), 2027);
  // Closed without an answer: the same.
  AskAgain();
  reply = [](const ShownMessage&) { return 0; };
  OfferHolidaySchedules();
  EXPECT_EQ(Questions(), 2u);
  // 不再询问: never again, for any year.
  AskAgain();
  reply = [](const ShownMessage&) { return rt::IDNEVER; };
  OfferHolidaySchedules();
  EXPECT_EQ(Questions(), 3u);
  EXPECT_TRUE(ReadFlagSetting(item::kHolidayNeverAsk));
  AskAgain();
  program.now = MakeDateTime(2027, 11, 2);
  OfferHolidaySchedules();
  EXPECT_EQ(Questions(), 3u);
  EXPECT_TRUE(Requested().empty());
  EXPECT_FALSE(fs::exists(File(2027)));
}

TEST_F(HolidayFetchTest, WhatIsOfferedFollowsTheDate) {
  Serve(2027, holidayjson::Body(holidayjson::Days2027()));
  // Before November with this year's schedule there: nothing to ask.
  program.now = MakeDateTime(2026, 10, 31, 23, 0, 0);
  OfferHolidaySchedules();
  EXPECT_TRUE(program.messages.empty());
  // A year without one, any month: that year; then from November the next.
  program.now = MakeDateTime(2027, 11, 1);
  reply = [](const ShownMessage&) { return rt::IDYES; };
  OfferHolidaySchedules();
  ASSERT_EQ(program.messages.size(), 2u);
  EXPECT_NE(program.messages[0].text.find("日历还没有2027年和2028年的放假安排"), std::string::npos)
      << program.messages[0].text;
  EXPECT_EQ(Requested(), (std::vector<int>{2027, 2028}));
  EXPECT_NE(program.messages[1].text.find("2027年：已保存"), std::string::npos);
  EXPECT_NE(program.messages[1].text.find("2028年：没有下载。来源还没有这一年的安排"),
            std::string::npos);
  EXPECT_EQ(program.messages[1].flags, rt::MB_ICONWARNING);
  EXPECT_EQ(ReadIntSetting(item::kHolidayOfferedYear), 2028);
}

// At start the offer waits for the windows and the store's check, then
// comes from MainWindow's timer, never inside the start itself.
TEST_F(HolidayFetchTest, OfferedFromTheTimerAfterTheStart) {
  Serve(2027, holidayjson::Body(holidayjson::Days2027()));
  program.Restart();
  EXPECT_TRUE(program.messages.empty());
  ASSERT_TRUE(PumpUntil([&] { return !program.messages.empty(); }, 15000));
  EXPECT_EQ(program.messages[0].flags, rt::MB_YESNONEVER | rt::MB_ICONQUESTION);
  EXPECT_EQ(program.runtime().TimerInterval(kMainWindow, ctl::kHolidayOfferTimer), 0);
  ASSERT_TRUE(PumpUntil([&] { return fs::exists(File(2027)); }));
}
