#include "intake/decode.h"

#include "util/codepage.h"

namespace intake {
namespace {

codepage::Bad Replace(std::string_view rest) {
  // A UTF-16 unit is two bytes; an odd byte at the end is one.
  return {"\xEF\xBF\xBD", rest.size() >= 2 ? 2u : rest.size()};
}

}  // namespace

// Length of the valid UTF-8 sequence at `i`, 0 when there is none.
std::size_t SequenceAt(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  char32_t cp = 0, min = 0;
  if ((c & 0xE0) == 0xC0) {
    n = 1, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 2, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 3, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i <= n) return 0;
  for (std::size_t k = 1; k <= n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n + 1;
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = SequenceAt(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string ValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t run = 0;  // start of the valid bytes not yet copied
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = SequenceAt(s, i);
    if (n == 0) {
      out.append(s.substr(run, i - run)).append("\xEF\xBF\xBD");
      run = ++i;
    } else {
      i += n;
    }
  }
  return out.append(s.substr(run));
}

std::string DecodeText(std::string_view bytes, Encoding* found) {
  Encoding e = Encoding::kUtf8;
  std::string out;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    e = Encoding::kUtf8Bom;
    bytes.remove_prefix(3);
  } else if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    e = bytes[0] == '\xFF' ? Encoding::kUtf16Le : Encoding::kUtf16Be;
    bytes.remove_prefix(2);
  } else if (!IsValidUtf8(bytes)) {
    e = Encoding::kGbk;
  }
  if (found) *found = e;
  switch (e) {
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
      out = codepage::Convert("UTF-8", e == Encoding::kUtf16Le ? "UTF-16LE" : "UTF-16BE", bytes,
                              Replace)
                .value_or(std::string());
      break;
    case Encoding::kGbk:
      out = gbk::ToUtf8(bytes);
      break;
    default:
      // Broken sequences after a UTF-8 mark: shown as U+FFFD, never passed on.
      out = e == Encoding::kUtf8 || IsValidUtf8(bytes) ? std::string(bytes) : ValidUtf8(bytes);
      break;
  }
  return out;
}

std::string UnifyLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace intake
