#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numerics/Analysis.h"

namespace vez {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ScalarTest, SignAndHeaviside) {
  struct Case {
    double x;
    int32_t sign, heavi;
  };
  const Case cases[] = {
      {0.0, 0, 1},   {-0.0, 0, 1},       {1e-300, 1, 1}, {-1e-300, -1, 0}, {42.5, 1, 1},
      {-3.0, -1, 0}, {kInf, 1, 1},       {-kInf, -1, 0}, {kNaN, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(c.sign, Sign(c.x));
    EXPECT_EQ(c.heavi, Heavi(c.x));
  }
}

TEST(ScalarTest, LimitTestsLowerBoundFirst) {
  struct Case {
    double lo, x, hi, expected;
  };
  const Case cases[] = {
      {0, 5, 10, 5},    {0, -1, 10, 0},  {0, 11, 10, 10}, {0, 0, 10, 0}, {0, 10, 10, 10},
      // Crossed bounds: below Lo gives Lo, otherwise above Hi gives Hi.
      {10, 5, 0, 10},   {10, 12, 0, 0},  {10, -1, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lo << " " << c.x << " " << c.hi);
    EXPECT_EQ(c.expected, Limit(c.lo, c.x, c.hi));
  }
}

TEST(ScalarTest, FmodTruncatesTowardsZero) {
  struct Case {
    double a, b, expected;
  };
  const Case cases[] = {
      {7, 0, 0},       {-7, 2, -1},    {7, 2, 1},        {7, -2, 1},       {-7, -2, -1},  {7.5, 2, 1.5},
      {-7.5, 2, -1.5}, {6, 3, 0},      {0.5, 2, 0.5},    {5.25, 0.5, 0.25}, {1e9 + 0.5, 1, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " mod " << c.b);
    EXPECT_DOUBLE_EQ(c.expected, vez::fmod(c.a, c.b));
  }
}

TEST(ScalarTest, FmodQuotientWrapsAtThirtyTwoBits) {
  // 5e9 truncated and kept to 32 bits is 5e9 - 2^32 = 705032704.
  EXPECT_DOUBLE_EQ(5e9 + 0.5 - 705032704.0, vez::fmod(5e9 + 0.5, 1));
  // 2^31 wraps to -2^31.
  EXPECT_DOUBLE_EQ(2147483648.25 + 2147483648.0, vez::fmod(2147483648.25, 1));
  // Within 32 bits the usual remainder.
  EXPECT_DOUBLE_EQ(0.25, vez::fmod(2147483647.25, 1));
  // Quotients beyond 64 bits or not finite keep a.
  EXPECT_DOUBLE_EQ(1e30, vez::fmod(1e30, 1));
  EXPECT_DOUBLE_EQ(3.0, vez::fmod(3.0, 1e-300));
  EXPECT_DOUBLE_EQ(-2.5, vez::fmod(-2.5, std::numeric_limits<double>::denorm_min()));
  EXPECT_TRUE(std::isnan(vez::fmod(kNaN, 1)));
}

TEST(ScalarTest, SincGuardsSmallAndNegativeDenominators) {
  EXPECT_EQ(1.0, Sinc(5, 0));
  EXPECT_EQ(1.0, Sinc(5, -2));
  EXPECT_EQ(1.0, Sinc(5, 1e-10));
  EXPECT_DOUBLE_EQ(5.0 / 2e-10, Sinc(5, 2e-10));
  for (double x : {0.1, 1.0, 2.5, 10.0}) EXPECT_DOUBLE_EQ(std::sin(x) / x, Sinc(std::sin(x), x)) << x;
}

}  // namespace
}  // namespace vez
