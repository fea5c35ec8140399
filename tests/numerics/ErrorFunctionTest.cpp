#include <gtest/gtest.h>

#include <cmath>

#include "numerics/Analysis.h"

namespace vez {
namespace {

// erfcc keeps its fractional error below 1.2e-7 against the library's erfc over the whole range where erfc
// is a normal number.
TEST(ErrorFunction, ErfccFractionalErrorAgainstStdErfc) {
  double worst = 0;
  for (int i = -60000; i <= 260000; ++i) {
    const double x = i * 1e-4;
    const double ref = std::erfc(x);
    const double err = std::fabs(erfcc(x) - ref) / ref;
    worst = std::max(worst, err);
    ASSERT_LT(err, 1.2e-7) << "x = " << x;
  }
  // The bound is tight: the fit is not better than the stated figure by an order of magnitude.
  EXPECT_GT(worst, 1e-8);
}

TEST(ErrorFunction, ErfzAbsoluteErrorAgainstStdErf) {
  double worst = 0;
  for (int i = -100000; i <= 100000; ++i) {
    const double x = i * 1e-4;
    const double err = std::fabs(erfz(x) - std::erf(x));
    worst = std::max(worst, err);
    ASSERT_LE(err, 1.5e-7) << "x = " << x;
  }
  EXPECT_GT(worst, 1e-8);
}

TEST(ErrorFunction, SymmetryZeroAndSaturation) {
  for (double x : {1e-8, 0.3, 1.0, 2.75, 5.0, 12.0}) {
    EXPECT_DOUBLE_EQ(2.0 - erfcc(x), erfcc(-x)) << x;
    EXPECT_EQ(-erfz(x), erfz(-x)) << x;
  }
  EXPECT_NEAR(1.0, erfcc(0), 1.2e-7);
  // The rational fit leaves 1 - 0.999999999 at zero.
  EXPECT_NEAR(1e-9, erfz(0), 1e-15);
  EXPECT_EQ(1.0, erfz(30));
  EXPECT_EQ(-1.0, erfz(-30));
  EXPECT_EQ(0.0, erfcc(40));
  EXPECT_EQ(2.0, erfcc(-40));
}

}  // namespace
}  // namespace vez
