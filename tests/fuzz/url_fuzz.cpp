// URL splitting. Input: a first byte choosing how to read the rest, then the
// rest. Read plainly, any text gives a host without "/" or ":" in lower case
// and a path that starts with "/" and ends the URL. Read as the parts of a
// URL that the HTTP routine is handed (scheme, host, port, path), the parts
// come back out.
#include <string>

#include "net/url.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool HostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

void CheckAnyText(std::string_view url) {
  const std::string host = UrlHost(url);
  const std::string path = UrlPath(url);
  (void)UrlPort(url);
  FUZZ_CHECK(host.find_first_of("/:") == std::string::npos, "the host holds / or :");
  FUZZ_CHECK(host == Lower(host), "the host is not in lower case");
  FUZZ_CHECK(UrlHost(host) == host, "the host is not its own host");
  FUZZ_CHECK(!path.empty() && path[0] == '/', "the path does not start with /");
  FUZZ_CHECK(path == "/" || url.ends_with(path), "the path is not the end of the URL");
}

// Fields: host, port digits (empty for none), path (empty for none).
void CheckParts(bool https, std::string_view host, std::string_view port, std::string_view path) {
  if (host.empty()) return;
  for (const char c : host) {
    if (!HostChar(c)) return;
  }
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return;
  if (!path.empty() && path[0] != '/') return;
  // The scheme prefixes are removed wherever they stand, so a path holding
  // one is not split as written.
  if (path.find("http://") != std::string_view::npos ||
      path.find("https://") != std::string_view::npos) {
    return;
  }
  std::string url = https ? "https://" : "http://";
  url.append(host);
  if (!port.empty()) url.append(":").append(port);
  url.append(path);

  FUZZ_CHECK(UrlHost(url) == Lower(host), "the host of a well-formed URL is wrong");
  FUZZ_CHECK(UrlPath(url) == (path.empty() ? "/" : std::string(path)),
             "the path of a well-formed URL is wrong");
  const int expectedPort = port.empty() ? 80 : std::stoi(std::string(port));
  FUZZ_CHECK(UrlPort(url) == expectedPort, "the port of a well-formed URL is wrong");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  if (mode & 1) {
    const auto f = fuzz::Fields(data, size, 3);
    CheckParts((mode & 2) != 0, f[0], f[1], f[2]);
  } else {
    CheckAnyText(std::string_view(reinterpret_cast<const char*>(data), size));
  }
  return 0;
}
