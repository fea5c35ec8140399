#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "TestUtil.h"
#include "core/CaseFold.h"
#include "core/Exceptions.h"
#include "core/TextEncoding.h"

namespace vez {
namespace {

std::string Bytes(const std::string& hex) {
  std::string out;
  unsigned v = 0;
  for (std::istringstream in(hex); in >> std::hex >> v;) out += static_cast<char>(v);
  return out;
}

// The texts of tests/data/core/codepages.txt both ways. Every byte of the single-byte code pages round-trips
// through UTF-8; a character a code page lacks becomes "?" and is counted.
TEST(TextEncoding, RoundTripsAndSubstitutions) {
  const auto rows = test::DataRows("core/codepages.txt");
  int subs = 0;
  for (const auto& c : rows) {
    const std::string stored = Bytes(c[1]), utf8 = Bytes(c[2]);
    EXPECT_EQ(utf8, ToUtf8(stored, std::stoi(c[0]))) << c[1];
    EXPECT_EQ(std::pair(stored, 0), (std::pair{FromUtf8(utf8, std::stoi(c[0]), &subs), subs})) << c[1];
  }
  EXPECT_EQ(12u, rows.size());
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (int cp : {437, 850, 1252, 28591}) {
    const std::string utf8 = ToUtf8(all, cp);
    EXPECT_TRUE(IsValidUtf8(utf8)) << cp;
    EXPECT_EQ(std::pair(all, 0), (std::pair{FromUtf8(utf8, cp, &subs), subs})) << cp;
  }
  EXPECT_EQ(std::pair(std::string("\xC4?"), 1),
            (std::pair{FromUtf8("\xC3\x84\xE2\x82\xAC", 28591, &subs), subs}));  // Ä fits, € not
  EXPECT_EQ("\x8E\xC4", ConvertCodePage("\xC4", 1252, 850) + ConvertCodePage("\x8E", 850, 1252));
  EXPECT_THROW_MSG(ToUtf8("x", 99999), EConvertError, "Code page 99999 is not supported");
  EXPECT_EQ(std::pair(false, true), std::pair(CodePageSupported(99999), CodePageSupported(850)));
  // The East Asian code pages are multi-byte: a lead byte cut off at the end keeps its number.
  for (const int cp : {932, 936, 949, 950}) EXPECT_TRUE(IsMultiByteCodePage(cp)) << cp;
  EXPECT_EQ("\xE6\x97\xA5\xC2\x96", ToUtf8("\x93\xFA\x96", 932));
  // ð is missing too; the count adds up.
  EXPECT_EQ(std::pair(std::string("?x"), 2), (std::pair{FromUtf8("\xC3\xB0x", 936, &subs), subs}));
  EXPECT_FALSE(IsMultiByteCodePage(1252));
}

// Byte sequences against tests/data/core/utf8.txt: which are UTF-8 (the shortest form only, no surrogates,
// nothing above U+10FFFF), the code points read leniently and the character count.
TEST(TextEncodingUtf8, ShortestFormsOnlyAndLenientReading) {
  const auto rows = test::DataRows("core/utf8.txt");
  for (const auto& c : rows) {
    const std::string bytes = Bytes(c[0]);
    std::vector<char32_t> points;
    unsigned v = 0;
    for (std::istringstream in(c[2]); in >> std::hex >> v;) points.push_back(v);
    EXPECT_EQ(c[1] == "1", IsValidUtf8(bytes)) << c[3];
    EXPECT_EQ(points, DecodeUtf8Lenient(bytes)) << c[3];
    EXPECT_EQ(points.size(), Utf8Length(bytes)) << c[3];
    EXPECT_EQ(bytes, FoldCase(bytes)) << c[3];  // no capitals: the bytes come back as they were
  }
  EXPECT_EQ(20u, rows.size());
}

// Every code point up to U+2FFF and U+1E9E against the folded letters of tests/data/core/casefold.txt.
TEST(CaseFold, LettersAsTabled) {
  std::map<char32_t, char32_t> folded;
  for (const auto& c : test::DataRows("core/casefold.txt"))
    folded[std::stoul(c[0], nullptr, 16)] = std::stoul(c[1], nullptr, 16);
  ASSERT_EQ(193u, folded.size());
  for (char32_t c = 0; c <= 0x3000; ++c) {
    const char32_t at = c == 0x3000 ? 0x1E9E : c;
    ASSERT_EQ(folded.contains(at) ? folded[at] : at, FoldCodePoint(at)) << std::hex << int(at);
  }
  EXPECT_EQ("gr\xC3\xB6\xC3\x9F" "e\xFF.db \xC5\x88\xD1\x90",
            FoldCase("GR\xC3\x96\xE1\xBA\x9E" "E\xFF.DB \xC5\x87\xD0\x80"));  // invalid bytes stay
  EXPECT_TRUE(SameTextFolded("\xCE\xA3igma", "\xCF\x83IGMA"));
  EXPECT_EQ(std::pair(-1, 1), std::pair(CompareTextFolded("a", "B"), CompareTextFolded("\xC3\x84", "\xC3\xA3")));
}

}  // namespace
}  // namespace vez
