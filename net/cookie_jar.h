// Cookies that servers set, kept across runs in a per-user cookie jar: a file
// in the Netscape cookie format (which libcurl reads to send them again),
// $XDG_DATA_HOME/tamsivo/cookies.txt (default ~/.local/share), mode 0600.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CookiePair {
  std::string name;
  std::string data;  // the value and the attributes after it, as sent
};

// The "Set-Cookie:" lines of a raw response header block, in header order:
// the text before the first "=" is the name, the rest the data. Lines without
// "=" or without a name are skipped.
std::vector<CookiePair> ParseSetCookies(std::string_view headerBlock);

// One line of the jar.
struct CookieEntry {
  std::string domain;  // a leading "." when subdomains share the cookie
  bool includeSubdomains = false;
  std::string path = "/";
  bool secure = false;
  bool httpOnly = false;
  std::int64_t expires = 0;  // Unix seconds; 0 for a session cookie
  std::string name;
  std::string value;
};

// The jar entry for a cookie that `host` set in answer to a request for
// `requestPath`; nullopt when the cookie is malformed or names a domain the
// host may not set cookies for. An entry whose expiry is not after `now`
// removes the cookie.
std::optional<CookieEntry> MakeCookieEntry(std::string_view host, std::string_view requestPath,
                                           const CookiePair& cookie, std::int64_t now);

std::vector<CookieEntry> ParseCookieJar(std::string_view text);
std::string FormatCookieJar(const std::vector<CookieEntry>& entries);

// The jar file's path, or "" when neither XDG_DATA_HOME nor a home directory
// is known.
std::string CookieJarPath();

// Adds, replaces or removes the host's cookies in the jar file. The file is
// rewritten whole through a temporary file, under a lock, so that a second
// running copy loses nothing. False when the jar cannot be written.
[[nodiscard]] bool StoreCookies(const std::string& jarPath, std::string_view host,
                                std::string_view requestPath,
                                const std::vector<CookiePair>& cookies, std::int64_t now);
