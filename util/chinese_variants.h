// Traditional to simplified Chinese, character by character (OpenCC's
// TSCharacters table, first candidate): no phrase segmentation, so a text
// keeps its length in characters. OpenCC is opened on first use, so a start
// that never converts does not load it.
#pragma once

#include <string>
#include <string_view>

namespace chinese {

// UTF-8 in and out; the text unchanged when OpenCC cannot be loaded.
std::string ToSimplifiedCharacters(std::string_view utf8);
// Whether OpenCC and its table could be loaded.
bool ConverterAvailable();

}  // namespace chinese
