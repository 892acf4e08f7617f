// Cutting a URL into the host, the request path and the port. Plain text
// operations: no decoding, no user or password part, no IPv6 literals.
#pragma once

#include <string>
#include <string_view>

// The host without scheme, path or port, in lower case. Every "https://" and
// "http://" is removed first, wherever it stands.
std::string UrlHost(std::string_view url);
// From the first "/" after the host to the end (query and fragment included);
// "/" when there is none.
std::string UrlPath(std::string_view url);
// The number after the authority's first ":"; 80 when there is no ":". A port
// text without a number gives 0.
int UrlPort(std::string_view url);
