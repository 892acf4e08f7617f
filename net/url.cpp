#include "net/url.h"

#include "base/textnum.h"
#include "util/text.h"

namespace {

void RemoveAll(std::string& text, std::string_view what) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at)) {
    text.erase(at, what.size());
  }
}

// The host passes through this after each cut; it must be idempotent.
std::string NormaliseHost(const std::string& host) { return text::AsciiLowerCopy(host); }

size_t FindIgnoringCase(std::string_view text, std::string_view what) {
  return text::FindIgnoringAsciiCase(text, what);
}

}  // namespace

std::string UrlHost(std::string_view url) {
  std::string host(url);
  RemoveAll(host, "https://");
  RemoveAll(host, "http://");
  if (const size_t slash = host.find('/'); slash != std::string::npos) host.resize(slash);
  host = NormaliseHost(std::move(host));
  if (const size_t colon = host.find(':'); colon != std::string::npos) host.resize(colon);
  host = NormaliseHost(std::move(host));
  return NormaliseHost(std::move(host));
}

std::string UrlPath(std::string_view url) {
  const std::string host = UrlHost(url);
  // The host is looked for after the scheme: a host such as "h" or "tp" is
  // found inside "http://" itself, and the path would start at its "//".
  const size_t scheme = url.starts_with("https://") ? 8 : url.starts_with("http://") ? 7 : 0;
  size_t from = FindIgnoringCase(url.substr(scheme), host);
  // The host is not always a piece of the URL ("http://" removed from its
  // middle); then the search for "/" starts at the beginning.
  from = from == std::string_view::npos ? 0 : from + scheme;
  const size_t slash = url.find('/', from);
  if (slash == std::string_view::npos) return "/";
  return std::string(url.substr(slash));
}

int UrlPort(std::string_view url) {
  std::string_view authority;
  auto after = [&](size_t skip) {
    const size_t slash = url.find('/', skip);
    return slash == std::string_view::npos ? url.substr(skip) : url.substr(skip, slash - skip);
  };
  if (url.starts_with("http://")) {
    authority = after(7);
  } else if (url.starts_with("https://")) {
    authority = after(8);
  } else {
    authority = url.substr(0, url.find('/'));
  }
  const size_t colon = authority.find(':');
  if (colon == std::string_view::npos) return 80;
  return TextToInt(authority.substr(colon + 1));
}
