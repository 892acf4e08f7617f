// Re-encoding fetched pages into GBK (code page 936). Texts are byte strings
// read up to their first NUL; wide texts are UTF-16LE units held as bytes.
// Code pages by their published numbers: 65001 UTF-8, 936 GBK, 950 Big5,
// 0 the locale's own character set.
#pragma once

#include <string>
#include <string_view>

// UTF-16LE of the text, its terminating zero unit included. Undecodable bytes
// become U+FFFD. An unknown code page gives an empty result.
std::string TextToWide(std::string_view text, int codePage = 65001);
// The wide text (up to its first zero unit) in the code page; characters the
// code page cannot hold become "?".
std::string WideToText(std::string_view wide, int codePage = 0);

std::string Utf8ToGbk(std::string_view text);
// Keeps the traditional characters; those without a GBK form become "?".
std::string Big5ToGbk(std::string_view text);
// Traditional characters replaced by their simplified forms, character by
// character, so the byte length is kept.
std::string ToSimplifiedChinese(std::string_view text);
std::string Big5ToSimplifiedGbk(std::string_view text);
