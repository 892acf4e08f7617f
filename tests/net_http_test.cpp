// The HTTP routine against servers of the tests' own
// on 127.0.0.1. Cookies go to a temporary data home; the clock setter is the
// test program's, which never touches the real clock.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/datetime.h"
#include "base/program.h"
#include "net/cookie_jar.h"
#include "net/http.h"
#include "net/time_correction.h"
#include "tests/support/local_servers.h"
#include "tests/support/test_program.h"

using namespace local;

namespace {

std::string g_dataHome;

// Every test runs with its cookie jar in a temporary directory and the time
// page on a port where nothing listens.
class NetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string dir = (std::filesystem::temp_directory_path() / "tamsivo-net-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    g_dataHome = dir;
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    SetTimePageUrlForTesting("http://127.0.0.1:1/special/time");
  }
  void TearDown() override { std::filesystem::remove_all(g_dataHome); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new NetEnvironment);

}  // namespace

TEST(Http, OnlyTheUrlSendsTheDefaultHeadersInOrder) {
  TestProgram p;
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Kind: t\r\n\r\nhello";
  RawServer server(answer, false);
  std::string headers = "untouched";
  // No scheme: "http://" goes in front, and the Referer carries it.
  const std::string url = server.Url("/t?x=1");
  EXPECT_EQ(网页_访问("  " + url + " ", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, &headers),
            "hello");
  EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-Kind: t\r\n\r\n");
  const std::string request = server.Request();
  EXPECT_TRUE(request.starts_with("GET /t?x=1 HTTP/1.1\r\n")) << request;
  EXPECT_NE(request.find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"),
            std::string::npos);
  EXPECT_NE(
      request.find("\r\n" + kAccept + "Referer: http://" + url + "\r\nAccept-Language: zh-cn\r\n"),
      std::string::npos)
      << request;
  EXPECT_EQ(request.find("Cookie:"), std::string::npos);
}

TEST(Http, ProxyCarriesPlainHttpRequests) {
  TestProgram p;
  RawServer proxy("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nvp", false);
  const std::string proxyAddress = proxy.Url("");
  // The name never resolves: only the proxy on 127.0.0.1 is reached.
  EXPECT_EQ(网页_访问("http://far.invalid/page", 0, " " + proxyAddress + " "), "vp");
  EXPECT_TRUE(proxy.Request().starts_with("GET http://far.invalid/page HTTP/1.1\r\n"))
      << proxy.Request();
  EXPECT_NE(proxy.Request().find("Referer: http://far.invalid/page\r\n"), std::string::npos);
}

TEST(Http, PostSendsFormBodyOnlyWhenThereIsData) {
  TestProgram p;
  WebServer web;
  web.server.Post("/form", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.method + "|" + req.get_header_value("Content-Type") + "|" +
                        req.get_header_value("Content-Length") + "|" + req.body + "|" +
                        req.get_header_value("Accept-Language") + "|" +
                        req.get_header_value("X-Mine"),
                    "text/plain");
  });
  web.Start();
  EXPECT_EQ(网页_访问(web.Url("/form"), 1, std::nullopt, "X-Mine: 7\r\naccept-language: en\r\n",
                      "a=1&b=hello"),
            "POST|application/x-www-form-urlencoded|11|a=1&b=hello|en|7");
  EXPECT_EQ(网页_访问(web.Url("/form"), 1, "", "", ""), "POST||0||zh-cn|");
}

TEST(Http, WrongMethodShowsTheMessageAndSendsNothing) {
  TestProgram p;
  WebServer web;
  web.server.Get("/x", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("x", "text/plain");
  });
  web.Start();
  std::string headers = "untouched";
  EXPECT_EQ(
      网页_访问(web.Url("/x"), 2, std::nullopt, std::nullopt, std::nullopt, std::nullopt, &headers),
      "");
  EXPECT_EQ(网页_访问(web.Url("/x"), -1), "");
  EXPECT_EQ(web.requests, 0);
  EXPECT_EQ(headers, "untouched");
  ASSERT_EQ(p.messages.size(), 2u);
  EXPECT_EQ(p.messages[0].text, "【网页_访问】命令的第二个【访问方式】参数有误,请返回修改");
  EXPECT_EQ(p.messages[0].title, "友情提醒");
  EXPECT_EQ(p.messages[0].flags, 0u);
  // 0 and omitted are both GET.
  EXPECT_EQ(网页_访问(web.Url("/x"), 0), "x");
  EXPECT_EQ(web.requests, 1);
}

TEST(Http, BodiesComeBackAsSentOrConverted) {
  TestProgram p;
  WebServer web;
  std::string blob(100 * 1024, '\0');
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<char>((i * 7919) % 251);
  web.server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("no such page", "text/html");
  });
  web.server.Get("/blob", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(blob, "application/octet-stream");
  });
  web.server.Get("/utf8", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string("\xE4\xB8\xAD!\0tail", 9), "text/plain");
  });
  web.server.Get("/big5", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("\xC5\xE9", "text/plain");
  });
  web.Start();

  std::string headers;
  EXPECT_EQ(网页_访问(web.Url("/missing"), std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, &headers),
            "no such page");
  EXPECT_TRUE(headers.starts_with("HTTP/1.1 404 ")) << headers;
  EXPECT_TRUE(headers.ends_with("\r\n\r\n"));

  EXPECT_EQ(网页_访问(web.Url("/blob")), blob);
  EXPECT_EQ(网页_访问(web.Url("/utf8"), 0, "", "", "", 1), "\xD6\xD0!");
  EXPECT_EQ(网页_访问(web.Url("/utf8"), 0, "", "", "", 7), std::string("\xE4\xB8\xAD!\0tail", 9));
  EXPECT_EQ(网页_访问(web.Url("/big5"), 0, "", "", "", 2), "\xCC\xE5");
}

TEST(Http, CookiesAreStoredInOrderAndSentAgain) {
  TestProgram p;
  WebServer web;
  web.server.Get("/set", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "first=1; Path=/");
    res.set_header("Set-Cookie", "second=two; Path=/; Max-Age=3600");
    res.set_content("set", "text/plain");
  });
  web.server.Get("/drop", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "first=; Path=/; Max-Age=0");
    res.set_content("dropped", "text/plain");
  });
  web.server.Get("/echo", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.get_header_value("Cookie"), "text/plain");
  });
  web.Start();

  std::string headers;
  EXPECT_EQ(网页_访问(web.Url("/set"), std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, &headers),
            "set");
  const size_t first = headers.find("Set-Cookie: first=1; Path=/\r\n");
  const size_t second = headers.find("Set-Cookie: second=two; Path=/; Max-Age=3600\r\n");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);

  const std::string jarPath = g_dataHome + "/tamsivo/cookies.txt";
  EXPECT_EQ(CookieJarPath(), jarPath);
  struct stat st {};
  ASSERT_EQ(stat(jarPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::vector<CookieEntry> jar = ParseCookieJar(ReadText(jarPath));
  ASSERT_EQ(jar.size(), 2u);
  EXPECT_EQ(jar[0].name, "first");
  EXPECT_EQ(jar[0].domain, "127.0.0.1");
  EXPECT_EQ(jar[1].name, "second");
  EXPECT_GT(jar[1].expires, std::time(nullptr));

  const std::string sent = 网页_访问(web.Url("/echo"));
  EXPECT_NE(sent.find("first=1"), std::string::npos) << sent;
  EXPECT_NE(sent.find("second=two"), std::string::npos) << sent;

  EXPECT_EQ(网页_访问(web.Url("/drop")), "dropped");
  EXPECT_EQ(网页_访问(web.Url("/echo")), "second=two");
  std::filesystem::remove(jarPath);
}

TEST(Http, RedirectsAreFollowedOnlyToHttpAndOnlySoFar) {
  TestProgram p;
  WebServer web;
  web.server.Get(
      "/hop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/final"); });
  web.server.Get("/final", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("final", "text/plain");
  });
  web.server.Get("/ftp", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("ftp://127.0.0.1/file");
    res.set_content("moved", "text/plain");
  });
  web.server.Get("/file", [](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("file:///etc/passwd");
  });
  web.server.Get(
      "/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
  web.Start();

  std::string headers;
  EXPECT_EQ(网页_访问(web.Url("/hop"), std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, &headers),
            "final");
  EXPECT_TRUE(headers.starts_with("HTTP/1.1 200 ")) << headers;
  EXPECT_EQ(headers.find("Location"), std::string::npos);

  EXPECT_EQ(网页_访问(web.Url("/ftp")), "");
  EXPECT_EQ(网页_访问(web.Url("/file")), "");
  web.requests = 0;
  EXPECT_EQ(网页_访问(web.Url("/loop")), "");
  EXPECT_EQ(web.requests, 11);  // the first request and ten redirects
}

TEST(Http, TrailersOfAChunkedBodyStayOutOfTheHeaderBlock) {
  TestProgram program;
  RawServer server(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: X-Tail\r\n"
      "Connection: close\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\nX-Tail: leaked\r\n\r\n",
      false);
  std::string headers;
  const std::string body = 网页_访问(server.Url("/c"), std::nullopt, std::nullopt, std::nullopt,
                                     std::nullopt, std::nullopt, &headers);
  EXPECT_EQ(body, "hello world");
  EXPECT_NE(headers.find("Trailer: X-Tail\r\n"), std::string::npos) << headers;
  EXPECT_EQ(headers.find("leaked"), std::string::npos) << headers;
  EXPECT_TRUE(headers.ends_with("\r\n\r\n")) << headers;
}

TEST(Http, SilentServerAndBadAddressesGiveEmptyResults) {
  TestProgram p;
  HttpLimits limits;
  limits.stallSeconds = 1;
  SetHttpLimitsForTesting(limits);
  {
    RawServer silent("", true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(网页_访问(silent.Url("/")), "");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_TRUE(silent.Request().starts_with("GET / HTTP/1.1\r\n"));
  }
  SetHttpLimitsForTesting(HttpLimits{});

  std::string headers = "untouched";
  EXPECT_EQ(网页_访问("http://127.0.0.1:1/", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                      std::nullopt, &headers),
            "");
  EXPECT_EQ(headers, "");
  EXPECT_EQ(网页_访问(""), "");
  EXPECT_EQ(网页_访问("http://127.0.0.1:99999/"), "");
  EXPECT_EQ(网页_访问("http://127.0.0.1?x=1"), "");
  EXPECT_EQ(网页_访问("http://user@127.0.0.1:1/"), "");
}

TEST(Http, NestedCallsRunInsideAWaitingCall) {
  TestProgram p;
  WebServer web;
  web.server.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    res.set_content("outer", "text/plain");
  });
  web.server.Get("/fast", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("inner", "text/plain");
  });
  web.Start();
  std::vector<std::string> finished;
  QTimer::singleShot(50, [&] { finished.push_back(网页_访问(web.Url("/fast"))); });
  finished.push_back(网页_访问(web.Url("/slow")));
  EXPECT_EQ(finished, (std::vector<std::string>{"inner", "outer"}));
}
