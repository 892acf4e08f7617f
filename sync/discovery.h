// Where 地址 leads on a CalDAV server (RFC 4791, RFC 6764): the calendar it
// names, or the user's calendars through current-user-principal (at the
// address, then /.well-known/caldav) and calendar-home-set. The engine asks
// it for the collection to sync; the 同步 window lists the calendars and
// tests a connection without writing anything on the server.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "sync/dav_xml.h"
#include "sync/engine.h"

namespace davsync {

class DavHttp;

struct CalendarInfo {
  std::string url;             // absolute, ending in '/'
  std::string displayName;     // UTF-8; the last path segment when the server names none
  bool takesJournals = false;  // VJOURNAL in supported-calendar-component-set, or no set given
  bool isOurs = false;         // named kCalendarName
};

// The calendars 地址 leads to: that one calendar when 地址 names one, else
// every calendar in the user's home set. Nothing is written on the server.
[[nodiscard]] bool FindCalendars(const SyncConfig& config, std::vector<CalendarInfo>* out,
                                 std::string* error, const std::atomic<bool>* stop = nullptr);

// FindCalendars for the window's 测试连接: one line saying what was found.
// A calendar named by 地址 that takes no journals fails with
// kNoJournalsReason. `calendars`, when given, gets what was found.
[[nodiscard]] bool TestConnection(const SyncConfig& config, std::string* summary,
                                  std::string* error, const std::atomic<bool>* stop = nullptr,
                                  std::vector<CalendarInfo>* calendars = nullptr);

inline constexpr const char* kNoJournalsReason =
    "这个日历不能存备忘录（不接受日志条目 VJOURNAL），请换一个日历或只填服务器地址";

// The calendars in a PROPFIND answer, hrefs made absolute against `base`.
std::vector<CalendarInfo> CalendarsOf(const Multistatus& answer, const std::string& base);

// Discovery over a connection the caller owns (the engine's, for its
// keep-alive and request count).
class Discovery {
 public:
  Discovery(std::string address, DavHttp* http) : address_(std::move(address)), http_(http) {}

  // See FindCalendars; `*addressIsCalendar` says 地址 named the one listed.
  [[nodiscard]] bool Find(std::vector<CalendarInfo>* calendars, bool* addressIsCalendar,
                          std::string* error);
  // The collection a sync uses: 地址 when it is a calendar (refused when it
  // takes no journals), else the home set's calendar named kCalendarName,
  // made with MKCALENDAR when missing.
  [[nodiscard]] bool Collection(std::string* collection, std::string* error);

 private:
  bool Fail(std::string reason);
  bool Propfind(const std::string& url, const std::string& depth, const std::string& body,
                Multistatus* ms, long* status);
  bool FindPrincipal(long addressStatus, std::string* principal);
  bool Make(std::string* collection);

  std::string address_;
  DavHttp* http_;
  std::string home_;
  std::string error_;
  long retryAfter_ = -1;
};

}  // namespace davsync
