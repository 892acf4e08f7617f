// One HTTP request, blocking its caller while the windows stay live.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kHttpUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Requests `url` ("http://" is put in front unless it begins with "http://" or
// "https://"; https is fetched over TLS) and returns the final response's body,
// error pages included; empty on failure.
//   访问方式: omitted or 0 GET, 1 POST; anything else shows a message and
//     returns at once without any traffic.
//   proxy: "host:port" of an HTTP proxy for plain-HTTP requests; blank = direct.
//   requestHeaders: extra header lines, each ending in "\r\n"; the default
//     Accept, Referer and Accept-Language headers are added unless named.
//   postData: the POST body, sent form-encoded.
//   conversion: 1 re-encodes the body from UTF-8 to GBK, 2 from Big5 to GBK
//     with simplified characters (both end the body at its first NUL byte).
//   responseHeaders: receives the raw header block of the final response.
// Cookies the final response sets go into the per-user cookie jar and are
// sent again on later requests. Pending window events run while it waits, so
// handlers, this routine included, can run nested inside it.
std::string 网页_访问(const std::string& url, std::optional<int> 访问方式 = std::nullopt,
                      const std::optional<std::string>& proxy = std::nullopt,
                      const std::optional<std::string>& requestHeaders = std::nullopt,
                      const std::optional<std::string>& postData = std::nullopt,
                      std::optional<int> conversion = std::nullopt,
                      std::string* responseHeaders = nullptr);

// The header text the request is sent with: the caller's lines, then each
// default header the text does not name (letter case ignored), then for a POST
// with data its Content-Type and Content-Length.
std::string CompleteRequestHeaders(std::string headers, std::string_view normalisedUrl, bool post,
                                   std::string_view postData);

// Waiting limits: connecting, a transfer that receives nothing, the whole
// request (a server trickling a byte now and then never stalls), redirects.
struct HttpLimits {
  long connectTimeoutMs = 30000;
  long stallSeconds = 60;
  long totalTimeoutMs = 120000;
  long maxRedirects = 10;
  // A larger body ends the transfer and the result is empty.
  size_t maxBodyBytes = size_t{1} << 30;
};
void SetHttpLimitsForTesting(const HttpLimits& limits);
const HttpLimits& CurrentHttpLimits();

// 网页_访问 for a GET of `url` under the given limits. The request is
// abandoned when the program starts to end.
std::string FetchPage(const std::string& url, const HttpLimits& limits);

// Why a secure fetch gave no page.
enum class FetchFailure { kNone, kNotHttps, kUntrusted, kOther };

// A GET for a page whose content is trusted (the time page): only an
// https:// URL, its certificate and host name checked against the system's
// CA store, redirects followed only to https. Empty with `failure` set when
// any of that fails or the page cannot be read. `status` receives the final
// response's HTTP status (0 when none came).
std::string FetchSecurePage(const std::string& url, const HttpLimits& limits, FetchFailure* failure,
                            int* status = nullptr);

// Tests trust a CA of their own instead of the system's store ("" for the
// system's again).
void SetCaFileForTesting(std::string path);
