// The folded form of memo text that search compares: letters of every script
// in their simple case folding (Ł as ł, Σ as σ), half- and full-width forms
// as their ordinary ones (ＢＡＮＫ as bank, the ideographic space as a space),
// traditional Chinese characters made simplified; always one character for
// one, so a position in the folded text is the same position in the
// original.
//
// A "character" here is one well-formed UTF-8 sequence, or one byte that is
// not part of one (memo text is stored as bytes and may hold anything).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace archive {

// Well-formed UTF-8 with exactly as many characters as `text`; a stray byte
// becomes U+FFFD and a control character a space.
std::string FoldForSearch(std::string_view text);

// Identifies the folding in use (with or without the traditional-character
// table, and which table): an index folded another way must be rebuilt.
const std::string& FoldSignature();

// The length of the character starting at `pos` (1 for a stray byte), and
// its code point in `codePoint` (U+FFFD for a stray byte).
std::size_t CharacterAt(std::string_view text, std::size_t pos, char32_t* codePoint);
std::size_t CountCharacters(std::string_view text);
// Byte offset of character number `index` (the size when past the end).
std::size_t ByteOffsetOfCharacter(std::string_view text, std::size_t index);
void AppendUtf8(std::string* out, char32_t codePoint);

}  // namespace archive
