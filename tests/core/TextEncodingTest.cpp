#include <gtest/gtest.h>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/TextEncoding.h"

namespace vez {
namespace {

TEST(TextEncoding, DecodesGermanTextFromTheOldCodePages) {
  // "Straße Ärger" in each code page.
  EXPECT_EQ("Stra\xC3\x9F" "e \xC3\x84rger", ToUtf8("Stra\xDF" "e \xC4rger", 1252));
  EXPECT_EQ("Stra\xC3\x9F" "e \xC3\x84rger", ToUtf8("Stra\xE1" "e \x8Erger", 850));
  EXPECT_EQ("Stra\xC3\x9F" "e \xC3\x84rger", ToUtf8("Stra\xE1" "e \x8Erger", 437));
  EXPECT_EQ("\xE2\x82\xAC", ToUtf8("\x80", 1252));          // euro sign
  EXPECT_EQ("\xE2\x94\x80", ToUtf8("\xC4", 437));           // box drawing
  EXPECT_EQ("\xC2\xA4", ToUtf8("\xA4", 28591));             // ISO-8859-1 currency sign
}

TEST(TextEncoding, EveryByteRoundTripsThroughUtf8) {
  for (int cp : {437, 850, 1252, 28591}) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = ToUtf8(all, cp);
    EXPECT_TRUE(IsValidUtf8(utf8));
    int subs = 0;
    EXPECT_EQ(all, FromUtf8(utf8, cp, &subs)) << cp;
    EXPECT_EQ(0, subs);
  }
  // 0x81 is undefined in 1252: it survives as U+0081.
  EXPECT_EQ("\xC2\x81", ToUtf8("\x81", 1252));
}

TEST(TextEncoding, EncodingCountsSubstitutions) {
  int subs = 0;
  EXPECT_EQ("\xC4?", FromUtf8("\xC3\x84\xE2\x82\xAC", 28591, &subs));  // Ä fits, € does not
  EXPECT_EQ(1, subs);
  EXPECT_EQ("\x8E", ConvertCodePage("\xC4", 1252, 850));
  EXPECT_EQ("\xC4", ConvertCodePage("\x8E", 850, 1252));
  EXPECT_THROW_MSG(ToUtf8("x", 99999), EConvertError, "Code page 99999 is not supported");
  EXPECT_FALSE(CodePageSupported(99999));
  EXPECT_TRUE(CodePageSupported(850));
}

TEST(TextEncoding, EastAsianCodePagesAreMultiByte) {
  struct Case {
    int CodePage;
    const char* Stored;
    const char* Utf8;
  };
  const Case cases[] = {
      {932, "\x93\xFA\x96\x7B\xB1", "\xE6\x97\xA5\xE6\x9C\xAC\xEF\xBD\xB1"},  // 日本 and half-width ｱ
      {936, "a\xD6\xD0", "a\xE4\xB8\xAD"},                                           // 中
      {949, "\xC7\xD1", "\xED\x95\x9C"},                                             // 한
      {950, "\xA4\xA4", "\xE4\xB8\xAD"},                                             // 中
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.CodePage);
    EXPECT_TRUE(IsMultiByteCodePage(c.CodePage));
    EXPECT_EQ(c.Utf8, ToUtf8(c.Stored, c.CodePage));
    int subs = 0;
    EXPECT_EQ(c.Stored, FromUtf8(c.Utf8, c.CodePage, &subs));
    EXPECT_EQ(0, subs);
  }
  // A lead byte cut off at the end keeps its number; a character the code page lacks becomes "?".
  EXPECT_EQ("\xE6\x97\xA5\xC2\x96", ToUtf8("\x93\xFA\x96", 932));
  int subs = 0;
  EXPECT_EQ("?x", FromUtf8("\xC3\xB0x", 936, &subs));  // ð
  EXPECT_EQ(1, subs);
  EXPECT_FALSE(IsMultiByteCodePage(1252));
}

// Which byte sequences count as UTF-8: the shortest form only, no surrogates, nothing above U+10FFFF.
TEST(TextEncodingUtf8, ShortestFormsOnly) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"U+0080, the first two-byte character", "\xC2\x80", true},
      {"'/' overlong in two bytes", "\xC0\xAF", false},
      {"U+007F overlong in two bytes", "\xC1\xBF", false},
      {"U+0800, the first three-byte character", "\xE0\xA0\x80", true},
      {"U+07FF overlong in three bytes", "\xE0\x9F\xBF", false},
      {"'/' overlong in three bytes", "\xE0\x80\xAF", false},
      {"U+10000, the first four-byte character", "\xF0\x90\x80\x80", true},
      {"U+FFFF overlong in four bytes", "\xF0\x8F\xBF\xBF", false},
      {"U+10FFFF, the last character", "\xF4\x8F\xBF\xBF", true},
      {"U+110000", "\xF4\x90\x80\x80", false},
      {"U+D800, a surrogate", "\xED\xA0\x80", false},
      {"U+DFFF, a surrogate", "\xED\xBF\xBF", false},
      {"U+E000 after the surrogates", "\xEE\x80\x80", true},
      {"a lone continuation byte", "\x80", false},
      {"a five-byte lead", "\xF8\x88\x80\x80\x80", false},
      {"a sequence cut short", "\xE2\x82", false},
  };
  for (const auto& [what, bytes, valid] : cases) EXPECT_EQ(valid, IsValidUtf8(bytes)) << what;
}

}  // namespace
}  // namespace vez
