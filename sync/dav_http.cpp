#include "sync/dav_http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/text.h"

namespace davsync {
namespace {

constexpr const char* kUserAgent = "Tamsivo-sync/1";

struct CurlUrl {
  CURLU* u = curl_url();
  ~CurlUrl() {
    if (u) curl_url_cleanup(u);
  }
  std::string Get(CURLUPart part) const {
    char* text = nullptr;
    if (!u || curl_url_get(u, part, &text, 0) != CURLUE_OK || !text) return {};
    std::string out = text;
    curl_free(text);
    return out;
  }
};

struct Transfer {
  HttpResponse* response;
  std::size_t maxBody;
  bool tooLarge = false;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->response->body.size() + n > t->maxBody) {
    t->tooLarge = true;
    return 0;
  }
  t->response->body.append(data, n);
  return n;
}

// The value of header `name` when `line` is that header, else nullopt-ish.
bool HeaderValue(std::string_view line, std::string_view name, std::string* value) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  if (!text::EqualsIgnoringAsciiCase(line.substr(0, name.size()), name)) return false;
  *value = std::string(text::Trim(line.substr(name.size() + 1)));
  return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::string_view line(data, size * count);
  // A new status line (after a 100 Continue or an auth round) starts over.
  if (line.starts_with("HTTP/")) {
    t->response->etag.clear();
    t->response->location.clear();
    t->response->retryAfter = -1;
    return size * count;
  }
  std::string value;
  if (HeaderValue(line, "ETag", &value)) {
    t->response->etag = value;
  } else if (HeaderValue(line, "Location", &value)) {
    t->response->location = value;
  } else if (HeaderValue(line, "Retry-After", &value)) {
    char* end = nullptr;
    const long seconds = std::strtol(value.c_str(), &end, 10);
    if (end != value.c_str() && *end == '\0' && seconds >= 0) {
      t->response->retryAfter = seconds;
    } else {
      const time_t when = curl_getdate(value.c_str(), nullptr);
      const time_t now = time(nullptr);
      if (when > 0) t->response->retryAfter = when > now ? static_cast<long>(when - now) : 0;
    }
  }
  return size * count;
}

std::string CurlReason(CURLcode rc, bool tooLarge) {
  if (tooLarge) return "服务器的回答太大，已停止接收";
  switch (rc) {
    case CURLE_ABORTED_BY_CALLBACK:
      return "同步已停止";
    case CURLE_OPERATION_TIMEDOUT:
      return "连接服务器超时";
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "找不到服务器（地址无法解析，可能没有联网）";
    case CURLE_COULDNT_CONNECT:
      return "无法连接服务器（服务器没有运行，或网络不通）";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
      return "服务器的证书不受信任";
    case CURLE_SSL_CONNECT_ERROR:
      return "无法与服务器建立加密连接";
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
      return "与服务器的连接中断了";
    case CURLE_FAILED_INIT:
      return "无法载入网络库（libcurl）";
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return "服务器地址无效";
    default:
      return "网络请求失败（错误 " + std::to_string(static_cast<int>(rc)) + "）";
  }
}

bool LocalHost(const std::string& host) {
  return host == "127.0.0.1" || text::EqualsIgnoringAsciiCase(host, "localhost") ||
         host == "[::1]" || host == "::1";
}

}  // namespace

std::string StatusReason(long status, long retryAfter) {
  switch (status) {
    case 401:
      return "服务器拒绝登录：用户名或密码不对";
    case 403:
      return "服务器不允许这个用户访问该日历（403）";
    case 404:
    case 410:
      return "服务器上没有这个地址（" + std::to_string(status) + "）";
    case 405:
    case 501:
      return "这个地址不是 CalDAV 日历（服务器不支持所需的请求）";
    case 429:
    case 503:
      return retryAfter >= 0 ? "服务器正忙，要求 " + std::to_string(retryAfter) + " 秒后再试"
                             : "服务器正忙，请稍后再试（" + std::to_string(status) + "）";
    case 507:
      return "服务器上的存储空间已满（507）";
    default:
      if (status >= 500) return "服务器出错（" + std::to_string(status) + "）";
      return "服务器拒绝了请求（" + std::to_string(status) + "）";
  }
}

bool UrlAllowed(const std::string& url, bool insecureConfirmed, std::string* error) {
  CurlUrl u;
  if (!u.u || curl_url_set(u.u, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    *error = "服务器地址无效：" + url;
    return false;
  }
  const std::string scheme = u.Get(CURLUPART_SCHEME);
  if (text::EqualsIgnoringAsciiCase(scheme, "https")) return true;
  if (text::EqualsIgnoringAsciiCase(scheme, "http")) {
    if (insecureConfirmed || LocalHost(u.Get(CURLUPART_HOST))) return true;
    *error = "地址以 http:// 开头，密码和备忘录会不加密地在网上传送；请改用 https://";
    return false;
  }
  *error = "服务器地址要以 https:// 开头";
  return false;
}

std::string ResolveUrl(const std::string& base, const std::string& ref) {
  CurlUrl u;
  if (!u.u || curl_url_set(u.u, CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return {};
  if (curl_url_set(u.u, CURLUPART_URL, ref.c_str(), 0) != CURLUE_OK) return {};
  return u.Get(CURLUPART_URL);
}

std::string UrlPath(const std::string& url) {
  CurlUrl u;
  if (!u.u || curl_url_set(u.u, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return {};
  return u.Get(CURLUPART_PATH);
}

// Called about once a second while a request waits, and on every chunk.
static int OnProgress(void* abort, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<std::atomic<bool>*>(abort)->load() ? 1 : 0;
}

// Connections a batch may use at most: servers limit theirs per client too.
constexpr int kMostConnections = 8;

struct DavHttp::Impl {
  CURL* easy = nullptr;
  // A batch's handles and the multi handle whose connection cache they
  // share, kept for the run so later batches reuse the connections.
  CURLM* multi = nullptr;
  std::vector<CURL*> pool;
  std::string user, password;
  bool insecure = false;
  long auth = 0;  // the method the server asked for, once known
  HttpLimits limits;
  ~Impl() {
    for (CURL* e : pool) curl_easy_cleanup(e);
    if (multi) curl_multi_cleanup(multi);
    if (easy) curl_easy_cleanup(easy);
  }
  // Every option of one request on a freshly reset handle; the header list
  // returned is the caller's to free once the transfer is over.
  curl_slist* Setup(CURL* e, const HttpRequest& request, Transfer* t) const;
  // The answer's status and headers after the transfer ended with `rc`;
  // false with a reason when no answer came.
  bool Conclude(CURL* e, const HttpRequest& request, CURLcode rc, const Transfer& t,
                HttpResponse* response, std::string* error);
};

curl_slist* DavHttp::Impl::Setup(CURL* e, const HttpRequest& request, Transfer* t) const {
  curl_slist* list = nullptr;
  for (const std::string& h : request.headers) list = curl_slist_append(list, h.c_str());
  // No "Expect: 100-continue" round trip before each body.
  list = curl_slist_append(list, "Expect:");
  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  if (request.method == "GET") {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else if (request.method == "DELETE") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
  } else {
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(e, CURLOPT_PROXY, "");
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, t);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, t);
  if (limits.abort) {
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(limits.abort));
  }
  if (!user.empty() || !password.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, password.c_str());
    // Basic only over https or to this computer (UrlAllowed); digest where
    // offered. Once the server named its method, it is used from the first
    // byte: two choices cost a refused request every time.
    curl_easy_setopt(e, CURLOPT_HTTPAUTH,
                     auth ? auth : static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
  }
  return list;
}

bool DavHttp::Impl::Conclude(CURL* e, const HttpRequest& request, CURLcode rc, const Transfer& t,
                             HttpResponse* response, std::string* error) {
  if (rc != CURLE_OK) {
    std::fprintf(stderr, "tamsivo: sync: %s %s: %s\n", request.method.c_str(), request.url.c_str(),
                 curl_easy_strerror(rc));
    *error = CurlReason(rc, t.tooLarge);
    return false;
  }
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &response->status);
  long offered = 0;
  if (!auth && curl_easy_getinfo(e, CURLINFO_HTTPAUTH_AVAIL, &offered) == CURLE_OK) {
    if (offered & CURLAUTH_BASIC) {
      auth = CURLAUTH_BASIC;
    } else if (offered & CURLAUTH_DIGEST) {
      auth = CURLAUTH_DIGEST;
    }
  }
  char* effective = nullptr;
  if (curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
    response->effectiveUrl = effective;
  }
  if (!response->location.empty()) response->location = ResolveUrl(request.url, response->location);
  return true;
}

DavHttp::DavHttp(std::string user, std::string password, bool insecureConfirmed, HttpLimits limits)
    : impl_(std::make_unique<Impl>()) {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  if (ready) impl_->easy = curl_easy_init();
  impl_->user = std::move(user);
  impl_->password = std::move(password);
  impl_->insecure = insecureConfirmed;
  impl_->limits = limits;
}

DavHttp::~DavHttp() = default;

bool DavHttp::Send(const std::string& method, const std::string& url,
                   const std::vector<std::string>& headers, const std::string& body,
                   HttpResponse* response, std::string* error) {
  *response = HttpResponse{};
  if (!UrlAllowed(url, impl_->insecure, error)) return false;
  CURL* easy = impl_->easy;
  if (!easy) {
    *error = CurlReason(CURLE_FAILED_INIT, false);
    return false;
  }
  ++requests_;
  // The handle keeps its connection cache across resets.
  curl_easy_reset(easy);
  const HttpRequest request{method, url, headers, body};
  Transfer t{response, impl_->limits.maxBody};
  curl_slist* list = impl_->Setup(easy, request, &t);
  const CURLcode rc = curl_easy_perform(easy);
  curl_slist_free_all(list);
  return impl_->Conclude(easy, request, rc, t, response, error);
}

void DavHttp::SendMany(const std::vector<HttpRequest>& requests, int connections,
                       const std::function<bool(const HttpResult&)>& halt,
                       std::vector<HttpResult>* results) {
  results->assign(requests.size(), HttpResult{});
  if (requests.empty()) return;
  Impl& im = *impl_;
  if (!im.multi && im.easy) im.multi = curl_multi_init();
  const std::size_t width = static_cast<std::size_t>(std::clamp(connections, 1, kMostConnections));
  while (im.multi && im.pool.size() < width) {
    CURL* e = curl_easy_init();
    if (!e) break;
    im.pool.push_back(e);
  }
  if (!im.multi || im.pool.empty()) {
    (*results)[0].sent = true;
    (*results)[0].error = CurlReason(CURLE_FAILED_INIT, false);
    return;
  }
  struct Slot {
    CURL* easy = nullptr;
    std::size_t index = 0;
    Transfer transfer{nullptr, 0};
    curl_slist* list = nullptr;
    bool busy = false;
  };
  std::vector<Slot> slots(std::min(width, im.pool.size()));
  for (std::size_t i = 0; i < slots.size(); ++i) slots[i].easy = im.pool[i];
  const std::atomic<bool>* abort = im.limits.abort;
  std::size_t next = 0;
  std::size_t active = 0;
  bool halted = false;
  const auto over = [&](const HttpResult& r) {
    if (halt && halt(r)) halted = true;
  };
  for (;;) {
    if (abort && abort->load()) halted = true;
    // Free handles take the next requests; one that could not start frees
    // its handle for the request after it.
    for (std::size_t k = 0; k < slots.size() && !halted && next < requests.size();) {
      Slot& s = slots[k];
      if (s.busy) {
        ++k;
        continue;
      }
      const std::size_t i = next++;
      HttpResult& r = (*results)[i];
      r.sent = true;
      if (!UrlAllowed(requests[i].url, im.insecure, &r.error)) {
        over(r);
        continue;
      }
      curl_easy_reset(s.easy);
      s.index = i;
      s.transfer = Transfer{&r.response, im.limits.maxBody};
      s.list = im.Setup(s.easy, requests[i], &s.transfer);
      curl_easy_setopt(s.easy, CURLOPT_PRIVATE, static_cast<void*>(&s));
      if (curl_multi_add_handle(im.multi, s.easy) != CURLM_OK) {
        curl_slist_free_all(s.list);
        s.list = nullptr;
        r.error = CurlReason(CURLE_FAILED_INIT, false);
        over(r);
        continue;
      }
      s.busy = true;
      ++active;
      ++requests_;
      ++k;
    }
    if (active == 0) break;
    int running = 0;
    if (curl_multi_perform(im.multi, &running) != CURLM_OK) running = 0;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(im.multi, &queued)) {
      if (msg->msg != CURLMSG_DONE) continue;
      void* data = nullptr;
      curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &data);
      Slot& s = *static_cast<Slot*>(data);
      HttpResult& r = (*results)[s.index];
      r.answered = im.Conclude(s.easy, requests[s.index], msg->data.result, s.transfer, &r.response,
                               &r.error);
      curl_multi_remove_handle(im.multi, s.easy);
      curl_slist_free_all(s.list);
      s.list = nullptr;
      s.busy = false;
      --active;
      over(r);
    }
    if (active > 0) {
      // Short waits: a stop is seen between two answers as well.
      curl_multi_poll(im.multi, nullptr, 0, 250, nullptr);
    }
  }
}

}  // namespace davsync
