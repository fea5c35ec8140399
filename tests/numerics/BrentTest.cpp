#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "numerics/Analysis.h"

namespace vez {
namespace {

TEST(Brent, FindsTheMinimumInsideTheBracket) {
  using Fn = double (*)(double);
  const Fn wells = [](double x) { return x * x * x * x - 3 * x * x + x; };
  const Fn dwells = [](double x) { return 4 * x * x * x - 6 * x + 1; };
  const struct {
    Fn f, df;
    double ax, bx, cx, xmin;
  } cases[] = {
      {[](double x) { return std::cos(x); }, [](double x) { return -std::sin(x); }, 4, 3, 2, std::numbers::pi},
      {wells, dwells, 0.2, 1.0, 3.0, 1.1309011},  // two wells: the bracket decides
      {wells, dwells, -3.0, -1.0, -0.2, -1.3008395},
      {[](double x) { return std::exp(x) - 5 * x; }, [](double x) { return std::exp(x) - 5; }, -1, 1, 4,
       std::log(5.0)},
  };
  for (const auto& c : cases) {
    double xmin = 0;
    const double fmin = DBrent(c.ax, c.bx, c.cx, c.f, c.df, 1e-10, xmin);
    EXPECT_NEAR(c.xmin, xmin, 1e-6);
    EXPECT_EQ(c.f(xmin), fmin);
  }
  // A parabola with its minimum on 0, no relative tolerance: a bisection, one exact secant step and the closing
  // probe, the absolute step 1e-15 beside the minimum.
  double last = 1, xmin = 1;
  int calls = 0;
  DBrent(-1, 0.3, 2, [&](double x) { return ++calls, last = x, x * x; }, [](double x) { return 2 * x; }, 0, xmin);
  EXPECT_EQ(std::tuple(0.0, 1e-15, 4), std::tuple(xmin, std::fabs(last), calls));
}

TEST(Brent, GivesUpAfterTheIterationLimit) {
  // Far from the origin a zero tolerance asks for a bracket narrower than the spacing of doubles.
  int calls = 0;
  auto f = [&](double x) { return ++calls, (x - 1e6 - 0.3) * (x - 1e6 - 0.3); };
  auto df = [](double x) { return 2 * (x - 1e6 - 0.3); };
  double xmin = -1;
  EXPECT_THROW_MSG(DBrent(1e6 - 10, 1e6, 1e6 + 10, f, df, 0.0, xmin), Exception,
                   "Too many iterations in routine dbrent");
  EXPECT_EQ(std::pair(1 + kDBrentMaxIterations, -1.0), std::pair(calls, xmin));
  DBrent(1e6 - 10, 1e6, 1e6 + 10, f, df, 1e-12, xmin);
  EXPECT_NEAR(1e6 + 0.3, xmin, 1e-5);
}

}  // namespace
}  // namespace vez
