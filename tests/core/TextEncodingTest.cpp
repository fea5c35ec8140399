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
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
}

}  // namespace
}  // namespace vez
