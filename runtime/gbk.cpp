#include "runtime/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace gbk {
namespace {

// One converter per direction and thread: opening a converter costs far more
// than the short texts the settings layer converts.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return cd_;
  }

 private:
  iconv_t cd_;
};

// Length of the well-formed UTF-8 character at s[0], or 0 when it is not one.
size_t Utf8CharLength(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  size_t len = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if (c == 0xE0 && s[1] < 0xA0) return 0;
  if (c == 0xED && s[1] >= 0xA0) return 0;
  if (c == 0xF0 && s[1] < 0x90) return 0;
  if (c == 0xF4 && s[1] >= 0x90) return 0;
  return len;
}

// A broken sequence counts once: its lead byte and the continuation bytes
// that follow it, as far as the lead promised.
size_t BrokenUtf8Length(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  const size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
  if (c > 0xF4) return 1;
  size_t len = 1;
  while (len < want && len < n && (s[len] & 0xC0) == 0x80) ++len;
  return len;
}

// Bytes of the malformed or unmapped GBK character at s[0]: a lead byte with a
// proper trail byte counts as one two-byte character, anything else as one.
size_t GbkBadLength(const unsigned char* s, size_t n) {
  const unsigned char c = s[0];
  if (c >= 0x81 && c <= 0xFE && n >= 2) {
    const unsigned char t = s[1];
    if (t >= 0x40 && t <= 0xFE && t != 0x7F) return 2;
  }
  return 1;
}

// Runs iconv over the whole input; at each character it cannot take, appends
// `replacement` and skips the bytes `badLength` names.
template <typename BadLength>
std::string Convert(Converter& conv, std::string_view in, std::string_view replacement,
                    BadLength badLength) {
  std::string out;
  if (in.empty()) return out;
  if (!conv.ok()) {
    // No converter: keep ASCII, replace the rest, so callers still get text.
    for (const char c : in) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out += c;
      } else {
        out.append(replacement);
      }
    }
    return out;
  }
  iconv_t cd = conv.get();
  out.reserve(in.size() * 3 / 2 + 8);
  const char* src = in.data();
  size_t left = in.size();
  char buf[1024];
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd, const_cast<char**>(&src), &left, &dst, &room);
    const int err = errno;
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r != static_cast<size_t>(-1)) break;
    if (err == E2BIG) continue;
    if (err == EILSEQ || err == EINVAL) {
      const size_t skip = badLength(reinterpret_cast<const unsigned char*>(src), left);
      out.append(replacement);
      src += skip;
      left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    // Any other failure: give up on the rest rather than loop.
    out.append(replacement);
    break;
  }
  return out;
}

}  // namespace

std::string FromUtf8(std::string_view utf8) {
  thread_local Converter conv("CP936", "UTF-8");
  // glibc drops the tag characters U+E0000..U+E007F without a word; make
  // them "?" like every other character GBK cannot hold.
  std::string tagless;
  if (utf8.find("\xF3\xA0") != std::string_view::npos) {
    tagless.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
      const auto b = [&](size_t k) { return static_cast<unsigned char>(utf8[i + k]); };
      if (i + 3 < utf8.size() && b(0) == 0xF3 && b(1) == 0xA0 && (b(2) == 0x80 || b(2) == 0x81) &&
          (b(3) & 0xC0) == 0x80) {
        tagless += '?';
        i += 3;
      } else {
        tagless += utf8[i];
      }
    }
    utf8 = tagless;
  }
  return Convert(conv, utf8, "?", [](const unsigned char* s, size_t n) {
    const size_t len = Utf8CharLength(s, n);
    return len == 0 ? BrokenUtf8Length(s, n) : len;
  });
}

std::string ToUtf8(std::string_view gbkBytes) {
  thread_local Converter conv("UTF-8", "CP936");
  return Convert(conv, gbkBytes, "\xEF\xBF\xBD", GbkBadLength);
}

}  // namespace gbk
