#include "net/http.h"

#include <curl/curl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

#include "base/program.h"
#include "net/cookie_jar.h"
#include "net/encoding.h"
#include "net/owner_window.h"
#include "net/url.h"
#include "util/text.h"

namespace {

constexpr const char* kWrongMethod = "【网页_访问】命令的第二个【访问方式】参数有误,请返回修改";
constexpr const char* kDefaultAccept =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
constexpr const char* kDefaultLanguage = "Accept-Language: zh-cn\r\n";

// Window events run at least this often while a request waits.
constexpr long kPollMs = 20;
constexpr size_t kMaxHeaderBlock = size_t{1} << 20;
constexpr size_t kMaxReserve = size_t{256} << 20;

HttpLimits g_limits;
std::string g_caFile;

// Owners of libcurl's handles, so no early return leaks one.
struct EasyCleanup {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct MultiCleanup {
  void operator()(CURLM* h) const { curl_multi_cleanup(h); }
};
struct ListFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct UrlCleanup {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct TextFree {
  void operator()(char* p) const { curl_free(p); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, ListFree>;
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;
using CurlText = std::unique_ptr<char, TextFree>;

bool ContainsIgnoringCase(std::string_view text, std::string_view what) {
  return text::FindIgnoringAsciiCase(text, what) != std::string_view::npos;
}

// Control bytes (and, in a path, anything outside printable ASCII) would let
// a URL break the request line or a header line.
std::string Escape(std::string_view text, bool nonAscii) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || b == ' ' || (nonAscii && b >= 0x80)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

bool ValidHost(std::string_view host) {
  if (host.empty()) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
  });
}

// The address handed to libcurl, built from the host, port and path the URL
// splitting gives; nullopt when they cannot make one.
std::optional<std::string> RequestUrl(const std::string& url) {
  const bool https = url.starts_with("https://");
  const std::string host = UrlHost(url);
  if (!ValidHost(host)) return std::nullopt;
  const size_t skip = https ? 8 : 7;
  const std::string_view authority = std::string_view(url).substr(skip, url.find('/', skip) - skip);
  int port = https ? 443 : 80;
  if (authority.find(':') != std::string_view::npos) {
    // A port text without a number means the scheme's default port.
    if (const int named = UrlPort(url); named != 0) port = named;
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return std::string(https ? "https://" : "http://") + host + ":" + std::to_string(port) +
         Escape(UrlPath(url), true);
}

struct HeaderBlock {
  std::string url;  // the address that answered with it
  std::string text;
};

struct Transfer {
  CURL* easy = nullptr;
  CURLcode result = CURLE_OK;
  size_t maxBody = 0;
  std::string body;
  bool tooLarge = false;
  bool cancelled = false;
  HeaderBlock current;
  bool headerDone = false;
  std::vector<HeaderBlock> blocks;  // every completed block, redirects included
};

// Page faults dominate the cost of a large body on some machines; asking for
// transparent huge pages (where the system grants them on request) cuts their
// number 512-fold. Only whole huge pages inside the buffer are advised.
void AdviseHugePages(std::string& buffer) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (buffer.capacity() < 2 * kHuge) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(buffer.data());
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + buffer.capacity()) & ~(kHuge - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t->body.size() + n > t->maxBody) {
    t->tooLarge = true;
    return CURL_WRITEFUNC_ERROR;
  }
  if (t->body.capacity() < t->body.size() + n) {
    size_t want = std::max(t->body.size() + n, t->body.capacity() * 2);
    curl_off_t length = -1;
    if (t->body.empty() &&
        curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0) {
      // The announced length, within reason: a server may announce anything.
      want = std::max(want, std::min({static_cast<size_t>(length), t->maxBody, kMaxReserve}));
    }
    t->body.reserve(want);
    AdviseHugePages(t->body);
  }
  t->body.append(data, n);
  return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t n = size * count;
  std::string_view line(data, n);
  if (line.starts_with("HTTP/")) {
    // A new response (after a redirect or an interim 1xx) replaces the block.
    t->current.text.clear();
    t->headerDone = false;
    char* url = nullptr;
    curl_easy_getinfo(t->easy, CURLINFO_EFFECTIVE_URL, &url);
    t->current.url = url ? url : "";
  } else if (t->headerDone) {
    return n;  // trailers after a chunked body
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (t->current.text.size() + line.size() + 2 > kMaxHeaderBlock) return 0;
  t->current.text.append(line).append("\r\n");
  if (line.empty()) {
    t->headerDone = true;
    t->blocks.push_back(t->current);
  }
  return n;
}

void EnsureCurl() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)ready;
}

// Stores the cookies of every response of the transfer under the host that
// set them.
void StoreResponseCookies(const std::vector<HeaderBlock>& blocks) {
  const std::string jar = CookieJarPath();
  if (jar.empty()) return;
  for (const HeaderBlock& block : blocks) {
    const std::vector<CookiePair> cookies = ParseSetCookies(block.text);
    if (cookies.empty()) continue;
    const UrlHandle u(curl_url());
    char* scheme = nullptr;
    char* host = nullptr;
    char* path = nullptr;
    const bool split = u &&
                       curl_url_set(u.get(), CURLUPART_URL, block.url.c_str(), 0) == CURLUE_OK &&
                       curl_url_get(u.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                       curl_url_get(u.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                       curl_url_get(u.get(), CURLUPART_PATH, &path, 0) == CURLUE_OK;
    const CurlText ownedScheme(scheme), ownedHost(host), ownedPath(path);
    if (split) {
      const std::string_view s(scheme);
      // A jar that cannot be written loses only these cookies.
      if (s == "http" || s == "https") {
        (void)StoreCookies(jar, host, path, cookies, static_cast<std::int64_t>(std::time(nullptr)));
      }
    }
  }
}

struct Request {
  std::string url;
  bool post = false;
  const std::string* postData = nullptr;
  std::string headerText;
  std::string proxy;
  // https only, from the first request to the last redirect.
  bool httpsOnly = false;
};

void Perform(const Request& request, const HttpLimits& limits, Transfer& t) {
  EnsureCurl();
  const EasyHandle owner(curl_easy_init());
  CURL* easy = owner.get();
  if (easy == nullptr) return;
  t.easy = easy;
  t.maxBody = limits.maxBodyBytes;

  HeaderList headerList;
  const auto append = [&headerList](const char* line) {
    headerList.reset(curl_slist_append(headerList.release(), line));
  };
  for (const std::string_view line : text::SplitLines(request.headerText)) {
    if (!line.empty()) append(std::string(line).c_str());
  }
  if (request.post) {
    // Neither a default content type for an empty POST nor a 100-continue
    // round trip for a large one.
    append("Content-Type:");
    append("Expect:");
  }

  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, kHttpUserAgent);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
  if (request.post) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.postData->data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.postData->size()));
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
  // The proxy is only ever the one given: no proxy settings from the
  // environment, and none for https (the proxy serves plain HTTP only).
  const bool viaProxy = !request.proxy.empty() && request.url.starts_with("http://");
  const std::string proxyUrl = "http://" + request.proxy;
  curl_easy_setopt(easy, CURLOPT_PROXY, viaProxy ? proxyUrl.c_str() : "");
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
  const char* protocols = request.httpsOnly ? "https" : "http,https";
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
  // libcurl's defaults, said out loud: the peer's chain against the system's
  // CA store (or the tests' own CA) and its name against the host.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!g_caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, g_caFile.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, limits.maxRedirects);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
  // Cookies from the jar go out with the request (and across its redirects);
  // new ones are written to the jar below.
  const std::string jar = CookieJarPath();
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, jar.c_str());

  const MultiHandle multiOwner(curl_multi_init());
  CURLM* multi = multiOwner.get();
  if (multi == nullptr) return;
  curl_multi_add_handle(multi, easy);
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (running == 0) {
      int queued = 0;
      if (const CURLMsg* m = curl_multi_info_read(multi, &queued); m && m->msg == CURLMSG_DONE) {
        t.result = m->data.result;
      }
      break;
    }
    // Let the windows live while connecting and between reads.
    Rt().ProcessPendingEvents();
    // The user quit meanwhile: nobody waits for this page any more.
    if (Rt().Ending()) {
      t.cancelled = true;
      break;
    }
    curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
  }
  curl_multi_remove_handle(multi, easy);
  t.easy = nullptr;

  if (t.tooLarge || t.cancelled) t.body.clear();
  if (!t.cancelled) StoreResponseCookies(t.blocks);
}

}  // namespace

std::string CompleteRequestHeaders(std::string headers, std::string_view normalisedUrl, bool post,
                                   std::string_view postData) {
  // A last line without its line end would run into the first default.
  if (!headers.empty() && headers.back() != '\n') headers += "\r\n";
  if (!ContainsIgnoringCase(headers, "Accept: ")) headers += kDefaultAccept;
  if (!ContainsIgnoringCase(headers, "Referer: ")) {
    headers += "Referer: " + Escape(normalisedUrl, false) + "\r\n";
  }
  if (!ContainsIgnoringCase(headers, "Accept-Language: ")) headers += kDefaultLanguage;
  if (post && !postData.empty()) {
    headers += "Content-Type: application/x-www-form-urlencoded\r\n";
    headers += "Content-Length: " + std::to_string(postData.size()) + "\r\n";
  }
  return headers;
}

void SetHttpLimitsForTesting(const HttpLimits& limits) { g_limits = limits; }

const HttpLimits& CurrentHttpLimits() { return g_limits; }

namespace {

// What a secure fetch's transfer came to: a redirect off https ends in an
// unsupported protocol, a chain or name that does not check in a peer
// verification failure.
FetchFailure SecureOutcome(const Transfer& t) {
  switch (t.result) {
    case CURLE_OK:
      return t.body.empty() && !t.cancelled ? FetchFailure::kOther : FetchFailure::kNone;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return FetchFailure::kNotHttps;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
      return FetchFailure::kUntrusted;
    default:
      return FetchFailure::kOther;
  }
}

std::string Access(const std::string& url, std::optional<int> 访问方式,
                   const std::optional<std::string>& proxy,
                   const std::optional<std::string>& requestHeaders,
                   const std::optional<std::string>& postData, std::optional<int> conversion,
                   std::string* responseHeaders, const HttpLimits& limits,
                   FetchFailure* secure = nullptr) {
  std::string normalised(text::Trim(url));
  const int method = 访问方式.value_or(0);
  if (method != 0 && method != 1) {
    OwnedMessageBox(kWrongMethod);
    return {};
  }
  if (secure != nullptr && !normalised.starts_with("https://")) {
    *secure = FetchFailure::kNotHttps;
    return {};
  }
  if (!normalised.starts_with("http://") && !normalised.starts_with("https://")) {
    normalised = "http://" + normalised;
  }

  const std::string data = postData.value_or("");
  Transfer t;
  if (const std::optional<std::string> target = RequestUrl(normalised)) {
    Request request;
    request.url = *target;
    request.post = method == 1;
    request.postData = &data;
    request.headerText =
        CompleteRequestHeaders(requestHeaders.value_or(""), normalised, request.post, data);
    request.proxy = std::string(text::Trim(proxy.value_or("")));
    request.httpsOnly = secure != nullptr;
    Perform(request, limits, t);
  }
  if (secure != nullptr) *secure = SecureOutcome(t);
  if (responseHeaders != nullptr) {
    *responseHeaders = t.current.text;
  }
  switch (conversion.value_or(0)) {
    case 1:
      return Utf8ToGbk(t.body);
    case 2:
      return Big5ToSimplifiedGbk(t.body);
    default:
      return std::move(t.body);
  }
}

}  // namespace

std::string 网页_访问(const std::string& url, std::optional<int> 访问方式,
                      const std::optional<std::string>& proxy,
                      const std::optional<std::string>& requestHeaders,
                      const std::optional<std::string>& postData, std::optional<int> conversion,
                      std::string* responseHeaders) {
  return Access(url, 访问方式, proxy, requestHeaders, postData, conversion, responseHeaders,
                g_limits);
}

std::string FetchPage(const std::string& url, const HttpLimits& limits) {
  return Access(url, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, nullptr,
                limits);
}

std::string FetchSecurePage(const std::string& url, const HttpLimits& limits, FetchFailure* failure,
                            int* status) {
  std::string headers;
  std::string body = Access(url, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                            std::nullopt, status ? &headers : nullptr, limits, failure);
  if (status != nullptr) {
    // "HTTP/1.1 404 Not Found": the number after the first space.
    *status = 0;
    const size_t space = headers.find(' ');
    for (size_t i = space == std::string::npos ? headers.size() : space + 1;
         i < headers.size() && headers[i] >= '0' && headers[i] <= '9' && *status < 1000; ++i)
      *status = *status * 10 + (headers[i] - '0');
  }
  return body;
}

void SetCaFileForTesting(std::string path) { g_caFile = std::move(path); }
