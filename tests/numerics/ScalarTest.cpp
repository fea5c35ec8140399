#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "numerics/Analysis.h"

namespace vez {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Scalar, SignHeavisideAndLimit) {
  const struct {
    double x;
    int32_t sign, heavi;
  } steps[] = {{0.0, 0, 1}, {-0.0, 0, 1}, {1e-300, 1, 1}, {-1e-300, -1, 0}, {-3.0, -1, 0}, {kNaN, 0, 0}};
  for (const auto& c : steps) {
    EXPECT_EQ(c.sign, Sign(c.x)) << c.x;
    EXPECT_EQ(c.heavi, Heavi(c.x)) << c.x;
  }
  // The lower bound is tested first: with crossed bounds a value below Lo gives Lo.
  const struct {
    double lo, x, hi, expected;
  } limits[] = {{0, 5, 10, 5}, {0, -1, 10, 0}, {0, 11, 10, 10}, {10, 5, 0, 10}, {10, 12, 0, 0}};
  for (const auto& c : limits) EXPECT_EQ(c.expected, Limit(c.lo, c.x, c.hi)) << c.lo << " " << c.x << " " << c.hi;
}

TEST(Scalar, FmodTruncatesTheQuotientToThirtyTwoBits) {
  const struct {
    double a, b, expected;
  } cases[] = {
      {7, 0, 0}, {-7, 2, -1}, {7, -2, 1}, {-7.5, 2, -1.5}, {5.25, 0.5, 0.25}, {2147483647.25, 1, 0.25},
      // 5e9 kept to 32 bits is 5e9 - 2^32 = 705032704; 2^31 wraps to -2^31.
      {5e9 + 0.5, 1, 5e9 + 0.5 - 705032704.0},
      {2147483648.25, 1, 2147483648.25 + 2147483648.0},
      // Quotients beyond 64 bits keep a.
      {1e30, 1, 1e30},
      {-2.5, std::numeric_limits<double>::denorm_min(), -2.5},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(c.expected, vez::fmod(c.a, c.b)) << c.a << " mod " << c.b;
  EXPECT_TRUE(std::isnan(vez::fmod(kNaN, 1)));
}

TEST(Scalar, SincGuardsSmallAndNegativeDenominators) {
  EXPECT_EQ(1.0, Sinc(5, 0));
  EXPECT_EQ(1.0, Sinc(5, -2));
  EXPECT_EQ(1.0, Sinc(5, 1e-10));
  EXPECT_DOUBLE_EQ(2.5e10, Sinc(5, 2e-10));
  EXPECT_DOUBLE_EQ(std::sin(2.5) / 2.5, Sinc(std::sin(2.5), 2.5));
}

}  // namespace
}  // namespace vez
