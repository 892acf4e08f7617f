// Text files of other programs as UTF-8: a byte order mark (UTF-8, UTF-16)
// says what they are; without one, valid UTF-8 is taken as it is and
// anything else as GBK, the code page of older Chinese files.
#pragma once

#include <string>
#include <string_view>

namespace intake {

enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be, kGbk };

// Never fails: a broken sequence becomes U+FFFD.
std::string DecodeText(std::string_view bytes, Encoding* found = nullptr);
// CR LF and lone CR made LF.
std::string UnifyLineEnds(std::string_view text);
bool IsValidUtf8(std::string_view s);
// Broken sequences made U+FFFD.
std::string ValidUtf8(std::string_view s);

}  // namespace intake
