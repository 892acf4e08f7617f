#include "net/cookie_jar.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <limits>

#include "platform/xdg_dirs.h"
#include "util/file_io.h"
#include "util/text.h"

namespace {

// Bounds that keep a hostile server from filling the disk or the header.
constexpr size_t kMaxCookieBytes = 4096;  // name and value together
constexpr size_t kMaxJarEntries = 3000;

using text::Trim;

std::string LowerText(std::string_view s) { return text::AsciiLowerCopy(s); }

// Tabs and line breaks would break the jar's one-line-per-cookie format.
bool HasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool IsIpAddress(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(),
                                      [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// The directory of the request path, as cookies without a Path attribute use.
std::string DefaultPath(std::string_view requestPath) {
  requestPath = requestPath.substr(0, requestPath.find_first_of("?#"));
  if (requestPath.empty() || requestPath.front() != '/') return "/";
  const size_t last = requestPath.rfind('/');
  if (last == 0) return "/";
  return std::string(requestPath.substr(0, last));
}

std::optional<std::int64_t> ParseInteger(std::string_view s) {
  std::int64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    return s.starts_with('-') ? std::numeric_limits<std::int64_t>::min()
                              : std::numeric_limits<std::int64_t>::max();
  }
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

bool SameCookie(const CookieEntry& a, const CookieEntry& b) {
  return a.domain == b.domain && a.path == b.path && a.name == b.name;
}

bool Expired(const CookieEntry& e, std::int64_t now) { return e.expires != 0 && e.expires <= now; }

}  // namespace

std::vector<CookiePair> ParseSetCookies(std::string_view block) {
  constexpr std::string_view kHeader = "Set-Cookie:";
  std::vector<CookiePair> cookies;
  for (std::string_view line : text::SplitLines(block)) {
    if (!text::StartsWithIgnoringAsciiCase(line, kHeader)) continue;
    line = Trim(line.substr(kHeader.size()));
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = Trim(line.substr(0, eq));
    if (name.empty()) continue;
    cookies.push_back({std::string(name), std::string(line.substr(eq + 1))});
  }
  return cookies;
}

std::optional<CookieEntry> MakeCookieEntry(std::string_view host, std::string_view requestPath,
                                           const CookiePair& cookie, std::int64_t now) {
  CookieEntry e;
  const std::string hostLower = LowerText(host);
  // A jar line that starts with "#" is a comment.
  if (hostLower.empty() || hostLower.front() == '#' || HasControl(hostLower)) return std::nullopt;
  e.name = std::string(Trim(cookie.name));
  std::string_view data = cookie.data;
  const size_t semi = data.find(';');
  e.value = std::string(Trim(data.substr(0, semi)));
  if (e.name.empty() || e.name.front() == '#' || HasControl(e.name) || HasControl(e.value) ||
      e.name.size() + e.value.size() > kMaxCookieBytes) {
    return std::nullopt;
  }
  e.domain = hostLower;
  e.path = DefaultPath(requestPath);
  if (HasControl(e.path)) return std::nullopt;
  std::optional<std::int64_t> maxAge;
  std::optional<std::int64_t> expires;
  data = semi == std::string_view::npos ? std::string_view() : data.substr(semi + 1);
  while (!data.empty()) {
    const size_t next = data.find(';');
    const std::string_view attribute = data.substr(0, next);
    data = next == std::string_view::npos ? std::string_view() : data.substr(next + 1);
    const size_t eq = attribute.find('=');
    const std::string key = LowerText(Trim(attribute.substr(0, eq)));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : Trim(attribute.substr(eq + 1));
    if (HasControl(value)) return std::nullopt;
    if (key == "domain") {
      std::string domain = LowerText(value);
      while (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
      if (domain.empty()) continue;
      if (domain == hostLower) {
        if (!IsIpAddress(hostLower)) {
          e.domain = "." + domain;
          e.includeSubdomains = true;
        }
        continue;
      }
      // Only the host's own parent domains, and never a bare top-level name.
      const bool parent = hostLower.size() > domain.size() && hostLower.ends_with("." + domain) &&
                          !IsIpAddress(hostLower);
      if (!parent || domain.find('.') == std::string::npos) return std::nullopt;
      e.domain = "." + domain;
      e.includeSubdomains = true;
    } else if (key == "path") {
      if (value.starts_with('/')) e.path = std::string(value);
    } else if (key == "secure") {
      e.secure = true;
    } else if (key == "httponly") {
      e.httpOnly = true;
    } else if (key == "max-age") {
      if (const auto v = ParseInteger(value)) maxAge = *v;
    } else if (key == "expires") {
      const std::string text(value);
      const time_t t = curl_getdate(text.c_str(), nullptr);
      if (t != static_cast<time_t>(-1)) expires = static_cast<std::int64_t>(t);
    }
  }
  if (maxAge) {
    // Max-Age wins over Expires; zero or less removes the cookie.
    if (*maxAge <= 0) {
      e.expires = 1;
    } else {
      e.expires = *maxAge > std::numeric_limits<std::int64_t>::max() - now ? std::int64_t{1} << 62
                                                                           : now + *maxAge;
    }
  } else if (expires) {
    e.expires = *expires > 0 ? *expires : 1;
  }
  return e;
}

std::vector<CookieEntry> ParseCookieJar(std::string_view text) {
  constexpr std::string_view kHttpOnly = "#HttpOnly_";
  std::vector<CookieEntry> entries;
  for (std::string_view line : text::SplitLines(text)) {
    CookieEntry e;
    if (line.starts_with(kHttpOnly)) {
      e.httpOnly = true;
      line.remove_prefix(kHttpOnly.size());
    } else if (line.empty() || line.front() == '#') {
      continue;
    }
    std::string_view fields[7];
    size_t count = 0;
    while (count < 7) {
      const size_t tab = line.find('\t');
      fields[count++] = line.substr(0, tab);
      if (tab == std::string_view::npos) break;
      line.remove_prefix(tab + 1);
    }
    if (count != 7 || fields[0].empty() || fields[5].empty()) continue;
    const auto expires = ParseInteger(fields[4]);
    if (!expires) continue;
    e.domain = std::string(fields[0]);
    e.includeSubdomains = fields[1] == "TRUE";
    e.path = std::string(fields[2]);
    e.secure = fields[3] == "TRUE";
    e.expires = *expires;
    e.name = std::string(fields[5]);
    e.value = std::string(fields[6]);
    entries.push_back(std::move(e));
  }
  return entries;
}

std::string FormatCookieJar(const std::vector<CookieEntry>& entries) {
  std::string text = "# Netscape HTTP Cookie File\n\n";
  for (const CookieEntry& e : entries) {
    if (e.httpOnly) text += "#HttpOnly_";
    text += e.domain + '\t' + (e.includeSubdomains ? "TRUE" : "FALSE") + '\t' + e.path + '\t' +
            (e.secure ? "TRUE" : "FALSE") + '\t' + std::to_string(e.expires) + '\t' + e.name +
            '\t' + e.value + '\n';
  }
  return text;
}

std::string CookieJarPath() {
  const std::string data = XdgDataHome();
  if (data.empty()) return {};
  return data + "/tamsivo/cookies.txt";
}

bool StoreCookies(const std::string& jarPath, std::string_view host, std::string_view requestPath,
                  const std::vector<CookiePair>& cookies, std::int64_t now) {
  if (jarPath.empty() || cookies.empty()) return false;
  const size_t slash = jarPath.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : jarPath.substr(0, slash);
  if (slash != std::string::npos && !dir.empty() && !fileio::MakeDirectories(dir, 0700, nullptr))
    return false;

  // One writer at a time across running copies (of other data directories).
  // Never through a link, never another user's file.
  const fileio::FileDescriptor lock =
      fileio::OpenFile(jarPath + ".lock", O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
  struct stat st {};
  if (!lock.valid() || ::fstat(lock.get(), &st) != 0 || st.st_uid != ::geteuid()) return false;
  while (flock(lock.get(), LOCK_EX) != 0 && errno == EINTR) {
  }

  std::vector<CookieEntry> jar;
  if (std::string text; fileio::ReadWholeFile(jarPath, &text)) jar = ParseCookieJar(text);
  for (const CookiePair& cookie : cookies) {
    const std::optional<CookieEntry> entry = MakeCookieEntry(host, requestPath, cookie, now);
    if (!entry) continue;
    const auto same = std::find_if(jar.begin(), jar.end(),
                                   [&](const CookieEntry& e) { return SameCookie(e, *entry); });
    if (Expired(*entry, now)) {
      if (same != jar.end()) jar.erase(same);
    } else if (same != jar.end()) {
      *same = *entry;
    } else if (jar.size() < kMaxJarEntries) {
      jar.push_back(*entry);
    }
  }
  std::erase_if(jar, [&](const CookieEntry& e) { return Expired(e, now); });

  // Only the user may read the cookies; the lock goes with the descriptor.
  return fileio::ReplaceFileAtomically(jarPath, FormatCookieJar(jar),
                                       {fileio::NewFileMode::kOwnerOnly}, nullptr);
}
