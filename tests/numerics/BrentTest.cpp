#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "numerics/Analysis.h"

namespace vez {
namespace {

TEST(Brent, FindsTheMinimumInsideTheBracketWithinTheIterationLimit) {
  using Fn = double (*)(double);
  const Fn wells = [](double x) { return x * x * x * x - 3 * x * x + x; };
  const Fn dwells = [](double x) { return 4 * x * x * x - 6 * x + 1; };
  const Fn bowl = [](double x) { return (x + 0.125) * (x + 0.125); };
  const struct {
    Fn f, df;
    double ax, bx, cx, xmin;
    std::pair<int, int> calls;  // of f and df: they pin the path of the steps, also which of equal points it keeps
    double tol = 1e-10;
  } cases[] = {
      {[](double x) { return std::cos(x); }, [](double x) { return -std::sin(x); }, 4, 3, 2, std::numbers::pi,
       {8, 8}},
      {wells, dwells, 0.2, 1.0, 3.0, 1.1309011, {13, 12}},  // two wells: the bracket decides
      {wells, dwells, -3.0, -1.0, -0.2, -1.3008395, {11, 10}},
      {[](double x) { return std::exp(x) - 5 * x; }, [](double x) { return std::exp(x) - 5; }, -1, 1, 4,
       std::log(5.0), {12, 11}},
      // The middle point on the minimum, a kink under a derivative rounded to whole numbers, a staircase over two
      // wells.
      {bowl, [](double x) { return 2 * (x + 0.125); }, -1.625, -0.125, 2.375, -0.125, {3, 2}, 1e-3},
      // The rounded slope is 0 from -0.375 to 0.125.
      {bowl, [](double x) { return std::round(2 * (x + 0.125)); }, -1.125, 0.125, 0.875, -0.1871252, {6, 5}, 1e-3},
      {[](double x) { return std::fabs(x + 0.375) + std::pow(x + 0.375, 3) / 10; },
       [](double x) { return std::round((x >= -0.375 ? 1 : -1) + 0.3 * (x + 0.375) * (x + 0.375)); }, -1.375, 0.3125,
       0.875, -0.375, {14, 14}, 1e-3},
      {[](double x) { return std::round((std::pow(x + 0.125, 4) - std::pow(x + 0.125, 2) / 2) * 32) / 32; },
       [](double x) { return 4 * std::pow(x + 0.125, 3) - (x + 0.125); }, -1.125, 0.5625, 1.125, -0.625, {11, 11},
       1e-3},
  };
  for (const auto& c : cases) {
    double xmin = 0;
    std::pair<int, int> calls;
    const double fmin = DBrent(
        c.ax, c.bx, c.cx, [&](double x) { return ++calls.first, c.f(x); },
        [&](double x) { return ++calls.second, c.df(x); }, c.tol, xmin);
    EXPECT_NEAR(c.xmin, xmin, std::max(1e-6, c.tol / 10));
    EXPECT_EQ(std::pair(c.f(xmin), c.calls), std::pair(fmin, calls));
  }
  // A parabola with its minimum on 0, no relative tolerance: a bisection, one exact secant step and the closing
  // probe, the absolute step 1e-15 beside the minimum.
  double last = 1, xmin = 1;
  int calls = 0;
  DBrent(-1, 0.3, 2, [&](double x) { return ++calls, last = x, x * x; }, [](double x) { return 2 * x; }, 0, xmin);
  EXPECT_EQ(std::tuple(0.0, 1e-15, 4), std::tuple(xmin, std::fabs(last), calls));
  // Far from the origin a zero tolerance asks for a bracket narrower than the spacing of doubles: it gives up after
  // the iteration limit.
  calls = 0;
  xmin = -1;
  auto f = [&](double x) { return ++calls, (x - 1e6 - 0.3) * (x - 1e6 - 0.3); };
  auto df = [](double x) { return 2 * (x - 1e6 - 0.3); };
  EXPECT_THROW_MSG(DBrent(1e6 - 10, 1e6, 1e6 + 10, f, df, 0.0, xmin), Exception,
                   "Too many iterations in routine dbrent");
  EXPECT_EQ(std::pair(1 + kDBrentMaxIterations, -1.0), std::pair(calls, xmin));
  DBrent(1e6 - 10, 1e6, 1e6 + 10, f, df, 1e-12, xmin);
  EXPECT_NEAR(1e6 + 0.3, xmin, 1e-5);
}

}  // namespace
}  // namespace vez
