#include <gtest/gtest.h>

#include <cmath>

#include "numerics/Analysis.h"

namespace vez {
namespace {

// erfcc keeps its fractional error below 1.2e-7 against std::erfc wherever erfc is a normal number, erfz its
// absolute error below 1.5e-7 against std::erf; both bounds are tight to an order of magnitude.
TEST(ErrorFunction, AgainstTheStandardLibrary) {
  double worstC = 0, worstZ = 0;
  for (int i = -100000; i <= 260000; ++i) {
    const double x = i * 1e-4;
    if (x >= -6) {
      worstC = std::max(worstC, std::fabs(erfcc(x) - std::erfc(x)) / std::erfc(x));
      ASSERT_LT(worstC, 1.2e-7) << x;
    }
    if (x <= 10) {
      worstZ = std::max(worstZ, std::fabs(erfz(x) - std::erf(x)));
      ASSERT_LE(worstZ, 1.5e-7) << x;
    }
  }
  EXPECT_GT(std::min(worstC, worstZ), 1e-8);
  for (double x : {1e-8, 0.3, 2.75, 12.0}) {
    EXPECT_DOUBLE_EQ(2.0 - erfcc(x), erfcc(-x)) << x;
    EXPECT_EQ(-erfz(x), erfz(-x)) << x;
  }
  EXPECT_NEAR(1e-9, erfz(0), 1e-15);  // the rational fit leaves 1 - 0.999999999 at zero
  EXPECT_DOUBLE_EQ(1.00000003, erfcc(0));  // e^(sum of the fit's coefficients), not 2 minus it
  EXPECT_EQ(std::pair(1.0, 2.0), std::pair(erfz(30), erfcc(-40)));
}

}  // namespace
}  // namespace vez
