#include "sync/dav_xml.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace davsync {
namespace {

constexpr const char* kDav = "DAV:";
constexpr const char* kCalDav = "urn:ietf:params:xml:ns:caldav";

bool Is(const xmlNode* n, const char* ns, const char* name) {
  return n && n->type == XML_ELEMENT_NODE && n->ns && n->ns->href &&
         std::strcmp(reinterpret_cast<const char*>(n->ns->href), ns) == 0 &&
         std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

const xmlNode* Child(const xmlNode* n, const char* ns, const char* name) {
  for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
    if (Is(c, ns, name)) return c;
  return nullptr;
}

std::string Content(const xmlNode* n) {
  if (!n) return {};
  xmlChar* text = xmlNodeGetContent(n);
  if (!text) return {};
  std::string out(reinterpret_cast<const char*>(text));
  xmlFree(text);
  return out;
}

std::string Trimmed(std::string s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.back())) s.pop_back();
  std::size_t i = 0;
  while (i < s.size() && blank(s[i])) ++i;
  return s.substr(i);
}

// "HTTP/1.1 404 Not Found" -> 404.
int StatusCode(const xmlNode* status) {
  const std::string text = Content(status);
  const std::size_t space = text.find(' ');
  if (space == std::string::npos) return 0;
  return std::atoi(text.c_str() + space + 1);
}

void ReadProp(const xmlNode* prop, DavResource* r) {
  for (const xmlNode* p = prop->children; p; p = p->next) {
    if (Is(p, kDav, "getetag")) {
      r->etag = Trimmed(Content(p));
    } else if (Is(p, kCalDav, "calendar-data")) {
      r->calendarData = Content(p);
    } else if (Is(p, kDav, "displayname")) {
      r->displayName = Trimmed(Content(p));
    } else if (Is(p, kDav, "resourcetype")) {
      r->collection = Child(p, kDav, "collection") != nullptr;
      r->calendar = Child(p, kCalDav, "calendar") != nullptr;
    } else if (Is(p, kCalDav, "supported-calendar-component-set")) {
      r->componentsListed = true;
      for (const xmlNode* c = p->children; c; c = c->next) {
        if (!Is(c, kCalDav, "comp")) continue;
        xmlChar* name = xmlGetProp(c, reinterpret_cast<const xmlChar*>("name"));
        if (name && std::strcmp(reinterpret_cast<const char*>(name), "VJOURNAL") == 0) {
          r->journals = true;
        }
        if (name) xmlFree(name);
      }
    } else if (Is(p, kDav, "current-user-principal")) {
      r->principal = Trimmed(Content(Child(p, kDav, "href")));
    } else if (Is(p, kCalDav, "calendar-home-set")) {
      r->calendarHome = Trimmed(Content(Child(p, kDav, "href")));
    }
  }
}

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

}  // namespace

bool ParseMultistatus(const std::string& body, Multistatus* out, std::string* error) {
  *out = Multistatus{};
  // No network, no entity substitution, no DTD loading; libxml2's own
  // limits guard against expansion bombs.
  std::unique_ptr<xmlDoc, DocFree> doc(
      xmlReadMemory(body.data(), static_cast<int>(body.size()), "multistatus.xml", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (!root) {
    *error = "服务器的回答不是有效的 XML（WebDAV 数据已损坏）";
    return false;
  }
  if (!Is(root, kDav, "multistatus")) {
    *error = "服务器的回答不是 WebDAV 的 multistatus，可能不是 CalDAV 服务器";
    return false;
  }
  for (const xmlNode* n = root->children; n; n = n->next) {
    if (Is(n, kDav, "sync-token")) out->syncToken = Trimmed(Content(n));
    if (!Is(n, kDav, "response")) continue;
    DavResource r;
    r.href = Trimmed(Content(Child(n, kDav, "href")));
    if (const xmlNode* status = Child(n, kDav, "status")) r.status = StatusCode(status);
    for (const xmlNode* ps = n->children; ps; ps = ps->next) {
      if (!Is(ps, kDav, "propstat")) continue;
      const int code = StatusCode(Child(ps, kDav, "status"));
      if (code < 200 || code >= 300) continue;
      if (const xmlNode* prop = Child(ps, kDav, "prop")) ReadProp(prop, &r);
    }
    if (!r.href.empty()) out->resources.push_back(std::move(r));
  }
  return true;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {
constexpr const char* kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
}

std::string PropfindPrincipalBody() {
  return std::string(kHead) +
         "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:current-user-principal/>"
         "<d:resourcetype/></d:prop></d:propfind>";
}

std::string PropfindHomeBody() {
  return std::string(kHead) +
         "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop>"
         "<c:calendar-home-set/></d:prop></d:propfind>";
}

std::string PropfindCalendarsBody() {
  return std::string(kHead) +
         "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop>"
         "<d:resourcetype/><d:displayname/><c:supported-calendar-component-set/>"
         "</d:prop></d:propfind>";
}

std::string PropfindEtagsBody() {
  return std::string(kHead) +
         "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:getetag/><d:resourcetype/>"
         "</d:prop></d:propfind>";
}

std::string SyncCollectionBody(const std::string& token) {
  return std::string(kHead) + "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" +
         XmlEscape(token) +
         "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop>"
         "</d:sync-collection>";
}

std::string MultigetBody(const std::vector<std::string>& hrefs) {
  std::string body = std::string(kHead) +
                     "<c:calendar-multiget xmlns:d=\"DAV:\" "
                     "xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop><d:getetag/>"
                     "<c:calendar-data/></d:prop>";
  for (const std::string& h : hrefs) body += "<d:href>" + XmlEscape(h) + "</d:href>";
  return body + "</c:calendar-multiget>";
}

std::string MkcalendarBody(const std::string& displayName) {
  return std::string(kHead) +
         "<c:mkcalendar xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:set>"
         "<d:prop><d:displayname>" +
         XmlEscape(displayName) +
         "</d:displayname><c:supported-calendar-component-set><c:comp name=\"VJOURNAL\"/>"
         "</c:supported-calendar-component-set></d:prop></d:set></c:mkcalendar>";
}

}  // namespace davsync
