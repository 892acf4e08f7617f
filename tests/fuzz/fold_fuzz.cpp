// Search folding. Input: any memo bytes. The folded text is well-formed UTF-8
// with as many characters as the original, folds to itself, and a character
// found at a position of the folded text starts at that position's byte
// offset in it.
#include <string>

#include "archive/fold.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string folded = archive::FoldForSearch(text);
  FUZZ_CHECK(fuzz::IsUtf8(folded), "the folded text is not UTF-8");
  const size_t count = archive::CountCharacters(text);
  FUZZ_CHECK(archive::CountCharacters(folded) == count, "folding changed the character count");
  FUZZ_CHECK(archive::FoldForSearch(folded) == folded, "folding twice changed the text");
  FUZZ_CHECK(archive::ByteOffsetOfCharacter(text, count) == text.size(),
             "the offset past the last character is not the size");

  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    FUZZ_CHECK(archive::ByteOffsetOfCharacter(folded, i) == pos, "a character's offset is wrong");
    char32_t cp = 0;
    const size_t length = archive::CharacterAt(folded, pos, &cp);
    FUZZ_CHECK(length >= 1 && length <= 4 && pos + length <= folded.size(),
               "a character runs past the text");
    FUZZ_CHECK(cp >= 0x20 && cp != 0x7F, "a control character survived folding");
    pos += length;
  }
  FUZZ_CHECK(pos == folded.size(), "the characters do not cover the folded text");
  return 0;
}
