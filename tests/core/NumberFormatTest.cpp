#include <gtest/gtest.h>

#include <limits>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {
namespace {

TEST(NumberFormat, FloatToStrFFixedRoundsToPrecisionThenDigits) {
  struct Case {
    double value;
    int precision, digits;
    const char* text;
  } cases[] = {
      {45.26, 7, 1, "45.3"},   {45.25, 7, 1, "45.3"},  {0.05, 7, 1, "0.1"},     {-0.04, 7, 1, "0.0"},
      {-12.345, 7, 2, "-12.35"}, {99.96, 7, 1, "100.0"}, {3.0, 15, 0, "3"},     {1234567.0, 7, 0, "1234567"},
      {12345678.0, 7, 1, "1.234568E+07"}, {0.0, 7, 3, "0.000"}, {1e-9, 7, 2, "0.00"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.text, FloatToStrF(c.value, FloatFormat::Fixed, c.precision, c.digits)) << c.value;
}

TEST(NumberFormat, FloatToStrFGeneralExponentAndNumber) {
  EXPECT_EQ("1E20", FloatToStr(1e20));
  EXPECT_EQ("0.00001", FloatToStr(0.00001));
  EXPECT_EQ("1E-6", FloatToStr(0.000001));
  EXPECT_EQ("0.1", FloatToStr(0.1));
  EXPECT_EQ("-2.5", FloatToStr(-2.5));
  EXPECT_EQ("123456789012345", FloatToStr(123456789012345.0));
  EXPECT_EQ("1.23456789012346E15", FloatToStr(1234567890123456.0));
  EXPECT_EQ("1.2346E+003", FloatToStrF(1234.56, FloatFormat::Exponent, 5, 3));
  EXPECT_EQ("1E+03", FloatToStrF(1234.56, FloatFormat::Exponent, 1, 2));  // one digit: no separator
  EXPECT_EQ("-1.0E-02", FloatToStrF(-0.01, FloatFormat::Exponent, 2, 2));
  EXPECT_EQ("2.50E+00", FloatToStrF(2.5, FloatFormat::Exponent, 3, 2));
  EXPECT_EQ("1,234,567.50", FloatToStrF(1234567.5, FloatFormat::Number, 15, 2));
  EXPECT_EQ("-123,456", FloatToStrF(-123456, FloatFormat::Number, 15, 0));
  EXPECT_EQ("NAN", FloatToStr(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("-INF", FloatToStr(-std::numeric_limits<double>::infinity()));
  DecimalSeparatorScope comma(',');
  EXPECT_EQ("2,50", FloatToStrF(2.5, FloatFormat::Fixed, 7, 2));
}

TEST(NumberFormat, StrToFloatAcceptsOnlyTheSettingsSeparator) {
  EXPECT_DOUBLE_EQ(1.5, StrToFloat(" 1.5 "));
  EXPECT_DOUBLE_EQ(-2e-3, StrToFloat("-2E-3"));
  EXPECT_DOUBLE_EQ(7.0, StrToFloat("7."));
  EXPECT_DOUBLE_EQ(0.5, StrToFloat(".5"));
  EXPECT_DOUBLE_EQ(0.0, StrToFloat("1e-400"));
  double v = 99;
  for (const char* bad : {"", " ", "1,5", "abc", "1e", "--1", "1.2.3", "1e400", "0x10"}) {
    EXPECT_FALSE(TryStrToFloat(bad, v)) << bad;
  }
  EXPECT_THROW_MSG(StrToFloat("1,5"), EConvertError, "'1,5' is not a valid floating point value");
  {
    DecimalSeparatorScope comma(',');
    EXPECT_DOUBLE_EQ(1.5, StrToFloat("1,5"));
    EXPECT_FALSE(TryStrToFloat("1.5", v));
  }
  EXPECT_EQ('.', GlobalFormatSettings().DecimalSeparator);  // restored
}

TEST(NumberFormat, StrToIntDecimalHexAndRange) {
  EXPECT_EQ(42, StrToInt(" 42 "));
  EXPECT_EQ(-7, StrToInt("-7"));
  EXPECT_EQ(255, StrToInt("$FF"));
  EXPECT_EQ(-1, StrToInt("$FFFFFFFF"));
  EXPECT_EQ(std::numeric_limits<std::int64_t>::min(), StrToInt64("-9223372036854775808"));
  std::int32_t v;
  EXPECT_FALSE(TryStrToInt("2147483648", v));
  EXPECT_FALSE(TryStrToInt("1.0", v));
  EXPECT_FALSE(TryStrToInt("", v));
  EXPECT_THROW_MSG(StrToInt("x1"), EConvertError, "'x1' is not a valid integer value");
}

TEST(NumberFormat, TrimCaseAndFileNames) {
  EXPECT_EQ("a b", Trim("\t a b \r\n"));
  EXPECT_TRUE(SameText("Emis.ABS", "emis.abs"));
  EXPECT_FALSE(SameText("emis", "emis "));
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_EQ(CompareText("zZ", "Zz"), 0);
  EXPECT_EQ("emis.abs", ExtractFileName("lib/old/emis.abs"));
  EXPECT_EQ("lib/old/", ExtractFilePath("lib/old/emis.abs"));
  EXPECT_EQ(".abs", ExtractFileExt("lib/old/emis.abs"));
  EXPECT_EQ("", ExtractFileExt("lib.d/emis"));
  EXPECT_EQ("lib.d/emis.db", ChangeFileExt("lib.d/emis", ".db"));
  EXPECT_EQ("a/b.abs", ChangeFileExt("a/b.db", ".abs"));
  EXPECT_EQ("a/", IncludeTrailingPathDelimiter("a"));
  EXPECT_EQ("Level 45.3 dB, 7 items", Format("Level %.1f dB, %d items", 45.26, 7));
  EXPECT_EQ("Deleting \"x.db\"", Format("Deleting \"%s\"", "x.db"));
}

}  // namespace
}  // namespace vez
