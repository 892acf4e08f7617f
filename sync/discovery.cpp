#include "sync/discovery.h"

#include <libxml/xmlstring.h>

#include <algorithm>

#include "sync/dav_http.h"
#include "util/text.h"

namespace davsync {
namespace {

constexpr int kMaxRedirects = 5;
// A name longer than this is cut for the window's list.
constexpr std::size_t kNameChars = 80;
const char* const kXml = "Content-Type: application/xml; charset=utf-8";

const char* const kNoAddress = "没有填写服务器地址";
const char* const kNotCalDav = "这个地址不是 CalDAV 服务器（找不到用户的日历）";
const char* const kNoHome = "服务器没有告诉这个用户的日历在哪里（没有 calendar-home-set）";

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

bool IsRoot(const std::string& url) {
  const std::string path = UrlPath(url);
  return path.empty() || path == "/";
}

// Controls (a name may hold a line break) become spaces, and a long name is
// cut: the list is one short line per calendar.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  const auto first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text::Utf8Prefix(out.substr(first, out.find_last_not_of(' ') - first + 1), kNameChars);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A calendar the server gave no name: its last path segment, decoded when
// that is UTF-8 text ("/anna/%E5%B7%A5%E4%BD%9C/" is 工作).
std::string SegmentName(const std::string& url) {
  std::string path = UrlPath(url);
  while (!path.empty() && path.back() == '/') path.pop_back();
  const std::string segment = path.substr(path.rfind('/') + 1);
  std::string decoded;
  for (std::size_t i = 0; i < segment.size(); ++i) {
    if (segment[i] == '%' && i + 2 < segment.size() && HexValue(segment[i + 1]) >= 0 &&
        HexValue(segment[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(segment[i + 1]) * 16 + HexValue(segment[i + 2]));
      i += 2;
    } else {
      decoded += segment[i];
    }
  }
  const bool text = xmlCheckUTF8(reinterpret_cast<const xmlChar*>(decoded.c_str())) != 0 &&
                    decoded.size() == std::char_traits<char>::length(decoded.c_str());
  std::string name = OneLine(text ? decoded : segment);
  return name.empty() ? url : name;
}

bool Discover(const SyncConfig& config, const std::atomic<bool>* stop,
              std::vector<CalendarInfo>* out, bool* addressIsCalendar, std::string* error) {
  out->clear();
  *addressIsCalendar = false;
  if (config.address.empty()) {
    *error = kNoAddress;
    return false;
  }
  if (!UrlAllowed(config.address, config.insecureConfirmed, error)) return false;
  DavHttp http(config.user, config.password, config.insecureConfirmed,
               HttpLimits{10000, config.timeoutMs, 30, 64u << 20, stop});
  return Discovery(config.address, &http).Find(out, addressIsCalendar, error);
}

}  // namespace

std::vector<CalendarInfo> CalendarsOf(const Multistatus& answer, const std::string& base) {
  std::vector<CalendarInfo> out;
  for (const DavResource& r : answer.resources) {
    if (!r.calendar || r.status >= 300) continue;
    CalendarInfo c;
    c.url = ResolveUrl(base, r.href);
    if (c.url.empty()) continue;
    c.url = WithSlash(c.url);
    c.displayName = OneLine(r.displayName);
    if (c.displayName.empty()) c.displayName = SegmentName(c.url);
    c.takesJournals = !r.componentsListed || r.journals;
    c.isOurs = r.displayName == kCalendarName;
    out.push_back(std::move(c));
  }
  return out;
}

bool Discovery::Fail(std::string reason) {
  if (error_.empty()) error_ = std::move(reason);
  return false;
}

bool Discovery::Propfind(const std::string& url, const std::string& depth, const std::string& body,
                         Multistatus* ms, long* status) {
  HttpResponse r;
  std::string target = url;
  std::string error;
  // Redirects are followed by hand, and only within the same server, so the
  // password never goes anywhere else.
  for (int i = 0;; ++i) {
    if (!http_->Send("PROPFIND", target, {kXml, "Depth: " + depth}, body, &r, &error)) {
      return Fail(error);
    }
    if ((r.status == 301 || r.status == 302 || r.status == 307 || r.status == 308) &&
        !r.location.empty() && i < kMaxRedirects) {
      if (ResolveUrl(r.location, "/") != ResolveUrl(target, "/")) {
        return Fail("服务器把请求转到了另一个网站：" + r.location);
      }
      target = r.location;
      continue;
    }
    break;
  }
  *status = r.status;
  retryAfter_ = r.retryAfter;
  if (r.status != 207) return true;
  if (!ParseMultistatus(r.body, ms, &error)) return Fail(error);
  ms->syncToken.clear();
  // Where the answer came from, for resolving its hrefs.
  for (DavResource& res : ms->resources) res.href = ResolveUrl(target, res.href);
  return true;
}

bool Discovery::FindPrincipal(long addressStatus, std::string* principal) {
  std::vector<std::string> urls;
  // An address that knows no PROPFIND is not asked a second time.
  if (addressStatus == 207) urls.push_back(address_);
  urls.push_back(ResolveUrl(address_, "/.well-known/caldav"));
  for (const std::string& url : urls) {
    Multistatus ms;
    long status = 0;
    if (!Propfind(url, "0", PropfindPrincipalBody(), &ms, &status)) return false;
    if (status == 401) return Fail(StatusReason(status, -1));
    if (status == 429 || (status >= 500 && status != 501)) {
      return Fail(StatusReason(status, retryAfter_));
    }
    if (status != 207) continue;
    for (const DavResource& r : ms.resources) {
      if (!r.principal.empty()) {
        *principal = ResolveUrl(r.href, r.principal);
        return true;
      }
    }
  }
  return Fail(kNotCalDav);
}

bool Discovery::Find(std::vector<CalendarInfo>* calendars, bool* addressIsCalendar,
                     std::string* error) {
  calendars->clear();
  *addressIsCalendar = false;
  error_.clear();
  home_.clear();
  const auto failed = [&] {
    *error = error_;
    return false;
  };
  Multistatus ms;
  long status = 0;
  if (!Propfind(address_, "0", PropfindCalendarsBody(), &ms, &status)) return failed();
  // Some servers say "not found" inside a 207.
  if (status == 207 && !ms.resources.empty() &&
      std::all_of(ms.resources.begin(), ms.resources.end(),
                  [](const DavResource& r) { return r.status == 404 || r.status == 410; })) {
    status = ms.resources.front().status;
  }
  if (status == 207) {
    std::vector<CalendarInfo> here = CalendarsOf(ms, address_);
    if (!here.empty()) {
      calendars->push_back(std::move(here.front()));
      *addressIsCalendar = true;
      return true;
    }
  } else if (status == 401 || status == 403) {
    Fail(StatusReason(status, -1));
    return failed();
  } else if (status == 404 || status == 410) {
    // A calendar's address that is gone is told, never replaced by a
    // calendar made somewhere else; a server root may still have a
    // well-known address.
    if (!IsRoot(address_)) {
      Fail(StatusReason(status, -1));
      return failed();
    }
  } else if (status == 429 || (status >= 500 && status != 501)) {
    // Passing over a calendar that failed for a moment would sync another.
    Fail(StatusReason(status, retryAfter_));
    return failed();
  }
  std::string principal;
  if (!FindPrincipal(status, &principal)) return failed();
  ms = {};
  if (!Propfind(principal, "0", PropfindHomeBody(), &ms, &status)) return failed();
  if (status != 207) {
    Fail(StatusReason(status, retryAfter_));
    return failed();
  }
  for (const DavResource& r : ms.resources) {
    if (!r.calendarHome.empty()) {
      home_ = ResolveUrl(r.href, r.calendarHome);
      break;
    }
  }
  if (home_.empty()) {
    Fail(kNoHome);
    return failed();
  }
  ms = {};
  if (!Propfind(home_, "1", PropfindCalendarsBody(), &ms, &status)) return failed();
  if (status != 207) {
    Fail(StatusReason(status, retryAfter_));
    return failed();
  }
  *calendars = CalendarsOf(ms, home_);
  return true;
}

bool Discovery::Make(std::string* collection) {
  // None of ours: make one that takes journals, never borrowing a calendar
  // the user keeps for something else.
  const std::string target = ResolveUrl(WithSlash(home_), "tamsivo-memos/");
  HttpResponse r;
  std::string error;
  if (!http_->Send("MKCALENDAR", target, {kXml}, MkcalendarBody(kCalendarName), &r, &error)) {
    return Fail(error);
  }
  if (r.status == 201 || r.status == 200) {
    *collection = target;
    return true;
  }
  if (r.status != 401) {
    // Another computer may have made it a moment ago.
    Multistatus ms;
    long status = 0;
    if (!Propfind(target, "0", PropfindCalendarsBody(), &ms, &status)) return false;
    if (status == 401 || status == 403) return Fail(StatusReason(status, -1));
    const std::vector<CalendarInfo> there =
        status == 207 ? CalendarsOf(ms, target) : std::vector<CalendarInfo>{};
    if (!there.empty()) {
      if (!there.front().takesJournals) return Fail(kNoJournalsReason);
      *collection = target;
      return true;
    }
  }
  return Fail("无法在服务器上建立日历“" + std::string(kCalendarName) + "”：" +
              StatusReason(r.status, r.retryAfter));
}

bool Discovery::Collection(std::string* collection, std::string* error) {
  std::vector<CalendarInfo> calendars;
  bool addressIsCalendar = false;
  if (!Find(&calendars, &addressIsCalendar, error)) return false;
  if (addressIsCalendar) {
    // The calendar the user named (or chose in the window) is synced as it
    // is, whatever its name.
    if (!calendars.front().takesJournals) {
      *error = kNoJournalsReason;
      return false;
    }
    *collection = WithSlash(address_);
    return true;
  }
  for (const CalendarInfo& c : calendars) {
    if (c.isOurs && c.takesJournals) {
      *collection = c.url;
      return true;
    }
  }
  if (!Make(collection)) {
    *error = error_;
    return false;
  }
  return true;
}

bool FindCalendars(const SyncConfig& config, std::vector<CalendarInfo>* out, std::string* error,
                   const std::atomic<bool>* stop) {
  bool addressIsCalendar = false;
  return Discover(config, stop, out, &addressIsCalendar, error);
}

bool TestConnection(const SyncConfig& config, std::string* summary, std::string* error,
                    const std::atomic<bool>* stop, std::vector<CalendarInfo>* listed) {
  std::vector<CalendarInfo> calendars;
  bool addressIsCalendar = false;
  if (!Discover(config, stop, &calendars, &addressIsCalendar, error)) return false;
  if (listed) *listed = calendars;
  if (addressIsCalendar) {
    if (!calendars.front().takesJournals) {
      *error = kNoJournalsReason;
      return false;
    }
    *summary = "连接成功：这个日历可以存备忘录。";
    return true;
  }
  const std::size_t all = calendars.size();
  const std::size_t journals = static_cast<std::size_t>(std::count_if(
      calendars.begin(), calendars.end(), [](const CalendarInfo& c) { return c.takesJournals; }));
  const bool ours = std::any_of(calendars.begin(), calendars.end(),
                                [](const CalendarInfo& c) { return c.isOurs && c.takesJournals; });
  const std::string n = std::to_string(all);
  std::string found;
  if (all == 0) {
    found = "服务器上还没有日历";
  } else if (journals == all) {
    found = "找到 " + n + " 个日历，" + (all == 1 ? "可以存备忘录" : "都可以存备忘录");
  } else if (journals == 0) {
    found = "找到 " + n + " 个日历，" + (all == 1 ? "不能存备忘录" : "都不能存备忘录");
  } else {
    found = "找到 " + n + " 个日历，其中 " + std::to_string(journals) + " 个可以存备忘录";
  }
  const std::string name = std::string("“") + kCalendarName + "”";
  *summary = "连接成功：" + found + "；同步时" + (ours ? "用日历" : "会新建日历") + name + "。";
  return true;
}

}  // namespace davsync
