// The time correction against an https time page of the test's own on
// 127.0.0.1, its certificate from a CA of the test's; the clock setter is the
// test program's, which never touches the real clock.
#include "net/time_correction.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <mutex>

#include "base/datetime.h"
#include "base/program.h"
#include "net/http.h"
#include "tests/support/local_servers.h"
#include "tests/support/test_program.h"
#include "tests/support/tls_server.h"

using namespace local;

namespace {

class TimeCorrectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(certificates.ok()) << "the openssl command could not make test certificates";
    web.server.Get("/special/time", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(pageMutex);
      ++requests;
      res.status = status;
      res.set_content(page, "text/html");
    });
    // A page that never ends: a byte now and then, never slow enough for a
    // stall limit.
    web.server.Get("/trickle", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/html", [this](size_t offset, httplib::DataSink& sink) {
        if (offset == 0) return sink.write("window.baidu_time(", 18);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return !ending && sink.write("1", 1);
      });
    });
    ASSERT_TRUE(web.Start());
    SetCaFileForTesting(certificates.Ca());
    SetTimePageUrlForTesting(web.Url("/special/time"));
    program.Start();
    program.messages.clear();
    // The computer's clock near the pages' usual instant: no question.
    program.now = MakeDateTime(2012, 12, 1, 12, 0, 0);
  }
  void TearDown() override {
    ending = true;
    SetTimePageUrlForTesting("https://127.0.0.1:1/special/time");
    SetCaFileForTesting("");
  }

  void Serve(std::string text, int code = 200) {
    std::lock_guard lock(pageMutex);
    page = std::move(text);
    status = code;
  }

  static inline TestCertificates certificates;
  TestProgram program;
  TlsWebServer web{certificates.Cert("server"), certificates.Key("server")};
  std::mutex pageMutex;
  std::string page;
  int status = 200;
  int requests = 0;
  std::atomic<bool> ending{false};
};

const std::string kSuffix = "\r\n\r\n若矫正时间差别过大，再次尝试矫正便可！";
const std::string kNoTime = "矫正系统时间失败：未能从时间网页读取时间，系统时间没有改动。";
const std::string kNotHttps =
    "矫正系统时间失败：时间网页不是经 https 安全连接读到的，系统时间没有改动。";
const std::string kUntrusted =
    "矫正系统时间失败：时间网页的证书没有通过验证，可能有人冒充它，系统时间没有改动。";
const std::string kOutOfRange =
    "矫正系统时间失败：时间网页给出的时间不在2000年到2100年之间，不可信，系统时间没有改动。";

}  // namespace

TEST_F(TimeCorrectionTest, SetsTheClockToThePageInstant) {
  const double instant = UnixSecondsToDays(1354345600);  // 2012-12-01 07:06:40 UTC
  {
    TimeZone zone("CST-8");
    Serve("<script>window.baidu_time(1354345600123);</script>window.baidu_time(1)");
    CorrectSystemTime();
    // The milliseconds are cut off, not rounded.
    Serve("window.baidu_time(1354345600999)");
    CorrectSystemTime();
  }
  {
    TimeZone zone("EST5");
    CorrectSystemTime();
  }
  EXPECT_EQ(program.clockSets, (std::vector<double>{instant, instant, instant}));
  ASSERT_EQ(program.messages.size(), 3u);
  EXPECT_EQ(program.messages[0].text, "当前矫正时间为:2012年12月1日15时6分40秒" + kSuffix);
  EXPECT_EQ(program.messages[0].flags, 0x40u);
  EXPECT_EQ(program.messages[1].text, program.messages[0].text);
  EXPECT_EQ(program.messages[2].text, "当前矫正时间为:2012年12月1日2时6分40秒" + kSuffix);

  // Past 2038 the seconds still fit.
  TimeZone zone("UTC0");
  program.now = MakeDateTime(2100, 1, 1, 8, 0, 0);
  Serve("window.baidu_time(4102444800000)");
  CorrectSystemTime();
  EXPECT_EQ(program.clockSets.back(), MakeDateTime(2100, 1, 1));
  EXPECT_EQ(program.messages.back().text, "当前矫正时间为:2100年1月1日" + kSuffix);
}

TEST_F(TimeCorrectionTest, NoTimeReadMeansNoClockChange) {
  const std::pair<std::string, int> pages[] = {
      {"", 200},
      {"<h1>Not Found</h1>", 404},
      {"no marker here", 200},
      {"window.baidu_time(1354345600123", 200},
      {"window.baidu_time()", 200},
      {"window.baidu_time(-1354345600123)", 200},
      {"window.baidu_time( 1354345600123)", 200},
      {"window.baidu_time(1.354e12)", 200},
      {"window.baidu_time(1354345600123abc)", 200},
      {"window.baidu_time(99999999999999999999)", 200},
      // The marker past the size a time page can have.
      {std::string(70 * 1024, ' ') + "window.baidu_time(1354345600123)", 200},
      {std::string("x\0window.baidu_time(1354345600123)", 34), 200},
  };
  for (const auto& [text, code] : pages) {
    Serve(text, code);
    program.messages.clear();
    CorrectSystemTime();
    ASSERT_EQ(program.messages.size(), 1u) << text;
    EXPECT_EQ(program.messages[0].text, kNoTime) << text;
  }
  // Nothing listening at all.
  SetTimePageUrlForTesting("https://127.0.0.1:1/special/time");
  CorrectSystemTime();
  EXPECT_EQ(program.messages.back().text, kNoTime);
  EXPECT_TRUE(program.clockSets.empty());
}

TEST_F(TimeCorrectionTest, RefusedClockSettingIsReported) {
  TimeZone zone("CST-8");
  program.clockSetSucceeds = false;
  TodayDate = 0;
  Serve("window.baidu_time(1354345600123)");
  CorrectSystemTime();
  ASSERT_EQ(program.messages.size(), 1u);
  EXPECT_EQ(program.messages[0].text,
            "无法设置系统时间：没有设置系统时间的权限\r\n网页时间为:2012年12月1日15时6分40秒");
  // The calendar still follows the clock as it stands.
  EXPECT_EQ(TodayDate, DatePart(program.now));
}

TEST_F(TimeCorrectionTest, QuittingWhileThePageLoadsCancelsEverything) {
  SetTimePageUrlForTesting(web.Url("/trickle"));
  QTimer::singleShot(300, [this] { program.runtime().EndProgram(0); });
  const auto t0 = std::chrono::steady_clock::now();
  CorrectSystemTime();
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_TRUE(program.clockSets.empty());
  EXPECT_TRUE(program.messages.empty());
}

TEST_F(TimeCorrectionTest, APageThatNeverEndsMeetsTheDeadline) {
  SetTimePageUrlForTesting(web.Url("/trickle"));
  HttpLimits limits;
  limits.totalTimeoutMs = 400;
  SetHttpLimitsForTesting(limits);
  const auto t0 = std::chrono::steady_clock::now();
  CorrectSystemTime();
  const auto waited = std::chrono::steady_clock::now() - t0;
  SetHttpLimitsForTesting(HttpLimits{});
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_TRUE(program.clockSets.empty());
  ASSERT_EQ(program.messages.size(), 1u);
  EXPECT_EQ(program.messages[0].text, kNoTime);
}

TEST_F(TimeCorrectionTest, OnlyAnHttpsPageWithATrustedCertificateIsRead) {
  Serve("window.baidu_time(1354345600123)");
  WebServer plain;
  std::atomic<int> plainRequests{0};
  plain.server.Get("/special/time", [&](const httplib::Request&, httplib::Response& res) {
    ++plainRequests;
    res.set_content("window.baidu_time(1354345600123)", "text/html");
  });
  plain.Start();
  web.server.Get("/to-plain", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(plain.Url("/special/time"));
  });
  web.server.Get("/to-https", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(web.Url("/special/time"));
  });
  TlsWebServer selfSigned(certificates.Cert("selfsigned"), certificates.Key("selfsigned"));
  TlsWebServer misnamed(certificates.Cert("misnamed"), certificates.Key("misnamed"));
  ASSERT_TRUE(selfSigned.Start() && misnamed.Start());

  const std::pair<std::string, std::string> cases[] = {
      // Plain http, written out or implied: refused before any traffic.
      {plain.Url("/special/time"), kNotHttps},
      {plain.Url("/special/time").substr(7), kNotHttps},
      {web.Url("/to-plain"), kNotHttps},
      {selfSigned.Url("/special/time"), kUntrusted},
      {misnamed.Url("/special/time"), kUntrusted},
  };
  for (const auto& [url, message] : cases) {
    SetTimePageUrlForTesting(url);
    program.messages.clear();
    CorrectSystemTime();
    ASSERT_EQ(program.messages.size(), 1u) << url;
    EXPECT_EQ(program.messages[0].text, message) << url;
  }
  EXPECT_EQ(plainRequests, 0);
  EXPECT_TRUE(program.clockSets.empty());

  // Without the tests' CA the system's store decides, and it does not know it.
  SetCaFileForTesting("");
  SetTimePageUrlForTesting(web.Url("/special/time"));
  CorrectSystemTime();
  EXPECT_EQ(program.messages.back().text, kUntrusted);
  EXPECT_TRUE(program.clockSets.empty());

  // A redirect that stays on https is followed.
  SetCaFileForTesting(certificates.Ca());
  SetTimePageUrlForTesting(web.Url("/to-https"));
  CorrectSystemTime();
  EXPECT_EQ(program.clockSets.size(), 1u);
}

TEST_F(TimeCorrectionTest, APageTimeOutsideSaneBoundsIsRefused) {
  TimeZone zone("UTC0");
  const std::pair<std::string, std::string> pages[] = {
      {"window.baidu_time(253402300799000)", "\r\n网页时间为:9999年12月31日23时59分59秒"},
      {"window.baidu_time(4133980800000)", "\r\n网页时间为:2101年1月1日"},
      {"window.baidu_time(999999999999999)", ""},  // past a date-time: no time shown
      {"window.baidu_time(946684799999)", "\r\n网页时间为:1999年12月31日23时59分59秒"},
      {"window.baidu_time(0)", "\r\n网页时间为:1970年1月1日"},
  };
  for (const auto& [text, shown] : pages) {
    Serve(text);
    program.messages.clear();
    CorrectSystemTime();
    ASSERT_EQ(program.messages.size(), 1u) << text;
    EXPECT_EQ(program.messages[0].text, kOutOfRange + shown) << text;
  }
  EXPECT_TRUE(program.clockSets.empty());
  // The last second of 2100 is still a time.
  program.now = MakeDateTime(2100, 12, 31, 12, 0, 0);
  Serve("window.baidu_time(4133980799999)");
  CorrectSystemTime();
  EXPECT_EQ(program.clockSets.size(), 1u);
}

TEST_F(TimeCorrectionTest, ACorrectionOfMoreThanADayIsAskedFirst) {
  TimeZone zone("CST-8");
  // The page: 2012-12-01 15:06:40 here.
  Serve("window.baidu_time(1354345600123)");
  std::vector<int> answers;
  program.answer = [&](const ShownMessage& m) {
    if ((m.flags & 0xF) != rt::MB_YESNO) return rt::IDOK;
    const int a = answers.empty() ? rt::IDNO : answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return a;
  };
  const std::string question =
      "网页时间与电脑时间相差超过24小时。\r\n\r\n电脑时间为:2026年12月7日10时0分5秒"
      "\r\n网页时间为:2012年12月1日15时6分40秒\r\n\r\n要把系统时间改为网页时间吗？";

  program.now = MakeDateTime(2026, 12, 7, 10, 0, 5);
  answers = {rt::IDNO};
  CorrectSystemTime();
  ASSERT_EQ(program.messages.size(), 1u);
  EXPECT_EQ(program.messages[0].text, question);
  EXPECT_EQ(program.messages[0].flags, rt::MB_YESNO | rt::MB_ICONQUESTION);
  EXPECT_TRUE(program.clockSets.empty());

  answers = {rt::IDYES};
  program.messages.clear();
  CorrectSystemTime();
  ASSERT_EQ(program.messages.size(), 2u);
  EXPECT_EQ(program.messages[0].text, question);
  EXPECT_EQ(program.messages[1].text, "当前矫正时间为:2012年12月1日15时6分40秒" + kSuffix);
  EXPECT_EQ(program.clockSets.size(), 1u);

  // Exactly a day either way is set without a question; a second more asks.
  for (const double now :
       {MakeDateTime(2012, 11, 30, 15, 6, 40), MakeDateTime(2012, 12, 2, 15, 6, 40)}) {
    program.now = now;
    program.messages.clear();
    CorrectSystemTime();
    ASSERT_EQ(program.messages.size(), 1u);
    EXPECT_EQ(program.messages[0].flags, rt::MB_ICONINFORMATION);
  }
  program.now = MakeDateTime(2012, 12, 2, 15, 6, 41);
  program.messages.clear();
  CorrectSystemTime();
  ASSERT_EQ(program.messages.size(), 1u);
  EXPECT_EQ(program.messages[0].flags, rt::MB_YESNO | rt::MB_ICONQUESTION);
  EXPECT_EQ(program.clockSets.size(), 3u);
}
