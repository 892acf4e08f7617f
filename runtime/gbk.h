// UTF-8 <-> GBK (code page 936) for the settings file.
#pragma once

#include <string>
#include <string_view>

namespace gbk {
// Characters GBK cannot hold become '?'.
std::string FromUtf8(std::string_view utf8);
// Invalid GBK sequences become U+FFFD.
std::string ToUtf8(std::string_view gbkBytes);
}  // namespace gbk
