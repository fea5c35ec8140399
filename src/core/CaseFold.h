// Case folding of UTF-8 names for comparisons that ignore letter case, as the old platform's file system and
// its name look-ups did ("GRÖßE" and "Größe" are the same name).
//
// We fold one character to one character (simple case folding) for the letters of Basic Latin, Latin-1,
// Latin Extended-A, Greek, Cyrillic and the capital sharp s; other characters stay as they are. Bytes that are
// not valid UTF-8 are kept byte by byte, so any name folds without loss of distinctness among equal-length
// invalid runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vez {

// The folded form of one code point.
char32_t FoldCodePoint(char32_t c);
// The code points of a UTF-8 text; a byte that starts no valid sequence becomes one code point
// 0xDC00 + byte (a lone surrogate, which valid text never holds).
std::vector<char32_t> DecodeUtf8Lenient(std::string_view text);
// The folded text as UTF-8 (invalid bytes kept as they were).
std::string FoldCase(std::string_view text);
// Equality and order of the folded texts.
bool SameTextFolded(std::string_view a, std::string_view b);
int CompareTextFolded(std::string_view a, std::string_view b);
// The number of characters of a UTF-8 text (an invalid byte counts as one).
std::size_t Utf8Length(std::string_view text);

}  // namespace vez
