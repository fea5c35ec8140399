#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <tuple>

#include "numerics/Analysis.h"

namespace vez {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Scalar, StepsLimitsAndQuotients) {
  const std::tuple<double, int32_t, int32_t> steps[] = {{-0.0, 0, 1}, {1e-300, 1, 1}, {-1e-300, -1, 0}, {kNaN, 0, 0}};
  for (const auto& [x, sign, heavi] : steps) EXPECT_EQ(std::pair(sign, heavi), std::pair(Sign(x), Heavi(x))) << x;
  // The lower bound is tested first: with crossed bounds a value below Lo gives Lo.
  const double limits[][4] = {{0, -1, 10, 0}, {0, 11, 10, 10}, {0, 5, 10, 5}, {10, 5, 0, 10}, {10, 12, 0, 0}};
  for (const auto& c : limits) EXPECT_EQ(c[3], Limit(c[0], c[1], c[2])) << c[0] << " " << c[1] << " " << c[2];

  const std::tuple<double, double, double> mods[] = {
      {7, 0, 0}, {-7.5, 2, -1.5}, {7, -2, 1}, {5.25, 0.5, 0.25},
      // The quotient is kept to 32 bits: 5e9 - 2^32 = 705032704; 2^31 wraps to -2^31.
      {5e9 + 0.5, 1, 5e9 + 0.5 - 705032704.0}, {2147483648.25, 1, 2147483648.25 + 2147483648.0},
      {1e30, 1, 1e30},  // beyond 64 bits a stays
  };
  for (const auto& [a, b, expected] : mods) EXPECT_DOUBLE_EQ(expected, vez::fmod(a, b)) << a << " mod " << b;
  EXPECT_TRUE(std::isnan(vez::fmod(kNaN, 1)));

  EXPECT_EQ((std::array{1.0, 1.0, 5 / 2e-10}), (std::array{Sinc(5, -2), Sinc(5, 1e-10), Sinc(5, 2e-10)}));
}

}  // namespace
}  // namespace vez
