// URL splitting, encodings, request headers and cookie parsing: the pure
// parts of the network routines.
#include <gtest/gtest.h>

#include <random>

#include "net/cookie_jar.h"
#include "net/encoding.h"
#include "net/http.h"
#include "net/time_correction.h"
#include "net/url.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

const std::string kAccept =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";

}  // namespace

TEST(UrlSplitting, HostPathAndPort) {
  EXPECT_EQ(UrlHost("http://host:8080/a/b?x=1"), "host");
  EXPECT_EQ(UrlPath("http://host:8080/a/b?x=1"), "/a/b?x=1");
  EXPECT_EQ(UrlPort("http://host:8080/a/b?x=1"), 8080);

  EXPECT_EQ(UrlHost("http://host"), "host");
  EXPECT_EQ(UrlPath("http://host"), "/");
  EXPECT_EQ(UrlPort("http://host"), 80);
  EXPECT_EQ(UrlPath("http://host/"), "/");
  EXPECT_EQ(UrlPort("http://host/"), 80);

  // The host rule cuts only at "/" and ":".
  EXPECT_EQ(UrlHost("http://host?x=1"), "host?x=1");
  EXPECT_EQ(UrlPath("http://host?x=1"), "/");
  EXPECT_EQ(UrlPort("http://host?x=1"), 80);

  EXPECT_EQ(UrlHost("https://host/x"), "host");
  EXPECT_EQ(UrlPath("https://host/x"), "/x");
  EXPECT_EQ(UrlPort("https://host/x"), 80);
  EXPECT_EQ(UrlPort("https://host:8443/x"), 8443);
  EXPECT_EQ(UrlPort("http://host:abc/x"), 0);
}

TEST(UrlSplitting, CaseAndOddInput) {
  // The host is lower case; the path search ignores case, the path keeps it.
  EXPECT_EQ(UrlHost("http://WWW.Example.ORG:81/Path/A"), "www.example.org");
  EXPECT_EQ(UrlPath("http://WWW.Example.ORG:81/Path/A"), "/Path/A");
  // The host's name found again in the path does not move the path's start.
  EXPECT_EQ(UrlPath("http://a/b/a/c"), "/b/a/c");
  // Without a scheme the authority runs to the first "/".
  EXPECT_EQ(UrlHost("host:99/p"), "host");
  EXPECT_EQ(UrlPort("host:99/p"), 99);
  EXPECT_EQ(UrlPath("host:99/p"), "/p");
  // Schemes are removed wherever they stand; the result is still usable.
  EXPECT_EQ(UrlHost("http://ahttp://b/x"), "ab");
  EXPECT_EQ(UrlPath("http://ahttp://b/x"), "//ahttp://b/x");
  EXPECT_EQ(UrlHost(""), "");
  EXPECT_EQ(UrlPath(""), "/");
  EXPECT_EQ(UrlPort(""), 80);
}

TEST(Encodings, ByteExamples) {
  EXPECT_EQ(Utf8ToGbk("\xE4\xB8\xAD"), Bytes({0xD6, 0xD0}));
  EXPECT_EQ(Big5ToSimplifiedGbk(Bytes({0xC5, 0xE9})), Bytes({0xCC, 0xE5}));
  EXPECT_EQ(Big5ToGbk(Bytes({0xC5, 0xE9})), Bytes({0xF3, 0x77}));
  EXPECT_EQ(ToSimplifiedChinese(Bytes({0xF3, 0x77})), Bytes({0xCC, 0xE5}));
  // Wide text carries its terminating zero unit.
  EXPECT_EQ(TextToWide("\xE4\xB8\xAD"), Bytes({0x2D, 0x4E, 0, 0}));
  EXPECT_EQ(WideToText(Bytes({0x2D, 0x4E, 0, 0}), 936), Bytes({0xD6, 0xD0}));
  EXPECT_EQ(WideToText(TextToWide("A\xE4\xB8\xAD"), 65001), "A\xE4\xB8\xAD");
  // Tag characters are kept where the code page holds them (a fuzz find).
  EXPECT_EQ(WideToText(TextToWide(")c\xF3\xA0\x80\xB3)c"), 65001), ")c\xF3\xA0\x80\xB3)c");
}

TEST(Encodings, EmptyNulAndAscii) {
  EXPECT_EQ(Utf8ToGbk(""), "");
  EXPECT_EQ(Big5ToGbk(""), "");
  EXPECT_EQ(ToSimplifiedChinese(""), "");
  EXPECT_EQ(Big5ToSimplifiedGbk(""), "");
  EXPECT_EQ(WideToText(""), "");
  EXPECT_EQ(TextToWide(""), Bytes({0, 0}));

  const std::string withNul = std::string("ab\0\xE4\xB8\xAD", 6);
  EXPECT_EQ(Utf8ToGbk(withNul), "ab");
  EXPECT_EQ(Big5ToSimplifiedGbk(std::string("x\0\xC5\xE9", 4)), "x");
  EXPECT_EQ(ToSimplifiedChinese(std::string("y\0z", 3)), "y");

  const std::string ascii = "Hello, world! <a href=\"/x?y=1\">";
  EXPECT_EQ(Utf8ToGbk(ascii), ascii);
  EXPECT_EQ(Big5ToSimplifiedGbk(ascii), ascii);
  // Already simplified: 中体 stays as it is, with the ASCII around it.
  const std::string simplified = "a" + Bytes({0xD6, 0xD0, 0xCC, 0xE5}) + "b";
  EXPECT_EQ(ToSimplifiedChinese(simplified), simplified);
}

TEST(Encodings, UnmappableAndBrokenInput) {
  // U+2027 is in Big5 but not in GBK: a "?" stands for it and the rest stays.
  EXPECT_EQ(Big5ToGbk(Bytes({'A', 0xA1, 0x45, 0xC5, 0xE9})), "A?" + Bytes({0xF3, 0x77}));
  // A character GBK lacks becomes "?" on the UTF-8 path too (U+1F600).
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");
  // Broken UTF-8 does not stop the conversion.
  EXPECT_EQ(Utf8ToGbk("a\xFF"
                      "b"),
            "a?b");
  // Length is kept even for a GBK text cut inside a character.
  const std::string cut = Bytes({0xF3, 0x77, 0xF3});
  EXPECT_EQ(ToSimplifiedChinese(cut), Bytes({0xCC, 0xE5, 0xF3}));
}

TEST(TimePage, TextBetween) {
  EXPECT_EQ(TextBetween("x window.baidu_time(123) y", "window.baidu_time(", ")"), "123");
  EXPECT_EQ(TextBetween("window.baidu_time(1)window.baidu_time(2)", "window.baidu_time(", ")"),
            "1");
  EXPECT_EQ(TextBetween("window.baidu_time()", "window.baidu_time(", ")"), "");
  EXPECT_EQ(TextBetween("window.baidu_time(123", "window.baidu_time(", ")"), "");
  EXPECT_EQ(TextBetween("Window.Baidu_time(123)", "window.baidu_time(", ")"), "");
  // The end marker is looked for only after the start marker.
  EXPECT_EQ(TextBetween(")window.baidu_time(7)", "window.baidu_time(", ")"), "7");
}

TEST(RequestHeaders, Completion) {
  const std::string url = "http://example.test/time";
  EXPECT_EQ(CompleteRequestHeaders("", url, false, ""),
            kAccept + "Referer: http://example.test/time\r\n" + "Accept-Language: zh-cn\r\n");

  // A caller's Accept-Language in other letter case suppresses only that one.
  EXPECT_EQ(CompleteRequestHeaders("accept-language: en\r\n", url, false, ""),
            "accept-language: en\r\n" + kAccept + "Referer: http://example.test/time\r\n");
  EXPECT_EQ(CompleteRequestHeaders("REFERER: x\r\nACCEPT: */*\r\n", url, false, ""),
            "REFERER: x\r\nACCEPT: */*\r\nAccept-Language: zh-cn\r\n");

  // POST body headers come after the defaults, even past a caller's type.
  const std::string post =
      CompleteRequestHeaders("Content-Type: text/plain\r\n", url, true, "a=1&b=hello");
  EXPECT_TRUE(
      post.ends_with("Accept-Language: zh-cn\r\n"
                     "Content-Type: application/x-www-form-urlencoded\r\n"
                     "Content-Length: 11\r\n"));
  EXPECT_EQ(CompleteRequestHeaders("", url, true, ""), CompleteRequestHeaders("", url, false, ""));

  // A last caller line without its line end gets one; control bytes in the
  // URL cannot start a header line of their own.
  EXPECT_TRUE(CompleteRequestHeaders("X-A: 1", url, false, "").starts_with("X-A: 1\r\nAccept: "));
  EXPECT_NE(CompleteRequestHeaders("", "http://h/\r\nX-Evil: 1", false, "").find("/%0D%0AX-Evil"),
            std::string::npos);
}

TEST(Cookies, SetCookieLinesInHeaderOrder) {
  const std::string block =
      "HTTP/1.1 200 OK\r\n"
      "Set-Cookie: b=2; Path=/; Expires=Wed, 09 Jun 2021 10:18:14 GMT\r\n"
      "X-Set-Cookie: no=1\r\n"
      "set-cookie: a=1=x; HttpOnly\r\n"
      "Set-Cookie: novalue\r\n"
      "Set-Cookie: =nameless\r\n"
      "\r\n";
  const std::vector<CookiePair> cookies = ParseSetCookies(block);
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "b");
  EXPECT_EQ(cookies[0].data, "2; Path=/; Expires=Wed, 09 Jun 2021 10:18:14 GMT");
  EXPECT_EQ(cookies[1].name, "a");
  EXPECT_EQ(cookies[1].data, "1=x; HttpOnly");
}

TEST(Cookies, JarEntries) {
  const std::int64_t now = 1700000000;
  auto entry = [&](std::string_view host, std::string name, std::string data) {
    return MakeCookieEntry(host, "/dir/page", {std::move(name), std::move(data)}, now);
  };
  auto e = entry("Www.Example.com", "s", "v; path=/x; secure; httponly; max-age=60");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->domain, "www.example.com");
  EXPECT_FALSE(e->includeSubdomains);
  EXPECT_EQ(e->path, "/x");
  EXPECT_TRUE(e->secure && e->httpOnly);
  EXPECT_EQ(e->expires, now + 60);

  e = entry("www.example.com", "d", "v; Domain=.example.com");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->domain, ".example.com");
  EXPECT_TRUE(e->includeSubdomains);
  EXPECT_EQ(e->path, "/dir");
  EXPECT_EQ(e->expires, 0);

  // Foreign or top-level domains, and bytes that would break the jar file.
  EXPECT_FALSE(entry("www.example.com", "x", "v; domain=other.com"));
  EXPECT_FALSE(entry("www.example.com", "x", "v; domain=com"));
  EXPECT_FALSE(entry("127.0.0.1", "x", "v; domain=0.0.1"));
  EXPECT_FALSE(entry("h", "x\ty", "v"));
  EXPECT_FALSE(entry("h", "x", "v\nh\tTRUE"));
  EXPECT_FALSE(entry("h", "#HttpOnly_x", "v"));

  // Max-Age 0 or an expiry in the past means removal.
  EXPECT_LE(entry("h", "x", "v; Max-Age=0")->expires, now);
  EXPECT_LE(entry("h", "x", "v; Expires=Wed, 09 Jun 2021 10:18:14 GMT")->expires, now);

  std::vector<CookieEntry> jar = {*entry("h", "a", "1; HttpOnly"), *entry("h", "b", "")};
  const std::vector<CookieEntry> back = ParseCookieJar(FormatCookieJar(jar));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].name, "a");
  EXPECT_EQ(back[0].value, "1");
  EXPECT_TRUE(back[0].httpOnly);
  EXPECT_EQ(back[1].value, "");
}

TEST(Cookies, RandomHeaderBlocksAreHandledSafely) {
  std::mt19937 random(20121201);
  const std::string pieces[] = {"Set-Cookie:", "set-cookie: ", "=",       ";", "\r\n",
                                "\n",          "\t",           "domain=", "x", std::string("\0", 1),
                                "path=/",      "max-age=-"};
  for (int round = 0; round < 2000; ++round) {
    std::string block;
    const int n = static_cast<int>(random() % 20);
    for (int i = 0; i < n; ++i) {
      block += random() % 3 == 0 ? std::string(1, static_cast<char>(random() % 256))
                                 : pieces[random() % std::size(pieces)];
    }
    for (const CookiePair& c : ParseSetCookies(block)) {
      EXPECT_FALSE(c.name.empty());
      if (const auto e = MakeCookieEntry("h.test", "/", c, 1)) {
        EXPECT_EQ(e->name.find_first_of("\t\r\n"), std::string::npos);
        EXPECT_EQ(e->value.find_first_of("\t\r\n"), std::string::npos);
        EXPECT_EQ(ParseCookieJar(FormatCookieJar({*e})).size(), 1u);
      }
    }
  }
}

TEST(UrlSplitting, HostsThatAppearInTheScheme) {
  // "h", "tp" or "http" occur inside "http://"; the path still starts after
  // the host.
  EXPECT_EQ(UrlPath("http://h/x"), "/x");
  EXPECT_EQ(UrlPath("http://h"), "/");
  EXPECT_EQ(UrlPath("http://tp:8080/a?b=1"), "/a?b=1");
  EXPECT_EQ(UrlPath("https://s/p"), "/p");
  EXPECT_EQ(UrlPath("http://http/x"), "/x");
  EXPECT_EQ(UrlPath("http:///x"), "/x");
  EXPECT_EQ(UrlHost("http://h/x"), "h");
  EXPECT_EQ(UrlPort("http://tp:8080/a?b=1"), 8080);
}

TEST(Cookies, EntriesThatWouldNotReadBackAreRefused) {
  const CookiePair cookie{"n", "v"};
  // A jar line starting with "#" is a comment, so such a host's cookie
  // would vanish from the jar.
  EXPECT_FALSE(MakeCookieEntry("#x", "/", cookie, 1));
  EXPECT_FALSE(MakeCookieEntry("#HttpOnly_h", "/", cookie, 1));
  // A request path with a tab or line break would split the jar line.
  EXPECT_FALSE(MakeCookieEntry("h", "/a\tb/c", cookie, 1));
  EXPECT_FALSE(MakeCookieEntry("h", "/a\nh\tTRUE/c", cookie, 1));
  // An ordinary entry reads back whole.
  const auto e = MakeCookieEntry("h.test", "/a b/c", cookie, 1);
  ASSERT_TRUE(e);
  const std::vector<CookieEntry> back = ParseCookieJar(FormatCookieJar({*e}));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].domain, "h.test");
  EXPECT_EQ(back[0].path, "/a b");
  EXPECT_EQ(back[0].value, "v");
}
