#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <tuple>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "output/ValueText.h"

namespace vez {
namespace {

TEST(ValueText, Base64KnownVectors) {
  using namespace std::string_view_literals;
  const std::pair<std::string_view, const char*> kCases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}, {"\xff\xfe\x00"sv, "//4A"}, {"\x00\x10"sv, "ABA="}, {"\xff"sv, "/w=="}};
  for (const auto& [in, out] : kCases) EXPECT_EQ(Base64(in), out) << out;
}

TEST(ValueText, CsvAndJsonQuoting) {
  EXPECT_EQ("plain text|\"a,\"\"b\"\"\"|\"two\nlines\"|\"cr\r\"",
            CsvField("plain text") + "|" + CsvField("a,\"b\"") + "|" + CsvField("two\nlines") + "|" + CsvField("cr\r"));
  EXPECT_EQ(JsonString("q\"b\\\n\r\t\x01\x1f "), "\"q\\\"b\\\\\\n\\r\\t\\u0001\\u001f \"");
  EXPECT_EQ(JsonString("\xc0\x80\xc2\x80"), "\"\\u00c0\\u0080\xc2\x80\"");  // an overlong form is not UTF-8
  EXPECT_EQ(JsonString("\xc3\x84rger \xc4rger \xe2\x82"), "\"\xc3\x84rger \\u00c4rger \\u00e2\\u0082\"");
  EXPECT_EQ(Utf8OrLatin1("\xc3\x84 \xc4\xff"), "\xc3\x84 \xc3\x84\xc3\xbf");
  // The first and last lead bytes of each length are kept; C1 and F5 lead nothing.
  const std::string valid = "\x7f\xc2\xa9\xdf\x80\xe0\xa0\x80\xef\xbc\xa1\xf0\x9f\x98\x80\xf4\x80\x80\x80";
  EXPECT_EQ(Utf8OrLatin1(valid + "\xc1\xf5"), valid + "\xc3\x81\xc3\xb5");
  // Overlong three- and four-byte forms, a surrogate and a code point above U+10FFFF are not UTF-8 either.
  EXPECT_EQ(Utf8OrLatin1("\xe0\x9f\xbf\xed\xa0\x80"), "\xc3\xa0\xc2\x9f\xc2\xbf\xc3\xad\xc2\xa0\xc2\x80");
  EXPECT_EQ(JsonString("\xf0\x8f\xbf\xbf\xf4\x90\x80\x80"), "\"\\u00f0\\u008f\\u00bf\\u00bf\\u00f4\\u0090\\u0080\\u0080\"");
}

TEST(ValueText, NumbersReadBackExactly) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (int i = 0; i < 2000; ++i) {
    const double v = std::ldexp(mantissa(rng), exponent(rng));
    const std::string text = NumberText(v);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    ASSERT_EQ(text.find(','), std::string::npos);
  }
  // Decimals of a few places (written without fmt) and their neighbours give fmt's shortest text, by either sign,
  // about the bounds of that way: 10^-4, 10^15 and the places it tries.
  std::uniform_int_distribution<std::int64_t> whole(0, 999999999999999);
  std::uniform_int_distribution<int> shift(0, 49), places(0, 6);
  const double kBounds[] = {1e-4, 9.9999e-5, 1e15, 999999999999999.9, 99999999999999.98, 0.1 + 0.2, 0.5, 1.25e-4};
  for (int i = 0; i < 20000; ++i) {
    double v = i < 8 ? kBounds[i] : static_cast<double>(whole(rng) >> shift(rng)) / std::pow(10.0, places(rng));
    if (i % 5 == 4) v = std::nextafter(v, 1e300);
    for (const double x : {v, -v}) ASSERT_EQ(NumberText(x), fmt::format("{}", x));
  }
  EXPECT_EQ("0.1 100 -Infinity",
            NumberText(0.1) + " " + NumberText(100.0) + " " + NumberText(-std::numeric_limits<double>::infinity()));
}

TEST(ValueText, ValuesByColumnStyle) {
  const std::tuple<Variant, ValueStyle, const char*, const char*> kCases[] = {  // value, style, plain ("": none), json
      {Variant::Null(), ValueStyle::Integer, "", "null"},
      {Variant(42), ValueStyle::Integer, "42", "42"},
      {Variant(2.5), ValueStyle::Float, "2.5", "2.5"},
      {Variant(std::nan("")), ValueStyle::Float, "NaN", "null"},
      {Variant(1), ValueStyle::Boolean, "true", "true"},
      {Variant::FromDateTime(36526.5), ValueStyle::DateTime, "2000-01-01T12:00:00", "\"2000-01-01T12:00:00\""},
      {Variant(std::string("\x01\x02")), ValueStyle::Binary, "AQI=", "\"AQI=\""},
      {Variant("10000-01-01"), ValueStyle::DateTime, "10000-01-01", "\"10000-01-01\""},  // text shown as it is
      {Variant("x"), ValueStyle::Text, "x", "\"x\""},
  };
  for (const auto& [value, style, plain, json] : kCases) {
    EXPECT_EQ(PlainText(value, style).value_or("<none>"), *plain ? plain : "<none>") << json;
    EXPECT_EQ(JsonValue(value, style), json);
  }
  EXPECT_EQ(std::tuple(ValueStyle::Integer, ValueStyle::Binary, ValueStyle::Text),
            std::tuple(ValueStyleOf(ftAutoInc), ValueStyleOf(ftGraphic), ValueStyleOf(ftMemo)));
  EXPECT_EQ("primary,case-insensitive descending unique none",
            IndexOptionsText(ixPrimary | ixCaseInsensitive) + " " + IndexOptionsText(ixDescending) + " " +
                IndexOptionsText(ixUnique) + " " + IndexOptionsText(0));
}

}  // namespace
}  // namespace vez
