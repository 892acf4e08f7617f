// Connections to a CalDAV server: a libcurl handle kept for the whole sync
// so that every request reuses the same keep-alive connection, and a few
// more, as long-lived, for batches of requests sent side by side.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace davsync {

struct HttpResponse {
  long status = 0;
  std::string body;
  std::string etag;      // the ETag header, quotes kept
  std::string location;  // a redirect's target, resolved
  long retryAfter = -1;  // seconds a 429/503 asked us to wait, -1 none
  std::string effectiveUrl;
};

struct HttpLimits {
  long connectTimeoutMs = 10000;
  long totalTimeoutMs = 120000;
  long stallSeconds = 30;
  // Larger answers are cut off and fail: 7,300 memos of a few KiB each fit.
  std::size_t maxBody = 64u << 20;
  // Set from another thread: a request under way ends within a second.
  const std::atomic<bool>* abort = nullptr;
};

struct HttpRequest {
  std::string method, url;
  std::vector<std::string> headers;
  std::string body;
};

// One request of a batch: answered (any status), failed with a reason, or
// never sent because the batch was halted before its turn.
struct HttpResult {
  bool sent = false;
  bool answered = false;
  HttpResponse response;
  std::string error;
};

class DavHttp {
 public:
  // Plain http is refused unless the host is this computer or
  // `insecureConfirmed` (the user said so).
  DavHttp(std::string user, std::string password, bool insecureConfirmed, HttpLimits limits = {});
  ~DavHttp();
  DavHttp(const DavHttp&) = delete;
  DavHttp& operator=(const DavHttp&) = delete;

  // Sends one request; false when no HTTP answer came (network, TLS,
  // timeout), with a Chinese reason. Any status counts as an answer.
  [[nodiscard]] bool Send(const std::string& method, const std::string& url,
                          const std::vector<std::string>& headers, const std::string& body,
                          HttpResponse* response, std::string* error);
  // Sends `requests` over up to `connections` keep-alive connections at
  // once, each answer in `results` at its request's index. After an outcome
  // `halt` says yes to (or the abort flag), no further request is started;
  // those under way finish (or end on abort) and the rest stay unsent.
  void SendMany(const std::vector<HttpRequest>& requests, int connections,
                const std::function<bool(const HttpResult&)>& halt,
                std::vector<HttpResult>* results);
  // Requests sent so far (benchmarks and tests count them).
  int requests() const { return requests_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int requests_ = 0;
};

// Whether `url` may be used: https, or http to 127.0.0.1/localhost/::1, or
// http when the user confirmed. Fails with a Chinese reason.
[[nodiscard]] bool UrlAllowed(const std::string& url, bool insecureConfirmed, std::string* error);
// `ref` (an href from the server) made absolute against `base`.
std::string ResolveUrl(const std::string& base, const std::string& ref);
// The path of an absolute URL (what servers put in hrefs), or "" when none.
std::string UrlPath(const std::string& url);
// What went wrong, from a status that is no success (one text per reason,
// for the engine and discovery alike).
std::string StatusReason(long status, long retryAfter);

}  // namespace davsync
