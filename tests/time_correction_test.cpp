// The time correction against a time page of the test's own on 127.0.0.1;
// the clock setter is the test program's, which never touches the real clock.
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

using namespace local;

namespace {

class TimeCorrectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    web.server.Get("/special/time", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(pageMutex);
      res.status = status;
      res.set_content(page, "text/html");
    });
    web.Start();
    SetTimePageUrlForTesting(web.Url("/special/time"));
    program.Start();
    program.messages.clear();
  }
  void TearDown() override { SetTimePageUrlForTesting("http://127.0.0.1:1/special/time"); }

  void Serve(std::string text, int code = 200) {
    std::lock_guard lock(pageMutex);
    page = std::move(text);
    status = code;
  }

  TestProgram program;
  WebServer web;
  std::mutex pageMutex;
  std::string page;
  int status = 200;
};

const std::string kSuffix = "\r\n\r\n若矫正时间差别过大，再次尝试矫正便可！";
const std::string kNoTime = "矫正系统时间失败：未能从时间网页读取时间，系统时间没有改动。";

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
      {"window.baidu_time(0)", 200},
      {"window.baidu_time(-1354345600123)", 200},
      {"window.baidu_time( 1354345600123)", 200},
      {"window.baidu_time(1.354e12)", 200},
      {"window.baidu_time(1354345600123abc)", 200},
      {"window.baidu_time(99999999999999999999)", 200},
      // Before 2000: a broken page, not a time to set the clock to.
      {"window.baidu_time(5)", 200},
      {"window.baidu_time(946684799999)", 200},
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
  SetTimePageUrlForTesting("http://127.0.0.1:1/special/time");
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
  TrickleServer trickle;
  SetTimePageUrlForTesting(trickle.Url());
  QTimer::singleShot(300, [this] { program.runtime().EndProgram(0); });
  const auto t0 = std::chrono::steady_clock::now();
  CorrectSystemTime();
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_TRUE(program.clockSets.empty());
  EXPECT_TRUE(program.messages.empty());
}

TEST_F(TimeCorrectionTest, APageThatNeverEndsMeetsTheDeadline) {
  TrickleServer trickle;
  SetTimePageUrlForTesting(trickle.Url());
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
