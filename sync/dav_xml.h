// WebDAV and CalDAV answers (RFC 4918, 4791, 6578) read with libxml2 by
// namespace and element name, and the request bodies we send.
#pragma once

#include <string>
#include <vector>

namespace davsync {

struct DavResource {
  std::string href;  // as the server wrote it (a path, usually)
  int status = 200;  // the response's own status: 404 for a deleted item
  std::string etag;
  std::string calendarData;
  bool collection = false;
  bool calendar = false;
  bool journals = false;  // supported-calendar-component-set names VJOURNAL
  bool componentsListed = false;
  std::string displayName;
  std::string principal;     // current-user-principal's href
  std::string calendarHome;  // calendar-home-set's href
};

struct Multistatus {
  std::vector<DavResource> resources;
  std::string syncToken;
};

// Parses a 207 body; false with a Chinese reason when it is not well-formed
// XML or not a DAV:multistatus.
[[nodiscard]] bool ParseMultistatus(const std::string& body, Multistatus* out, std::string* error);

// Text with &, <, >, " escaped, for hrefs and names in request bodies.
std::string XmlEscape(const std::string& text);

std::string PropfindPrincipalBody();
std::string PropfindHomeBody();
std::string PropfindCalendarsBody();
std::string PropfindEtagsBody();
std::string SyncCollectionBody(const std::string& token);
std::string MultigetBody(const std::vector<std::string>& hrefs);
std::string MkcalendarBody(const std::string& displayName);

}  // namespace davsync
