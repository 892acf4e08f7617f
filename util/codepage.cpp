#include "util/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace codepage {
namespace {

// Owns an iconv descriptor; closed with it.
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
// what `onBad` says and skips as many bytes as it says.
template <typename OnBad>
std::string Run(Converter& conv, std::string_view in, OnBad onBad) {
  std::string out;
  if (in.empty()) return out;
  iconv_t cd = conv.get();
  out.reserve(in.size() * 3 / 2 + 8);
  const char* src = in.data();
  size_t left = in.size();
  char buf[4096];
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd, const_cast<char**>(&src), &left, &dst, &room);
    const int err = errno;
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r != static_cast<size_t>(-1)) break;
    if (err == E2BIG) continue;
    if (err == EILSEQ || err == EINVAL) {
      const Bad bad = onBad(std::string_view(src, left));
      const size_t skip = bad.skip == 0 ? 1 : std::min(bad.skip, left);
      out.append(bad.replacement);
      src += skip;
      left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    // Any other failure: give up on the rest rather than loop.
    out.append(onBad(std::string_view(src, left)).replacement);
    break;
  }
  char* dst = buf;
  size_t room = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &room);  // the shift state's closing bytes
  out.append(buf, static_cast<size_t>(dst - buf));
  return out;
}

// Tag characters (U+E0000..U+E007F, F3 A0 80..81 xx in UTF-8).
bool IsTagAt(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  return i + 3 < s.size() && b(0) == 0xF3 && b(1) == 0xA0 && (b(2) == 0x80 || b(2) == 0x81) &&
         (b(3) & 0xC0) == 0x80;
}

std::string FromUtf8With(Converter& conv, std::string_view utf8, std::string_view replacement) {
  const auto bad = [replacement](std::string_view rest) {
    const auto* s = reinterpret_cast<const unsigned char*>(rest.data());
    const size_t len = Utf8CharLength(s, rest.size());
    return Bad{replacement, len == 0 ? BrokenUtf8Length(s, rest.size()) : len};
  };
  if (utf8.find("\xF3\xA0") == std::string_view::npos) return Run(conv, utf8, bad);
  // glibc drops the tag characters without a word: convert around them.
  std::string out;
  size_t from = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (!IsTagAt(utf8, i)) continue;
    out += Run(conv, utf8.substr(from, i - from), bad);
    out.append(replacement);
    i += 3;
    from = i + 1;
  }
  out += Run(conv, utf8.substr(from), bad);
  return out;
}

}  // namespace

std::optional<std::string> Convert(const char* to, const char* from, std::string_view in,
                                   BadRule onBad) {
  Converter conv(to, from);
  if (!conv.ok()) return std::nullopt;
  return Run(conv, in, onBad);
}

std::optional<std::string> FromUtf8(std::string_view utf8, const char* charset,
                                    std::string_view replacement) {
  Converter conv(charset, "UTF-8");
  if (!conv.ok()) return std::nullopt;
  return FromUtf8With(conv, utf8, replacement);
}

}  // namespace codepage

namespace gbk {

std::string FromUtf8(std::string_view utf8) {
  // Kept open: the settings layer converts many short names.
  thread_local codepage::Converter conv("CP936", "UTF-8");
  if (conv.ok()) return codepage::FromUtf8With(conv, utf8, "?");
  // No converter at all: keep ASCII, replace the rest, so callers still get
  // text.
  std::string ascii;
  for (const char c : utf8) ascii += static_cast<unsigned char>(c) < 0x80 ? c : '?';
  return ascii;
}

std::string ToUtf8(std::string_view gbkBytes) {
  thread_local codepage::Converter conv("UTF-8", "CP936");
  if (!conv.ok()) return {};
  return codepage::Run(conv, gbkBytes, [](std::string_view rest) {
    return codepage::Bad{
        "\xEF\xBF\xBD",
        codepage::GbkBadLength(reinterpret_cast<const unsigned char*>(rest.data()), rest.size())};
  });
}

}  // namespace gbk
