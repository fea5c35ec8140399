#include <gtest/gtest.h>

#include <limits>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FileMask.h"
#include "core/FormatSettings.h"

namespace vez {
namespace {

// Both directions against the rows of tests/data/core/numbers.txt.
TEST(NumberFormat, TextsAsTabled) {
  const auto rows = test::DataRows("core/numbers.txt");
  for (const auto& c : rows) {
    SCOPED_TRACE(testing::PrintToString(c));
    double v = 99;
    std::int32_t i = 99;
    if (c[0] == "general") {
      EXPECT_EQ(c[2], FloatToStr(std::stod(c[1])));
    } else if (c[0] == "float") {
      ASSERT_EQ(c.size() > 2, TryStrToFloat(c[1], v));
      if (c.size() > 2) { EXPECT_DOUBLE_EQ(std::stod(c[2]), v); }
    } else if (c[0] == "int") {
      ASSERT_EQ(c.size() > 2, TryStrToInt(c[1], i));
      if (c.size() > 2) { EXPECT_EQ(std::stoi(c[2]), i); }
    } else if (c.size() == 5) {
      const FloatFormat f = c[0] == "fixed" ? FloatFormat::Fixed : c[0] == "number" ? FloatFormat::Number
                                                                                     : FloatFormat::Exponent;
      EXPECT_EQ(c[4], FloatToStrF(std::stod(c[1]), f, std::stoi(c[2]), std::stoi(c[3])));
    } else {
      ADD_FAILURE() << "unknown row";
    }
  }
  EXPECT_EQ(56u, rows.size());
  EXPECT_EQ(std::numeric_limits<std::int64_t>::min(), StrToInt64("-9223372036854775808"));
  EXPECT_THROW_MSG(StrToFloat("1,5"), EConvertError, "'1,5' is not a valid floating point value");
  EXPECT_THROW_MSG(StrToInt("x1"), EConvertError, "'x1' is not a valid integer value");
  EXPECT_EQ(42, StrToInt(" 42 "));
  EXPECT_EQ(2, StrToFloat(std::string_view("2e5").substr(0, 1)));  // read within the view
  EXPECT_THROW(StrToFloat(std::string_view()), EConvertError);  // a view without data at all
  {
    DecimalSeparatorScope comma(',');
    EXPECT_EQ("2,50", FloatToStrF(2.5, FloatFormat::Fixed, 7, 2));
    double v;
    EXPECT_EQ(std::pair(1.5, false), std::pair(StrToFloat("1,5"), TryStrToFloat("1.5", v)));
  }
  EXPECT_EQ('.', GlobalFormatSettings().DecimalSeparator);  // restored
}

TEST(NumberFormat, TrimCaseAndFileNames) {
  EXPECT_EQ("a b", Trim("\t a b \r\n"));
  EXPECT_EQ(std::pair(true, false), std::pair(SameText("Emis.ABS", "emis.abs"), SameText("emis", "emis ")));
  EXPECT_EQ(std::pair(-1, 0), std::pair(CompareText("abc", "ABD") < 0 ? -1 : 1, CompareText("zZ", "Zz")));
  EXPECT_EQ("emis.abs|lib/old/|.abs|", ExtractFileName("lib/old/emis.abs") + "|" + ExtractFilePath("lib/old/emis.abs") +
                                           "|" + ExtractFileExt("lib/old/emis.abs") + "|" +
                                           ExtractFileExt("lib.d/emis"));
  EXPECT_EQ("lib.d/emis.db|a/b.abs|a/", ChangeFileExt("lib.d/emis", ".db") + "|" + ChangeFileExt("a/b.db", ".abs") +
                                            "|" + IncludeTrailingPathDelimiter("a"));
  EXPECT_EQ("Level 45.3 dB, 7 items|Deleting \"x.db\"",
            Format("Level %.1f dB, %d items", 45.26, 7) + "|" + Format("Deleting \"%s\"", "x.db"));
}

TEST(FileMask, WholeNameCaseInsensitive) {
  const auto rows = test::DataRows("core/masks.txt");
  for (const auto& c : rows) EXPECT_EQ(c.at(2) == "1", MatchesMask(c[0], c[1])) << c[0] << " ~ " << c[1];
  EXPECT_EQ(38u, rows.size());
  // Many stars: backtracking to the last star only, this finishes at once instead of exploring every split.
  const std::string name(2000, 'a');
  EXPECT_FALSE(MatchesMask(name, "*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(MatchesMask(name + "b", "*a*a*a*a*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace vez
