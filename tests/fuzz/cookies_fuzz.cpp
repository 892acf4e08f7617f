// Response headers and cookies. Input: the host, the request path, then a raw
// header block. Every Set-Cookie line gives a named cookie; every jar entry
// made from one fits on its own jar line and reads back unchanged; any text
// can be read as a jar.
#include <string>

#include "net/cookie_jar.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::int64_t kNow = 1700000000;

bool HasControl(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

bool SameEntry(const CookieEntry& a, const CookieEntry& b) {
  return a.domain == b.domain && a.includeSubdomains == b.includeSubdomains && a.path == b.path &&
         a.secure == b.secure && a.httpOnly == b.httpOnly && a.expires == b.expires &&
         a.name == b.name && a.value == b.value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto f = fuzz::Fields(data, size, 3);
  const std::string_view host = f[0], requestPath = f[1], block = f[2];

  for (const CookiePair& cookie : ParseSetCookies(block)) {
    FUZZ_CHECK(!cookie.name.empty(), "a cookie without a name");
    FUZZ_CHECK(cookie.name.find('=') == std::string::npos, "a cookie name holds =");
    FUZZ_CHECK(cookie.data.find('\n') == std::string::npos, "cookie data runs past its line");

    const std::optional<CookieEntry> entry = MakeCookieEntry(host, requestPath, cookie, kNow);
    if (!entry) continue;
    FUZZ_CHECK(!entry->domain.empty() && !entry->name.empty(), "an entry without domain or name");
    FUZZ_CHECK(!entry->path.empty() && entry->path[0] == '/', "an entry path not starting with /");
    for (const std::string* field : {&entry->domain, &entry->path, &entry->name, &entry->value}) {
      FUZZ_CHECK(!HasControl(*field), "an entry field would break its jar line");
    }
    const std::vector<CookieEntry> back = ParseCookieJar(FormatCookieJar({*entry}));
    FUZZ_CHECK(back.size() == 1 && SameEntry(back[0], *entry), "a jar entry does not read back");
  }

  // A hand-edited or damaged jar: entries read from it are written out and
  // read again unchanged when they hold nothing that breaks a line.
  std::vector<CookieEntry> jar = ParseCookieJar(block);
  std::erase_if(jar, [](const CookieEntry& e) {
    return HasControl(e.domain) || HasControl(e.path) || HasControl(e.name) || HasControl(e.value);
  });
  const std::vector<CookieEntry> again = ParseCookieJar(FormatCookieJar(jar));
  FUZZ_CHECK(again.size() == jar.size(), "jar entries were lost on the way back");
  for (size_t i = 0; i < jar.size(); ++i) {
    FUZZ_CHECK(SameEntry(again[i], jar[i]), "a jar entry changed on the way back");
  }
  return 0;
}
