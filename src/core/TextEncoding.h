// Conversion between code pages and UTF-8, over iconv.
//
// Code pages are named by their Windows numbers (437, 850, 1252, 28591 for ISO-8859-1, ...), as Paradox and
// the suite's old files record them. Decoding never loses a byte: a byte that the code page leaves undefined
// (0x81 in 1252, for example) becomes the Unicode control character of the same number, as Windows decodes it,
// so that encoding gives the byte back. Encoding a character the code page does not have gives "?" and counts
// the substitution, so the caller can report it.
//
// The East Asian code pages 932 (Japanese Shift-JIS), 936 (Simplified Chinese GBK), 949 (Korean) and 950
// (Traditional Chinese Big5) are multi-byte: a lead byte and the byte after it form one character. Their text
// is converted as a whole; a byte that starts no valid sequence (or a lead byte cut off at the end) becomes the
// character of the same number, as above, so that nothing is dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vez {

constexpr int kCodePageUtf8 = 65001;

// The iconv name of a code page ("CP1252", "ISO-8859-1", "UTF-8"), or "" when the number is not known.
std::string CodePageName(int codePage);
// True when iconv on this system can convert the code page.
bool CodePageSupported(int codePage);
// A code page a user gives (a text file's, a Paradox table's), as every front end takes it: the number when
// CodePageSupported, else EParameterError with the one message for it.
std::int32_t CodePageOfNumber(std::int64_t codePage);
// True for the multi-byte code pages 932, 936, 949 and 950.
bool IsMultiByteCodePage(int codePage);

// Bytes in the code page to UTF-8. Throws EConvertError for an unsupported code page.
std::string ToUtf8(std::string_view bytes, int codePage);
// UTF-8 to bytes of the code page. Characters without a byte become '?'; their number is added to
// *substitutions when given. Invalid UTF-8 sequences are taken byte by byte as Latin-1.
std::string FromUtf8(std::string_view text, int codePage, int* substitutions = nullptr);
// Between two code pages, through UTF-8.
std::string ConvertCodePage(std::string_view bytes, int fromCodePage, int toCodePage, int* substitutions = nullptr);

// True when the bytes form valid UTF-8.
bool IsValidUtf8(std::string_view bytes);
// Length of the valid UTF-8 sequence at bytes[i] (no overlong form, surrogate or code point above U+10FFFF), or 0.
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i);

// Appends a code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace vez
