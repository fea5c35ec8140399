#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/Variant.h"

namespace vez {
namespace {

TEST(Variant, TextFormsFollowThePlatform) {
  const std::pair<Variant, const char*> texts[] = {
      {Variant(), ""},         {Variant::Null(), ""}, {Variant(true), "True"}, {Variant(false), "False"},
      {Variant(-42), "-42"},   {Variant(0.1), "0.1"}, {Variant(0.1 + 0.2), "0.30000000000000004"},
      {Variant(1e20), "1E20"}, {Variant(1e15), "1E15"}, {Variant(1.5e-7), "1.5E-7"}, {Variant(100.0), "100"},
      {Variant::FromDateTime(EncodeDate(2024, 6, 5)), "2024-06-05"},
      {Variant::FromDateTime(EncodeDateTime(2024, 6, 5, 13, 5, 9, 0)), "2024-06-05 13:05:09"}};
  for (const auto& [v, text] : texts) EXPECT_EQ(text, v.AsString()) << text;
  std::mt19937_64 rng(7);  // the text of any double reads back as that double
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t b = bits(rng);
    double d;
    std::memcpy(&d, &b, sizeof d);
    if (!std::isfinite(d)) continue;
    const std::string text = Variant(d).AsString();
    EXPECT_EQ(d, StrToFloat(text)) << text;
  }
  DecimalSeparatorScope comma(',');
  EXPECT_EQ("2,5", Variant(2.5).AsString());
}

TEST(Variant, ConversionsAndTheirFailures) {
  // True is all bits set; halves round to even.
  EXPECT_EQ((std::array<std::int64_t, 6>{3, -1, 2, 4, 0, 8}),
            (std::array{Variant("3").AsInteger(), Variant(true).AsInteger(), Variant(2.5).AsInteger(),
                        Variant(3.5).AsInteger(), Variant().AsInteger(), Variant("7.5").AsInteger()}));
  EXPECT_DOUBLE_EQ(1.25, Variant("1.25").AsFloat());
  EXPECT_EQ((std::array{true, false, true, false, true, false}),
            (std::array{Variant("true").AsBoolean(), Variant("0").AsBoolean(), Variant(0.5).AsBoolean(),
                        Variant(0.0).AsBoolean(), Variant::FromDateTime(-0.5).AsBoolean(),
                        Variant::FromDateTime(0).AsBoolean()}));
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
  EXPECT_EQ((std::array{true, true, true, true}),
            (std::array{v[0].IsEmpty(), v[1].IsNull(), v[2].Type() == VarType::DateTime, v[3].AsBoolean()}));
  EXPECT_EQ((std::array<std::string, 5>{"2", "2.5", "NAN", "a", "b"}),
            (std::array{v[4].AsString(), v[5].AsString(), v[6].AsString(), v[7].AsString(), v[8].AsString()}));
  EXPECT_EQ(VarType::Integer, v[4].Type());
  EXPECT_EQ(std::pair(0, 0),
            std::pair(Variant::Compare(Variant(2), Variant(2.0)), Variant::Compare(Variant("a"), Variant("a"))));
  // Large integers compare exactly, not through doubles.
  EXPECT_LT(Variant(std::int64_t{9007199254740992}), Variant(std::int64_t{9007199254740993}));
}

// A view and back gives the same value whatever the target held before; a text into a text keeps its room.
TEST(Variant, ViewsAssignInPlace) {
  const std::vector<Variant> values = {Variant(),    Variant::Null(), Variant(true), Variant(false),
                                       Variant(-7),  Variant(2.5),    Variant::FromDateTime(-1.25),
                                       Variant(""),  Variant(std::string("\0bytes", 6))};
  for (const Variant& value : values) {
    for (Variant target : {Variant("a text longer than the small-string room"), Variant(3), Variant::Null()}) {
      target.Assign(value.View());
      EXPECT_EQ(value.Type(), target.Type()) << value.AsString();
      EXPECT_TRUE(value.IsClear() || Variant::Compare(value, target) == 0) << value.AsString();
    }
  }
  Variant text("a text longer than the small-string room");
  const char* room = text.RawString().data();
  text.Assign(Variant("a shorter text, still a long one").View());
  EXPECT_EQ(std::pair(room, std::string("a shorter text, still a long one")),
            std::pair(text.RawString().data(), text.RawString()));
}

}  // namespace
}  // namespace vez
