#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "TestUtil.h"
#include "core/Exceptions.h"
#include "numerics/Analysis.h"

namespace vez {
namespace {

struct MinimumCase {
  const char* name;
  double (*f)(double);
  double (*df)(double);
  double ax, bx, cx;
  double xmin;  // the true minimiser
};

double Parabola(double x) { return (x - 2) * (x - 2) + 1; }
double ParabolaD(double x) { return 2 * (x - 2); }
double Cosine(double x) { return std::cos(x); }
double CosineD(double x) { return -std::sin(x); }
double Quartic(double x) { return std::pow(x - 0.3, 4) + 0.1 * (x - 0.3) * (x - 0.3); }
double QuarticD(double x) { return 4 * std::pow(x - 0.3, 3) + 0.2 * (x - 0.3); }
double Bumpy(double x) { return x * x * x * x - 3 * x * x + x; }  // local minima near -1.30 and 1.13
double BumpyD(double x) { return 4 * x * x * x - 6 * x + 1; }
double Skewed(double x) { return std::exp(x) - 5 * x; }  // minimum at ln 5
double SkewedD(double x) { return std::exp(x) - 5; }

const MinimumCase kCases[] = {
    {"parabola", Parabola, ParabolaD, 0, 1, 5, 2.0},
    {"parabola reversed bracket", Parabola, ParabolaD, 5, 1, 0, 2.0},
    {"cosine", Cosine, CosineD, 2, 3, 4, std::numbers::pi},
    {"quartic", Quartic, QuarticD, -4, 0, 3, 0.3},
    {"bumpy right well", Bumpy, BumpyD, 0.2, 1.0, 3.0, 1.1309011},
    {"bumpy left well", Bumpy, BumpyD, -3.0, -1.0, -0.2, -1.3008395},
    {"skewed", Skewed, SkewedD, -1, 1, 4, std::log(5.0)},
};

TEST(BrentTest, FindsMinimaInsideBracket) {
  for (const MinimumCase& c : kCases) {
    SCOPED_TRACE(c.name);
    double xmin = 0;
    const double fmin = DBrent(c.ax, c.bx, c.cx, c.f, c.df, 1e-10, xmin);
    EXPECT_NEAR(c.xmin, xmin, 1e-6);
    EXPECT_EQ(c.f(xmin), fmin);
    EXPECT_GE(c.f(c.xmin) + 1e-12, fmin - 1e-12);
  }
}

TEST(BrentTest, CallbacksCarryTheirContext) {
  // Bound callbacks: the target and a call counter live in the caller's object.
  struct Model {
    double target = -7.25;
    int calls = 0;
    double F(double x) {
      ++calls;
      return std::cosh(x - target);
    }
    double D(double x) { return std::sinh(x - target); }
  } model;
  double xmin = 0;
  const double fmin = DBrent(
      -20, -5, 10, [&](double x) { return model.F(x); }, [&](double x) { return model.D(x); }, 1e-12, xmin);
  EXPECT_NEAR(-7.25, xmin, 1e-6);
  EXPECT_NEAR(1.0, fmin, 1e-12);
  EXPECT_GT(model.calls, 1);
  EXPECT_LE(model.calls, 1 + kDBrentMaxIterations);
}

TEST(BrentTest, GivesUpAfterTheIterationLimit) {
  // Far from the origin a zero tolerance asks for a bracket narrower than the spacing of doubles: the search
  // cannot converge and stops after exactly the limit, having evaluated f once per iteration plus once.
  int calls = 0;
  auto f = [&](double x) {
    ++calls;
    return (x - 1e6 - 0.3) * (x - 1e6 - 0.3);
  };
  auto df = [](double x) { return 2 * (x - 1e6 - 0.3); };
  double xmin = -1;
  EXPECT_THROW_MSG(DBrent(1e6 - 10, 1e6, 1e6 + 10, f, df, 0.0, xmin), Exception,
                   "Too many iterations in routine dbrent");
  EXPECT_EQ(1 + kDBrentMaxIterations, calls);
  EXPECT_EQ(-1, xmin);
}

}  // namespace
}  // namespace vez
