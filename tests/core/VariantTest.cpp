#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/Variant.h"

namespace vez {
namespace {

TEST(Variant, TextFormsFollowThePlatform) {
  EXPECT_EQ("", Variant().AsString());
  EXPECT_EQ("", Variant::Null().AsString());
  EXPECT_EQ("True", Variant(true).AsString());
  EXPECT_EQ("False", Variant(false).AsString());
  EXPECT_EQ("-42", Variant(-42).AsString());
  EXPECT_EQ("0.1", Variant(0.1).AsString());
  EXPECT_EQ("0.30000000000000004", Variant(0.1 + 0.2).AsString());
  EXPECT_EQ("1E20", Variant(1e20).AsString());
  EXPECT_EQ("1.5E-7", Variant(1.5e-7).AsString());
  EXPECT_EQ("100", Variant(100.0).AsString());
  EXPECT_EQ("2024-06-05", Variant::FromDateTime(EncodeDate(2024, 6, 5)).AsString());
  EXPECT_EQ("2024-06-05 13:05:09",
            Variant::FromDateTime(EncodeDateTime(2024, 6, 5, 13, 5, 9, 0)).AsString());
  DecimalSeparatorScope comma(',');
  EXPECT_EQ("2,5", Variant(2.5).AsString());
}

TEST(Variant, DoubleTextRoundTripsForRandomValues) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t b = bits(rng);
    double d;
    std::memcpy(&d, &b, sizeof d);
    if (!std::isfinite(d)) continue;
    const std::string text = Variant(d).AsString();
    EXPECT_EQ(d, StrToFloat(text)) << text;
  }
}

TEST(Variant, ConversionsAndTheirFailures) {
  EXPECT_EQ(3, Variant("3").AsInteger());
  EXPECT_EQ(-1, Variant(true).AsInteger());  // True is all bits set
  EXPECT_EQ(2, Variant(2.5).AsInteger());  // half to even
  EXPECT_EQ(4, Variant(3.5).AsInteger());
  EXPECT_DOUBLE_EQ(1.25, Variant("1.25").AsFloat());
  EXPECT_TRUE(Variant("true").AsBoolean());
  EXPECT_FALSE(Variant("0").AsBoolean());
  EXPECT_EQ(0, Variant().AsInteger());
  EXPECT_DOUBLE_EQ(EncodeDate(2001, 2, 3), Variant("2001-02-03").AsDateTime());
  EXPECT_THROW_MSG(Variant::Null().AsInteger(), EConvertError,
                   "Could not convert variant of type (Null) into type (Int64)");
  EXPECT_THROW_MSG(Variant("abc").AsFloat(), EConvertError,
                   "Could not convert variant of type (String) into type (Double)");
  EXPECT_THROW(Variant(1e300).AsInteger(), EConvertError);
  EXPECT_THROW(Variant("x").AsDateTime(), EConvertError);
}

TEST(Variant, TotalOrderSortsMixedValues) {
  std::vector<Variant> v = {Variant("b"), Variant(2.5), Variant::Null(), Variant(2), Variant(),
                            Variant("a"), Variant(true), Variant(std::nan("")), Variant::FromDateTime(-3)};
  std::sort(v.begin(), v.end());
  ASSERT_EQ(9u, v.size());
  EXPECT_TRUE(v[0].IsEmpty());
  EXPECT_TRUE(v[1].IsNull());
  EXPECT_EQ(VarType::DateTime, v[2].Type());
  EXPECT_TRUE(v[3].AsBoolean());
  EXPECT_EQ(2, v[4].AsInteger());
  EXPECT_DOUBLE_EQ(2.5, v[5].AsFloat());
  EXPECT_TRUE(std::isnan(v[6].RawDouble()));
  EXPECT_EQ("a", v[7].AsString());
  EXPECT_EQ("b", v[8].AsString());
  EXPECT_EQ(Variant(2), Variant(2.0));
  // Large integers compare exactly, not through doubles.
  EXPECT_LT(Variant(std::int64_t{9007199254740992}), Variant(std::int64_t{9007199254740993}));
}

}  // namespace
}  // namespace vez
